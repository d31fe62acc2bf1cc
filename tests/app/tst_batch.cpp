// The batch run as a script starts it: the real program in a child process on the simulated
// bench's virtual clock, with a private history file read back through --history and --export.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct Run {
    int status = -1;
    QString out, err;
};

void privateHome(QProcess& p, const QString& home, const QString& dataHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_DATA_HOME", dataHome);
    p.setProcessEnvironment(env);
}

Run velmora(const QString& home, const QString& dataHome, const QStringList& arguments)
{
    QProcess p;
    privateHome(p, home, dataHome);
    p.start(VELMORA_PROGRAM, arguments);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

} // namespace

class BatchTest : public QObject {
    Q_OBJECT
private slots:
    void run_data();
    void run();
    void terminalPromptsAndCtrlC();
};

void BatchTest::run_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("verdict"); // the line on standard output; none when empty
    QTest::addColumn<QString>("message"); // on standard error
    QTest::addColumn<bool>("historyWritable");

    const QStringList term{"--kind",      "rl", "--device", "TERM",
                           "--freq-step", "25", "--dut",    "AT-1"};
    QTest::newRow("termination passes")
        << "instant" << term + QStringList{"--comment", "bench 3; new lot"} << 0
        << "PASS 6.29 dB at 875 MHz"
        << "" << true;
    QTest::newRow("failing termination")
        << "instant,failing" << term << 1 << "FAIL -1.70 dB at 1000 MHz"
        << "" << true;
    QTest::newRow("cable has no limits")
        << "instant"
        << QStringList{"--kind", "att", "--device", "X1", "--freq-step", "100", "--dut", "AT-1"}
        << 0 << "NONE (no limits)"
        << "" << true;
    QTest::newRow("custom attenuator, custom limit")
        << "instant,failing" << QStringList{"--kind", "ATT",   "--device", "7,5",     "--freq-step",
                                            "50",     "--dut", "AT-1",     "--limit", "0.2"}
        << 1 << "FAIL -0.18 dB at 900 MHz"
        << "" << true;
    QTest::newRow("no board") << "instant,no-board" << term << 2 << ""
                              << "Initialization Error" << true;
    QTest::newRow("unknown device")
        << "instant"
        << QStringList{"--kind", "att", "--device", "X3", "--freq-step", "25", "--dut", "AT-1"} << 2
        << ""
        << "--device X3 is no device of --kind att" << true;
    QTest::newRow("device of the other kind")
        << "instant"
        << QStringList{"--kind", "rl", "--device", "X2", "--freq-step", "25", "--dut", "AT-1"} << 2
        << ""
        << "which takes TERM, PAD." << true;
    QTest::newRow("no DUT ID") << "instant" << term.mid(0, 6) << 2 << ""
                               << "--dut is missing." << true;
    QTest::newRow("step not in the list")
        << "instant"
        << QStringList{"--kind", "rl", "--device", "PAD", "--freq-step", "20", "--dut", "AT-1"} << 2
        << ""
        << "--freq-step takes 12.5, 25, 50 or 100" << true;
    QTest::newRow("refused limit") << "instant" << term + QStringList{"--limit", "50"} << 2 << ""
                                   << "Custom Limit must be between 10 and 40" << true;
    QTest::newRow("GPIB error in the reference")
        << "instant,write-error=MFREQ 500E+6)" << term << 2 << ""
        << "GPIB ERROR # 2\nNo listener on write function.\n"
        << true;
    QTest::newRow("GPIB error at the last point")
        << "instant,write-error=MFREQ 1000E+6)@2" << term << 2 << ""
        << "The run ended after a bus error: no verdict." << true;
    QTest::newRow("read time-out mid-sweep") << "instant,timeout=MAMPL?@50" << term << 2 << ""
                                             << "I/O Error\nRead cycle failed\n"
                                             << true;
    QTest::newRow("record not kept")
        << "instant" << term << 2 << ""
        << "PASS 6.29 dB at 875 MHz, but the record could not be kept" << false;
}

