// The "++" adapter binding against velmora-bench over a real socket and a real terminal: the
// same checks give the same bus traffic and chart as on the in-process bench, and the link's
// own faults reach the operator through the program's error paths without hanging it.

#include "BenchFixture.h"
#include "chart/Chart.h"
#include "gpib/AdapterDriver.h"
#include "gpib/AnalyserCommands.h"
#include "sim/BenchServer.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

using namespace Ni488;

namespace {

// Opened on a thread of its own, as a bus thread would, while this one serves the bench; its
// calls come from here afterwards.
std::unique_ptr<AdapterDriver> openAside(const QString& address, Clock& wall, QString* error)
{
    std::unique_ptr<AdapterDriver> driver;
    QThread* here = QThread::currentThread();
    const std::unique_ptr<QThread> opener(QThread::create([&] {
        driver = AdapterDriver::open(address, wall, error);
        if (driver)
            driver->callFrom(here);
    }));
    QObject::connect(opener.get(), &QThread::finished, [] { QCoreApplication::exit(0); });
    opener->start();
    runApplication();
    opener->wait();
    return driver;
}

// velmora-bench in this process, on the program's virtual clock; the binding's link waits on
// the wall clock, as the socket or terminal under it is real.
struct Served {
    explicit Served(const QString& words, bool terminal = false, quint16 port = 0,
                    VirtualClock* sharedClock = nullptr)
        : clock(sharedClock ? *sharedClock : ownClock),
          server(clock, BenchServer::parse(words).value())
    {
        QString error;
        if (!(terminal ? server.openTerminal(&error) : server.listen(port, &error)))
            qFatal("cannot serve: %s", qPrintable(error));
    }
    std::unique_ptr<AdapterDriver> open(QString* error = nullptr)
    {
        return openAside(server.address(), wall, error);
    }

    VirtualClock ownClock;
    VirtualClock& clock;
    SteadyClock wall;
    BenchServer server;
};

} // namespace

class AdapterTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void sameChecksAsInProcess_data()
    {
        QTest::addColumn<QString>("bench");
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("terminal");
        const auto row = [](const char* name, const char* bench, const char* link, bool pty) {
            QTest::newRow(name) << QString(bench) << QString(link) << pty;
        };
        row("pty, answers split, listeners polled", "others-first,crlf", "split,no-findlstn", true);
        row("tcp, fourteen listeners, long answers, stale requests, adapter set up otherwise",
            "14-listeners,long-answers,stale-srq", "reconfigured", false);
        row("tcp, answers split, a reading never answered", "timeout=MAMPL?@7", "split", false);
    }
    void sameChecksAsInProcess()
    {
        QFETCH(QString, bench);
        QFETCH(QString, link);
        QFETCH(bool, terminal);
        BenchFixture local(bench);
        local.startUp();
        local.dialogs.clear();
        const QStringList localCharts = checkBoth(*local.form);

        Served served(bench + u',' + link, terminal);
        QString error;
        const std::unique_ptr<AdapterDriver> driver = served.open(&error);
        QVERIFY2(driver, qPrintable(error));
        QStringList titles;
        int analyser = 0;
        {
            WindowOver program(*driver, served.clock);
            program.dialogs.clear();
            QCOMPARE(checkBoth(program.form), localCharts);
            titles = program.dialogs.titles();
            analyser = program.form.State.AnalyserDevice;
        }
        // Line ends, escapes and pluses are the adapter's own: they must reach the analyser as
        // data, as must a message that looks like an adapter command.
        for (const char* message : {"A+B\r\nC\x1b;", "++ver", "+", "\n"}) {
            QCOMPARE(driver->ibwrt(analyser, message), CMPL);
            local.bench.ibwrt(local.form->State.AnalyserDevice, message);
        }
        const auto taken = [&] { return served.server.bench().received(); }; // once it reads them
        QVERIFY(QTest::qWaitFor([&] { return taken().size() >= local.bench.received().size(); }));
        const QStringList traffic = taken();
        QVERIFY(traffic.contains(AnalyserCommands::ReturnLossSetup) &&
                traffic.contains(AnalyserCommands::AttenuationSetup));
        QCOMPARE(traffic, local.bench.received());
        QCOMPARE(titles, local.dialogs.titles());
    }

    // The operator is told which adapter and why.
    void unreachableAdapter_data()
    {
        QTest::addColumn<QString>("address"); // mute: one that takes the connection, says nothing
        QTest::addColumn<QString>("reason");
        QTcpServer closed; // a port nobody listens on any more
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString refused = QStringLiteral("tcp://127.0.0.1:%1").arg(closed.serverPort());
        closed.close();
        QTest::newRow("refused") << refused << "refused";
        QTest::newRow("missing device") << "/dev/no-such-adapter" << QString(": ");
        QTest::newRow("unknown kind") << "http://127.0.0.1" << QString("tcp://HOST[:PORT]");
        QTest::newRow("mute") << "mute"
                              << "the GPIB adapter does not answer (no reply to ++ver within 3 s).";
    }
    void unreachableAdapter()
    {
        QFETCH(QString, address);
        QFETCH(QString, reason);
        Served mute(address == "mute" ? address : QString());
        if (address == "mute")
            address = mute.server.address();
        QString error;
        QVERIFY(!openAside(address, mute.wall, &error));
        QVERIFY2(error.startsWith(address) && error.contains(reason), qPrintable(error));
    }

    void linkDropsMidSweep_data()
    {
        QTest::addColumn<bool>("terminal");
        QTest::newRow("tcp connection dropped") << false;
        QTest::newRow("serial device vanished") << true;
    }
    void linkDropsMidSweep()
    {
        QFETCH(bool, terminal);
        Served served(QStringLiteral("drop=5"), terminal);
        const std::unique_ptr<AdapterDriver> driver = served.open();
        QVERIFY(driver);
        WindowOver program(*driver, served.clock);
        program.dialogs.clear();
        MainForm& w = program.form;
        measure(w, MeasKind::ReturnLoss, 3); // 10 points, every message answered OK

        // The fifth reading is lost with the link: the operator is told once, as itself, and
        // the reference ends as after Stop, without the stop notice.
        QCOMPARE(program.dialogs.titles(),
                 (QStringList{"Return Loss Measurement Setup", "GPIB Adapter Lost"}));
        const ScriptedDialogs::Shown& lost = program.dialogs.shown[1];
        QCOMPARE(lost.text,
                 "The GPIB adapter " + served.server.address() +
                     " does not answer any more.\n\nReconnect it, then press Run again.");
        QVERIFY(lost.icon == MsgIcon::Exclamation && lost.buttons == MsgButtons::Ok);
        QCOMPARE(served.server.bench().received().count(AnalyserCommands::MarkerAmplitude), 4);
        QVERIFY(!w.running() && w.Command_Run->isEnabled() && !w.Command_Stop->isEnabled());
        QVERIFY(!w.State.RefValid[ReturnLossKind] && !w.Option_Refl[1]->isEnabled());

        // Run again while it is still gone: the same message once more, and nothing else.
        program.dialogs.clear();
        click(w.Command_Run);
        QCOMPARE(program.dialogs.titles(), QStringList{"GPIB Adapter Lost"});

        // Every later call that would wait on the link fails at once instead (not a time-out).
        const int ud = w.State.AnalyserDevice;
        QByteArray buffer(512, ' ');
        char statusByte = 0;
        QVector<short> found(15);
        QList<int> errors;
        const auto note = [&](auto) {
            errors << (driver->status().ibsta & ERR ? driver->status().iberr : 0);
        };
        note(driver->ibwrt(ud, "SIG")), note(driver->ibrd(ud, buffer)), note(driver->ibclr(ud));
        note(driver->ibwait(ud, TIMO | CMPL)), note(driver->ibwait(ud, RQS));
        note(driver->ibrsp(ud, &statusByte)), note(driver->ibdev(0, 18, 0, T3s, 1, 0));
        driver->SendIFC(0), note(0), driver->FindLstn(0, {18, NOADDR}, found, 15), note(0);
        QCOMPARE(errors, QList<int>(9, ENOL));

        if (terminal)
            return; // a terminal that closed does not come back under its name
        // Reconnected, the next Run takes the whole reference again.
        Served restarted(QString{}, false,
                         quint16(served.server.address().section(u':', -1).toUInt()),
                         &served.clock);
        program.dialogs.clear();
        click(w.Command_Run);
        QCOMPARE(program.dialogs.titles(),
                 (QStringList{"Return Loss Measurement Setup", "Return Loss Reference"}));
        QVERIFY(!program.io.linkLost() && w.State.RefValid[ReturnLossKind]);
    }

    // Lost while idle: the close question's reset meets the GPIB error dialog, whose Cancel
    // ends the program.
    void cancelAfterIdleDropEndsProgram()
    {
        auto served = std::make_unique<Served>(QString{});
        const std::unique_ptr<AdapterDriver> driver = served->open();
        WindowOver program(*driver, served->clock);
        program.dialogs.clear();
        program.dialogs.onMessage = [&](const ScriptedDialogs::Shown& shown) {
            return shown.kind == MsgKind::BusError ? MsgResult::Cancel : MsgResult::Yes;
        };
        served.reset();
        QVERIFY(QTest::qWaitFor([&] { return driver->linkLost(); }, 30000));
        program.form.close();
        settle(program.session);
        QCOMPARE(program.dialogs.titles(), (QStringList{"Terminate Program", "GPIB ERROR # 2"}));
        QVERIFY(program.io.programEnded());
    }

    // velmora-bench itself, to a host program that sends ++read eoi after each query, as the
    // adapters' manual has it; what reaches the analyser is checked in process.
    void benchProgram()
    {
        QProcess bench;
        bench.start(QStringLiteral(VELMORA_BENCH), {"--port", "0", "--scenario", "2711"});
        QVERIFY(bench.waitForReadyRead(30000));
        const QString line = QString::fromLocal8Bit(bench.readLine()).trimmed();
        QVERIFY2(line.startsWith("velmora-bench listening on tcp://127.0.0.1:"), qPrintable(line));
        // A host program written from the adapters' manual, not from the binding.
        QTcpSocket io;
        io.connectToHost(QHostAddress::LocalHost, quint16(line.section(u':', -1).toUInt()));
        io.write("++mode 1\n++addr 18\n++eos 2\n++eot_enable 1\n++eot_char 10\n++auto 0\n");
        QByteArrayList answers;
        for (const QByteArray query : {"ID?", "REFLVL -10.0;REFLVL?", "MFREQ?"}) {
            io.write(query + "\n++read eoi\n");
            // Each answer ends at the line feed the end-of-transmission character puts after it.
            QVERIFY(QTest::qWaitFor([&] { return io.canReadLine(); }, 10000));
            answers << io.readLine().trimmed();
        }
        QCOMPARE(answers, (QByteArrayList{"ID SIMULATED,2711,V1.04,OPTIONS:TRACKING GEN,NB FILTER",
                                          "REFLVL -10.0", "MFREQ 5.0000E+08"}));
        bench.kill();
        bench.waitForFinished(30000);
    }
};

QTEST_MAIN(AdapterTest)
#include "tst_adapter.moc"
