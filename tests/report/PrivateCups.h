#pragma once

#include <QProcess>
#include <QTemporaryDir>

#include <memory>

// A print server of the test's own: configuration, spool, state, log and socket in a temporary
// folder, queues q1 and q2 printing into PDF files there, and the cups clients of this process
// and its children pointed at it. Construct it before the first cups call of the process.
class PrivateCups {
public:
    PrivateCups();
    ~PrivateCups() { stop(); }

    // Empty on success, else why no server could be had here.
    QString start();
    void stop();

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString output(const QString& queue) const { return path("out/" + queue + ".pdf"); }
    QString lpoptions() const { return path("home/.cups/lpoptions"); }
    QByteArray log() const;

    // Runs a cups client tool; empty on success, else its complaint.
    static QString run(const QString& tool, const QStringList& arguments);

private:
    QTemporaryDir m_dir{QDir::tempPath() + "/velmora-cups-XXXXXX"};
    std::unique_ptr<QProcess> m_cupsd;
};