void BatchTest::run()
{
    QFETCH(QString, scenario);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, verdict);
    QFETCH(QString, message);
    QFETCH(bool, historyWritable);
    QTemporaryDir home;
    // A plain file where the history's folder would be made.
    QFile blocked(home.filePath("blocked"));
    QVERIFY(blocked.open(QIODevice::WriteOnly));
    const QString dataHome = home.filePath(historyWritable ? "data" : "blocked");
    const QString dut = "AT-1";

    const Run run = velmora(home.path(), dataHome,
                            QStringList{"--batch", "--simulate=" + scenario} + arguments);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(run.out, verdict.isEmpty() ? QString() : verdict + "\n");
    QCOMPARE(run.status, status);

    // The history holds the record of a completed run and of nothing else.
    const Run history = velmora(home.path(), home.filePath("data"), {"--history", dut});
    QCOMPARE(history.status, 0);
    const QStringList lines = history.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), status < 2 ? 1 : 0);
    if (lines.isEmpty())
        return;
    const QStringList fields = lines[0].split('\t');
    QCOMPARE(fields.mid(2, 2), (QStringList{dut, arguments[1].toUpper()}));
    QCOMPARE(fields[5] == "NONE"
                 ? "NONE (no limits)"
                 : QString("%1 %2 dB at %3 MHz").arg(fields[5], fields[6], fields[7]),
             verdict);
    const Run record = velmora(home.path(), home.filePath("data"), {"--export", dut});
    const QString comment = arguments.contains("--comment") ? arguments.last() : QString();
    for (const QString& line : QStringList{"# verdict: " + verdict, "# started_from: batch",
                                           "# unattended: yes", "# comments: " + comment})
        QVERIFY2(record.out.contains(line + "\n"), qPrintable(record.out));
}

void BatchTest::terminalPromptsAndCtrlC()
{
    // The operator at a terminal: an answer that is no button is asked again, Enter takes OK,
    // and Ctrl-C at the device's prompt ends the run without a verdict or a record.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    QVERIFY(terminal >= 0);
    QTemporaryDir home;
    QProcess p;
    privateHome(p, home.path(), home.filePath("data"));
    p.setChildProcessModifier([terminal] {
        dup2(terminal, STDIN_FILENO);
        signal(SIGINT, SIG_DFL); // whatever the test runner was started with
    });
    p.start(VELMORA_PROGRAM, {"--batch", "--simulate=instant", "--kind", "att", "--device", "X2",
                              "--freq-step", "50", "--dut", "TTY-1"});
    p.setReadChannel(QProcess::StandardError);
    QString err;
    const auto waitForQuestion = [&](int n) {
        while (err.count("OK/Cancel [OK]: ") < n && p.waitForReadyRead(60000))
            err += p.readAllStandardError();
        return err.count("OK/Cancel [OK]: ") == n;
    };
    QVERIFY2(waitForQuestion(1), qPrintable(err));
    QCOMPARE(write(master, "maybe\n", 6), 6);
    QVERIFY2(waitForQuestion(2), qPrintable(err));
    QCOMPARE(write(master, "\n", 1), 1);
    QVERIFY2(waitForQuestion(3), qPrintable(err));
    QVERIFY(err.contains("Connect the 2X (6 dB) Attenuator to be measured"));
    kill(pid_t(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(60000));
    err += p.readAllStandardError();
    QVERIFY2(err.endsWith("velmora: Interrupted: no verdict.\n"), qPrintable(err));
    QCOMPARE(p.readAllStandardOutput(), QByteArray());
    QCOMPARE(p.exitCode(), 2);
    QCOMPARE(velmora(home.path(), home.filePath("data"), {"--history"}).out, QString());
    close(terminal);
    close(master);
}

QTEST_GUILESS_MAIN(BatchTest)
#include "tst_batch.moc"
