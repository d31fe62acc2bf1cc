#include "remote/RemoteConnection.h"
#include "remote/RemoteServer.h"

#include <QTcpSocket>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const QByteArray Idn = "Velmora,2712,0," VELMORA_VERSION;
const QByteArray BridgePrompt =
    R"("Connect the bridge, nothing on its ""DUT"" port.  Click OK when done.")";
constexpr int Patience = 30000; // ms; only a broken server waits that long

const RemoteBench::Refusal Done{}, Conflict{-221, {}};

// The bench reduced to what the server relies on: refusals where the operator's controls are
// disabled, and a run that shows its first prompt at once and ends later from the event loop.
class FakeBench : public RemoteBench {
    Q_OBJECT
public:
    bool gpibFault = false; // every run ends in the GPIB error dialog

    // The server itself refuses every setting while a run is in progress.
    QString analyserModel() const override { return "2712"; }
    MeasKind kind() const override { return m_kind; }
    Refusal setKind(MeasKind k) override { return m_kind = k, m_device = referenceOf(k), Done; }
    int stepIndex() const override { return m_step; }
    Refusal setStepIndex(int i) override { return m_step = i, Done; }
    MeasType device() const override { return m_device; }
    // Only a reference is taken without a valid reference table.
    Refusal setDevice(MeasType t) override
    {
        const bool enabled = isReference(t) || m_reference[int(kindOf(t))].valid;
        return enabled ? (m_device = t, Done) : Conflict;
    }
    QString customAttenuationText() const override { return m_customAttn; }
    Refusal setCustomAttenuation(const QString& t) override { return m_customAttn = t, Done; }
    bool customLimitOn() const override { return m_limitOn; }
    QString customLimitText() const override { return m_limitText; }
    Refusal setCustomLimit(bool on, const QString& t) override
    {
        return m_limitOn = on, m_limitText = t, Done;
    }
    QString dutId() const override { return m_dutId; }
    Refusal setDutId(const QString& t) override { return m_dutId = t, Done; }
    QString comment() const override { return m_comment; }
    Refusal setComment(const QString& t) override { return m_comment = t, Done; }

    Refusal initiate(int connection, bool promptsOn) override
    {
        m_busy = true;
        m_connection = connection;
        m_result.reset();
        if (m_device == MeasType::CustomAtt && m_customAttn.toDouble() > 25)
            endLater(End::ValueRefused);
        else if (!promptsOn)
            endLater(End::Completed);
        else // every run with prompts here is a reference's
            m_prompt = "Connect the bridge, nothing on its \"DUT\" port.\n\nClick OK when done.";
        return Done;
    }
    void abort() override { m_busy ? endLater(End::Stopped) : void(); }
    bool busy() const override { return m_busy; }
    std::optional<MeasurementResult> lastResult() const override { return m_result; }
    ReferenceState reference(MeasKind kind) const override { return m_reference[int(kind)]; }
    QString promptText() const override { return m_prompt; }
    Refusal answerPrompt(PromptButton button) override
    {
        if (m_prompt.isEmpty() || (button != PromptButton::Ok && button != PromptButton::Cancel))
            return Conflict;
        m_prompt.clear();
        endLater(button == PromptButton::Ok ? End::Completed : End::Stopped);
        return Done;
    }
    Refusal hardcopy(const QString& description) override
    {
        if (m_result->type == MeasType::AttenuatorRl && description.isEmpty())
            return {-221, "Describe the attenuator."};
        return {-200, "The printer did not accept the job."};
    }

private:
    enum class End { Completed, Stopped, ValueRefused };
    void endLater(End how)
    {
        QTimer::singleShot(0, this, [this, how] { end(how); });
    }
    void end(End how)
    {
        if (!std::exchange(m_busy, false))
            return;
        m_prompt.clear();
        if (how == End::ValueRefused)
            emit connectionError(m_connection, -222,
                                 "Custom Attenuation must be less than or equal to 25 dB.");
        else if (how == End::Completed && gpibFault)
            emit connectionError(m_connection, -240,
                                 "No listener on write function.\nibsta = &H8100");
        else if (how == End::Completed && isReference(m_device))
            m_reference[int(m_kind)] = {true, 12.5 * (1 << m_step)};
        else if (how == End::Completed)
            m_result = result();
        emit runFinished();
    }
    MeasurementResult result() const
    {
        static const float rl[] = {21.37f, 30.5f, 28.25f, 35, 40.125f, 33, 29.75f, 26, 24.5f, 22};
        static const float att[] = {0.05f, -0.125f, 0.2f,  -0.25f,  0.1f,
                                    0,     -0.05f,  0.15f, 0.3125f, -0.2f};
        MeasurementResult r;
        r.type = m_device;
        r.stepMult = 1 << m_step;
        r.limitsShown = m_limitOn || measInfo(m_device).limits != LimitSet::None;
        r.limitDb = m_limitOn ? m_limitText.toFloat() : measInfo(m_device).limitDb;
        // Chosen before the loop: GCC 12 with -fsanitize=undefined miscompiles a subscript of
        // the conditional expression itself.
        const float* values = m_kind == MeasKind::ReturnLoss ? rl : att;
        for (int i = r.stepMult, k = 0; i <= 80; i += r.stepMult, ++k)
            r.points << MeasuredPoint{i * 12.5, values[k % 10]};
        return r;
    }

