// The batch run as a script starts it: the real program in a child process on the simulated
// bench's virtual clock, with a private history file read back through --history and --export.

#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct Run {
    int status;
    QString out, err;
};

// The program with a history of its own under home; setUp before it starts.
Run velmora(const QString& home, const QStringList& arguments, const QString& dataHome = {},
            const std::function<void(QProcess&)>& setUp = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_DATA_HOME", dataHome.isEmpty() ? home + "/data" : dataHome);
    p.setProcessEnvironment(env);
    if (setUp)
        setUp(p);
    p.start(VELMORA_PROGRAM, arguments);
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
    void signalDuringSetUp();
};

void BatchTest::run_data()
{
    QTest::addColumn<QString>("scenario"); // the simulated bench's words besides "instant"
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expected"); // the verdict on standard output, or the error
    QTest::addColumn<bool>("historyWritable");

    const auto row = [](const char* tag, const QString& scenario, const QString& arguments,
                        int status, const QString& expected, bool historyWritable = true) {
        QTest::newRow(tag) << scenario << arguments.split(' ') << status << expected
                           << historyWritable;
    };
    const QString term = "--kind rl --device TERM --freq-step 25 --dut AT-1";
    // The comment is cleaned as at every door: one line, no ";".
    row("termination passes", "", term + " --comment lot-7;bench\t3", 0, "PASS 6.29 dB at 875 MHz");
    row("failing termination", "failing", term, 1, "FAIL -1.70 dB at 1000 MHz");
    row("cable has no limits", "", "--kind att --device X1 --freq-step 100 --dut AT-1", 0,
        "NONE (no limits)");
    row("custom attenuator and limit", "failing",
        "--kind ATT --device 7,5 --freq-step 50 --dut AT-1 --limit 0.2", 1,
        "FAIL -0.18 dB at 900 MHz");
    row("no board", "no-board", term, 2, "Initialization Error");
    row("device of the other kind", "", "--kind rl --device X2 --freq-step 25 --dut AT-1", 2,
        "--device X2 is no device of --kind rl, which takes TERM, PAD.");
    row("no DUT ID", "", "--kind rl --device TERM --freq-step 25", 2, "--dut is missing.");
    // Refused before anything goes over the bus.
    const QString x2 = "--kind att --device X2 --freq-step 100 --dut AT-1";
    row("refused limit", "", term + " --limit 50", 2, "Custom Limit must be between 10 and 40");
    row("refused attenuator limit", "", x2 + " --limit 5", 2,
        "Custom Limit must be between 0.1 and 1.0");
    row("refused limit text", "", x2 + " --limit abc", 2,
        "Custom Limit must be between 0.1 and 1.0");
    row("refused attenuation", "", "--kind att --device 25,5 --freq-step 100 --dut AT-1", 2,
        "Custom Attenuation must be less than or equal to 25 dB.");
    row("refused DUT ID", "", "--kind rl --device TERM --freq-step 25 --dut " + QString(65, 'x'), 2,
        "The DUT ID can be at most 64 characters long.");
    row("GPIB error in the reference", "write-error=MFREQ 500E+6)", term, 2,
        "GPIB ERROR # 2\nNo listener on write function.\n");
    row("GPIB error at the last point", "write-error=MFREQ 1000E+6)@2", term, 2,
        "The run ended after a bus error: no verdict.");
    row("read time-out mid-sweep", "timeout=MAMPL?@50", term, 2, "I/O Error\nRead cycle failed\n");
    // Said once, with the reason, and nothing about records kept for later.
    row("record not kept", "", term, 2,
        "velmora: PASS 6.29 dB at 875 MHz, but the record could not be kept: ", false);
}

