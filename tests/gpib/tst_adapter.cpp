// The "++" adapter binding against velmora-bench over a real socket and a real terminal: the
// same checks give the same bus traffic and chart as on the in-process bench, and the link's
// own faults reach the operator through the program's error paths without hanging it.

#include "BenchFixture.h"
#include "chart/Chart.h"
#include "gpib/AdapterDriver.h"
#include "gpib/AnalyserCommands.h"
#include "sim/BenchServer.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <optional>

using namespace Ni488;

namespace {

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
        return AdapterDriver::open(server.address(), wall, error);
    }

    VirtualClock ownClock;
    VirtualClock& clock;
    SteadyClock wall;
    BenchServer server;
};

// A host program written from the adapters' manual, not from the binding: lines out, and
// answers read up to the line feed that the end-of-transmission character puts after them.
struct Client {
    explicit Client(const QString& address)
    {
        if (address.startsWith(QLatin1String("tcp://"))) {
            auto* socket = new QTcpSocket;
            socket->connectToHost(QHostAddress::LocalHost,
                                  quint16(address.section(u':', -1).toUInt()));
            io.reset(socket);
        } else {
            auto* port = new QSerialPort(address);
            port->open(QIODevice::ReadWrite);
            io.reset(port);
        }
    }
    void send(const QByteArray& line) { io->write(line + '\n'); }
    QByteArray line()
    {
        if (!QTest::qWaitFor([&] { return (in += io->readAll()).contains('\n'); }, 10000))
            return "(no answer)";
        const QByteArray line = in.left(in.indexOf('\n'));
        in.remove(0, line.size() + 1);
        return line;
    }
    std::unique_ptr<QIODevice> io;
    QByteArray in;
};

// The program's window over any driver, started as at program start. A forked child must
// not paint: the raster engine's helper threads were not forked along.
struct Program {
    Program(GpibDriver& driver, VirtualClock& clock, bool inChild = false)
        : io(driver, clock, dialogs), form(io, dialogs)
    {
        clock.idleAdvance = [] { return QApplication::activeModalWidget() != nullptr; };
        form.setUpdatesEnabled(!inChild);
        form.Form_Load();
        form.show();
        for (int turn = 0; turn < 1000 && !form.activated(); ++turn)
            QCoreApplication::processEvents();
        clock.advance(2);
        dialogs.clear();
    }

    ScriptedDialogs dialogs;
    InstrumentIO io;
    MainForm form;
};