    MeasKind m_kind = MeasKind::Attenuation;
    int m_step = 1;
    MeasType m_device = MeasType::AttReference;
    QString m_customAttn, m_limitText, m_dutId, m_comment, m_prompt;
    bool m_limitOn = false, m_busy = false;
    int m_connection = 0;
    std::optional<MeasurementResult> m_result;
    ReferenceState m_reference[2];
};

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

struct Bench {
    Bench()
    {
        if (!server.listen(QHostAddress::LocalHost, 0))
            qFatal("cannot listen");
    }
    std::unique_ptr<Client> client() { return std::make_unique<Client>(server.port()); }
    FakeBench fake;
    RemoteServer server{fake};
};

} // namespace

class TestRemote : public QObject {
    Q_OBJECT
private slots:
    void transcript_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output");
        const auto row = [](const char* name, const QByteArray& in, const QByteArray& out) {
            QTest::newRow(name) << in << out;
        };
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
            QByteArray("FOO;").repeated(40) + "\n" + QByteArray(":SYST:ERR?\n").repeated(33),
            QByteArray("-113,\"Undefined header\"\n").repeated(31) +
                "-350,\"Queue overflow\"\n0,\"No error\"\n");
        row("reference, termination, fetch",
            "FETC:VERD?;:FETC:REF?\nCONF:KIND RL;STEP 100;DEV TERM\n"
            "SYST:PROM OFF;:INIT;*OPC?;:FETC:REF?\n"
            "CONF:DEV TERM;DEV?;:INIT;*OPC?;:FETC:VERD?;MARG?\nFETC:DATA?\nFETC:FREQ?\n"
            "INIT;FETC:DATA?;:SYST:ERR?;ERR?;ERR?;ERR?\n",
            "ATT,0,25\n1;RL,1,100\nTERM;1;PASS;0.37,100\n"
            "21.37,30.5,28.25,35,40.125,33,29.75,26,24.5,22\n"
            "100,200,300,400,500,600,700,800,900,1000\n"
            "-230,\"Data corrupt or stale\";-221,\"Settings conflict\";"
            "-230,\"Data corrupt or stale\";0,\"No error\"\n");
        row("attenuation: limits, none, custom limit",
            "SYST:PROM OFF;:INIT;*OPC?\nCONF:DEV X2;:INIT;*OPC?;:FETC:VERD?;MARG?\n"
            "CONF:DEV X1;:INIT;*OPC?;:FETC:VERD?;MARG?\n"
            "CONF:LIM 3.5E-1;LIM?;LIM:STAT?;:CONF:DEV x2;:INIT;*WAI;:FETC:MARG?\n"
            "CONF:LIM:STAT OFF;STAT?\nCONF:DEV PAD;DEV X3;DEV?;:SYST:ERR?;ERR?\n",
            "1\n1;FAIL;-0.01,225\n1;NONE;9.91E37,9.91E37\n0.35;1;0.04,225\n0\n"
            "X2;-221,\"Settings conflict\";-224,\"Illegal parameter value\"\n");
        row("value check at INIT",
            "SYST:PROM OFF;:INIT;*OPC?\nCONF:DEV CUST;DEV?;DEV:CUST 30;CUST?\n"
            "INIT;*OPC?;:SYST:ERR?;ERR?\n",
            "1\nCUST;30\n1;-222,\"Data out of range;Custom Attenuation must be less than or "
            "equal to 25 dB.\";0,\"No error\"\n");
        row("refused while busy, *RST",
            "INIT;INIT;CONF:STEP 50;:HCOP;:FETC:DATA?;:STAT:BUSY?\n"
            "*RST;*OPC?;:SYST:ERR?;ERR?;ERR?;ERR?;ERR?\n"
            "SYST:PROM OFF;*RST;:INIT;:SYST:PROM?;:ABOR\n",
            "1\n1;-221,\"Settings conflict\";-221,\"Settings conflict\";"
            "-221,\"Settings conflict\";-230,\"Data corrupt or stale\";0,\"No error\"\n" +
                BridgePrompt + "\n");
        row("texts, no prompt waiting",
            "CONF:DUT \"A;B\"\"C\";DUT?;COMM 'x\ty''s';COMM?\nHCOP:DESC \"10 dB pad\";DESC?;"
            ":SYST:PROM?\n",
            "\"A-B\"\"C\";\"x y's\"\n\"10 dB pad\";\"\"\n");
        // The fake's printer refuses every job.
        row("hardcopy",
            "HCOP\nSYST:PROM OFF;:CONF:KIND RL;:INIT;*OPC?;:CONF:DEV PAD;:INIT;*OPC?;:HCOP\n"
            "HCOP:DESC \"3 dB pad\";:HCOP;:SYST:ERR?;ERR?;ERR?;ERR?\n",
            "1;1\n-230,\"Data corrupt or stale\";-221,\"Settings conflict;Describe the "
            "attenuator.\";-200,\"Execution error;The printer did not accept the job.\";"
            "0,\"No error\"\n");
        row("64 KiB line, one byte more, 1 MB without a newline",
            "*IDN?" + QByteArray(RemoteConnection::MaxLine - 5, ' ') + "\r\n*IDN?" +
                QByteArray(RemoteConnection::MaxLine - 4, ' ') + "\n" + QByteArray(1'000'000, 'A') +
                "\n*IDN?\nSYST:ERR?;ERR?\n",
            Idn + "\n" + Idn + "\n-223,\"Too much data\";-223,\"Too much data\"\n");
        row("binary bytes",
            QByteArray(1, '\0') + "\x01*IDN?\x02\x1b\r\n\xff\xfe\x80;*IDN?\n"
                                  "CONF:DUT \"\x01\xc3\xa9\"\nCONF:DUT?;:SYST:ERR?\n",
            Idn + "\n" + Idn + "\n\" \xc3\xa9\";-113,\"Undefined header\"\n");
    }
    // A whole session on one connection: every answer line, in order, then an empty queue.
    void transcript()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, output);
        Bench bench;
        const auto client = bench.client();
        QVERIFY(client->ask(input, int(output.count('\n'))));
        QVERIFY(client->ask(":SYST:ERR?\n"));
        QCOMPARE(client->lines.join('\n') + '\n', output + "0,\"No error\"\n");
    }

    void opcHoldsOnlyItsConnection()
    {
        Bench bench;
        const auto a = bench.client(), b = bench.client();
        QVERIFY(a->ask("CONF:KIND RL;:INIT;:STAT:BUSY?\n"));
        a->socket.write("*OPC?\n*IDN?\n");
        // The run waits for its prompt, so nothing can end it meanwhile.
        QVERIFY(b->ask("SYST:PROM?;:STAT:BUSY?\n"));
        QCOMPARE(a->lines, QByteArrayList{"1"});
        QVERIFY(b->ask("ABOR;STAT:BUSY?\n"));
        QCOMPARE(b->lines, (QByteArrayList{BridgePrompt + ";1", "1"}));
        QVERIFY(QTest::qWaitFor([&] { return a->lines.size() == 3; }, Patience));
        QCOMPARE(a->lines, (QByteArrayList{"1", "1", Idn}));
    }

    // A run's error goes to the connection that started it; a system error to every one.
    void errorsReachTheirConnections()
    {
        Bench bench;
        bench.fake.gpibFault = true;
        const auto a = bench.client(), b = bench.client();
        QVERIFY(a->ask("SYST:PROM OFF;:INIT;*OPC?\n") && b->ask("STAT:BUSY?\n"));
        emit bench.fake.systemError("The shared database cannot be reached.");
        QVERIFY(a->ask("SYST:ERR?;ERR?;ERR?\n") && b->ask("SYST:ERR?;ERR?\n"));
        const QByteArray lost = "-310,\"System error;The shared database cannot be reached.\"";
        QCOMPARE(a->lines.last(), "-240,\"Hardware error;No listener on write function. ibsta = "
                                  "&H8100\";" +
                                      lost + ";0,\"No error\"");
        QCOMPARE(b->lines.last(), lost + ";0,\"No error\"");
    }

    // The sweep goes on for the others; only ABORt would stop it.
    void clientLeavesMidSweep()
    {
        Bench bench;
        const auto leaving = bench.client(), other = bench.client();
        QVERIFY(leaving->ask("CONF:KIND RL;:INIT;:STAT:BUSY?\n"));
        leaving->socket.write("*OPC?\n");
        QVERIFY(other->ask("STAT:BUSY?\n"));
        leaving->socket.abort();
        QTRY_COMPARE_WITH_TIMEOUT(bench.server.connectionCount(), 1, Patience);
        QVERIFY(other->ask("STAT:BUSY?;:SYST:PROM?\n"));
        QVERIFY(other->ask("SYST:PROM:ANSW OK;*OPC?;:FETC:REF?\n"));
        QCOMPARE(other->lines, (QByteArrayList{"1", "1;" + BridgePrompt, "1;RL,1,25"}));
    }

    // One run, started by exactly one of them.
    void fiftyClients()
    {
        Bench bench;
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < 50; ++i)
            clients.push_back(bench.client());
        for (const auto& c : clients)
            c->socket.write("*IDN?;:INIT;:SYST:ERR?\n");
        QMap<QByteArray, int> answers;
        for (const auto& c : clients) {
            QVERIFY(QTest::qWaitFor([&] { return !c->lines.isEmpty(); }, Patience));
            ++answers[c->lines.first()];
        }
        QCOMPARE(answers, (QMap<QByteArray, int>{{Idn + ";0,\"No error\"", 1},
                                                 {Idn + ";-221,\"Settings conflict\"", 49}}));
        QVERIFY(clients.back()->ask("SYST:PROM:ANSW CANCEL;*OPC?\n"));
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

    void listening()
    {
        Bench loopback;
        RemoteServer second(loopback.fake), open(loopback.fake);
        const QString port = QString::number(loopback.server.port());
        QCOMPARE(loopback.server.exposureWarning(), QString());
        QString error;
        QVERIFY(!second.listen(QHostAddress::LocalHost, loopback.server.port(), &error));
        QCOMPARE(error, "remote control cannot listen on 127.0.0.1:" + port +
                            ": The bound address is already in use");
        QVERIFY(open.listen(QHostAddress::AnyIPv4, 0));
        QCOMPARE(open.exposureWarning(),
                 "Remote control on 0.0.0.0:" + QString::number(open.port()) +
                     " has no authentication: anyone who can reach it can run the bench.");
    }
};

QTEST_GUILESS_MAIN(TestRemote)
#include "tst_remote.moc"
