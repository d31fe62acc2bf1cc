#include "BenchFixture.h"
#include "ScriptedDialogs.h"
#include "gpib/Clock.h"
#include "gpib/InstrumentIO.h"
#include "gpib/NumberText.h"
#include "sim/SimulatedBench.h"

#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <clocale>
#include <optional>

using namespace Ni488;

namespace {

const QString Analyser2712 =
    QStringLiteral("ID SIMULATED,2712,V1.04,OPTIONS:TRACKING GEN,NB FILTER");
const QString ContinueOrCancel =
    QStringLiteral("\nSelect OK to continue or Cancel to terminate program.");
const QString NotFoundTitle =
    QStringLiteral("Expected Id-response from device not found") + QString(40, u' ');

// Passes every call on and keeps one line per call with its virtual time, so that tests can
// assert the exact bus traffic; in a child process each line also goes to its log.
class Recorder : public GpibDriver {
public:
    Recorder(GpibDriver& inner, Clock& clock) : m_inner(inner), m_clock(clock) {}

    QStringList calls;
    QList<double> times;
    std::function<void(const QString&)> report;

    // Calls whose line starts with prefix.
    QStringList matching(const QString& prefix) const
    {
        return calls.filter(QRegularExpression(u'^' + prefix));
    }

    QString name() const override { return m_inner.name(); }
    int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override
    {
        note("ibdev", board, pad, sad, tmo, eot, eos);
        return m_inner.ibdev(board, pad, sad, tmo, eot, eos);
    }
    int ibpad(int ud, int pad) override { return note("ibpad", ud, pad), m_inner.ibpad(ud, pad); }
    int ibclr(int ud) override { return note("ibclr", ud), m_inner.ibclr(ud); }
    int ibrsp(int ud, char* spr) override { return note("ibrsp", ud), m_inner.ibrsp(ud, spr); }
    int ibwrt(int ud, const QByteArray& data) override
    {
        note("ibwrt", ud, QString::fromLatin1(data));
        return m_inner.ibwrt(ud, data);
    }
    int ibrd(int ud, QByteArray& buf) override { return note("ibrd", ud), m_inner.ibrd(ud, buf); }
    int ibtmo(int ud, int tmo) override { return note("ibtmo", ud, tmo), m_inner.ibtmo(ud, tmo); }
    int ibask(int ud, int option, int* value) override
    {
        return note("ibask", ud, option), m_inner.ibask(ud, option, value);
    }
    int ibwait(int ud, int mask) override
    {
        note("ibwait", ud, QStringLiteral("0x%1").arg(mask, 4, 16, QLatin1Char('0')));
        return m_inner.ibwait(ud, mask);
    }
    int ibsre(int board, int v) override
    {
        return note("ibsre", board, v), m_inner.ibsre(board, v);
    }
    void SendIFC(int board) override { note("SendIFC", board), m_inner.SendIFC(board); }
    void FindLstn(int board, const QVector<short>& addresses, QVector<short>& results,
                  int limit) override
    {
        note("FindLstn", board, limit);
        m_inner.FindLstn(board, addresses, results, limit);
    }
    GpibStatus status() const override { return m_inner.status(); }

private:
    template <typename... Args> void note(const char* op, Args... args)
    {
        QStringList words{QLatin1String(op)};
        ((words << QVariant(args).toString()), ...);
        calls << words.join(u' ');
        times << m_clock.now();
        if (report)
            report(calls.last());
    }

    GpibDriver& m_inner;
    Clock& m_clock;
};

// A driver whose every outcome the test sets, for what the bench does not play.
class StubDriver : public GpibDriver {
public:
    struct Outcome {
        QByteArray data;
        int ibsta = CMPL | END;
        int iberr = 0;
    };
    QList<Outcome> reads; // ibrd outcomes in order; afterwards an empty END
    Outcome write{{}, CMPL};
    int descriptor = 1;
    long count = 0; // ibcntl after ibdev
    int askValue = T10s;
    char pollByte = 0;
    int waitSta = CMPL | RQS;
    int ibrdCalls = 0;
    int ibrspCalls = 0;
    QList<QByteArray> buffersGiven;

