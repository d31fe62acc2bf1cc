#include "ChildProcess.h"
#include "ScriptedDialogs.h"
#include "base/Clock.h"
#include "gpib/InstrumentIO.h"
#include "base/NumberText.h"
#include "gpib/TracingDriver.h"
#include "sim/SimulatedBench.h"

#include <QBuffer>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <clocale>

using namespace Ni488;

namespace {

const QString Analyser2712 =
    QStringLiteral("ID SIMULATED,2712,V1.04,OPTIONS:TRACKING GEN,NB FILTER");

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

// What GpibCheckError shows for a driver error.
QString gpibError(int code, const QString& text)
{
    return messageLine(MsgIcon::Exclamation, QStringLiteral("GPIB ERROR # %1").arg(code),
                       text + "\nSelect OK to continue or Cancel to terminate program.",
                       MsgButtons::OkCancel);
}

// The instrument layer on the simulated bench (or a stub), every driver call traced.
struct Rig {
    explicit Rig(const QString& words = {}, GpibDriver* stub = nullptr)
        : bench(clock, BenchScenario::parse(words).value()), bus(stub ? *stub : bench, clock, trace)
    {
        trace.open(QIODevice::WriteOnly);
        dialogs.onMessage = [this](const ScriptedDialogs::Shown& s) {
            log(messageLine(s.icon, s.title, s.text, s.buttons));
            return std::optional<MsgResult>();
        };
    }

    // A descriptor at the analyser, opened behind the trace's back.
    qint16 analyser() { return qint16(bench.ibdev(0, 18, 0, T10s, 1, 0)); }
    void init() { io.DefaultTimeout = T3s, io.GpibInit(1); } // as at start-up
    qint16 find(QString query, QString expected) { return io.FindDevice(query, expected); }
    int askTimeout(int ud) { return bench.ibask(ud, IbaTMO, &ud), ud; }

    // The trace lines: time, operation, arguments, outcome.
    QStringList calls() const
    {
        return QString::fromLatin1(trace.data()).split(u'\n', Qt::SkipEmptyParts);
    }
    // The operations alone, with the time the clock moved between two of them.
    QString ops() const
    {
        QString ops;
        QString last;
        for (const QString& line : calls()) {
            const QString at = line.section(u' ', 0, 0);
            if (!last.isEmpty() && at != last)
                ops += QString::number(at.toDouble() - last.toDouble()) + QStringLiteral("s ");
            ops += line.section(u' ', 1, 1) + u' ';
            last = at;
        }
        return ops.trimmed();
    }
    // Each message shown, and what a routine says; in a child process also reported, after
    // the number of bus calls so far.
    void log(const QString& text)
    {
        said << text;
        if (report)
            report(QString::number(calls().size()) + u' ' + text);
    }

    VirtualClock clock;
    SimulatedBench bench;
    QBuffer trace;
    TracingDriver bus;
    ScriptedDialogs dialogs;
    InstrumentIO io{bus, clock, dialogs};
    QStringList said;
    std::function<void(const QString&)> report;
};

using Routine = std::function<void(Rig&)>;

} // namespace

Q_DECLARE_METATYPE(Routine)

class TestInstrumentIO : public QObject {
    Q_OBJECT

private slots:
    // Every check here runs under a locale whose decimal point is a comma: an operator's
    // environment sets the C locale, and the analyser takes points only.
    void initTestCase()
    {
        static QTemporaryDir locales;
        const QString path = locales.filePath(QStringLiteral("de_DE.UTF-8"));
        const int made =
            QProcess::execute(QStringLiteral("localedef"), {"-i", "de_DE", "-f", "UTF-8", path});
        QVERIFY2(made == 0, "localedef failed: the tests need the locales package");
        qputenv("LOCPATH", QFile::encodeName(locales.path()));
        QVERIFY(std::setlocale(LC_ALL, "de_DE.UTF-8"));
        QCOMPARE(*std::localeconv()->decimal_point, ',');
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }

    // NumberText with 15 significant digits, or 7 for 32-bit values; LeadingNumber (0 digits)
    // reads the text back.
    void numbers_data()
    {
        QTest::addColumn<int>("digits");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("fraction") << 15 << 12.5 << " 12.5";
        QTest::newRow("15 digits") << 15 << 1.0 / 3 << " .333333333333333";
        QTest::newRow("ten thousandth") << 15 << 0.0001 << " .0001";
        QTest::newRow("small mantissa") << 15 << -2.5e-7 << "-2.5E-07";
        QTest::newRow("7 digits") << 7 << 1.0 / 3 << " .3333333";
        QTest::newRow("7 whole digits") << 7 << 1234000.0 << " 1234000";
        QTest::newRow("8 whole digits") << 7 << 12345678.0 << " 1.234568E+07";
        QTest::newRow("1E-05") << 7 << 1e-5 << " 1E-05";
        QTest::newRow("read exponent E") << 0 << -23.45 << "-2.345E1";
        QTest::newRow("read exponent D") << 0 << 1500.0 << "15D+2";
        QTest::newRow("read header first") << 0 << 0.0 << "MAMPL -23.45";
        QTest::newRow("read blanks tabs LF anywhere") << 0 << -23.45 << " \t-2 3\n.4\t5 ";
        QTest::newRow("read plus sign") << 0 << 7.0 << "+7";
        QTest::newRow("read point first, up to the unit") << 0 << 0.5 << ".5dBm";
    }
    void numbers()
    {
        QFETCH(int, digits);
        QFETCH(double, value);
        QFETCH(QString, text);
        if (digits == 0)
            QCOMPARE(LeadingNumber(text), value);
        else
            QCOMPARE(digits == 7 ? NumberText(float(value)) : NumberText(value), text);
    }

    // What the driver returns reaches the routines as 16-bit signed numbers.
    void narrowsToSignedLow16Bits()
    {
        StubDriver stub;
        stub.value = 0x1FFFE;
        stub.next.ibcntl = 0x1FFFE;
        GpibBinding bus(stub);
        QCOMPARE(bus.ibdev(0, 1, 0, T1s, 1, 0), qint16(-2));
        QCOMPARE(bus.status().ibcnt, qint16(-2));
        QCOMPARE(bus.status().ibcntl, 0x1FFFE);
        QCOMPARE(bus.ibask(1, IbaTMO), qint16(-2));
        stub.next = {ERR | TIMO, EABO, 0};
        bus.ibwrt(1, QStringLiteral("X"));
        QCOMPARE(bus.status().ibsta, qint16(0xC000));
    }

    // The words the operator reads for each code the driver reports, and for any other.
    void errorTexts()
    {
        QStringList texts;
        for (int code = -1; code <= 21; ++code)
            if (GpibErrorText(code) != u"Unknown error.")
                texts << QString::number(code) + u' ' + GpibErrorText(code);
        QCOMPARE(texts,
                 QStringList(
                     {"0 Operating system error.", "1 Function requires GPIB board to be CIC.",
                      "2 No listener on write function.", "3 GPIB board not addressed correctly.",
                      "4 Invalid argument to function call.",
                      "5 GPIB board not system controller as required.",
                      "6 I/O operation aborted - timeout.", "7 Non-existent GPIB board.",
                      "10 Asynchronous I/O in progress.", "11 No capability for operation.",
                      "12 File system error.", "14 GPIB bus eror.",
                      "15 Serial poll status queue owerflow.", "16 SRQ stuck in on position.",
                      "20 Table problem."}));
    }

    // GpibRead, from a driver that flags END on the last chunk or fails after it