void click(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

void clickFrame(QWidget* frame)
{
    QTest::mouseClick(frame, Qt::LeftButton, {}, QPoint(frame->width() - 4, frame->height() - 4));
}

QString chart(const MainForm& w)
{
    QStringList rows;
    for (int row = 1; row <= 80; ++row) {
        QStringList cells;
        for (int column = 1; column <= 6; ++column)
            cells << w.MSChart1->cell(row, column);
        rows << cells.join(u' ');
    }
    return rows.join(u'\n');
}

// A return-loss check of a termination and an attenuation check of a 6 dB attenuator at
// 50 MHz steps, each after its reference; every prompt answered OK. The chart after each.
QStringList checks(MainForm& w)
{
    QStringList charts;
    clickFrame(w.Frame_Refl);
    w.Combo_FreqStep->setFocus();
    QTest::keyClick(w.Combo_FreqStep, Qt::Key_Down);
    click(w.Command_Run);
    click(w.Option_Refl[1]);
    click(w.Command_Run);
    charts << chart(w);
    clickFrame(w.Frame_Attn);
    click(w.Command_Run);
    click(w.Option_Attn[2]);
    click(w.Command_Run);
    charts << chart(w);
    return charts;
}

// The listener search as the program makes it: who answered, and the error if it failed.
QString listeners(GpibDriver& driver)
{
    QVector<short> addresses;
    for (short a = 0; a <= 30; ++a)
        addresses << a;
    QVector<short> found(15, 0);
    driver.FindLstn(0, addresses << NOADDR, found, 15);
    QStringList text;
    for (short a : found.mid(0, driver.status().ibcntl))
        text << QString::number(a);
    if (driver.status().ibsta & ERR)
        text << QStringLiteral("error %1").arg(driver.status().iberr);
    return text.join(u' ');
}

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
        row("tcp", "", "", false);
        row("pty", "", "", true);
        row("tcp, answers split across packets", "", "split", false);
        row("pty, answers split, listeners found by polling", "others-first,crlf",
            "split,no-findlstn", true);
        row("tcp, long answers, stale service requests", "long-answers,stale-srq", "", false);
        row("tcp, a reading never answered", "timeout=MAMPL?@7", "", false);
        row("tcp, adapter left set up otherwise", "", "reconfigured", false);
        row("pty, adapter left set up otherwise, split", "", "reconfigured,split", true);
    }

    void sameChecksAsInProcess()
    {
        QFETCH(QString, bench);
        QFETCH(QString, link);
        QFETCH(bool, terminal);

        BenchFixture local(bench);
        local.startUp();
        local.dialogs.clear();
        const QStringList localCharts = checks(*local.form);

        Served served(bench + u',' + link, terminal);
        QString error;
        const std::unique_ptr<AdapterDriver> driver = served.open(&error);
        QVERIFY2(driver, qPrintable(error));
        Program program(*driver, served.clock);
        const QStringList charts = checks(program.form);

        const QStringList traffic = served.server.bench().received();
        QVERIFY(traffic.contains(AnalyserCommands::ReturnLossSetup) &&
                traffic.contains(AnalyserCommands::AttenuationSetup));
        QCOMPARE(traffic, local.bench.received());
        QCOMPARE(program.dialogs.titles(), local.dialogs.titles());
        QVERIFY(!program.form.MSChart1->cell(80, 5).isEmpty());
        QCOMPARE(charts, localCharts);
    }

    // The search's failures, which end the program before any check, found as in process.
    void listenerSearch_data()
    {
        QTest::addColumn<QString>("bench");
        QTest::addColumn<QString>("link");
        QTest::newRow("nobody") << "no-listener" << QString();
        QTest::newRow("nobody, polled") << "no-listener" << QString("no-findlstn");
        QTest::newRow("fourteen") << "14-listeners" << QString();
        QTest::newRow("fifteen, polled") << "15-listeners" << QString("no-findlstn");
    }

    void listenerSearch()
    {
        QFETCH(QString, bench);
        QFETCH(QString, link);
        VirtualClock clock;
        SimulatedBench local(clock, BenchScenario::parse(bench).value());
        Served served(bench + u',' + link);
        const std::unique_ptr<AdapterDriver> driver = served.open();
        QVERIFY(driver);
        QCOMPARE(listeners(*driver), listeners(local));
    }

    // Both habits of the programs in the field: ++read eoi after each query, or read after
    // write set once. Either gets every answer, and the analyser sees what each sends.
    void clientHabits_data()
    {
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<QByteArray>("setUp");
        QTest::addColumn<QByteArray>("afterQuery");
        for (const bool pty : {false, true}) {
            const char* link = pty ? "pty" : "tcp";
            QTest::addRow("%s, ++read eoi", link)
                << pty << QByteArray("0") << QByteArray("++read eoi");
            QTest::addRow("%s, ++auto 1", link) << pty << QByteArray("1") << QByteArray();
        }
    }
    void clientHabits()
    {
        QFETCH(bool, terminal);
        QFETCH(QByteArray, setUp);
        QFETCH(QByteArray, afterQuery);
        Served served(QString{}, terminal);
        Client client(served.server.address());
        client.send("++mode 1\n++addr 18\n++eos 2\n++eot_enable 1\n++eot_char 10\n++auto " + setUp);
        QByteArrayList answers;
        for (const char* query : {"ID?", "REFLVL -10.0;REFLVL?", "MFREQ?"}) {
            client.send(query + (afterQuery.isEmpty() ? QByteArray() : '\n' + afterQuery));
            answers << client.line();
        }
        QCOMPARE(answers, (QByteArrayList{"ID SIMULATED,2712,V1.04,OPTIONS:TRACKING GEN,NB FILTER",
                                          "REFLVL -10.0", "MFREQ 5.0000E+08"}));
        QCOMPARE(served.server.bench().received(),
                 (QStringList{"ID?\n", "REFLVL -10.0;REFLVL?\n", "MFREQ?\n"}));
    }

    void messagesPassUnchanged()
    {
        // Line ends, escapes and pluses are the adapter's own: they must reach the analyser as
        // data, as must a message that looks like an adapter command.
        Served served(QString{});
        const std::unique_ptr<AdapterDriver> driver = served.open();
        QVERIFY(driver);
        const int ud = driver->ibdev(0, 18, 0, T3s, 1, 0);
        const QByteArrayList messages{"A+B\r\nC\x1b;", "++ver", "+", "\n", "ID?"};
        QStringList expected;
        for (const QByteArray& message : messages) {
            QCOMPARE(driver->ibwrt(ud, message), CMPL);
            QCOMPARE(driver->status().ibcntl, message.size());
            expected << QString::fromLatin1(message);
        }
        QByteArray answer(512, ' ');
        QCOMPARE(driver->ibrd(ud, answer) & (ERR | END), END);
        QVERIFY(answer.startsWith("ID SIMULATED,2712"));
        QCOMPARE(served.server.bench().received(), expected);
    }

    // The operator is told which adapter and why.
    void unreachableAdapter_data()
    {
        QTest::addColumn<QString>("address");
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
        SteadyClock wall;
        std::optional<Served> mute; // takes the connection but never replies
        if (address == "mute") {
            mute.emplace(address);
            address = mute->server.address();
        }
        QString error;
        QVERIFY(!AdapterDriver::open(address, wall, &error));
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
        Program program(*driver, served.clock);
        MainForm& w = program.form;
        clickFrame(w.Frame_Refl);
        w.Combo_FreqStep->setFocus();
        QTest::keyClick(w.Combo_FreqStep, Qt::Key_End); // 100 MHz: 10 points
        QElapsedTimer elapsed;
        elapsed.start();
        click(w.Command_Run); // every message answered OK

        // The fifth reading is lost with the link: the operator is told once, as itself, and
        // the reference ends as after Stop, without the stop notice.
        QCOMPARE(program.dialogs.titles(),
                 (QStringList{"Return Loss Measurement Setup", "GPIB Adapter Lost"}));
        const ScriptedDialogs::Shown& lost = program.dialogs.shown[1];
        QCOMPARE(lost.text,
                 "The GPIB adapter " + served.server.address() +
                     " does not answer any more.\n\nReconnect it, then press Run again.");
        QCOMPARE(lost.icon, MsgIcon::Exclamation);
        QCOMPARE(lost.buttons, MsgButtons::Ok);
        QCOMPARE(served.server.bench().received().count(AnalyserCommands::MarkerAmplitude), 4);
        QVERIFY(!w.running() && w.Command_Run->isEnabled() && !w.Command_Stop->isEnabled());
        QVERIFY(!w.State.RefValid[ReturnLossKind] && !w.Option_Refl[1]->isEnabled());
        QVERIFY2(elapsed.elapsed() < 15000, qPrintable(QString::number(elapsed.elapsed())));

        // Run again while it is still gone: the same message once more, and nothing else.
        program.dialogs.clear();
        click(w.Command_Run);
        QCOMPARE(program.dialogs.titles(), QStringList{"GPIB Adapter Lost"});

        // Every later call fails the same way at once, waits included.
        const int ud = w.State.AnalyserDevice;
        QByteArray buffer(512, ' ');
        char statusByte = 0;
        int value = 0;
        QVector<short> found(15);
        QStringList outcomes;
        const auto note = [&](auto) {
            outcomes
                << QStringLiteral("%1/%2").arg(driver->status().ibsta).arg(driver->status().iberr);
        };
        elapsed.restart();
        note(driver->ibwrt(ud, "SIG")), note(driver->ibrd(ud, buffer)), note(driver->ibclr(ud));
        note(driver->ibwait(ud, TIMO | CMPL)), note(driver->ibwait(ud, RQS)),
            note(driver->ibsre(0, 1));
        note(driver->ibrsp(ud, &statusByte)), note(driver->ibtmo(ud, T1s)),
            note(driver->ibpad(ud, 5));
        note(driver->ibask(ud, IbaTMO, &value)), note(driver->ibdev(0, 18, 0, T3s, 1, 0));
        driver->SendIFC(0), note(0), driver->FindLstn(0, {18, NOADDR}, found, 15), note(0);
        QCOMPARE(outcomes, QStringList(13, QStringLiteral("%1/%2").arg(ERR).arg(ENOL)));
        QVERIFY2(elapsed.elapsed() < 2000, qPrintable(QString::number(elapsed.elapsed())));

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
        const ChildOutcome outcome = runInChild([](auto report) {
            auto served = std::make_unique<Served>(QString{});
            const std::unique_ptr<AdapterDriver> driver = served->open();
            Program program(*driver, served->clock, true);
            program.dialogs.onMessage = [&](const ScriptedDialogs::Shown& shown) {
                report("shown " + shown.title);
                return shown.title.startsWith("GPIB ERROR") ? MsgResult::Cancel : MsgResult::Yes;
            };
            served.reset();
            QTest::qWait(200);
            program.form.close();
            report("returned");
        });
        QCOMPARE(outcome.exitStatus, 1);
        QCOMPARE(outcome.log, "shown Terminate Program\nshown GPIB ERROR # 2\n");
    }

    void benchProgram_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("tcp") << QStringList{"--port", "0", "--scenario", "2711"};
        QTest::newRow("pty") << QStringList{"--pty", "--scenario", "2711"};
        QTest::newRow("unknown scenario") << QStringList{"--scenario", "no-such-word"};
    }

    void benchProgram()
    {
        QFETCH(QStringList, arguments);
        QProcess bench;
        bench.start(QStringLiteral(VELMORA_BENCH), arguments);
        if (arguments.contains("no-such-word")) {
            QVERIFY(bench.waitForFinished(30000));
            QCOMPARE(bench.exitCode(), 2);
            QVERIFY(bench.readAllStandardError().contains("unknown scenario: no-such-word"));
            return;
        }
        QVERIFY(bench.waitForReadyRead(30000));
        const QString line = QString::fromLocal8Bit(bench.readLine()).trimmed();
        QVERIFY2(line.startsWith(QLatin1String("velmora-bench listening on ")), qPrintable(line));
        const QString address = line.section(u' ', -1);
        QCOMPARE(address.startsWith(QLatin1String("tcp://127.0.0.1:")),
                 !arguments.contains("--pty"));

        SteadyClock wall;
        QString error;
        const std::unique_ptr<AdapterDriver> driver = AdapterDriver::open(address, wall, &error);
        QVERIFY2(driver, qPrintable(error));
        QCOMPARE(listeners(*driver), "0 18");
        const int ud = driver->ibdev(0, 18, 0, T3s, 1, 0);
        QCOMPARE(driver->ibwrt(ud, "ID?"), CMPL);
        QByteArray answer(256, ' ');
        QCOMPARE(driver->ibrd(ud, answer), CMPL | END);
        QVERIFY2(answer.startsWith("ID SIMULATED,2711,"), answer.constData());
        bench.kill();
        bench.waitForFinished(30000);
    }
};

QTEST_MAIN(AdapterTest)
#include "tst_adapter.moc"
