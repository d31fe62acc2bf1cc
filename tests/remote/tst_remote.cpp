#include "ScriptedDialogs.h"
#include "Settle.h"
#include "base/Clock.h"
#include "remote/RemoteConnection.h"
#include "remote/RemoteServer.h"
#include "session/BenchSession.h"
#include "sim/SimulatedBench.h"
#include "sim/SimulatedOperator.h"

#include <QTcpSocket>
#include <QtTest>

#include <functional>
#include <memory>

BenchScenario scenarioOf(const QString& words); // tests/support/EngineBench.cpp

namespace {

const QByteArray Idn = "Velmora,2712,0," VELMORA_VERSION;
const QByteArray Prompt = "\"Connect the Tracking Generator output to the 2712 input.  Click OK "
                          "when done and the 2712 has finished setup.\"";
constexpr int Patience = 30000; // ms; only a broken server waits that long

// A client over a real socket that collects the answer lines as they come.
struct Client {
    explicit Client(quint16 port)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            input += socket.readAll();
            for (qsizetype lf; (lf = input.indexOf('\n')) >= 0; input.remove(0, lf + 1))
                lines << input.left(lf);
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    // Sends and waits for n answer lines more than there are.
    bool ask(const QByteArray& bytes, int n = 1)
    {
        const qsizetype want = lines.size() + n;
        socket.write(bytes);
        return QTest::qWaitFor([&] { return lines.size() >= want; }, Patience);
    }
    QTcpSocket socket;
    QByteArray input;
    QByteArrayList lines;
};

// The analyser behind a network adapter: when the analyser leaves the bus, the link is lost.
struct AdapterBench : SimulatedBench {
    using SimulatedBench::SimulatedBench;
    bool linkLost() const override { return instrumentAddresses().isEmpty(); }
    QString linkAddress() const override { return QStringLiteral("192.0.2.1:1234"); }
};

// The program's session on the simulated bench in virtual time, served on loopback.
struct Bench {
    explicit Bench(const QString& scenario = {}) : bench(clock, scenarioOf(scenario))
    {
        session.load();
        session.checkTrackingGenerator();
        settle(session);
        // With steps set, the next connection prompt a person would see stays up, the run
        // waiting, until it is answered over SCPI: the steps run as it appears, and one of them
        // must send that answer.
        dialogs.onMessage = [this](const ScriptedDialogs::Shown& m) -> std::optional<MsgResult> {
            if (m.kind != MsgKind::ConnectionPrompt || m.unattended || !steps)
                return std::nullopt;
            std::exchange(steps, nullptr)();
            return dialogs.hold();
        };
        if (!server.listen(QHostAddress::LocalHost, 0))
            qFatal("cannot listen");
    }
    std::unique_ptr<Client> client() { return std::make_unique<Client>(server.port()); }

    VirtualClock clock;
    AdapterBench bench;
    ScriptedDialogs dialogs;
    SimulatedOperator hands{dialogs, bench};
    BenchSession session{bench, clock, hands};
    RemoteServer server{session};
    std::function<void()> steps;
};

} // namespace

class TestRemote : public QObject {
    Q_OBJECT
private slots:
    // No printer: the environment's default must not get a page.
    void initTestCase()
    {
        qputenv("CUPS_SERVER", "/nonexistent/cups.sock");
        qunsetenv("LPDEST");
        qunsetenv("PRINTER");
    }

