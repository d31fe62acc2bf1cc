#include "history/DatabaseTarget.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>

#include <tuple>

QString DatabaseTarget::displayName() const
{
    return isShared() ? shown : QStringLiteral("the local history file");
}

bool DatabaseTarget::sameDatabase(const DatabaseTarget& other) const
{
    const auto key = [](const DatabaseTarget& t) {
        // Host names are case-blind; a socket folder is a path.
        const QString host = t.host.startsWith(u'/') ? QDir::cleanPath(t.host) : t.host.toLower();
        return std::tuple(t.user, host, t.port < 0 ? 5432 : t.port, t.database);
    };
    return isShared() && other.isShared() && valid() && other.valid() && key(*this) == key(other);
}

QString DatabaseTarget::masked(const QString& address)
{
    const qsizetype scheme = address.indexOf(QLatin1String("://"));
    const qsizetype from = scheme < 0 ? 0 : scheme + 3;
    // What is hidden runs from hideFrom to hideTo, both parts' spans joined: a password may hold
    // "/", "?", "@" or "&" unencoded, so each part is taken at its widest. Too much hidden does
    // no harm.
    qsizetype hideFrom = address.size(), hideTo = -1;
    QString replacement = QStringLiteral("***");
    // The user-info's password: from its ":" to the last "@".
    const qsizetype at = address.lastIndexOf(u'@');
    if (at > from) {
        const QString userInfo = address.mid(from, at - from);
        const qsizetype plain = userInfo.indexOf(u':');
        const qsizetype encoded = userInfo.indexOf(QLatin1String("%3a"), 0, Qt::CaseInsensitive);
        if (plain >= 0 && (encoded < 0 || plain < encoded))
            hideFrom = from + plain + 1;
        else if (encoded >= 0)
            hideFrom = from + encoded + 3;
        if (hideFrom < address.size())
            hideTo = at;
    }
    // A password option, and everything after it. Options end at "&", and here at a stray "?"
    // too, so that none hides behind one.
    const qsizetype query = address.indexOf(u'?', from);
    for (qsizetype start = query + 1; query >= 0 && start <= address.size();) {
        qsizetype end = start;
        while (end < address.size() && address.at(end) != u'&' && address.at(end) != u'?')
            ++end;
        const qsizetype equals = address.indexOf(u'=', start);
        const qsizetype keyEnd = equals >= 0 && equals < end ? equals : end;
        const QString key = address.mid(start, keyEnd - start);
        if (QUrl::fromPercentEncoding(key.toUtf8())
                .compare(QLatin1String("password"), Qt::CaseInsensitive) == 0) {
            if (keyEnd < hideFrom) {
                hideFrom = keyEnd;
                replacement = QStringLiteral("=***");
            }
            hideTo = address.size();
            break;
        }
        start = end + 1;
    }
    if (hideTo < 0)
        return address;
    return address.left(hideFrom) + replacement + address.mid(hideTo);
}

