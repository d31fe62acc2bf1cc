// The VXI-11 gateway binding against velmora-bench's gateway over real sockets: the same checks
// give the same bus traffic as on the in-process bench, the gateway's faults reach the operator
// through the program's error paths without hanging it, and the bytes on the wire are what a
// third party's VXI-11 client would send.

#include "BenchFixture.h"
#include "chart/Chart.h"
#include "gpib/AnalyserCommands.h"
#include "gpib/Vxi11Driver.h"
#include "sim/GatewayServer.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

#include <optional>

using namespace Ni488;

namespace {

// Opened on a thread of its own while this one serves the gateway, as in the adapter's tests.
std::unique_ptr<Vxi11Driver> openAside(const QString& address, Clock& wall, QString* error)
{
    std::unique_ptr<Vxi11Driver> driver;
    const std::unique_ptr<QThread> opener(
        QThread::create([&] { driver = Vxi11Driver::open(address, wall, error); }));
    QObject::connect(opener.get(), &QThread::finished, [] { QCoreApplication::exit(0); });
    opener->start();
    runApplication();
    opener->wait();
    return driver;
}

// Runs call on a thread of its own while this one serves the gateway.
template <typename Call> void aside(Call call)
{
    const std::unique_ptr<QThread> thread(QThread::create(call));
    QObject::connect(thread.get(), &QThread::finished, [] { QCoreApplication::exit(0); });
    thread->start();
    runApplication();
    thread->wait();
}

struct Served {
    explicit Served(const QString& words, quint16 port = 0, VirtualClock* sharedClock = nullptr)
        : clock(sharedClock ? *sharedClock : ownClock),
          server(clock, GatewayServer::parse(words).value())
    {
        QString error;
        if (!server.listen(port, &error))
            qFatal("cannot serve: %s", qPrintable(error));
    }
    std::unique_ptr<Vxi11Driver> open(QString* error = nullptr, const QString& suffix = {})
    {
        return openAside(server.address() + suffix, wall, error);
    }

    VirtualClock ownClock;
    VirtualClock& clock;
    SteadyClock wall;
    GatewayServer server;
};

QString python(const QString& script, const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"), QStringList{"-c", script} + arguments);
    if (!process.waitForFinished(60000))
        return QStringLiteral("(python did not finish)");
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
}

// velmora-bench --vxi11 in a child process, on a free portmapper port.
struct BenchProcess {
    explicit BenchProcess(const QString& words)
    {
        process.start(QStringLiteral(VELMORA_BENCH),
                      {"--vxi11", "--portmapper-port", "0", "--scenario", words});
        if (process.waitForReadyRead(30000))
            line = QString::fromLocal8Bit(process.readLine()).trimmed();
        static const QRegularExpression served(
            QStringLiteral("^velmora-bench listening on (vxi11://127.0.0.1:([0-9]+)) "
                           "\\(portmapper on TCP port \\2, VXI-11 core channel on TCP port "
                           "[0-9]+\\)$"));
        const QRegularExpressionMatch m = served.match(line);
        address = m.captured(1);
        port = m.captured(2);
    }
    ~BenchProcess()
    {
        process.kill();
        process.waitForFinished(30000);
    }
    QProcess process;
    QString line, address, port;
};

} // namespace

class GatewayTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void sameChecksAsInProcess_data()
    {
        QTest::addColumn<QString>("bench");
        QTest::newRow("plain") << QString();
        QTest::newRow("long answers, stale requests, others first")
            << QStringLiteral("long-answers,stale-srq,others-first");
    }
    void sameChecksAsInProcess()
    {
        QFETCH(QString, bench);
        BenchFixture local(bench);
        local.startUp();
        const QStringList localTitles = local.dialogs.titles();
        local.dialogs.clear();
        const QStringList localCharts = checkBoth(*local.form);

        Served served(bench);
        QString error;
        const std::unique_ptr<Vxi11Driver> driver = served.open(&error);
        QVERIFY2(driver, qPrintable(error));
        WindowOver program(*driver, served.clock);
        QCOMPARE(program.dialogs.titles(), localTitles);
        program.dialogs.clear();
        QCOMPARE(checkBoth(program.form), localCharts);
        QCOMPARE(program.dialogs.titles(), local.dialogs.titles());
        QCOMPARE(served.server.bench().received(), local.bench.received());
    }

    // The operator is told which gateway and why, within the time-outs.
    void unreachableGateway_data()
    {
        QTest::addColumn<QString>("address"); // mute: one that takes connections, says nothing
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << "refused"
                                 << "refused";
        QTest::newRow("mute") << "mute"
                              << "the gateway does not answer";
        QTest::newRow("no address") << "vxi11://127.0.0.1:99999"
                                    << "no gateway address";
        QTest::newRow("address out of range") << "vxi11://h/gpib0,31"
                                              << "no gateway address";
    }
    void unreachableGateway()
    {
        QFETCH(QString, address);
        QFETCH(QString, reason);
        std::optional<Served> mute;
        QTcpSocket held; // its port bound but not listening: refused, and no server can take it
        if (address == "mute") {
            mute.emplace(address);
            address = mute->server.address();
        } else if (address == "refused") {
            QVERIFY(held.bind(QHostAddress::LocalHost));
            address = QStringLiteral("vxi11://127.0.0.1:%1").arg(held.localPort());
        }
        QString error;
        QElapsedTimer took;
        took.start();
        SteadyClock wall;
        QVERIFY(!openAside(address, wall, &error));
        QVERIFY2(error.startsWith(address) && error.contains(reason), qPrintable(error));
        QVERIFY(took.elapsed() < (Vxi11Driver::AnswerLimit + 1) * 1000);
    }

    // A gateway out of links, or held by another program, ends start-up with its own words.
    void linkRefusedAtStart_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("why");
        QTest::newRow("out of links") << 9 << "no free link";
        QTest::newRow("locked") << 11 << "locked by another program";
    }
    void linkRefusedAtStart()
    {
        QFETCH(int, code);
        QFETCH(QString, why);
        Served served(QStringLiteral("refuse-links=%1").arg(code));
        const std::unique_ptr<Vxi11Driver> driver = served.open(nullptr, "/gpib0,18");
        QVERIFY(driver);
        WindowOver program(*driver, served.clock);
        QCOMPARE(program.dialogs.titles(), QStringList{"GPIB gateway not reached"});
        QCOMPARE(program.dialogs.shown[0].text,
                 "The GPIB gateway 127.0.0.1 refused gpib0,18: " + why + '.');
        QVERIFY(program.io.programEnded());
    }

    void gatewayDropsMidSweep()
    {
        Served served(QStringLiteral("drop=5"));
        const std::unique_ptr<Vxi11Driver> driver = served.open();
        QVERIFY(driver);
        const QString address = served.server.address(); // the gateway forgets it when off
        const quint16 port = served.server.portmapperPort();
        WindowOver program(*driver, served.clock);
        program.dialogs.clear();
        MainForm& w = program.form;
        measure(w, MeasKind::ReturnLoss, 3);
        QCOMPARE(program.dialogs.titles(),
                 (QStringList{"Return Loss Measurement Setup", "GPIB Adapter Lost"}));
        QCOMPARE(program.dialogs.shown[1].text,
                 "The GPIB adapter " + address +
                     " does not answer any more.\n\nReconnect it, then press Run again.");
        QVERIFY(!w.running() && w.Command_Run->isEnabled());

        // Back on the same portmapper port, the next Run takes the whole reference again.
        Served restarted(QString{}, port, &served.clock);
        program.dialogs.clear();
        click(w.Command_Run);
        QCOMPARE(program.dialogs.titles(),
                 (QStringList{"Return Loss Measurement Setup", "Return Loss Reference"}));
        QVERIFY(!program.io.linkLost() && w.State.RefValid[ReturnLossKind]);
    }

    // Each call's request bytes as pyvisa-py's own VXI-11 packer makes them for the same call.
    void requestsAsAThirdPartyPacksThem()
    {
        Served served(QString{});
        const std::unique_ptr<Vxi11Driver> driver = served.open();
        QVERIFY(driver);
        aside([&] {
            const int ud = driver->ibdev(0, 18, 0, T3s, 1, 0);
            driver->SendIFC(0);
            driver->ibsre(0, 1);
            driver->ibclr(ud);
            driver->ibwrt(ud, "ID?");
            QByteArray buffer(512, ' ');
            driver->ibrd(ud, buffer);
            char statusByte = 0;
            driver->ibrsp(ud, &statusByte);
            driver->ibtmo(ud, T1ms);
            driver->ibwait(ud, RQS | TIMO);
        });
        QStringList ours;
        for (const GatewayServer::Call& call : served.server.calls())
            ours << QString::number(call.procedure) + u' ' + call.arguments.toHex();
        const QString theirs = python(QStringLiteral(R"(
from pyvisa_py.protocols import vxi11
def packed(proc, kind, params):
    p = vxi11.Vxi11Packer()
    getattr(p, "pack_" + kind)(params)
    print(proc, p.get_buffer().hex())
packed(10, "create_link_parms", (0, False, 0, "gpib0"))
packed(22, "device_docmd_parms", (1, 0, 3000, 0, 0x20010, True, 0, b""))
packed(22, "device_docmd_parms", (1, 0, 3000, 0, 0x20003, True, 2, b"\x00\x01"))
packed(10, "create_link_parms", (0, False, 0, "gpib0,18"))
packed(15, "device_generic_parms", (2, 0, 0, 3000))
packed(11, "device_write_parms", (2, 3000, 0, 8, b"ID?"))
packed(12, "device_read_parms", (2, 512, 3000, 0, 0, 0))
packed(13, "device_generic_parms", (2, 0, 0, 3000))
packed(13, "device_generic_parms", (2, 0, 0, 1000))
)"),
                                      {});
        QCOMPARE(ours.join(u'\n'), theirs.trimmed());
    }

    // pyvisa with pyvisa-py, through velmora-bench --vxi11: the analyser's identification, and
    // an error, not a hang, at an address with no instrument.
    void thirdPartyClient()
    {
        const BenchProcess bench(QStringLiteral("2711"));
        QVERIFY2(!bench.port.isEmpty(), qPrintable(bench.line));
        const QString said = python(QStringLiteral(R"(
import sys, time, pyvisa
from pyvisa_py.protocols import rpc
rpc.PMAP_PORT = int(sys.argv[1])
rm = pyvisa.ResourceManager("@py")
analyser = rm.open_resource("TCPIP0::127.0.0.1::gpib0,18::INSTR")
print(analyser.query("ID?").strip())
absent = rm.open_resource("TCPIP0::127.0.0.1::gpib0,7::INSTR")
absent.timeout = 1000
start = time.monotonic()
try:
    absent.write("ID?")
    print("written")
except pyvisa.errors.VisaIOError:
    print("VisaIOError", time.monotonic() - start < 2.0)
)"),
                                    {bench.port});
        QCOMPARE(said.trimmed(), "ID SIMULATED,2711,V1.04,OPTIONS:TRACKING GEN,NB FILTER\n"
                                 "VisaIOError True");
    }

    // A gateway whose empty addresses wait out every poll: the search still ends within one
    // poll's time-out and the network's margin per address, finds the analyser and gives
    // back the links of the others.
    void slowSearchIsBounded()
    {
        const BenchProcess bench(QStringLiteral("slow-absent"));
        QVERIFY2(!bench.address.isEmpty(), qPrintable(bench.line));
        SteadyClock wall;
        QString error;
        QStringList trace; // outlives the driver, which traces its last destroy_link
        const std::unique_ptr<Vxi11Driver> driver = Vxi11Driver::open(bench.address, wall, &error);
        QVERIFY2(driver, qPrintable(error));
        driver->traceProtocol([&](const QByteArray& line) { trace << QString::fromLatin1(line); });
        QVector<short> found(15);
        QElapsedTimer took;
        took.start();
        driver->FindLstn(0, {0, 5, 18, 30, NOADDR}, found, 15);
        QVERIFY(took.elapsed() < qint64(3 * (Vxi11Driver::PollTimeoutMs + 1000)));
        QCOMPARE(driver->status().ibcntl, 2);
        QCOMPARE(found.mid(0, 2), (QVector<short>{0, 18}));
        QCOMPARE(trace.filter("destroy_link").size(), 2);
    }
};

QTEST_MAIN(GatewayTest)
#include "tst_gateway.moc"