    QString name() const override { return QStringLiteral("stub"); }
    int ibdev(int, int, int, int, int, int) override { return finish(CMPL, 0, count), descriptor; }
    int ibpad(int, int) override { return finish(CMPL); }
    int ibclr(int) override { return finish(CMPL); }
    int ibrsp(int, char* spr) override { return ++ibrspCalls, *spr = pollByte, finish(CMPL, 0, 1); }
    int ibwrt(int, const QByteArray&) override { return finish(write.ibsta, write.iberr); }
    int ibrd(int, QByteArray& buffer) override
    {
        ++ibrdCalls;
        buffersGiven << buffer;
        const Outcome o = reads.isEmpty() ? Outcome{} : reads.takeFirst();
        buffer.replace(0, o.data.size(), o.data);
        return finish(o.ibsta, o.iberr, o.data.size());
    }
    int ibtmo(int, int) override { return finish(CMPL); }
    int ibask(int, int, int* value) override { return *value = askValue, finish(CMPL); }
    int ibwait(int, int) override { return finish(waitSta); }
    int ibsre(int, int) override { return finish(CMPL); }
    void SendIFC(int) override { finish(CMPL); }
    void FindLstn(int, const QVector<short>&, QVector<short>&, int) override { finish(CMPL); }
    GpibStatus status() const override { return m_status; }

private:
    int finish(int ibsta, int iberr = 0, long ibcntl = 0)
    {
        m_status = {ibsta, iberr, ibcntl};
        return ibsta;
    }
    GpibStatus m_status;
};

BenchScenario scenarioOf(const QString& words)
{
    const std::optional<BenchScenario> scenario = BenchScenario::parse(words);
    if (!scenario)
        qFatal("unknown bench scenario %s", qPrintable(words));
    return *scenario;
}

// The instrument layer on the simulated bench, every call recorded.
struct Rig {
    explicit Rig(const QString& words = {}) : bench(clock, scenarioOf(words)) {}

    // A descriptor at the analyser, opened behind the recorder's back.
    qint16 analyser(int tmo = T10s) { return qint16(bench.ibdev(0, 18, 0, tmo, 1, 0)); }
    // Bus set up as at start-up.
    void init()
    {
        io.DefaultTimeout = T3s;
        io.GpibInit(1);
    }
    qint16 find(QString query, QString expected) { return io.FindDevice(query, expected); }
    int askTimeout(qint16 ud)
    {
        int tmo = -1;
        bench.ibask(ud, IbaTMO, &tmo);
        return tmo;
    }

    VirtualClock clock;
    SimulatedBench bench;
    Recorder bus{bench, clock};
    ScriptedDialogs dialogs;
    InstrumentIO io{bus, clock, dialogs};
};

struct StubRig {
    VirtualClock clock;
    StubDriver stub;
    ScriptedDialogs dialogs;
    InstrumentIO io{stub, clock, dialogs};
};

QString messageLine(MsgIcon icon, const QString& title, const QString& text, MsgButtons buttons)
{
    return QStringLiteral("message %1 %2 \"%3\" \"%4\"")
        .arg(int(icon))
        .arg(int(buttons))
        .arg(title, QString(text).replace(u'\n', QStringLiteral("\\n")));
}

// Runs body on a fresh bench in a child process, where the program may end. Its log holds
// every bus call and every message in order, then "returned" if body came back.
ChildOutcome inChild(const QString& scenario, const std::function<void(Rig&)>& body,
                     MsgResult answer = MsgResult::Ok)
{
    return runInChild([&](std::function<void(const QString&)> report) {
        Rig rig(scenario);
        rig.bus.report = report;
        rig.dialogs.onMessage = [&](const ScriptedDialogs::Shown& s) -> std::optional<MsgResult> {
            report(messageLine(s.icon, s.title, s.text, s.buttons));
            return answer;
        };
        body(rig);
        report(QStringLiteral("returned"));
    });
}

// The program ended with status 1 right after showing the message: nothing else went over
// the bus and the routine never returned.
bool endedAfter(const ChildOutcome& outcome, const QString& message)
{
    const QStringList lines = outcome.log.split(u'\n', Qt::SkipEmptyParts);
    if (outcome.exitStatus == 1 && !lines.isEmpty() && lines.last() == message)
        return true;
    qWarning("exit %d, log:\n%s", outcome.exitStatus, qPrintable(outcome.log));
    return false;
}

using Routine = std::function<void(InstrumentIO&)>;

} // namespace

Q_DECLARE_METATYPE(Routine)

class TestInstrumentIO : public QObject {
    Q_OBJECT

private slots:
    // NumberText and LeadingNumber

