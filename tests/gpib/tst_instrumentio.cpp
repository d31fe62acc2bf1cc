#include "BenchFixture.h"
#include "ScriptedDialogs.h"
#include "gpib/Clock.h"
#include "gpib/InstrumentIO.h"
#include "gpib/NumberText.h"
#include "gpib/TracingDriver.h"
#include "sim/SimulatedBench.h"

#include <QBuffer>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

using namespace Ni488;

namespace {

const QString Analyser2712 =
    QStringLiteral("ID SIMULATED,2712,V1.04,OPTIONS:TRACKING GEN,NB FILTER");
const QString ContinueOrCancel =
    QStringLiteral("\nSelect OK to continue or Cancel to terminate program.");

// A driver whose outcomes the test sets, for what the bench does not play: every call ends
// as next says, but ibwait (a service request) and ibrd, which takes the next of reads
// (afterwards an empty END).
class StubDriver : public GpibDriver {
public:
    GpibStatus next{CMPL, 0, 0};
    int value = T10s;                        // returned by ibdev, reported by ibask and ibrsp
    QList<std::pair<QByteArray, int>> reads; // data, ibsta
    QList<QByteArray> buffersGiven;          // to ibrd

    QString name() const override { return QStringLiteral("stub"); }
    int ibdev(int, int, int, int, int, int) override { return done(), value; }
    int ibpad(int, int) override { return done(); }
    int ibclr(int) override { return done(); }
    int ibrsp(int, char* spr) override { return *spr = char(value), done(); }
    int ibwrt(int, const QByteArray&) override { return done(); }
    int ibrd(int, QByteArray& buffer) override
    {
        buffersGiven << buffer;
        const auto [data, ibsta] =
            reads.isEmpty() ? std::pair{QByteArray(), END} : reads.takeFirst();
        buffer.replace(0, data.size(), data);
        return m_status = {ibsta, 0, data.size()}, ibsta;
    }
    int ibtmo(int, int) override { return done(); }
    int ibask(int, int, int* v) override { return *v = value, done(); }
    int ibwait(int, int) override { return m_status = {CMPL | RQS, 0, 0}, CMPL | RQS; }
    int ibsre(int, int) override { return done(); }
    void SendIFC(int) override { done(); }
    void FindLstn(int, const QVector<short>&, QVector<short>&, int) override { done(); }
    GpibStatus status() const override { return m_status; }

private:
    int done() { return m_status = next, next.ibsta; }
    GpibStatus m_status;
};

QString messageLine(MsgIcon icon, const QString& title, const QString& text, MsgButtons buttons)
{
    return QStringLiteral("message %1 %2 \"%3\" \"%4\"")
        .arg(int(icon))
        .arg(int(buttons))
        .arg(title, QString(text).replace(u'\n', QStringLiteral("\\n")));
}

// The instrument layer on the simulated bench (or a stub), every driver call traced.
struct Rig {
    explicit Rig(const QString& words = {}, GpibDriver* stub = nullptr)
        : bench(clock, BenchScenario::parse(words).value()), bus(stub ? *stub : bench, clock, trace)
    {
        trace.open(QIODevice::WriteOnly);
    }

    // A descriptor at the analyser, opened behind the trace's back.
    qint16 analyser() { return qint16(bench.ibdev(0, 18, 0, T10s, 1, 0)); }
    void init() { io.DefaultTimeout = T3s, io.GpibInit(1); } // as at start-up
    qint16 find(QString query, QString expected) { return io.FindDevice(query, expected); }
    int askTimeout(int ud) { return bench.ibask(ud, IbaTMO, &ud), ud; }
    QStringList shown() const
    {
        QStringList lines;
        for (const ScriptedDialogs::Shown& s : dialogs.shown)
            lines << messageLine(s.icon, s.title, s.text, s.buttons);
        return lines;
    }

