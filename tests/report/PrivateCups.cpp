#include "PrivateCups.h"

#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const Ppd = "/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd";

QString tool(const QString& name)
{
    return QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/bin", "/usr/local/sbin"});
}

void writeFile(const QString& name, const QString& text)
{
    QFile file(name);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text.toUtf8());
}

} // namespace

PrivateCups::PrivateCups()
{
    // The filters run as lp and need a way into the folder and its spool.
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
    for (const char* sub : {"root", "spool", "tmp", "state", "cache", "log", "out", "home"})
        QDir(m_dir.path()).mkpath(sub);
    for (const char* open : {"out", "tmp"})
        ::chmod(QFile::encodeName(path(open)).constData(), 0777);
    qputenv("CUPS_SERVER", QFile::encodeName(path("cups.sock")));
    qputenv("CUPS_SERVERROOT", QFile::encodeName(path("root")));
    qputenv("HOME", QFile::encodeName(path("home")));
    qunsetenv("LPDEST");
    qunsetenv("PRINTER");
}

QString PrivateCups::start()
{
    if (tool("cupsd").isEmpty() || tool("lpadmin").isEmpty())
        return "cupsd or lpadmin is not installed (Debian packages cups-daemon, cups-client)";
    if (!QFile::exists(Ppd))
        return QString("%1 is missing (Debian package cups-filters)").arg(Ppd);
    writeFile(path("root/cupsd.conf"),
              QString("Listen %1\nPrintcap %2\nWebInterface No\nBrowsing No\n"
                      "<Location />\n Order allow,deny\n Allow all\n</Location>\n"
                      "<Policy default>\n <Limit All>\n  Order deny,allow\n </Limit>\n</Policy>\n")
                  .arg(path("cups.sock"), path("printcap")));
    writeFile(path("root/cups-files.conf"),
              QString("FileDevice Yes\nServerRoot %1\nRequestRoot %2\nTempDir %3\nStateDir %4\n"
                      "CacheDir %5\nErrorLog %6/error_log\nAccessLog %6/access_log\n"
                      "PageLog %6/page_log\n%7")
                  .arg(path("root"), path("spool"), path("tmp"), path("state"), path("cache"),
                       path("log"), geteuid() == 0 ? "User lp\nGroup lp\nSystemGroup root\n" : ""));
    m_cupsd = std::make_unique<QProcess>();
    m_cupsd->start(tool("cupsd"),
                   {"-f", "-c", path("root/cupsd.conf"), "-s", path("root/cups-files.conf")});
    if (!m_cupsd->waitForStarted(30000))
        return "cupsd did not start: " + m_cupsd->errorString();
    const bool up = QTest::qWaitFor(
        [&] {
            return m_cupsd->state() != QProcess::Running ||
                   (QFile::exists(path("cups.sock")) && run("lpstat", {"-r"}).isEmpty());
        },
        60000);
    if (!up || m_cupsd->state() != QProcess::Running)
        return "cupsd did not come up; its log:\n" + QString::fromLocal8Bit(log());
    for (const QString queue : {"q1", "q2"}) {
        const QString error =
            run("lpadmin", {"-p", queue, "-v", "file://" + output(queue), "-P", Ppd, "-E"});
        if (!error.isEmpty())
            return error;
    }
    return {};
}

void PrivateCups::stop()
{
    if (!m_cupsd)
        return;
    m_cupsd->terminate();
    if (!m_cupsd->waitForFinished(30000))
        m_cupsd->kill();
    m_cupsd->waitForFinished(30000);
    m_cupsd.reset();
}

QByteArray PrivateCups::log() const
{
    QFile file(path("log/error_log"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().right(3000) : QByteArray();
}

QString PrivateCups::run(const QString& name, const QStringList& arguments)
{
    QProcess process;
    process.start(tool(name), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return name + ": " + QString::fromLocal8Bit(process.readAllStandardError()) +
               process.errorString();
    return {};
}