    void readTrimsAndJoinsChunks_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<bool>("fails"); // with an error that is neither time-out nor END
        QTest::addColumn<QString>("answer");
        const auto row = [](const char* name, const QByteArrayList& chunks, const QString& answer,
                            bool fails = false) {
            QTest::newRow(name) << chunks << fails << answer;
        };
        row("CR LF", {"-23.45\r\n"}, "-23.45");
        row("LF", {"-23.45\n"}, "-23.45");
        row("junk after LF", {"-23.45\n\xff"}, "-23.45");
        row("at most two line ends", {"abc\r\n\r\n"}, "abc\r");
        row("chunks trimmed each", {' ' + QByteArray(510, 'a') + ' ', "  b\r\n"},
            QString(510, u'a') + u'b');
        row("error ends the read", {"12"}, {}, true);
    }
    void readTrimsAndJoinsChunks()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(bool, fails);
        QFETCH(QString, answer);
        StubDriver stub;
        Rig rig({}, &stub);
        for (const QByteArray& chunk : chunks)
            stub.reads << std::pair{chunk, CMPL};
        stub.reads.last().second = fails ? ERR | CMPL : CMPL | END;
        QCOMPARE(rig.io.GpibRead(1), answer);
        // Each read goes into 512 blanks: what the driver did not fill is trimmed as blanks.
        QCOMPARE(stub.buffersGiven, QList<QByteArray>(chunks.size(), QByteArray(512, ' ')));
        QCOMPARE(rig.dialogs.titles(), fails ? QStringList{"I/O Error"} : QStringList());
    }

    void readTimesOutAfter3s()
    {
        Rig rig(QStringLiteral("timeout=MAMPL?"));
        QCOMPARE(rig.io.GpibQuery(rig.analyser(), QStringLiteral("MAMPL?")), QString());
        // The pause after the write, the 3 s read limit, the descriptor's own limit back.
        QCOMPARE(rig.calls(),
                 QStringList({"0.000 ibwrt ud=1 \"MAMPL?\" ibsta=0x100 iberr=0 ibcnt=6",
                              "0.100 ibask ud=1 option=3 value=13 ibsta=0x100 iberr=0 ibcnt=0",
                              "0.100 ibtmo ud=1 tmo=12 ibsta=0x100 iberr=0 ibcnt=0",
                              "0.100 ibwait ud=1 mask=0x4100 ibsta=0x100 iberr=0 ibcnt=0",
                              "3.100 ibrd ud=1 \"\" ibsta=0xc000 iberr=6 ibcnt=0",
                              "3.100 ibtmo ud=1 tmo=13 ibsta=0x100 iberr=0 ibcnt=0"}));
        QCOMPARE(rig.said,
                 QStringList{messageLine(MsgIcon::Exclamation, "I/O Error",
                                         "Read cycle failed\nOperation aborted.", MsgButtons::Ok)});
    }

    void queryAfterFailedWriteReadsNothing()
    {
        Rig rig(QStringLiteral("write-error=MAMPL?@1"));
        const qint16 ud = rig.analyser();
        QCOMPARE(rig.io.GpibQuery(ud, QStringLiteral("MAMPL?")), QString());
        QCOMPARE(rig.calls(),
                 QStringList{"0.000 ibwrt ud=1 \"MAMPL?\" ibsta=0x8000 iberr=2 ibcnt=0"});
        QCOMPARE(rig.dialogs.titles(), QStringList{QStringLiteral("GPIB ERROR # 2")});
        QVERIFY(rig.io.IoErrorFlag);
        // The next write clears the flag and the query reads again.
        QVERIFY(!rig.io.GpibQuery(ud, QStringLiteral("MAMPL?")).isEmpty());
        QVERIFY(!rig.io.IoErrorFlag);
    }

    // GpibWaitSrq: serial polls take stale requests off, then a bounded wait for a new one.
    void waitsForServiceRequest_data()
    {
        QTest::addColumn<QString>("scenario"); // empty: a stub whose request never goes away
        QTest::addColumn<bool>("poll");        // a negative descriptor waits without polling
        QTest::addColumn<int>("polls");
        QTest::addColumn<double>("end"); // 0: at once
        QTest::newRow("three stale requests") << "stale-srq" << true << 4 << 0.0;
        QTest::newRow("negative descriptor") << "stale-srq" << false << 0 << 0.0;
        QTest::newRow("at most 20 polls") << "" << true << 20 << 0.0;
        QTest::newRow("no request in 30 s") << "no-srq" << true << 1 << 30.0;
    }
    void waitsForServiceRequest()
    {
        QFETCH(QString, scenario);
        QFETCH(bool, poll);
        QFETCH(int, polls);
        QFETCH(double, end);
        StubDriver stub;
        stub.value = 0x41;
        Rig rig(scenario, scenario.isEmpty() ? &stub : nullptr);
        const qint16 ud = rig.analyser();
        rig.io.GpibWrite(ud, QStringLiteral("SIG"));
        bool posted = false;
        double scheduledAt = -1;
        QTimer::singleShot(0, [&] { posted = true; });
        rig.clock.schedule(10, [&] { scheduledAt = rig.clock.now(); });
        rig.io.GpibWaitSrq(poll ? ud : qint16(-ud));
        QCOMPARE(rig.ops().count(QStringLiteral("ibrsp")), polls);
        QVERIFY(rig.ops().endsWith(QStringLiteral(" ibwait ibtmo")));
        QCOMPARE(rig.askTimeout(ud), T10s); // the descriptor's own limit back
        QVERIFY2(rig.clock.now() >= end && rig.clock.now() < std::max(end, 1.0) + 0.1,
                 qPrintable(QString::number(rig.clock.now())));
        QCOMPARE(rig.said, end > 0 ? QStringList{gpibError(6, "I/O operation aborted - timeout.")}
                                   : QStringList());
        QCOMPARE(rig.io.IoErrorFlag, end > 0);
        if (end > 0) { // the window ran while it waited
            QVERIFY(posted);
            QCOMPARE(scheduledAt, 10.0);
        }
    }

    // FindDevice, on a bus with the analyser alone

    void findDeviceModifiers_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("ops"); // after opening the probe and addressing it
        QTest::addColumn<bool>("message");
        const auto row = [](const char* name, const char* query, const QString& expected,
                            const char* ops, bool message = false) {
            QTest::newRow(name) << QString::fromLatin1(query) << expected << ops << message;
        };
        row("any case, anywhere", "ID?", "tracking gen", "ibclr ibrsp ibwrt ibrd ibtmo");
        row("no clear", "!ID?", "2712", "ibrsp ibwrt ibrd ibtmo");
        row("silent settle", "ID?", "!?2712", "ibclr ibrsp 0.1s ibwrt ibrd ibtmo");
        row("exact", "ID?", Analyser2712 + u'!', "ibclr ibrsp ibwrt ibrd ibtmo");
        row("exact minds case", "ID?", u'!' + Analyser2712.toLower() + u'!',
            "ibclr ibrsp ibwrt ibrd");
        row("miss, continue", "ID?!", "2710", "ibclr ibrsp ibwrt ibrd", true);
        row("all of them", "!ID?!", "!?2712!", "ibrsp 0.1s ibwrt ibrd");
    }
    void findDeviceModifiers()
    {
        QFETCH(QString, query);
        QFETCH(QString, expected);
        QFETCH(QString, ops);
        QFETCH(bool, message);
        Rig rig(QStringLiteral("crlf")); // the answer's line end is no part of it
        rig.init();
        const qint16 ud = rig.io.FindDevice(query, expected);
        QCOMPARE(rig.ops(), "SendIFC ibsre FindLstn ibdev ibpad " + ops);
        const bool claimed = ops.endsWith(u"ibtmo");
        QCOMPARE(ud != 0, claimed);
        QCOMPARE(rig.io.FreeListeners[0], qint16(claimed ? 0 : 1));
        QCOMPARE(rig.dialogs.shown.size(), int(message));
        if (message)
            QVERIFY(rig.dialogs.shown[0].text.endsWith(". Program will continue."));
        if (claimed) {
            QCOMPARE(rig.askTimeout(ud), T3s);
            QCOMPARE(rig.io.GpibQuery(ud, QStringLiteral("ID?")), Analyser2712);
        }
    }

    void claimsInListenerOrderReusingAFailedProbe()
    {
        Rig rig(QStringLiteral("others-first"));
        rig.init();
        QVERIFY(rig.find(QStringLiteral("ID?"), QStringLiteral("simulated")) != 0);
        QCOMPARE(rig.find(QStringLiteral("ID?"), QStringLiteral("!2710")), qint16(0));
        QVERIFY(rig.find(QStringLiteral("ID?"), QStringLiteral("2712")) != 0);
        QStringList probes;
        for (const QString& call : rig.calls().filter(QRegularExpression(" ib(dev|pad) ")))
            probes << call.section(u' ', 1, 3);
        QCOMPARE(probes, QStringList({"ibdev ud=1 pad=1", "ibpad ud=1 pad=3", "ibdev ud=2 pad=1",
                                      "ibpad ud=2 pad=5", "ibpad ud=2 pad=18", "ibpad ud=2 pad=5",
                                      "ibpad ud=2 pad=18"}));
        QCOMPARE(rig.io.FreeListeners, (std::array<qint16, 15>{1, 0, 5}));
    }

    // As many instruments as the tables hold, the analyser last.
    void fourteenListenersFillSlots()
    {
        Rig rig(QStringLiteral("14-listeners"));
        rig.init();
        const std::array<qint16, 15> expected{14, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 18};
        QCOMPARE(rig.io.Listeners, expected);
        QCOMPARE(rig.io.FreeListeners, expected);
        QVERIFY(rig.said.isEmpty());
    }

    // In a child process, where the program may end: each message shown and line said after
    // the number of bus calls made so far; "returned" if the routine came back.
    void childRuns_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<Routine>("routine");
        QTest::addColumn<QStringList>("said");
        const auto row = [](const char* name, const char* scenario, const Routine& routine,
                            const QStringList& said) {
            QTest::newRow(name) << QString::fromLatin1(scenario) << routine << said;
        };
        const auto fatal = [](int calls, const QString& title, const QString& text) {
            return QString::number(calls) + u' ' +
                   messageLine(MsgIcon::Critical, title, text, MsgButtons::Ok);
        };
        const QString restart = QStringLiteral("\n\nCorrect problem and restart.");
        const QString notConfigured = fatal(0, "Device Error", "Device not configured." + restart);
        row("GpibWrite, descriptor 0", "", [](Rig& rig) { rig.io.GpibWrite(0, "SIG"); },
            {notConfigured});
        row("GpibRead, descriptor 0", "", [](Rig& rig) { rig.io.GpibRead(0); }, {notConfigured});
        row("GpibWaitSrq, descriptor 0", "", [](Rig& rig) { rig.io.GpibWaitSrq(0); },
            {notConfigured});
        row("Cancel in the error dialog", "write-error=SIG",
            [](Rig& rig) {
                rig.dialogs.answer({MsgResult::Cancel});
                rig.io.GpibWrite(rig.analyser(), "SIG");
            },
            {"1 " + gpibError(2, "No listener on write function.")});
        // Answers come newest first.
        row("FindDevice miss without \"!\"", "others-first",
            [](Rig& rig) { rig.init(), rig.find("ID?", "2710"); },
            {fatal(19, "Expected Id-response from device not found" + QString(40, u' '),
                   "ID Query: ID?\n\nExpected Response: 2710\n\nReceived Response(s):\n" +
                       Analyser2712 +
                       "\nSIMULATED,POWER SUPPLY 6030,V1.3\nSIMULATED,COUNTER 5370,V2.10\n\n"
                       "Correct the problem and restart. Program will end.")});
        // The probe opened for the silent search serves the next one: no bus call between.
        row("every device claimed", "",
            [](Rig& rig) {
                rig.init();
                rig.find("ID?", "2712");
                rig.log(QStringLiteral("silent %1").arg(rig.find("ID?", "!2712")));
                rig.find("ID?", "2712");
            },
            {"11 silent 0", fatal(11, "Not enough devices on the bus",
                                  "Can't find more than 1 device(s)." + restart)});

        // GpibInit: the three set-up calls, then the message its mode asks for.
        const auto init = [&](const char* name, const char* scenario, int mode, int code,
                              const QString& text) {
            QStringList said;
            if (!text.isEmpty())
                said << fatal(3, QStringLiteral("Initialization Error %1").arg(code), text);
            if (mode != 1)
                said << QStringLiteral("3 returned");
            row(
                name, scenario, [mode](Rig& rig) { rig.io.GpibInit(qint16(mode)); }, said);
        };
        init("GpibInit, empty bus, 1", "no-listener", 1, 14, "No listeners found." + restart);
        init("GpibInit, empty bus, -1", "no-listener", -1, 14, {});
        init("GpibInit, empty bus, 0", "no-listener", 0, 14, "No listeners found.");
        init("GpibInit, 15 listeners, 0", "15-listeners", 0, 20,
             "Too many listeners found.\nMax 14 listeners allowed." + restart);
        init("GpibInit, no configuration, 1", "no-board", 1, 4, restart);
        init("GpibInit, no board device, -1", "no-board-device", -1, 0, restart);
    }
    void childRuns()
    {
        QFETCH(QString, scenario);
        QFETCH(Routine, routine);
        QFETCH(QStringList, said);
        const ChildOutcome outcome = runInChild([&](std::function<void(const QString&)> report) {
            Rig rig(scenario);
            rig.report = report;
            routine(rig);
            rig.log(QStringLiteral("returned"));
        });
        QCOMPARE(outcome.log.split(u'\n', Qt::SkipEmptyParts), said);
        QCOMPARE(outcome.exitStatus, said.last().endsWith(u" returned") ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(TestInstrumentIO)
#include "tst_instrumentio.moc"