    // Trace lines of operation op (all if empty), without the time column unless timed.
    QStringList calls(const QString& op = {}, bool timed = false) const
    {
        QStringList lines;
        for (const QString& line : QString::fromLatin1(trace.data()).split(u'\n')) {
            const QString call = line.section(u' ', 1);
            if (!call.isEmpty() && (op.isEmpty() || call.section(u' ', 0, 0) == op))
                lines << (timed ? line : call);
        }
        return lines;
    }
    void clearTrace() { trace.close(), trace.open(QIODevice::WriteOnly); }
    // In a child process: the calls traced since the last report, then text.
    void log(const QString& text)
    {
        const QStringList all = calls();
        for (; logged < all.size(); ++logged)
            report(all[logged]);
        report(text);
    }

    VirtualClock clock;
    SimulatedBench bench;
    QBuffer trace;
    TracingDriver bus;
    ScriptedDialogs dialogs;
    InstrumentIO io{bus, clock, dialogs};
    std::function<void(const QString&)> report;
    qsizetype logged = 0;
};

using Routine = std::function<void(Rig&)>;

// Runs body on a fresh bench in a child process, where the program may end, and returns
// what it showed and said (bus calls apart) and how many bus calls it made.
struct Ending {
    QStringList said;
    int busCalls;
    int exitStatus;
};
Ending inChild(const QString& scenario, const Routine& body, MsgResult answer = MsgResult::Ok)
{
    const ChildOutcome outcome = runInChild([&](std::function<void(const QString&)> report) {
        Rig rig(scenario);
        rig.report = report;
        rig.dialogs.onMessage = [&](const ScriptedDialogs::Shown& s) -> std::optional<MsgResult> {
            rig.log(messageLine(s.icon, s.title, s.text, s.buttons));
            return answer;
        };
        body(rig);
        rig.log(QStringLiteral("returned"));
    });
    const QStringList lines = outcome.log.split(u'\n', Qt::SkipEmptyParts);
    const QRegularExpression busCall(QStringLiteral(" ibsta=0x"));
    QStringList said = lines;
    said.removeIf([&](const QString& line) { return line.contains(busCall); });
    return {said, int(lines.size() - said.size()), outcome.exitStatus};
}

} // namespace

Q_DECLARE_METATYPE(Routine)

class TestInstrumentIO : public QObject {
    Q_OBJECT

private slots:
    // NumberText and LeadingNumber