void BatchTest::run()
{
    QFETCH(QString, scenario);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, expected);
    QFETCH(bool, historyWritable);
    QTemporaryDir home;
    QFile blocked(home.filePath("blocked")); // a file where the history's folder would be made
    QVERIFY(historyWritable || blocked.open(QIODevice::WriteOnly));
    const QString trace = home.filePath("trace");
    const Run run = velmora(
        home.path(),
        QStringList{"--batch", "--simulate=instant," + scenario, "--trace", trace} + arguments,
        historyWritable ? QString() : blocked.fileName());
    QCOMPARE(run.out, status < 2 ? expected + "\n" : QString());
    QVERIFY2(status < 2 || run.err.contains(expected), qPrintable(run.err));
    QCOMPARE(run.status, status);
    if (QByteArray(QTest::currentDataTag()).startsWith("refused"))
        QCOMPARE(QFileInfo(trace).size(), 0);
    if (!historyWritable)
        QCOMPARE(run.err.count("velmora: "), 1);

    // The history holds the record of a completed run and of nothing else.
    const QStringList lines =
        velmora(home.path(), {"--history", "AT-1"}).out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), status < 2 ? 1 : 0);
    if (lines.isEmpty())
        return;
    QVERIFY2(lines[0].contains("\tAT-1\t" + arguments[1].toUpper() + "\t"), qPrintable(lines[0]));
    const QString record = velmora(home.path(), {"--export", "AT-1"}).out;
    const QString comment = arguments.contains("--comment") ? "lot-7-bench 3" : QString();
    for (const QString& line : QStringList{"# verdict: " + expected, "# started_from: batch",
                                           "# unattended: yes", "# comments: " + comment})
        QVERIFY2(record.contains(line + "\n"), qPrintable(record));
}

void BatchTest::terminalPromptsAndCtrlC()
{
    // The operator at a terminal: an answer that is no button is asked again, Enter takes OK,
    // and Ctrl-C at the device's prompt ends the run without a verdict.
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
    std::signal(SIGINT, SIG_DFL); // inherited by the program, whatever the test runner had
    QTemporaryDir home;
    QString err;
    const auto operatorAt = [&](QProcess& p) {
        p.setStandardInputFile(QString::fromLocal8Bit(ptsname(terminal)));
        QObject::connect(&p, &QProcess::readyReadStandardError, [&] {
            const qsizetype before = err.count("OK/Cancel [OK]: ");
            err += p.readAllStandardError();
            const qsizetype asked = err.count("OK/Cancel [OK]: ");
            const QByteArray answer = asked == 1 ? "maybe\n" : "\n";
            if (asked > before && asked < 3)
                QCOMPARE(write(terminal, answer.data(), size_t(answer.size())), answer.size());
            else if (asked > before)
                kill(pid_t(p.processId()), SIGINT);
        });
    };
    const Run run = velmora(home.path(),
                            {"--batch", "--simulate=instant", "--kind", "att", "--device", "X2",
                             "--freq-step", "50", "--dut", "AT-1"},
                            {}, operatorAt);
    close(terminal);
    err += run.err;
    QCOMPARE(err.count("OK/Cancel [OK]: "), 3);
    QVERIFY2(err.contains("Connect the 2X (6 dB) Attenuator to be measured"), qPrintable(err));
    QVERIFY2(err.endsWith("velmora: Stopped by Ctrl-C.\n"), qPrintable(err));
    QCOMPARE(run.out, QString());
    QCOMPARE(run.status, 2);
}

// On the real clock, SIGTERM 3 s into the analyser's 15 s set-up: the wait is cut short and the
// run ends as a Cancel at the connection prompt, long before the set-up would have; nothing
// recorded. Ctrl-C goes the same way, at a prompt, in terminalPromptsAndCtrlC.
void BatchTest::signalDuringSetUp()
{
    QTemporaryDir home;
    const QString trace = home.filePath("trace");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_DATA_HOME", home.path() + "/data");
    p.setProcessEnvironment(env);
    p.start(VELMORA_PROGRAM, {"--batch", "--simulate", "--trace", trace, "--kind", "rl", "--device",
                              "TERM", "--freq-step", "100", "--dut", "AT-1"});
    QVERIFY(p.waitForStarted());
    QTest::qWait(3000);
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(sinceSignal.elapsed() < 10000, qPrintable(QString::number(sinceSignal.elapsed())));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 2);
    QCOMPARE(QString::fromUtf8(p.readAllStandardError()).section(u'\n', -2),
             "velmora: Stopped by SIGTERM.\n");
    QFile traffic(trace);
    QVERIFY(traffic.open(QIODevice::ReadOnly));
    QVERIFY(!traffic.readAll().contains("MFREQ")); // no point measured
    QCOMPARE(velmora(home.path(), {"--history"}).out, QString());
}

QTEST_GUILESS_MAIN(BatchTest)
#include "tst_batch.moc"
