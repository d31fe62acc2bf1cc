// The program itself under remote control: the real binary on the simulated bench in virtual
// time, driven by pyvisa as a production script would, and the README's example as written.

#include <QtNetwork>
#include <QtSql>
#include <QtTest>

namespace {

// Runs a Python program with Debian's interpreter, where pyvisa is installed.
QString python(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"), arguments);
    if (!process.waitForFinished(120000))
        return QStringLiteral("(python did not finish)");
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
}

// The python block of the README that opens the bench, with the port this test got.
QString readmeExample(quint16 port)
{
    QFile readme(QStringLiteral(VELMORA_SOURCE_DIR "/README.md"));
    readme.open(QIODevice::ReadOnly);
    const QString text = QString::fromUtf8(readme.readAll());
    const QRegularExpression block(QStringLiteral("```python\n(import pyvisa.*?)```"),
                                   QRegularExpression::DotMatchesEverythingOption);
    return block.match(text).captured(1).replace(QStringLiteral("5025"), QString::number(port));
}

// A user's home of its own, and the program started there under remote control; the program is
// killed, if still running, when the test ends.
struct Home {
    Home()
    {
        environment.insert(QStringLiteral("HOME"), dir.path());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.path() + "/data");
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path() + "/config");
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(dir.path());
    }
    ~Home()
    {
        program.kill();
        program.waitForFinished(10000);
    }
    // The port remote control listens on; 0 when the program did not say.
    quint16 start(const QString& scenario = {})
    {
        program.start(QStringLiteral(VELMORA_PROGRAM),
                      {"--simulate=instant" + scenario, QStringLiteral("--remote=0")});
        program.waitForReadyRead(30000);
        const QString line = QString::fromUtf8(program.readLine()).trimmed();
        if (!line.startsWith(QLatin1String("remote control on 127.0.0.1:")))
            return 0;
        return quint16(line.section(u':', -1).toUInt());
    }
    // What velmora --history lists, a record a line.
    QStringList history() const
    {
        QProcess history;
        history.setProcessEnvironment(environment);
        history.start(QStringLiteral(VELMORA_PROGRAM), {QStringLiteral("--history")});
        history.waitForFinished(30000);
        return QString::fromUtf8(history.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QProcess program;
};

} // namespace

class RemoteProgramTest : public QObject {
    Q_OBJECT
private slots:
    void tenAttenuatorsByScript()
    {
        Home home;
        const quint16 port = home.start();
        QVERIFY(port != 0);

        const QString verdicts =
            python({QStringLiteral(VELMORA_SOURCE_DIR "/tests/app/ten_attenuators.py"),
                    QString::number(port)});
        QCOMPARE(verdicts, "ATT-01 NONE\nATT-02 PASS\nATT-03 PASS\nATT-04 PASS\nATT-05 PASS\n"
                           "ATT-06 PASS\nATT-07 PASS\nATT-08 PASS\nATT-09 PASS\nATT-10 NONE\n"
                           "0,\"No error\"\n");

        QTemporaryDir scratch;
        const QString example = scratch.filePath(QStringLiteral("example.py"));
        QFile file(example);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(readmeExample(port).toUtf8());
        file.close();
        QCOMPARE(python({example}), "Velmora,2712,0," VELMORA_VERSION "\n");

        home.program.terminate();
        if (!home.program.waitForFinished(10000))
            home.program.kill();

        // Each run is a record of its DUT, unattended, from remote control.
        const QStringList records = home.history();
        QCOMPARE(records.size(), 10);
        QCOMPARE(records[2].section(u'\t', 2, 5), "ATT-03\tATT\tX2P5\tPASS");
        QCOMPARE(records[9].section(u'\t', 2, 5), "ATT-10\tATT\t3\tNONE");
    }

    // A record handed to the history just before the program ends at a GPIB error's Cancel is
    // in the bench's file afterwards, and the program ends with status 1.
    void fatalEndKeepsTheLastRecord()
    {
        Home home;
        QProcess& program = home.program;
        // The third sweep's first marker finds no listener: ten points a sweep at 100 MHz.
        QTcpSocket bench;
        bench.connectToHost(QHostAddress::LocalHost, home.start(",write-error=MFREQ@21"));
        QVERIFY(bench.waitForConnected(10000));
        // Another program holds the history file: the record waits in the history's worker.
        const QString file =
            home.dir.filePath(QStringLiteral("data/Velmora/Velmora/history.sqlite"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(file), 30000);
        QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "holder");
        holder.setDatabaseName(file);
        QVERIFY(holder.open() && QSqlQuery(holder).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        const auto query = [&bench](const QByteArray& line) {
            bench.write(line + '\n');
            while (!bench.canReadLine() && bench.waitForReadyRead(30000)) {
            }
            return bench.readLine().trimmed();
        };
        QCOMPARE(query("SYST:PROM OFF;:CONF:KIND RL;STEP 100;:INIT;*OPC?"), "1");
        QCOMPARE(query("CONF:DEV TERM;:INIT;*OPC?;:FETC:VERD?"), "1;PASS");
        QCOMPARE(query("SYST:PROM ON;:INIT;:SYST:PROM?"), "\"\"");
        // OK to the connection prompt, then Cancel in the GPIB error dialog.
        QByteArray waiting;
        for (int turn = 0; turn < 1000 && !waiting.startsWith("\"No listener"); ++turn) {
            waiting = query("SYST:PROM?");
            if (waiting.startsWith("\"Connect"))
                bench.write("SYST:PROM:ANSW OK\n");
        }
        bench.write("SYST:PROM:ANSW CANCEL\n");
        bench.waitForBytesWritten(10000);
        // The program ends only once the record is in its file.
        QVERIFY(!program.waitForFinished(500));
        QVERIFY(QSqlQuery(holder).exec(QStringLiteral("COMMIT")));
        holder.close();
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 1);

        const QStringList records = home.history();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].section(u'\t', 3, 5), "RL\tTERM\tPASS");
    }

    // Listening beyond this machine is said on standard error, where a log hears it.
    void openListenerSaidOutLoud()
    {
        Home home;
        QProcess& program = home.program;
        program.setReadChannel(QProcess::StandardError);
        program.start(QStringLiteral(VELMORA_PROGRAM),
                      {"--simulate=instant", "--remote=0", "--remote-listen", "0.0.0.0"});
        QString said;
        while (!said.contains("the bench.") && program.waitForReadyRead(30000))
            said += QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(said.contains(QRegularExpression(
                     "velmora: Remote control on 0\\.0\\.0\\.0:[1-9][0-9]* has no authentication: "
                     "anyone who can reach it can run the bench\\.\n")),
                 qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(RemoteProgramTest)
#include "tst_remoteprogram.moc"
