#pragma once

// What print tests share: a print server of their own, and reading back what was printed.

#include "report/PrintResultTextForm.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

inline QByteArray readFile(const QString& name) // "<no file>" when there is none
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

inline void writeFile(const QString& name, const QByteArray& bytes)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

// The page as pdftotext reads it: the labelled lines without blanks (labels sit side by side,
// so the blanks between them depend on the font), then the frequency axis row; "no page"
// unless the PDF holds exactly one page. Today's date reads "<today>", and so does
// yesterday's, for a print begun before midnight.
inline QString printedPage(const QString& pdf)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {"-layout", pdf, "-"});
    process.waitForFinished(60000);
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    if (process.exitCode() != 0 || text.count('\f') != 1)
        return QStringLiteral("no page");
    const QStringList lines = text.split('\n');
    QString labelled = lines.filter(":").join('\n').remove(' ');
    for (const QDate& date : {QDate::currentDate(), QDate::currentDate().addDays(-1)})
        labelled.replace(QLocale::system().toString(date, QLocale::ShortFormat).remove(' '),
                         "<today>");
    return labelled + '\n' + lines.filter("950").value(0).simplified();
}

// Once the report shows the details dialog, inside its modal loop: pastes identifier and
// comments and presses button (none: the close box).
inline void inDetails(const QString& dutId, const QString& comments,
                      const QString& button = "Command_Print")
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* form = qobject_cast<PrintResultTextForm*>(QApplication::activeModalWidget());
        if (!form)
            return;
        timer->deleteLater();
        for (const auto& [box, text] :
             {std::pair{"Text_DUTId", dutId}, {"Text_Comments", comments}}) {
            QGuiApplication::clipboard()->setText(text);
            form->findChild<QLineEdit*>(box)->setFocus();
            QTest::keyClick(form->focusWidget(), Qt::Key_V, Qt::ControlModifier);
        }
        button.isEmpty() ? void(form->close())
                         : QTest::mouseClick(form->findChild<QPushButton*>(button), Qt::LeftButton);
    });
    timer->start(5);
}

// A print server of the test's own: configuration, spool, state, log and socket in a temporary
// folder, queues q1 and q2 printing into PDF files there, and the cups clients of this process
// and its children pointed at it. Made before the first cups call of the process.
class PrivateCups {
public:
    PrivateCups()
    {
        // The filters run as lp and need a way into the folder and its spool.
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
        for (const char* sub : {"root", "spool", "tmp", "state", "log", "out", "home"})
            QDir(m_dir.path()).mkpath(sub);
        for (const char* open : {"out", "tmp"})
            ::chmod(QFile::encodeName(path(open)).constData(), 0777);
        qputenv("CUPS_SERVER", QFile::encodeName(path("cups.sock")));
        qputenv("CUPS_SERVERROOT", QFile::encodeName(path("root")));
        qputenv("HOME", QFile::encodeName(path("home")));
        qunsetenv("LPDEST");
        qunsetenv("PRINTER");
    }

    // Empty on success, else why no server could be had here.
    QString start()
    {
        const char* ppd = "/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd";
        if (tool("cupsd").isEmpty() || !QFile::exists(ppd))
            return "no cupsd or generic PDF printer (Debian packages cups-daemon, cups-filters)";
        const QByteArray dir = QFile::encodeName(m_dir.path());
        writeFile(path("root/cupsd.conf"),
                  "Listen %/cups.sock\nPrintcap %/printcap\nWebInterface No\nBrowsing No\n"
                  "<Location />\n Order allow,deny\n Allow all\n</Location>\n<Policy default>\n"
                  " <Limit All>\n  Order deny,allow\n </Limit>\n</Policy>\n"_ba.replace("%", dir));
        writeFile(path("root/cups-files.conf"),
                  "FileDevice Yes\nServerRoot %/root\nRequestRoot %/spool\nTempDir %/tmp\n"
                  "StateDir %/state\nCacheDir %/state\nErrorLog %/log/error_log\n"
                  "AccessLog %/log/access_log\nPageLog %/log/page_log\n"_ba.replace("%", dir) +
                      (geteuid() == 0 ? "User lp\nGroup lp\nSystemGroup root\n" : ""));
        m_cupsd = std::make_unique<QProcess>();
        m_cupsd->start(tool("cupsd"),
                       {"-f", "-c", path("root/cupsd.conf"), "-s", path("root/cups-files.conf")});
        const auto up = [&] {
            return QFile::exists(path("cups.sock")) && run("lpstat", {"-r"}).isEmpty();
        };
        (void)QTest::qWaitFor([&] { return m_cupsd->state() == QProcess::NotRunning || up(); },
                              60000);
        if (m_cupsd->state() != QProcess::Running || !up())
            return "cupsd did not come up: " + m_cupsd->errorString() + u'\n' + log();
        QString error;
        for (const QString q : {"q1", "q2"})
            error += run("lpadmin", {"-p", q, "-v", "file://" + output(q), "-P", ppd, "-E"});
        return error;
    }
    void stop()
    {
        if (m_cupsd)
            m_cupsd->terminate(), m_cupsd->waitForFinished(30000); // else its destructor kills it
        m_cupsd.reset();
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString output(const QString& queue) const { return path("out/" + queue + ".pdf"); }
    QByteArray log() const { return readFile(path("log/error_log")).right(3000); }

    // Runs a cups client tool; empty on success, else its complaint.
    static QString run(const QString& name, const QStringList& arguments)
    {
        QProcess process;
        process.start(tool(name), arguments);
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0)
            return name + ": " + QString::fromLocal8Bit(process.readAllStandardError()) +
                   process.errorString();
        return {};
    }

private:
    static QString tool(const QString& name)
    {
        return QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/bin", "/usr/local/sbin"});
    }

    QTemporaryDir m_dir{QDir::tempPath() + "/velmora-cups-XXXXXX"};
    std::unique_ptr<QProcess> m_cupsd;
};