    void numberText64_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("fraction") << 12.5 << " 12.5";
        QTest::newRow("whole") << 1000.0 << " 1000";
        QTest::newRow("negative") << -3.5 << "-3.5";
        QTest::newRow("half") << 0.5 << " .5";
        QTest::newRow("minus half") << -0.5 << "-.5";
        QTest::newRow("zero") << 0.0 << " 0";
        QTest::newRow("minus two") << -2.0 << "-2";
        QTest::newRow("MFREQ point") << 37.5 << " 37.5";
        QTest::newRow("15 digits") << 1.0 / 3 << " .333333333333333";
        QTest::newRow("15 whole digits") << 123456789012345.0 << " 123456789012345";
        QTest::newRow("rounded to 15") << 1.0000000000000002 << " 1";
        QTest::newRow("1E+15") << 1e15 << " 1E+15";
        QTest::newRow("1E+16") << 1e16 << " 1E+16";
        QTest::newRow("ten thousandth") << 0.0001 << " .0001";
        QTest::newRow("1E-05") << 1e-5 << " 1E-05";
        QTest::newRow("small mantissa") << -2.5e-7 << "-2.5E-07";
    }
    void numberText64()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(NumberText(value), text);
    }

    void numberText32_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("fraction") << 12.5f << " 12.5";
        QTest::newRow("whole") << 1000.0f << " 1000";
        QTest::newRow("negative") << -3.5f << "-3.5";
        QTest::newRow("half") << 0.5f << " .5";
        QTest::newRow("minus half") << -0.5f << "-.5";
        QTest::newRow("tenth, not its binary tail") << 0.1f << " .1";
        QTest::newRow("7 digits") << 1.0f / 3 << " .3333333";
        QTest::newRow("7 whole digits") << 1234567.0f << " 1234567";
        QTest::newRow("8 whole digits") << 12345678.0f << " 1.234568E+07";
        QTest::newRow("level -10") << -10.0f << "-10";
        QTest::newRow("ten thousandth") << 0.0001f << " .0001";
        QTest::newRow("1E-05") << 1e-5f << " 1E-05";
    }
    void numberText32()
    {
        QFETCH(float, value);
        QFETCH(QString, text);
        QCOMPARE(NumberText(value), text);
    }

    void numbersIgnoreCommaLocale()
    {
        const std::string before = std::setlocale(LC_NUMERIC, nullptr);
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") &&
            !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
            QSKIP("no locale with a decimal comma installed");
        const QString text = NumberText(12.5);
        const double number = LeadingNumber(QStringLiteral("-23.45"));
        std::setlocale(LC_NUMERIC, before.c_str());
        QCOMPARE(text, QStringLiteral(" 12.5"));
        QCOMPARE(number, -23.45);
    }

    void leadingNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("number");
        QTest::newRow("plain") << "-23.45" << -23.45;
        QTest::newRow("exponent E") << "-2.345E1" << -23.45;
        QTest::newRow("exponent D") << "1.5D+3" << 1500.0;
        QTest::newRow("exponent lower case") << "25e-1" << 2.5;
        QTest::newRow("header first") << "MAMPL -23.45" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("blanks only") << " \t\n" << 0.0;
        QTest::newRow("blanks tabs LF anywhere") << " \t-2 3\n.4\t5 " << -23.45;
        QTest::newRow("plus sign") << "+7" << 7.0;
        QTest::newRow("no leading zero") << ".5" << 0.5;
        QTest::newRow("negative no leading zero") << "-.5" << -0.5;
        QTest::newRow("stops at unit") << "12.5dBm" << 12.5;
        QTest::newRow("stops at second point") << "1.2.3" << 1.2;
        QTest::newRow("stops at comma") << "3,5" << 3.0;
        QTest::newRow("stops at CR") << "4\r\n" << 4.0;
        QTest::newRow("exponent without digits") << "1E" << 1.0;
        QTest::newRow("exponent sign without digits") << "1E+x" << 1.0;
        QTest::newRow("two signs") << "--5" << 0.0;
        QTest::newRow("letters") << "abc" << 0.0;
    }
    void leadingNumber()
    {
        QFETCH(QString, text);
        QFETCH(double, number);
        QCOMPARE(LeadingNumber(text), number);
    }

    // Status narrowing

    void narrowsToSignedLow16Bits_data()
    {
        QTest::addColumn<int>("raw");
        QTest::addColumn<int>("narrowed");
        QTest::newRow("small") << 5 << 5;
        QTest::newRow("high word dropped") << 0x12345 << 0x2345;
        QTest::newRow("low word negative") << 0x1FFFE << -2;
        QTest::newRow("32768") << 32768 << -32768;
        QTest::newRow("70000") << 70000 << 4464;
        QTest::newRow("minus one") << -1 << -1;
    }
    void narrowsToSignedLow16Bits()
    {
        QFETCH(int, raw);
        QFETCH(int, narrowed);
        StubDriver stub;
        stub.descriptor = raw;
        stub.count = raw;
        stub.askValue = raw;
        GpibBinding bus(stub);
        QCOMPARE(bus.ibdev(0, 1, 0, T1s, 1, 0), narrowed);
        QCOMPARE(bus.status().ibcnt, narrowed);
        QCOMPARE(bus.status().ibcntl, raw);
        QCOMPARE(bus.ibask(1, IbaTMO), narrowed);

        stub.write = {{}, ERR | TIMO, EABO};
        bus.ibwrt(1, QStringLiteral("X"));
        QCOMPARE(bus.status().ibsta, qint16(0xC000));
        QVERIFY(bus.status().error());
    }

    void findDeviceReturnsNarrowedProbe()
    {
        StubRig rig;
        rig.stub.descriptor = 0x0001FFF0;
        rig.stub.reads = {{"2712"}};
        rig.io.Listeners = {1, 7};
        rig.io.FreeListeners = {1, 7};
        QString query = QStringLiteral("ID?"), expected = QStringLiteral("2712");
        QCOMPARE(rig.io.FindDevice(query, expected), qint16(-16));
    }

    // GpibCheckError

    void errorDialogForEveryCode_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        const QStringList known = {"Operating system error.",
                                   "Function requires GPIB board to be CIC.",
                                   "No listener on write function.",
                                   "GPIB board not addressed correctly.",
                                   "Invalid argument to function call.",
                                   "GPIB board not system controller as required.",
                                   "I/O operation aborted - timeout.",
                                   "Non-existent GPIB board."};
        for (int code = 0; code < known.size(); ++code)
            QTest::addRow("%d", code) << code << known[code];
        QTest::newRow("10") << 10 << "Asynchronous I/O in progress.";
        QTest::newRow("11") << 11 << "No capability for operation.";
        QTest::newRow("12") << 12 << "File system error.";
        QTest::newRow("14") << 14 << "GPIB bus eror.";
        QTest::newRow("15") << 15 << "Serial poll status queue owerflow.";
        QTest::newRow("16") << 16 << "SRQ stuck in on position.";
        QTest::newRow("20") << 20 << "Table problem.";
        for (int code : {8, 9, 13, 17, 21, -1})
            QTest::addRow("%d", code) << code << "Unknown error.";
    }
    void errorDialogForEveryCode()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        StubRig rig;
        rig.stub.write = {{}, ERR | CMPL, code};
        rig.io.GpibWrite(1, QStringLiteral("X"));
        QCOMPARE(rig.dialogs.shown.size(), 1);
        const ScriptedDialogs::Shown& s = rig.dialogs.shown.first();
        QCOMPARE(s.title, QStringLiteral("GPIB ERROR # %1").arg(code));
        QCOMPARE(s.text, text + ContinueOrCancel);
        QCOMPARE(s.icon, MsgIcon::Exclamation);
        QCOMPARE(s.buttons, MsgButtons::OkCancel);
        QVERIFY(rig.io.IoErrorFlag);
    }

    void noErrorShowsNothingAndKeepsFlag()
    {
        StubRig rig;
        rig.io.GpibWrite(1, QStringLiteral("X"));
        QVERIFY(!rig.io.IoErrorFlag);
        rig.io.IoErrorFlag = true;
        rig.io.GpibCheckError();
        QVERIFY(rig.io.IoErrorFlag);
        QVERIFY(rig.dialogs.shown.isEmpty());
    }

    void cancelInErrorDialogEndsProgram()
    {
        const ChildOutcome outcome = inChild(
            QStringLiteral("write-error=REFLVL"),
            [](Rig& rig) { rig.io.GpibQuery(rig.analyser(), QStringLiteral("REFLVL?")); },
            MsgResult::Cancel);
        QCOMPARE(outcome.log.section(u'\n', 0, 0), QStringLiteral("ibwrt 1 REFLVL?"));
        QVERIFY(
            endedAfter(outcome, messageLine(MsgIcon::Exclamation, QStringLiteral("GPIB ERROR # 2"),
                                            "No listener on write function." + ContinueOrCancel,
                                            MsgButtons::OkCancel)));
    }

    void descriptorZeroEndsProgram_data()
    {
        QTest::addColumn<Routine>("routine");
        const QString command = QStringLiteral("MAMPL?");
        QTest::newRow("GpibWrite") << Routine([=](InstrumentIO& io) { io.GpibWrite(0, command); });
        QTest::newRow("GpibRead") << Routine([](InstrumentIO& io) { io.GpibRead(0); });
        QTest::newRow("GpibQuery") << Routine([=](InstrumentIO& io) { io.GpibQuery(0, command); });
        QTest::newRow("GpibWaitSrq") << Routine([](InstrumentIO& io) { io.GpibWaitSrq(0); });
    }
    void descriptorZeroEndsProgram()
    {
        QFETCH(Routine, routine);
        const ChildOutcome outcome = inChild({}, [&](Rig& rig) { routine(rig.io); });
        const QString message =
            messageLine(MsgIcon::Critical, QStringLiteral("Device Error"),
                        QStringLiteral("Device not configured.\n\nCorrect problem and restart."),
                        MsgButtons::Ok);
        QVERIFY(endedAfter(outcome, message));
        QCOMPARE(outcome.log, message + u'\n'); // not one bus call
    }

    // GpibRead

    void readTrimsLineEnds_data()
    {
        QTest::addColumn<QByteArray>("delivered");
        QTest::addColumn<QString>("answer");
        QTest::newRow("CR LF") << QByteArray("-23.45\r\n") << "-23.45";
        QTest::newRow("LF") << QByteArray("-23.45\n") << "-23.45";
        QTest::newRow("junk after LF") << QByteArray("-23.45\n\xff") << "-23.45";
        QTest::newRow("junk after CR LF") << QByteArray("abc\r\nX") << "abc";
        QTest::newRow("at most two line ends") << QByteArray("abc\r\n\r\n") << "abc\r";
        QTest::newRow("three CRs") << QByteArray("abc\r\r\r") << "abc";
        QTest::newRow("single CR") << QByteArray("\r") << "";
        QTest::newRow("inner line ends kept") << QByteArray("a\nb\nc") << "a\nb";
        QTest::newRow("blanks around") << QByteArray("  abc  ") << "abc";
        QTest::newRow("plain") << QByteArray("ab") << "ab";
    }
    void readTrimsLineEnds()
    {
        QFETCH(QByteArray, delivered);
        QFETCH(QString, answer);
        StubRig rig;
        rig.stub.reads = {{delivered}};
        QCOMPARE(rig.io.GpibRead(1), answer);
        // One read into 512 blanks: what the driver did not fill stays blank and is trimmed.
        QCOMPARE(rig.stub.buffersGiven, QList<QByteArray>{QByteArray(512, ' ')});
        QVERIFY(rig.dialogs.shown.isEmpty());
    }

    void readJoinsChunksTrimmedEach()
    {
        StubRig rig;
        const QByteArray first = ' ' + QByteArray(510, 'a') + ' ';
        rig.stub.reads = {{first, CMPL}, {"  b\r\n", CMPL | END}};
        QCOMPARE(rig.io.GpibRead(1), QString(510, u'a') + u'b');
        QCOMPARE(rig.stub.buffersGiven, QList<QByteArray>(2, QByteArray(512, ' ')));
    }

    void readsEveryAnswerEndingOfTheBench_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("reads");
        QTest::newRow("EOI only") << "" << 1;
        QTest::newRow("CR LF") << "crlf" << 1;
        QTest::newRow("LF") << "lf" << 1;
        QTest::newRow("junk") << "junk" << 1;
        QTest::newRow("longer than 512") << "long-answers,crlf" << 2;
    }
    void readsEveryAnswerEndingOfTheBench()
    {
        QFETCH(QString, scenario);
        QFETCH(int, reads);
        Rig rig(scenario);
        QCOMPARE(rig.io.GpibQuery(rig.analyser(), QStringLiteral("ID?")), Analyser2712);
        QCOMPARE(rig.bus.matching(QStringLiteral("ibrd")).size(), reads);
    }

    void readTimeoutShowsIoErrorAndRestoresTimeout()
    {
        Rig rig(QStringLiteral("timeout=MAMPL?"));
        const qint16 ud = rig.analyser(T10s);
        const double start = rig.clock.now();
        QCOMPARE(rig.io.GpibQuery(ud, QStringLiteral("MAMPL?")), QString());
        QCOMPARE(rig.bus.calls, QStringList({"ibwrt 1 MAMPL?", "ibask 1 3", "ibtmo 1 12",
                                             "ibwait 1 0x4100", "ibrd 1", "ibtmo 1 13"}));
        QVERIFY(qAbs(rig.clock.now() - start - 3.1) < 1e-6); // pause, then the 3 s read limit
        QCOMPARE(rig.askTimeout(ud), T10s);
        QCOMPARE(rig.dialogs.shown.size(), 1);
        const ScriptedDialogs::Shown& s = rig.dialogs.shown.first();
        QCOMPARE(s.icon, MsgIcon::Exclamation);
        QCOMPARE(s.title, QStringLiteral("I/O Error"));
        QCOMPARE(s.text, QStringLiteral("Read cycle failed\nOperation aborted."));
        QCOMPARE(s.buttons, MsgButtons::Ok);
    }

    void readErrorWithoutTimeoutOrEndFails()
    {
        StubRig rig;
        rig.stub.reads = {{"12", ERR | CMPL, EDVR}}; // a second read would end the loop with END
        QCOMPARE(rig.io.GpibRead(1), QString());
        QCOMPARE(rig.stub.ibrdCalls, 1);
        QCOMPARE(rig.dialogs.titles(), QStringList{QStringLiteral("I/O Error")});
    }

    // GpibQuery

    void queryAfterFailedWriteReadsNothing()
    {
        Rig rig(QStringLiteral("write-error=MAMPL?@1"));
        const qint16 ud = rig.analyser();
        const double start = rig.clock.now();
        QCOMPARE(rig.io.GpibQuery(ud, QStringLiteral("MAMPL?")), QString());
        QCOMPARE(rig.bus.calls, QStringList{QStringLiteral("ibwrt 1 MAMPL?")});
        QVERIFY(qAbs(rig.clock.now() - start - 0.1) < 1e-6);
        QCOMPARE(rig.dialogs.titles(), QStringList{QStringLiteral("GPIB ERROR # 2")});
        QVERIFY(rig.io.IoErrorFlag);
        // The next write clears the flag and the query reads again.
        QVERIFY(!rig.io.GpibQuery(ud, QStringLiteral("MAMPL?")).isEmpty());
        QVERIFY(!rig.io.IoErrorFlag);
    }

    // GpibWaitSrq

    void pollsOffStaleRequests_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("polls");
        QTest::newRow("answers 0 at once") << QString() << 1;
        QTest::newRow("three stale requests") << QStringLiteral("stale-srq") << 4;
    }
    void pollsOffStaleRequests()
    {
        QFETCH(QString, scenario);
        QFETCH(int, polls);
        Rig rig(scenario);
        const qint16 ud = rig.analyser();
        rig.io.GpibWrite(ud, QStringLiteral("SIG"));
        rig.io.GpibWaitSrq(ud);
        QCOMPARE(rig.bus.matching(QStringLiteral("ibrsp")).size(), polls);
        QVERIFY(rig.dialogs.shown.isEmpty());
        QCOMPARE(rig.askTimeout(ud), T10s);
    }

    void negativeDescriptorWaitsWithoutPolling()
    {
        Rig rig;
        const qint16 ud = rig.analyser();
        rig.io.GpibWrite(ud, QStringLiteral("SIG"));
        rig.io.GpibWaitSrq(qint16(-ud));
        QVERIFY(rig.bus.matching(QStringLiteral("ibrsp")).isEmpty());
        QVERIFY(rig.bus.matching(QStringLiteral("ibwait 1")).size() >= 1);
        QVERIFY(rig.dialogs.shown.isEmpty());
    }

    void atMostTwentyPolls()
    {
        StubRig rig;
        rig.stub.pollByte = 0x41; // a request that never goes away
        rig.io.GpibWaitSrq(1);
        QCOMPARE(rig.stub.ibrspCalls, 20);
        QVERIFY(rig.dialogs.shown.isEmpty());
    }

    void serviceRequestWaitEndsAfter30s()
    {
        Rig rig(QStringLiteral("no-srq"));
        const qint16 ud = rig.analyser();
        rig.io.GpibWrite(ud, QStringLiteral("SIG"));
        bool posted = false;
        double scheduledAt = -1;
        QTimer::singleShot(0, [&] { posted = true; });
        rig.clock.schedule(10, [&] { scheduledAt = rig.clock.now(); });
        const double start = rig.clock.now();
        rig.io.GpibWaitSrq(ud);
        const double waited = rig.clock.now() - start;
        QVERIFY2(waited >= 30 && waited < 30.1, qPrintable(QString::number(waited)));
        QVERIFY(posted);
        QVERIFY(qAbs(scheduledAt - start - 10) < 1e-9); // the window ran while it waited
        QCOMPARE(rig.dialogs.shown.size(), 1);
        const ScriptedDialogs::Shown& s = rig.dialogs.shown.first();
        QCOMPARE(s.title, QStringLiteral("GPIB ERROR # 6"));
        QCOMPARE(s.text, "I/O operation aborted - timeout." + ContinueOrCancel);
        QCOMPARE(s.icon, MsgIcon::Exclamation);
        QVERIFY(rig.io.IoErrorFlag);
        QCOMPARE(rig.askTimeout(ud), T10s);
    }

    // Delay

    void delayZeroRunsNoEvents()
    {
        StubRig rig;
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        rig.io.Delay(0);
        QVERIFY(!ran);
        QCOMPARE(rig.clock.now(), 0.0);
        rig.io.Delay(0.15f);
        QVERIFY(ran);
        QVERIFY(qAbs(rig.clock.now() - 0.15) < 1e-6);
    }

    // FindDevice

    void findDeviceModifiers_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("bareQuery");
        QTest::addColumn<QString>("bareExpected");
        QTest::addColumn<bool>("claimed");
        QTest::addColumn<bool>("clears");
        QTest::addColumn<double>("pause"); // between the serial poll and the query
        QTest::addColumn<int>("messages");
        const auto row = [](const char* name, const QString& query, const QString& expected,
                            const char* bareQuery, const QString& bareExpected, bool claimed,
                            bool clears, double pause, int messages) {
            QTest::newRow(name) << query << expected << QString::fromLatin1(bareQuery)
                                << bareExpected << claimed << clears << pause << messages;
        };
        row("plain", "ID?", "2712", "ID?", "2712", true, true, 0, 0);
        row("any case, anywhere", "ID?", "tracking gen", "ID?", "tracking gen", true, true, 0, 0);
        row("no clear", "!ID?", "2712", "ID?", "2712", true, false, 0, 0);
        row("settle", "ID?", "?2712", "ID?", "2712", true, true, 0.1, 0);
        row("silent settle", "ID?", "!?2712", "ID?", "2712", true, true, 0.1, 0);
        row("silent miss", "ID?", "!2710", "ID?", "2710", false, true, 0, 0);
        row("exact", "ID?", Analyser2712 + u'!', "ID?", Analyser2712, true, true, 0, 0);
        row("exact is no substring", "ID?", "!2712!", "ID?", "2712", false, true, 0, 0);
        row("exact minds case", "ID?", u'!' + Analyser2712.toLower() + u'!', "ID?",
            Analyser2712.toLower(), false, true, 0, 0);
        row("miss, continue", "ID?!", "2710", "ID?", "2710", false, true, 0, 1);
        row("all of them", "!ID?!", "!?2712!", "ID?", "2712", false, false, 0.1, 0);
    }
    void findDeviceModifiers()
    {
        QFETCH(QString, query);
        QFETCH(QString, expected);
        QFETCH(QString, bareQuery);
        QFETCH(QString, bareExpected);
        QFETCH(bool, claimed);
        QFETCH(bool, clears);
        QFETCH(double, pause);
        QFETCH(int, messages);
        Rig rig;
        rig.init();
        rig.bus.calls.clear();
        rig.bus.times.clear();
        const qint16 ud = rig.io.FindDevice(query, expected);
        QCOMPARE(query, bareQuery);
        QCOMPARE(expected, bareExpected);
        QCOMPARE(ud != 0, claimed);
        QCOMPARE(rig.io.FreeListeners[0], qint16(claimed ? 0 : 1));
        QCOMPARE(rig.io.ProbeDevice.reuse, !claimed);
        QCOMPARE(!rig.bus.matching(QStringLiteral("ibclr")).isEmpty(), clears);
        const qsizetype poll =
            rig.bus.calls.indexOf(QRegularExpression(QStringLiteral("ibrsp .*")));
        QCOMPARE(rig.bus.calls.at(poll + 1), QStringLiteral("ibwrt 1 ID?"));
        QVERIFY(qAbs(rig.bus.times.at(poll + 1) - rig.bus.times.at(poll) - pause) < 1e-6);
        QCOMPARE(rig.dialogs.shown.size(), messages);
        if (claimed) {
            QCOMPARE(rig.bus.calls.last(), QStringLiteral("ibtmo 1 12"));
            QCOMPARE(rig.io.GpibQuery(ud, QStringLiteral("ID?")), Analyser2712);
        }
    }

    void missShowsAnswersNewestFirst()
    {
        Rig rig(QStringLiteral("others-first"));
        rig.init();
        QCOMPARE(rig.find(QStringLiteral("ID?!"), QStringLiteral("2710")), qint16(0));
        QCOMPARE(rig.dialogs.shown.size(), 1);
        const ScriptedDialogs::Shown& s = rig.dialogs.shown.first();
        QCOMPARE(s.title, NotFoundTitle);
        QCOMPARE(s.icon, MsgIcon::Critical);
        QCOMPARE(s.buttons, MsgButtons::Ok);
        QCOMPARE(s.text, "ID Query: ID?\n\nExpected Response: 2710\n\nReceived Response(s):\n" +
                             Analyser2712 +
                             "\nSIMULATED,POWER SUPPLY 6030,V1.3\nSIMULATED,COUNTER 5370,V2.10\n\n"
                             "Correct the problem and retry. Program will continue.");
    }

    void missWithoutContinueEndsProgram()
    {
        const ChildOutcome outcome = inChild(QStringLiteral("2711"), [](Rig& rig) {
            rig.init();
            rig.find(QStringLiteral("ID?"), QStringLiteral("2710"));
        });
        QVERIFY(endedAfter(outcome,
                           messageLine(MsgIcon::Critical, NotFoundTitle,
                                       "ID Query: ID?\n\nExpected Response: 2710\n\nReceived "
                                       "Response(s):\nID SIMULATED,2711,V1.04,OPTIONS:TRACKING "
                                       "GEN,NB FILTER\n\nCorrect the problem and restart. "
                                       "Program will end.",
                                       MsgButtons::Ok)));
    }

    void probeIsReusedAfterFailedSearch()
    {
        Rig rig(QStringLiteral("2711"));
        rig.init();
        rig.bus.calls.clear();
        QCOMPARE(rig.find(QStringLiteral("ID?"), QStringLiteral("!2710")), qint16(0));
        const qint16 probe = rig.io.ProbeDevice.descriptor;
        QVERIFY(rig.io.ProbeDevice.reuse);
        QCOMPARE(rig.find(QStringLiteral("ID?"), QStringLiteral("!2711")), probe);
        QCOMPARE(rig.bus.matching(QStringLiteral("ibdev")),
                 QStringList{QStringLiteral("ibdev 0 1 0 11 1 0")});
        QVERIFY(rig.dialogs.shown.isEmpty());
        // The claimed probe belongs to the caller now: the next search opens a new one.
        QCOMPARE(rig.find(QStringLiteral("ID?"), QStringLiteral("!2711")), qint16(0));
        QCOMPARE(rig.bus.matching(QStringLiteral("ibdev")).size(), 2);
    }

    void claimsInListenerOrderSkippingClaimed()
    {
        Rig rig(QStringLiteral("others-first"));
        rig.init();
        QCOMPARE(rig.io.Listeners[0], qint16(3));
        rig.bus.calls.clear();
        QVERIFY(rig.find(QStringLiteral("ID?"), QStringLiteral("simulated")) != 0);
        QCOMPARE(rig.bus.matching(QStringLiteral("ibpad")),
                 QStringList{QStringLiteral("ibpad 1 3")});
        rig.bus.calls.clear();
        QVERIFY(rig.find(QStringLiteral("ID?"), QStringLiteral("2712")) != 0);
        QCOMPARE(rig.bus.matching(QStringLiteral("ibpad")),
                 QStringList({"ibpad 2 5", "ibpad 2 18"}));
        QCOMPARE(rig.io.FreeListeners, (std::array<qint16, 15>{1, 0, 5}));
    }

    void twinAnalysersAreClaimedInTurn()
    {
        const ChildOutcome outcome = inChild(QStringLiteral("twin-analysers"), [](Rig& rig) {
            rig.init();
            for (int search = 0; search < 2; ++search) {
                rig.find(QStringLiteral("ID?"), QStringLiteral("2712"));
                rig.bus.report("claimed " + rig.bus.matching(QStringLiteral("ibpad")).last());
            }
            if (rig.find(QStringLiteral("ID?"), QStringLiteral("!2712")) == 0 &&
                rig.dialogs.shown.isEmpty())
                rig.bus.report(QStringLiteral("silent 0"));
            rig.find(QStringLiteral("ID?"), QStringLiteral("2712"));
        });
        QVERIFY(outcome.log.contains(QStringLiteral("claimed ibpad 1 18\n")));
        QVERIFY(outcome.log.contains(QStringLiteral("claimed ibpad 2 19\n")));
        QVERIFY(outcome.log.contains(QStringLiteral("silent 0\n")));
        QVERIFY(endedAfter(
            outcome, messageLine(MsgIcon::Critical, QStringLiteral("Not enough devices on the bus"),
                                 QStringLiteral("Can't find more than 2 device(s).\n\nCorrect "
                                                "problem and restart."),
                                 MsgButtons::Ok)));
    }

    // GpibInit

    void fourteenListenersFillSlots()
    {
        Rig rig(QStringLiteral("14-listeners"));
        rig.init();
        QVERIFY(rig.dialogs.shown.isEmpty());
        QCOMPARE(rig.io.Listeners[0], qint16(14));
        QCOMPARE(rig.io.FreeListeners[0], qint16(14));
        const QVector<int> addresses = rig.bench.instrumentAddresses();
        for (int i = 1; i <= 14; ++i) {
            QCOMPARE(rig.io.Listeners[i], qint16(addresses[i - 1]));
            QCOMPARE(rig.io.FreeListeners[i], rig.io.Listeners[i]);
        }
        QCOMPARE(rig.bus.calls, QStringList({"SendIFC 0", "ibsre 0 1", "FindLstn 0 15"}));
        QVERIFY(rig.find(QStringLiteral("ID?"), QStringLiteral("2712")) != 0);
        QCOMPARE(rig.io.FreeListeners[0], qint16(13));
    }

    void initModes_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("message"); // empty: none
        const auto row =
            [](const char* name, const char* scenario, int mode, int code, const QString& text) {
                QTest::newRow(name)
                    << QString::fromLatin1(scenario) << mode
                    << (text.isEmpty()
                            ? QString()
                            : messageLine(MsgIcon::Critical,
                                          QStringLiteral("Initialization Error %1").arg(code), text,
                                          MsgButtons::Ok));
            };
        const QString restart = QStringLiteral("\n\nCorrect problem and restart.");
        const QString tooMany = "Too many listeners found.\nMax 14 listeners allowed." + restart;
        row("empty bus, 1", "no-listener", 1, 14, "No listeners found." + restart);
        row("empty bus, -1", "no-listener", -1, 14, {});
        row("empty bus, 0", "no-listener", 0, 14, "No listeners found.");
        row("15 listeners, 1", "15-listeners", 1, 20, tooMany);
        row("15 listeners, 0", "15-listeners", 0, 20, tooMany);
        row("no board, 1", "no-board", 1, 7, restart);
        row("no board, -1", "no-board", -1, 7, restart);
        row("no board, 2", "no-board", 2, 7, restart);
    }
    void initModes()
    {
        QFETCH(QString, scenario);
        QFETCH(int, mode);
        QFETCH(QString, message);
        const ChildOutcome outcome = inChild(scenario, [mode](Rig& rig) {
            rig.io.GpibInit(qint16(mode));
            QString query = QStringLiteral("ID?"), expected = QStringLiteral("!2712");
            if (rig.io.Listeners == std::array<qint16, 15>{} &&
                rig.io.FindDevice(query, expected) == 0)
                rig.bus.report(QStringLiteral("nothing to claim"));
        });
        QString log = QStringLiteral("SendIFC 0\nibsre 0 1\nFindLstn 0 15\n");
        if (!message.isEmpty())
            log += message + u'\n';
        if (mode == 1) {
            QVERIFY(endedAfter(outcome, message));
            QCOMPARE(outcome.log, log);
        } else {
            QCOMPARE(outcome.exitStatus, 0);
            QVERIFY(outcome.log.startsWith(log));
            QVERIFY(outcome.log.endsWith(QStringLiteral("nothing to claim\nreturned\n")));
        }
    }
};

QTEST_GUILESS_MAIN(TestInstrumentIO)
#include "tst_instrumentio.moc"