    void transcript_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output");
        const auto row = [](const char* name, const QByteArray& in, const QByteArray& out,
                            const QString& scenario = {}) {
            QTest::newRow(name) << scenario << in << out;
        };
        const QByteArray x64(64, 'x');
        row("header path",
            "CONF:KIND RL;STEP 100;KIND?;STEP?;DEV?;*CLS;KIND?\nSTEP?\n"
            ":configure:step?;:SYST:ERR?;ERR?\n",
            "RL;100;REF;RL\n100;-113,\"Undefined header\";0,\"No error\"\n");
        row("parameter errors in order",
            "CONF:KIND XYZ\nCONF:STEP 30\nCONF:STEP 25MHz\nCONF:KIND\nCONF:KIND ATT,RL\n"
            "*IDN? 1\nCONF:DUT abc\nCONF:DUT \"abc\nCONF:KIND ATT RL\nFOO:BAR\nABOR?\n"
            "SYST:ERR?;ERR?;ERR?;ERR?;ERR?;ERR?;ERR?;ERR?;ERR?;ERR?;ERR?;ERR?\n",
            "-224,\"Illegal parameter value\";-224,\"Illegal parameter value\";"
            "-224,\"Illegal parameter value\";-109,\"Missing parameter\";"
            "-108,\"Parameter not allowed\";-108,\"Parameter not allowed\";"
            "-224,\"Illegal parameter value\";-102,\"Syntax error\";-102,\"Syntax error\";"
            "-113,\"Undefined header\";-113,\"Undefined header\";0,\"No error\"\n");
        row("queue overflow",
            QByteArray("FOO;").repeated(40) + "\n" + QByteArray(":SYST:ERR?\n").repeated(33) +
                "*ESR?\n",
            QByteArray("-113,\"Undefined header\"\n").repeated(31) +
                "-350,\"Queue overflow\"\n0,\"No error\"\n40\n");
        // Bit 6 of *SRE is ignored; *ESR? clears; message available: an answer of the line.
        row("status registers",
            "*ESE?;*SRE?;*ESR?;*STB?\n*ESE 36;*SRE 255;*ESE?;*SRE?\nFOO;:CONF:KIND XYZ\n"
            "*STB?;*IDN?;*STB?\n*ESR?;*ESR?;*STB?\n"
            "*ESE 256;*SRE -1;*ESE 1E3;*ESE ON;*ESE 255.4;*ESE?;*SRE 64;*SRE?\n"
            "SYST:ERR?;ERR?;ERR?;ERR?;ERR?;ERR?;ERR?\n*OPC;*STB?;*ESE 2;*STB?;*CLS;*STB?;*ESR?\n",
            "0;0;0;16\n36;191\n100;" + Idn +
                ";116\n48;0;84\n255;0\n"
                "-113,\"Undefined header\";-224,\"Illegal parameter value\";"
                "-222,\"Data out of range\";-222,\"Data out of range\";-222,\"Data out of range\";"
                "-224,\"Illegal parameter value\";0,\"No error\"\n32;16;16;0\n");
        // *OPC completes when the run ends; *CLS forgets one still waiting.
        row("operation complete",
            "SYST:PROM OFF;:CONF:KIND RL;:INIT;*OPC;*ESR?;*OPC?;*ESR?\n"
            "INIT;*OPC;*CLS;*WAI;*ESR?\n",
            "0;1;1\n0\n");
        row("reference, termination, fetch",
            "FETC:VERD?;:FETC:REF?\nCONF:KIND RL;STEP 100;DEV TERM\n"
            "SYST:PROM OFF;:INIT;*OPC?;:FETC:REF?\n"
            "CONF:DEV TERM;DEV?;:INIT;*OPC?;:FETC:VERD?;MARG?\nFETC:DATA?\nFETC:FREQ?\n"
            "INIT;FETC:DATA?;:SYST:ERR?;ERR?;ERR?;ERR?\n",
            "ATT,0,25\n1;RL,1,100\nTERM;1;PASS;6.29,1000\n36.38,34.170002,32.91,31.710001,30.03,"
            "29.28,28.78,27.62,27.32,27.289999\n"
            "100,200,300,400,500,600,700,800,900,1000\n"
            "-230,\"Data corrupt or stale\";-221,\"Settings conflict\";"
            "-230,\"Data corrupt or stale\";0,\"No error\"\n");
        row("attenuation: limits, none, custom limit",
            "SYST:PROM OFF;:CONF:KIND ATT;:INIT;*OPC?\nCONF:DEV X2;:INIT;*OPC?;:FETC:VERD?;MARG?\n"
            "CONF:DEV X1;:INIT;*OPC?;:FETC:VERD?;MARG?\n"
            "CONF:LIM 3.5E-1;LIM?;LIM:STAT?;:CONF:DEV x2;:INIT;*WAI;:FETC:VERD?;MARG?\n"
            "CONF:LIM:STAT OFF;STAT?\nCONF:DEV PAD;DEV X3;DEV?;:SYST:ERR?;ERR?\n",
            "1\n1;FAIL;-0.07,900\n1;NONE;9.91E37,9.91E37\n0.35;1;FAIL;-0.03,950\n0\n"
            "X2;-221,\"Settings conflict\";-224,\"Illegal parameter value\"\n",
            "failing");
        row("value checks at INIT",
            "SYST:PROM OFF;:CONF:KIND ATT;:INIT;*OPC?\nCONF:DEV X2;LIM 2;:INIT;*OPC?\n"
            "CONF:DEV CUST;DEV?;DEV:CUST 30;CUST?\nINIT;*OPC?;:SYST:ERR?;ERR?;ERR?\n",
            "1\n1\nCUST;30\n1;-222,\"Data out of range;Custom Limit must be between 0.1 and "
            "1.0\";-222,\"Data out of range;Custom Attenuation must be less than or equal to "
            "25 dB.\";0,\"No error\"\n");
        row("refused while busy, *RST",
            "CONF:KIND RL;:INIT;INIT;CONF:STEP 50;:HCOP;:FETC:DATA?;:STAT:BUSY?\n"
            "*RST;*OPC?;:SYST:ERR?;ERR?;ERR?;ERR?;ERR?;:STAT:BUSY?\n",
            "1\n1;-213,\"Init ignored\";-221,\"Settings conflict\";"
            "-221,\"Settings conflict\";-230,\"Data corrupt or stale\";0,\"No error\";0\n");
        row("texts cleaned and bounded",
            "CONF:DUT \"A;B\"\"C\";DUT?;COMM 'x\ty''s';COMM?\nHCOP:DESC \"10 dB pad\";DESC?;"
            ":SYST:PROM?\nCONF:DUT \" \ta\x01;b \";DUT?\nCONF:DUT \" " +
                x64 + "\t\";DUT?\nCONF:DUT \"" + x64 + "x\";DUT?;:SYST:ERR?\nCONF:COMM \"" +
                QByteArray(513, 'y') + "\";COMM?;:SYST:ERR?\n",
            "\"A-B\"\"C\";\"x y's\"\n\"10 dB pad\";\"\"\n\"a -b\"\n\"" + x64 + "\"\n\"" + x64 +
                "\";-222,\"Data out of range;The DUT ID can be at most 64 characters long.\"\n"
                "\"x y's\";-222,\"Data out of range;The comments can be at most 512 characters "
                "long.\"\n");
        const QByteArray run = "SYST:PROM OFF;:CONF:KIND RL;:INIT;*OPC?;:SYST:ERR?\n";
        row("read time-out", run,
            "1;-240,\"Hardware error;Read cycle failed Operation aborted.\"\n", "timeout=MAMPL?@3");
        row("lost adapter", run,
            "1;-240,\"Hardware error;The GPIB adapter 192.0.2.1:1234 does not answer any more.  "
            "Reconnect it, then press Run again.\"\n",
            "vanish=3");
        row("hardcopy",
            "HCOP\nSYST:PROM OFF;:CONF:KIND RL;:INIT;*OPC?;:CONF:DEV PAD;:INIT;*OPC?;:HCOP\n"
            "HCOP:DESC \"3 dB pad\";:HCOP;:SYST:ERR?;ERR?;ERR?;ERR?\n",
            "1;1\n-230,\"Data corrupt or stale\";-221,\"Settings conflict\";-200,\"Execution "
            "error;There is no default printer.\";0,\"No error\"\n");
        row("64 KiB line, one byte more, 1 MB without a newline",
            "*IDN?" + QByteArray(RemoteConnection::MaxLine - 5, ' ') + "\r\n*IDN?" +
                QByteArray(RemoteConnection::MaxLine - 4, ' ') + "\n" + QByteArray(1'000'000, 'A') +
                "\n*IDN?\nSYST:ERR?;ERR?\n",
            Idn + "\n" + Idn + "\n-223,\"Too much data\";-223,\"Too much data\"\n");
        row("binary bytes",
            QByteArray(1, '\0') + "\x01*IDN?\x02\x1b\r\n\xff\xfe\x80;*IDN?\n"
                                  "CONF:DUT \"\x01\xc3\xa9\"\nCONF:DUT?;:SYST:ERR?\n",
            Idn + "\n" + Idn + "\n\"\xc3\xa9\";-113,\"Undefined header\"\n");
    }
    // A whole session on one connection: every answer line, in order, then an empty queue.
    void transcript()
    {
        QFETCH(QString, scenario);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, output);
        Bench bench(scenario);
        const auto client = bench.client();
        QVERIFY(client->ask(input, int(output.count('\n'))));
        QVERIFY(client->ask(":SYST:ERR?\n"));
        QCOMPARE(client->lines.join('\n') + '\n', output + "0,\"No error\"\n");
    }

    // A remote run's GPIB error goes to the connection that started it, in the dialog's words;
    // a system error goes to every connection.
    void errorsReachTheirConnections()
    {
        Bench bench("write-error=MFREQ 500E+6)");
        const auto a = bench.client(), b = bench.client();
        QVERIFY(a->ask("SYST:PROM OFF;:CONF:KIND RL;:INIT;*OPC?\n") && b->ask("STAT:BUSY?\n"));
        emit bench.session.systemError("The shared database cannot be reached.");
        QVERIFY(a->ask("SYST:ERR?;ERR?;ERR?\n") && b->ask("SYST:ERR?;ERR?\n"));
        const QByteArray lost = "-310,\"System error;The shared database cannot be reached.\"";
        QCOMPARE(a->lines.last(), "-240,\"Hardware error;No listener on write function. Select OK "
                                  "to continue or Cancel to terminate program.\";" +
                                      lost + ";0,\"No error\"");
        QCOMPARE(b->lines.last(), lost + ";0,\"No error\"");
    }

    // The run waits for its prompt, so nothing but its answer can end it meanwhile.
    void opcHoldsOnlyItsConnection()
    {
        Bench bench;
        const auto a = bench.client(), b = bench.client();
        bench.steps = [&] {
            a->socket.write("*OPC?\n*IDN?\n");
            QVERIFY(b->ask("SYST:PROM?;:STAT:BUSY?;:SYST:PROM:ANSW YES;:SYST:ERR?\n"));
            QCOMPARE(a->lines, QByteArrayList{"1"});
            // Answered once, the prompt is no longer there to be answered again.
            b->socket.write("SYST:PROM:ANSW CANCEL;:SYST:PROM?;:SYST:PROM:ANSW OK;:SYST:ERR?\n");
        };
        // *RST turns the prompts back on.
        QVERIFY(a->ask("SYST:PROM OFF;*RST;:CONF:KIND ATT;:INIT;:STAT:BUSY?\n"));
        QVERIFY(QTest::qWaitFor([&] { return a->lines.size() == 3; }, Patience));
        QCOMPARE(a->lines, (QByteArrayList{"1", "1", Idn}));
        QVERIFY(QTest::qWaitFor([&] { return b->lines.size() == 2; }, Patience));
        QCOMPARE(b->lines, (QByteArrayList{Prompt + ";1;-221,\"Settings conflict\"",
                                           "\"\";-221,\"Settings conflict\""}));
    }

    // The run goes on for the others; only ABORt would stop it.
    void clientLeavesMidRun()
    {
        Bench bench;
        const auto leaving = bench.client(), other = bench.client();
        bench.steps = [&] {
            QVERIFY(other->ask("STAT:BUSY?\n"));
            leaving->socket.abort();
            QTRY_COMPARE_WITH_TIMEOUT(bench.server.connectionCount(), 1, Patience);
            QVERIFY(other->ask("STAT:BUSY?;:SYST:PROM?\n"));
            other->socket.write("SYST:PROM:ANSW OK;*OPC?;:FETC:REF?\n");
        };
        leaving->socket.write("CONF:KIND ATT;:INIT;*OPC?\n");
        QVERIFY(QTest::qWaitFor([&] { return other->lines.size() == 3; }, Patience));
        QCOMPARE(other->lines, (QByteArrayList{"1", "1;" + Prompt, "1;ATT,1,25"}));
    }

    // One run, started by exactly one of them.
    void fiftyClients()
    {
        Bench bench;
        QVERIFY(!bench.session.setKind(MeasKind::Attenuation).refused());
        std::vector<std::unique_ptr<Client>> clients;
        clients.reserve(50);
        for (int i = 0; i < 50; ++i)
            clients.push_back(bench.client());
        QMap<QByteArray, int> answers;
        bench.steps = [&] {
            for (const auto& c : clients) {
                QVERIFY(QTest::qWaitFor([&] { return !c->lines.isEmpty(); }, Patience));
                ++answers[c->lines.first()];
            }
            clients.front()->socket.write("SYST:PROM:ANSW CANCEL\n");
        };
        for (const auto& c : clients)
            c->socket.write("*IDN?;:INIT;:SYST:ERR?\n");
        QVERIFY(clients.back()->ask("*OPC?\n", 2));
        QCOMPARE(answers, (QMap<QByteArray, int>{{Idn + ";0,\"No error\"", 1},
                                                 {Idn + ";-213,\"Init ignored\"", 49}}));
        QCOMPARE(clients.back()->lines.last(), "1");
    }

    void slowReaderIsClosed()
    {
        Bench bench;
        const auto reader = bench.client(), slow = bench.client();
        QVERIFY(slow->ask("SYST:PROM OFF;:CONF:KIND RL;:INIT;*OPC?;:CONF:DEV TERM;:INIT;*OPC?\n"));
        // From here on it reads nothing, so the answers pile up in the kernel and then the server.
        QObject::disconnect(&slow->socket, &QTcpSocket::readyRead, nullptr, nullptr);
        slow->socket.setReadBufferSize(1);
        const QByteArray line = QByteArray(":FETC:DATA?;").repeated(100) + '\n';
        for (int i = 0; i < 1000 && bench.server.connectionCount() == 2; ++i) {
            slow->socket.write(line);
            QTest::qWait(0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(bench.server.connectionCount(), 1, Patience);
        QVERIFY(reader->ask("*IDN?\n"));
        QCOMPARE(reader->lines.last(), Idn);
    }

    // Loopback needs no warning; a taken port is named. The warning for a listener beyond this
    // machine is checked where the program says it, in tst_remoteprogram.
    void listening()
    {
        Bench loopback;
        RemoteServer second(loopback.session);
        const QString port = QString::number(loopback.server.port());
        QCOMPARE(loopback.server.exposureWarning(), QString());
        QString error;
        QVERIFY(!second.listen(QHostAddress::LocalHost, loopback.server.port(), &error));
        QCOMPARE(error, "remote control cannot listen on 127.0.0.1:" + port +
                            ": The bound address is already in use");
    }
};

QTEST_MAIN(TestRemote)
#include "tst_remote.moc"
