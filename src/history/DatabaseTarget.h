#pragma once

#include <QString>

// Where records go: the SQLite file of this bench, or a lab's shared PostgreSQL database.
struct DatabaseTarget {
    static constexpr int DefaultConnectTimeout = 5; // seconds
    enum class Kind { Local, Shared };
    Kind kind = Kind::Local;
    QString url;                  // as written; empty for the local file
    QString shown;                // url with any password as ***: what messages show
    bool fromCommandLine = false; // named by --database for this run

    // PostgreSQL connection parts taken from the URL.
    QString user, host, database, connectOptions;
    int port = -1;
    int connectTimeout = DefaultConnectTimeout; // seconds
    QString error;                              // why the URL is not understood; empty when it is

    bool isShared() const { return kind == Kind::Shared; }
    bool valid() const { return error.isEmpty(); }
    // The URL as shown, or "the local history file".
    QString displayName() const;
    // Whether both name the same database, however written: user, host or socket folder, port
    // (5432 when none is given) and database name.
    bool sameDatabase(const DatabaseTarget& other) const;
    // The address with its password part (user-info after ":", plain or percent-encoded, and a
    // password= option) replaced by ***.
    static QString masked(const QString& address);

    // "local", or postgresql://USER@HOST[:PORT]/DBNAME[?connect_timeout=N], or
    // postgresql://USER@/DBNAME?host=/socket/dir[&port=N]. A password is refused: it belongs in
    // ~/.pgpass.
    static DatabaseTarget parse(const QString& text, bool fromCommandLine = false);
    // --database when given, else the "database/url" setting, else the local file.
    static DatabaseTarget choose(const QString& commandLine);

    // The bench's own SQLite file, under the user's application-data folder.
    static QString localPath();

    static constexpr const char* SettingsKey = "database/url";
};