    void numberText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("single"); // 32 bits: 7 digits, else 15
        QTest::addColumn<QString>("text");
        QTest::newRow("fraction") << 12.5 << false << " 12.5";
        QTest::newRow("half") << 0.5 << false << " .5";
        QTest::newRow("minus half") << -0.5 << false << "-.5";
        QTest::newRow("15 digits") << 1.0 / 3 << false << " .333333333333333";
        QTest::newRow("15 whole digits") << 123456789012345.0 << false << " 123456789012345";
        QTest::newRow("rounded to 15") << 1.0000000000000002 << false << " 1";
        QTest::newRow("1E+16") << 1e16 << false << " 1E+16";
        QTest::newRow("ten thousandth") << 0.0001 << false << " .0001";
        QTest::newRow("small mantissa") << -2.5e-7 << false << "-2.5E-07";
        QTest::newRow("32: tenth, not its binary tail") << 0.1 << true << " .1";
        QTest::newRow("32: 7 digits") << 1.0 / 3 << true << " .3333333";
        QTest::newRow("32: 7 whole digits") << 1234567.0 << true << " 1234567";
        QTest::newRow("32: 8 whole digits") << 12345678.0 << true << " 1.234568E+07";
        QTest::newRow("32: 1E-05") << 1e-5 << true << " 1E-05";
    }
    void numberText()
    {
        QFETCH(double, value);
        QFETCH(bool, single);
        QFETCH(QString, text);
        QCOMPARE(single ? NumberText(float(value)) : NumberText(value), text);
    }

    void leadingNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("number");
        QTest::newRow("plain") << "-23.45" << -23.45;
        QTest::newRow("exponent E") << "-2.345E1" << -23.45;
        QTest::newRow("exponent D") << "1.5D+3" << 1500.0;
        QTest::newRow("header first") << "MAMPL -23.45" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("blanks tabs LF anywhere") << " \t-2 3\n.4\t5 " << -23.45;
        QTest::newRow("plus sign") << "+7" << 7.0;
        QTest::newRow("negative no leading zero") << "-.5" << -0.5;
        QTest::newRow("stops at unit") << "12.5dBm" << 12.5;
        QTest::newRow("stops at second point") << "1.2.3" << 1.2;
        QTest::newRow("exponent sign without digits") << "1E+x" << 1.0;
        QTest::newRow("two signs") << "--5" << 0.0;
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
        QTest::newRow("minus one") << -1 << -1;
    }
    void narrowsToSignedLow16Bits()
    {
        QFETCH(int, raw);
        QFETCH(int, narrowed);
        StubDriver stub;
        stub.value = raw;
        stub.next.ibcntl = raw;
        GpibBinding bus(stub);
        QCOMPARE(bus.ibdev(0, 1, 0, T1s, 1, 0), narrowed);
        QCOMPARE(bus.status().ibcnt, narrowed);
        QCOMPARE(bus.status().ibcntl, raw);
        QCOMPARE(bus.ibask(1, IbaTMO), narrowed);
        stub.next = {ERR | TIMO, EABO, 0};
        bus.ibwrt(1, QStringLiteral("X"));
        QCOMPARE(bus.status().ibsta, qint16(0xC000));
    }

    // GpibCheckError

    void errorDialogForEveryCode_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        const auto row = [](int code, const char* text) {
            QTest::addRow("%d", code) << code << text;
        };
        row(0, "Operating system error.");
        row(1, "Function requires GPIB board to be CIC.");
        row(2, "No listener on write function.");
        row(3, "GPIB board not addressed correctly.");
        row(4, "Invalid argument to function call.");
        row(5, "GPIB board not system controller as required.");
        row(6, "I/O operation aborted - timeout.");
        row(7, "Non-existent GPIB board.");
        row(10, "Asynchronous I/O in progress.");
        row(11, "No capability for operation.");
        row(12, "File system error.");
        row(14, "GPIB bus eror.");
        row(15, "Serial poll status queue owerflow.");
        row(16, "SRQ stuck in on position.");
        row(20, "Table problem.");
        for (int code : {-1, 8, 9, 13, 17, 21})
            row(code, "Unknown error.");
    }
    void errorDialogForEveryCode()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        StubDriver stub;
        Rig rig({}, &stub);
        stub.next = {ERR | CMPL, code, 0};
        rig.io.GpibWrite(1, QStringLiteral("X"));
        QCOMPARE(rig.shown(), QStringList{messageLine(
                                  MsgIcon::Exclamation, QStringLiteral("GPIB ERROR # %1").arg(code),
                                  text + ContinueOrCancel, MsgButtons::OkCancel)});
        QVERIFY(rig.io.IoErrorFlag);
    }

    // GpibRead

    void readTrimsAndJoinsChunks_data()
    {
        QTest::addColumn<QByteArrayList>("chunks"); // the driver flags END on the last
        QTest::addColumn<QString>("answer");
        const auto row = [](const char* name, const QByteArrayList& chunks, const QString& answer) {
            QTest::newRow(name) << chunks << answer;
        };
        row("CR LF", {"-23.45\r\n"}, "-23.45");
        row("LF", {"-23.45\n"}, "-23.45");
        row("junk after LF", {"-23.45\n\xff"}, "-23.45");
        row("junk after CR LF", {"abc\r\nX"}, "abc");
        row("at most two line ends", {"abc\r\n\r\n"}, "abc\r");
        row("three CRs", {"abc\r\r\r"}, "abc");
        row("inner line ends kept", {"a\nb\nc"}, "a\nb");
        row("blanks around", {"  abc  "}, "abc");
        row("chunks trimmed each", {' ' + QByteArray(510, 'a') + ' ', "  b\r\n"},
            QString(510, u'a') + u'b');
    }
    void readTrimsAndJoinsChunks()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QString, answer);
        StubDriver stub;
        Rig rig({}, &stub);
        for (qsizetype i = 0; i < chunks.size(); ++i)
            stub.reads << std::pair{chunks[i], i + 1 < chunks.size() ? CMPL : CMPL | END};
        QCOMPARE(rig.io.GpibRead(1), answer);
        // Each read goes into 512 blanks: what the driver did not fill is trimmed as blanks.
        QCOMPARE(stub.buffersGiven, QList<QByteArray>(chunks.size(), QByteArray(512, ' ')));
        QVERIFY(rig.dialogs.shown.isEmpty());
    }

    void failedReadShowsIoError()
    {
        // A driver error that is neither time-out nor END; a second read would end with END.
        StubDriver stub;
        Rig stubbed({}, &stub);
        stub.reads = {{"12", ERR | CMPL}};
        QCOMPARE(stubbed.io.GpibRead(1), QString());
        QCOMPARE(stubbed.calls(QStringLiteral("ibrd")).size(), 1);

        Rig rig(QStringLiteral("timeout=MAMPL?"));
        const qint16 ud = rig.analyser();
        QCOMPARE(rig.io.GpibQuery(ud, QStringLiteral("MAMPL?")), QString());
        // The pause after the write, then the 3 s read limit.
        QCOMPARE(rig.calls({}, true),
                 QStringList({"0.000 ibwrt ud=1 \"MAMPL?\" ibsta=0x100 iberr=0 ibcnt=6",
                              "0.100 ibask ud=1 option=3 value=13 ibsta=0x100 iberr=0 ibcnt=0",
                              "0.100 ibtmo ud=1 tmo=12 ibsta=0x100 iberr=0 ibcnt=0",
                              "0.100 ibwait ud=1 mask=0x4100 ibsta=0x100 iberr=0 ibcnt=0",
                              "3.100 ibrd ud=1 \"\" ibsta=0xc000 iberr=6 ibcnt=0",
                              "3.100 ibtmo ud=1 tmo=13 ibsta=0x100 iberr=0 ibcnt=0"}));
        const QString ioError =
            messageLine(MsgIcon::Exclamation, QStringLiteral("I/O Error"),
                        QStringLiteral("Read cycle failed\nOperation aborted."), MsgButtons::Ok);
        QCOMPARE(rig.shown(), QStringList{ioError});
        QCOMPARE(stubbed.shown(), QStringList{ioError});
    }

    // GpibQuery

    void queryAfterFailedWriteReadsNothing()
    {
        Rig rig(QStringLiteral("write-error=MAMPL?@1"));
        const qint16 ud = rig.analyser();
        QCOMPARE(rig.io.GpibQuery(ud, QStringLiteral("MAMPL?")), QString());
        QCOMPARE(rig.calls(), QStringList{"ibwrt ud=1 \"MAMPL?\" ibsta=0x8000 iberr=2 ibcnt=0"});
        QVERIFY(qAbs(rig.clock.now() - 0.1) < 1e-6); // the pause, no time-out wait
        QCOMPARE(rig.dialogs.titles(), QStringList{QStringLiteral("GPIB ERROR # 2")});
        QVERIFY(rig.io.IoErrorFlag);
        // The next write clears the flag and the query reads again.
        QVERIFY(!rig.io.GpibQuery(ud, QStringLiteral("MAMPL?")).isEmpty());
        QVERIFY(!rig.io.IoErrorFlag);
    }

    // GpibWaitSrq

    void pollsOffStaleRequests_data()
    {
        QTest::addColumn<QString>("scenario"); // empty: a stub whose request never goes away
        QTest::addColumn<bool>("poll");        // a negative descriptor waits without polling
        QTest::addColumn<int>("polls");
        QTest::newRow("answers 0 at once") << "2712" << true << 1;
        QTest::newRow("three stale requests") << "stale-srq" << true << 4;
        QTest::newRow("negative descriptor") << "stale-srq" << false << 0;
        QTest::newRow("at most 20 polls") << "" << true << 20;
    }
    void pollsOffStaleRequests()
    {
        QFETCH(QString, scenario);
        QFETCH(bool, poll);
        QFETCH(int, polls);
        StubDriver stub;
        stub.value = 0x41;
        Rig rig(scenario, scenario.isEmpty() ? &stub : nullptr);
        const qint16 ud = rig.analyser();
        rig.io.GpibWrite(ud, QStringLiteral("SIG"));
        rig.io.GpibWaitSrq(poll ? ud : qint16(-ud));
        QCOMPARE(rig.calls(QStringLiteral("ibrsp")).size(), polls);
        QVERIFY(!rig.calls(QStringLiteral("ibwait")).isEmpty());
        QVERIFY(rig.dialogs.shown.isEmpty());
        QCOMPARE(rig.askTimeout(ud), T10s);
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
        rig.io.GpibWaitSrq(ud);
        QVERIFY2(rig.clock.now() >= 30 && rig.clock.now() < 30.1,
                 qPrintable(QString::number(rig.clock.now())));
        QVERIFY(posted);
        QCOMPARE(scheduledAt, 10.0); // the window ran while it waited
        QCOMPARE(rig.shown(),
                 QStringList{messageLine(MsgIcon::Exclamation, QStringLiteral("GPIB ERROR # 6"),
                                         "I/O operation aborted - timeout." + ContinueOrCancel,
                                         MsgButtons::OkCancel)});
        QVERIFY(rig.io.IoErrorFlag);
        QCOMPARE(rig.askTimeout(ud), T10s);
    }

    // FindDevice

    void findDeviceModifiers_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("bareExpected");
        QTest::addColumn<bool>("claimed");
        QTest::addColumn<bool>("clears");
        QTest::addColumn<double>("pause"); // between the serial poll and the query
        QTest::addColumn<int>("messages");
        const auto row = [](const char* name, const char* query, const QString& expected,
                            const QString& bareExpected, bool claimed, bool clears, double pause,
                            int messages) {
            QTest::newRow(name) << QString::fromLatin1(query) << expected << bareExpected << claimed
                                << clears << pause << messages;
        };
        row("plain", "ID?", "2712", "2712", true, true, 0, 0);
        row("any case, anywhere", "ID?", "tracking gen", "tracking gen", true, true, 0, 0);
        row("no clear", "!ID?", "2712", "2712", true, false, 0, 0);
        row("settle", "ID?", "?2712", "2712", true, true, 0.1, 0);
        row("silent settle", "ID?", "!?2712", "2712", true, true, 0.1, 0);
        row("silent miss", "ID?", "!2710", "2710", false, true, 0, 0);
        row("exact", "ID?", Analyser2712 + u'!', Analyser2712, true, true, 0, 0);
        row("exact is no substring", "ID?", "!2712!", "2712", false, true, 0, 0);
        row("exact minds case", "ID?", u'!' + Analyser2712.toLower() + u'!', Analyser2712.toLower(),
            false, true, 0, 0);
        row("miss, continue", "ID?!", "2710", "2710", false, true, 0, 1);
        row("all of them", "!ID?!", "!?2712!", "2712", false, false, 0.1, 0);
    }
    void findDeviceModifiers()
    {
        QFETCH(QString, query);
        QFETCH(QString, expected);
        QFETCH(QString, bareExpected);
        QFETCH(bool, claimed);
        QFETCH(bool, clears);
        QFETCH(double, pause);
        QFETCH(int, messages);
        Rig rig;
        rig.init();
        rig.clearTrace();
        const qint16 ud = rig.io.FindDevice(query, expected);
        QCOMPARE(query, QStringLiteral("ID?"));
        QCOMPARE(expected, bareExpected);
        QCOMPARE(ud != 0, claimed);
        QCOMPARE(rig.io.FreeListeners[0], qint16(claimed ? 0 : 1));
        QCOMPARE(rig.io.ProbeDevice.reuse, !claimed);
        QCOMPARE(rig.calls(QStringLiteral("ibclr")).isEmpty(), !clears);
        const QStringList timed = rig.calls({}, true);
        const qsizetype poll = timed.indexOf(QRegularExpression(QStringLiteral("\\S+ ibrsp .*")));
        const auto at = [&](qsizetype i) { return timed.at(i).section(u' ', 0, 0).toDouble(); };
        QVERIFY(timed.at(poll + 1).contains(QStringLiteral(" ibwrt ud=1 \"ID?\" ")));
        QVERIFY(qAbs(at(poll + 1) - at(poll) - pause) < 0.002);
        QCOMPARE(rig.dialogs.shown.size(), messages);
        if (messages)
            QVERIFY(rig.dialogs.shown[0].text.endsWith(". Program will continue."));
        if (claimed) {
            QVERIFY(rig.calls().last().startsWith(QStringLiteral("ibtmo ud=1 tmo=12 ")));
            QCOMPARE(rig.io.GpibQuery(ud, QStringLiteral("ID?")), Analyser2712);
        }
    }

    void claimsInListenerOrderReusingAFailedProbe()
    {
        Rig rig(QStringLiteral("others-first"));
        rig.init();
        rig.clearTrace();
        QVERIFY(rig.find(QStringLiteral("ID?"), QStringLiteral("simulated")) != 0);
        QCOMPARE(rig.find(QStringLiteral("ID?"), QStringLiteral("!2710")), qint16(0));
        QVERIFY(rig.find(QStringLiteral("ID?"), QStringLiteral("2712")) != 0);
        QStringList probes;
        for (const QString& call : rig.calls().filter(QRegularExpression("^ib(dev|pad) ")))
            probes << call.section(u' ', 0, 2);
        QCOMPARE(probes, QStringList({"ibdev ud=1 pad=1", "ibpad ud=1 pad=3", "ibdev ud=2 pad=1",
                                      "ibpad ud=2 pad=5", "ibpad ud=2 pad=18", "ibpad ud=2 pad=5",
                                      "ibpad ud=2 pad=18"}));
        QCOMPARE(rig.io.FreeListeners, (std::array<qint16, 15>{1, 0, 5}));
    }

    // GpibInit

    void fourteenListenersFillSlots()
    {
        Rig rig(QStringLiteral("14-listeners"));
        rig.init();
        QVERIFY(rig.dialogs.shown.isEmpty());
        std::array<qint16, 15> expected{14};
        const QVector<int> addresses = rig.bench.instrumentAddresses();
        std::copy(addresses.begin(), addresses.end(), expected.begin() + 1);
        QCOMPARE(rig.io.Listeners, expected);
        QCOMPARE(rig.io.FreeListeners, expected);
        QVERIFY(rig.find(QStringLiteral("ID?"), QStringLiteral("2712")) != 0);
        QCOMPARE(rig.io.FreeListeners[0], qint16(13));
    }

    // Runs in a child process, where the program may end: what it showed and said, its exit
    // status and how many bus calls it made.

    void childRuns_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<Routine>("routine");
        QTest::addColumn<MsgResult>("answer");
        QTest::addColumn<QStringList>("said");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<int>("busCalls"); // -1: not counted
        const auto ends = [](const char* name, const char* scenario, const Routine& routine,
                             const QString& message, int busCalls,
                             MsgResult answer = MsgResult::Ok) {
            QTest::newRow(name) << QString::fromLatin1(scenario) << routine << answer
                                << QStringList{message} << 1 << busCalls;
        };
        const QString notConfigured =
            messageLine(MsgIcon::Critical, QStringLiteral("Device Error"),
                        QStringLiteral("Device not configured.\n\nCorrect problem and restart."),
                        MsgButtons::Ok);
        const QString mampl = QStringLiteral("MAMPL?");
        ends(
            "GpibWrite, descriptor 0", "", [=](Rig& rig) { rig.io.GpibWrite(0, mampl); },
            notConfigured, 0);
        ends(
            "GpibRead, descriptor 0", "", [](Rig& rig) { rig.io.GpibRead(0); }, notConfigured, 0);
        ends(
            "GpibQuery, descriptor 0", "", [=](Rig& rig) { rig.io.GpibQuery(0, mampl); },
            notConfigured, 0);
        ends(
            "GpibWaitSrq, descriptor 0", "", [](Rig& rig) { rig.io.GpibWaitSrq(0); }, notConfigured,
            0);
        ends(
            "Cancel in the error dialog", "write-error=REFLVL",
            [](Rig& rig) { rig.io.GpibQuery(rig.analyser(), "REFLVL?"); },
            messageLine(MsgIcon::Exclamation, QStringLiteral("GPIB ERROR # 2"),
                        "No listener on write function." + ContinueOrCancel, MsgButtons::OkCancel),
            1, MsgResult::Cancel);
        // Answers come newest first.
        ends(
            "FindDevice miss without \"!\"", "others-first",
            [](Rig& rig) { rig.init(), rig.find("ID?", "2710"); },
            messageLine(MsgIcon::Critical,
                        QStringLiteral("Expected Id-response from device not found") +
                            QString(40, u' '),
                        "ID Query: ID?\n\nExpected Response: 2710\n\nReceived Response(s):\n" +
                            Analyser2712 +
                            "\nSIMULATED,POWER SUPPLY 6030,V1.3\nSIMULATED,COUNTER "
                            "5370,V2.10\n\nCorrect the problem and restart. Program will end.",
                        MsgButtons::Ok),
            19);
        QTest::newRow("identical analysers, claimed in turn")
            << "twin-analysers" << Routine([](Rig& rig) {
                   rig.init();
                   for (int search = 0; search < 2; ++search) {
                       rig.find("ID?", "2712");
                       rig.log("claimed " + rig.calls("ibpad").last().section(u' ', 1, 2));
                   }
                   if (rig.find("ID?", "!2712") == 0)
                       rig.log(QStringLiteral("silent 0"));
                   rig.find("ID?", "2712");
               })
            << MsgResult::Ok
            << QStringList{"claimed ud=1 pad=18", "claimed ud=2 pad=19", "silent 0",
                           messageLine(MsgIcon::Critical, "Not enough devices on the bus",
                                       "Can't find more than 2 device(s).\n\nCorrect "
                                       "problem and restart.",
                                       MsgButtons::Ok)}
            << 1 << -1;

        // GpibInit: the bus set-up alone, then the message its mode asks for.
        const auto init = [](const char* name, const char* scenario, int mode, int code,
                             const QString& text) {
            QStringList said;
            if (!text.isEmpty())
                said << messageLine(MsgIcon::Critical,
                                    QStringLiteral("Initialization Error %1").arg(code), text,
                                    MsgButtons::Ok);
            if (mode != 1)
                said << QStringLiteral("listeners 0") << QStringLiteral("returned");
            QTest::newRow(name) << QString::fromLatin1(scenario) << Routine([mode](Rig& rig) {
                rig.io.GpibInit(qint16(mode));
                rig.log(QStringLiteral("listeners %1").arg(rig.io.Listeners[0]));
            }) << MsgResult::Ok << said
                                << (mode == 1 ? 1 : 0) << 3;
        };
        const QString restart = QStringLiteral("\n\nCorrect problem and restart.");
        const QString tooMany = "Too many listeners found.\nMax 14 listeners allowed." + restart;
        init("GpibInit, empty bus, 1", "no-listener", 1, 14, "No listeners found." + restart);
        init("GpibInit, empty bus, -1", "no-listener", -1, 14, {});
        init("GpibInit, empty bus, 0", "no-listener", 0, 14, "No listeners found.");
        init("GpibInit, 15 listeners, 1", "15-listeners", 1, 20, tooMany);
        init("GpibInit, 15 listeners, 0", "15-listeners", 0, 20, tooMany);
        init("GpibInit, no board, 1", "no-board", 1, 7, restart);
        init("GpibInit, no board, -1", "no-board", -1, 7, restart);
        init("GpibInit, no board, 2", "no-board", 2, 7, restart);
    }
    void childRuns()
    {
        QFETCH(QString, scenario);
        QFETCH(Routine, routine);
        QFETCH(MsgResult, answer);
        QFETCH(QStringList, said);
        QFETCH(int, exitStatus);
        QFETCH(int, busCalls);
        const Ending ending = inChild(scenario, routine, answer);
        QCOMPARE(ending.said, said);
        QCOMPARE(ending.exitStatus, exitStatus);
        if (busCalls >= 0)
            QCOMPARE(ending.busCalls, busCalls);
    }
};

QTEST_GUILESS_MAIN(TestInstrumentIO)
#include "tst_instrumentio.moc"