DatabaseTarget DatabaseTarget::parse(const QString& text, bool fromCommandLine)
{
    DatabaseTarget target;
    target.fromCommandLine = fromCommandLine;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed == QLatin1String("local"))
        return target;
    target.kind = Kind::Shared;
    target.url = trimmed;
    target.shown = masked(trimmed);
    auto refuse = [&](const QString& why) {
        target.error = why;
        return target;
    };

    QString rest = trimmed;
    if (rest.startsWith(QLatin1String("postgresql://")))
        rest.remove(0, 13);
    else if (rest.startsWith(QLatin1String("postgres://")))
        rest.remove(0, 11);
    else
        return refuse(QStringLiteral("it is neither \"local\" nor starts with postgresql://"));
    const auto decoded = [](QStringView part) { return QUrl::fromPercentEncoding(part.toUtf8()); };
    // The user-info ends at the last "@", as masked() has it: a password holding "/" or "?" must
    // not be read as a host, a port, a database or an option, which a message would quote.
    const QString noPassword =
        QStringLiteral("a password does not belong in the address; put it in ~/.pgpass");
    // Both as written and decoded: a stray "%" decodes the ":" after it away.
    if (const QStringView userInfo = QStringView(rest).left(rest.lastIndexOf(u'@'));
        rest.contains(u'@') && (userInfo.contains(u':') || decoded(userInfo).contains(u':')))
        return refuse(noPassword);
    QString queryText;
    if (const qsizetype q = rest.indexOf(u'?'); q >= 0) {
        queryText = rest.mid(q + 1);
        rest.truncate(q);
    }
    const qsizetype at = rest.lastIndexOf(u'@');
    const QString userInfo = at < 0 ? QString() : rest.left(at);
    rest.remove(0, at + 1);
    const qsizetype slash = rest.indexOf(u'/');
    if (slash < 0)
        return refuse(QStringLiteral("it names no database (/DBNAME)"));
    target.database = decoded(QStringView(rest).mid(slash + 1));
    QString hostPort = rest.left(slash);
    target.user = decoded(userInfo);
    if (hostPort.startsWith(u'[')) { // [IPv6]:port
        const qsizetype close = hostPort.indexOf(u']');
        if (close < 0)
            return refuse(QStringLiteral("the host's \"[\" is never closed"));
        target.host = hostPort.mid(1, close - 1);
        hostPort.remove(0, close + 1);
    } else {
        const qsizetype colon = hostPort.indexOf(u':');
        target.host = decoded(QStringView(hostPort).left(colon < 0 ? hostPort.size() : colon));
        hostPort.remove(0, colon < 0 ? hostPort.size() : colon);
    }
    if (!hostPort.isEmpty()) {
        bool number = false;
        target.port = hostPort.startsWith(u':') ? hostPort.mid(1).toInt(&number) : 0;
        if (!number || target.port <= 0 || target.port > 65535)
            return refuse(QStringLiteral("the port \"%1\" is not a number from 1 to 65535")
                              .arg(hostPort.mid(1)));
    }
    if (target.user.isEmpty())
        return refuse(QStringLiteral("it names no user (USER@)"));
    if (target.database.isEmpty() || target.database.contains(u'/'))
        return refuse(QStringLiteral("it names no database (/DBNAME)"));

    QStringList options;
    for (const auto& [key, value] : QUrlQuery(queryText).queryItems(QUrl::FullyDecoded)) {
        bool number = false;
        const int n = value.toInt(&number);
        if (key == QLatin1String("connect_timeout") && number && n > 0) {
            target.connectTimeout = n;
        } else if (key == QLatin1String("host") && value.startsWith(u'/') &&
                   target.host.isEmpty()) {
            target.host = value; // libpq takes a host starting with "/" as a socket directory
        } else if (key == QLatin1String("port") && number && n > 0 && n < 65536 &&
                   target.port < 0) {
            target.port = n;
        } else if (key.compare(QLatin1String("password"), Qt::CaseInsensitive) == 0) {
            return refuse(noPassword);
        } else {
            // Only the name: the value of an option unknown here may be a secret.
            return refuse(QStringLiteral("the option \"%1\" is not known here").arg(key));
        }
    }
    if (target.host.isEmpty())
        return refuse(QStringLiteral("it names no host (@HOST, or ?host=/socket/dir)"));
    options << QStringLiteral("connect_timeout=%1").arg(target.connectTimeout);
    if (!target.host.startsWith(u'/')) {
        // A peer that vanishes mid-query is noticed in seconds, not after the system's hours.
        options << QStringLiteral("keepalives=1") << QStringLiteral("keepalives_idle=10")
                << QStringLiteral("keepalives_interval=5") << QStringLiteral("keepalives_count=3");
    }
    target.connectOptions = options.join(u';');
    return target;
}

DatabaseTarget DatabaseTarget::choose(const QString& commandLine)
{
    if (!commandLine.isEmpty())
        return parse(commandLine, true);
    return parse(QSettings().value(QLatin1String(SettingsKey)).toString(), false);
}

QString DatabaseTarget::localPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/history.sqlite");
}
