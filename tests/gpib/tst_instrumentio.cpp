#include "ScriptedDialogs.h"
#include "base/Clock.h"
#include "base/NumberText.h"
#include "gpib/InstrumentIO.h"
#include "gpib/TracingDriver.h"
#include "sim/SimulatedBench.h"

#include <QtTest>

#include <clocale>

using namespace Ni488;

namespace {

const QString Analyser2712 = "ID SIMULATED,2712,V1.04,OPTIONS:TRACKING GEN,NB FILTER";

// The bench, with stuck an analyser whose status byte never clears.
class StubBench : public SimulatedBench {
public:
    using SimulatedBench::SimulatedBench;
    bool stuck = false;
    int ibrsp(int ud, char* spr) override
    {
        return stuck ? (*spr = 0x41, finish(CMPL, 0, 1)) : SimulatedBench::ibrsp(ud, spr);
    }
};

// What GpibCheckError shows for a driver error.
QString gpibError(int code, const QString& text)
{
    return QStringLiteral("exclamation OkCancel GPIB ERROR # %1: %2\\nSelect OK to continue or "
                          "Cancel to terminate program.")
        .arg(code)
        .arg(text);
}

// The instrument layer on the simulated bench, every driver call traced.
struct Rig {
    explicit Rig(const QString& words = {})
        : bench(clock, BenchScenario::parse(words).value()), bus(bench, clock, trace)
    {
        trace.open(QIODevice::WriteOnly);
        dialogs.onMessage = [this](const ScriptedDialogs::Shown& s) {
            log(s.line());
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
    // The operations alone, each after the time the clock moved before it.
    QString ops() const
    {
        QString ops;
        double last = 0;
        for (const QString& line : calls()) {
            if (const double at = line.section(u' ', 0, 0).toDouble(); at != last)
                ops += QString::number(at - std::exchange(last, at)) + QStringLiteral("s ");
            ops += line.section(u' ', 1, 1) + u' ';
        }
        return ops.trimmed();
    }
    // Each message shown, and what a routine says; in the ending log also after the number
    // of bus calls so far.
    void log(const QString& text)
    {
        said << text;
        counted << QString::number(calls().size()) + u' ' + text;
    }

    VirtualClock clock;
    StubBench bench;
    QBuffer trace;
    TracingDriver bus;
    ScriptedDialogs dialogs;
    InstrumentIO io{bus, clock, dialogs};
    QStringList said, counted;
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
        QVERIFY2(QProcess::execute("localedef", {"-i", "de_DE", "-f", "UTF-8", path}) == 0,
                 "localedef failed: the tests need the locales package");
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
        QTest::newRow("7 whole digits") << 7 << 1234000.0 << " 1234000";
        QTest::newRow("8 whole digits") << 7 << 12345678.0 << " 1.234568E+07";
        QTest::newRow("1E-05") << 7 << 1e-5 << " 1E-05";
        QTest::newRow("read exponent D") << 0 << 1500.0 << "15D+2";
        QTest::newRow("read blanks anywhere, to the unit") << 0 << -23.45 << " \t-2 3\n.4\t5 dBm";
        QTest::newRow("read plus sign") << 0 << 7.0 << "+7";
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

    // GpibRead joins the chunks of a long answer, each trimmed of blanks, and takes the line
    // end off, however the analyser frames it.
    void readsWholeAnswer_data()
    {
        QTest::addColumn<QString>("scenario");
        for (const char* scenario : {"crlf", "lf", "junk", "long-answers,crlf"})
            QTest::newRow(scenario) << QString(scenario);
    }
    void readsWholeAnswer()
    {
        QFETCH(QString, scenario);
        Rig rig(scenario);
        QCOMPARE(rig.io.GpibQuery(rig.analyser(), QStringLiteral("ID?")), Analyser2712);
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
                 QStringList{"exclamation Ok I/O Error: Read cycle failed\\nOperation aborted."});
    }

    // GpibWaitSrq: serial polls take stale requests off, then a bounded wait for a new one,
    // while the window runs.
    void waitsForServiceRequest_data()
    {
        QTest::addColumn<QString>("scenario"); // "stuck": a status byte that never clears
        QTest::addColumn<int>("polls");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("three stale requests") << "stale-srq" << 4 << QStringList{"ends at 0 s"};
        QTest::newRow("at most 20 polls") << "stuck" << 20 << QStringList{"ends at 0 s"};
        QTest::newRow("no request in 30 s")
            << "no-srq" << 1
            << QStringList{"10 s", gpibError(6, "I/O operation aborted - timeout."),
                           "ends at 30 s"};
    }
    void waitsForServiceRequest()
    {
        QFETCH(QString, scenario);
        QFETCH(QStringList, said);
        Rig rig(scenario == "stuck" ? QString() : scenario);
        rig.bench.stuck = scenario == "stuck";
        const qint16 ud = rig.analyser();
        rig.io.GpibWrite(ud, QStringLiteral("SIG"));
        rig.clock.schedule(10, [&] { rig.log(QString::number(rig.clock.now()) + " s"); });
        rig.io.GpibWaitSrq(ud);
        rig.log(QStringLiteral("ends at %1 s").arg(int(rig.clock.now())));
        QCOMPARE(rig.said, said);
        QCOMPARE(rig.io.IoErrorFlag, said.size() > 1);
        QTEST(int(rig.ops().count(QStringLiteral("ibrsp"))), "polls");
        QCOMPARE(rig.askTimeout(ud), T10s); // the descriptor's own limit back
    }

    // FindDevice, on a bus with the analyser alone: the calls after opening and addressing
    // the probe, then what the operator is told.
    void findDeviceModifiers_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("ops");
        const auto row = [](const char* name, const char* query, const QString& expected,
                            const QString& ops) {
            QTest::newRow(name) << QString(query) << expected << ops;
        };
        const QString ops = "ibclr ibrsp ibwrt ibrd";
        row("any case, anywhere", "ID?", "tracking gen", ops + " ibtmo");
        row("no clear, settle", "!ID?", "?2712", "ibrsp 0.1s ibwrt ibrd ibtmo");
        row("exact", "ID?", Analyser2712 + u'!', ops + " ibtmo");
        row("silent, exact minds case", "ID?", '!' + Analyser2712.toLower() + '!', ops);
        row("miss, continue", "ID?!", "2710",
            ops + " | Correct the problem and retry. Program will continue.");
    }
    void findDeviceModifiers()
    {
        QFETCH(QString, query);
        QFETCH(QString, expected);
        QFETCH(QString, ops);
        Rig rig(QStringLiteral("crlf")); // the answer's line end is no part of it
        rig.init();
        const qint16 ud = rig.io.FindDevice(query, expected);
        QString seen = rig.ops();
        for (const auto& shown : rig.dialogs.shown) // its last line
            seen += " | " + shown.text.section(u'\n', -1);
        QCOMPARE(seen, "SendIFC ibsre FindLstn ibdev ibpad " + ops);
        QCOMPARE(ud != 0 ? rig.askTimeout(ud) : 0, ops.endsWith(u"ibtmo") ? T3s : 0);
    }

    // Claimed in listener order, the counter before the analyser; the probe of a failed
    // search serves the next one.
    void claimsInListenerOrderReusingAFailedProbe()
    {
        Rig rig(QStringLiteral("others-first"));
        rig.init();
        QList<qint16> found;
        for (const char* expected : {"simulated", "!2710", "2712"})
            found << rig.find("ID?", expected);
        QCOMPARE(found, QList<qint16>({1, 0, 2}));
        QCOMPARE(rig.io.FreeListeners, (std::array<qint16, 15>{1, 0, 5}));
    }

    // Where the program may end: each message shown and line said after the number of bus
    // calls made so far; the routine comes back either way, "ended" when the program is to
    // end, and after the fatal message no bus call is made and nothing is said.
    void endings_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<Routine>("routine");
        QTest::addColumn<QStringList>("said");
        const auto fatal = [](int calls, const QString& title, const QString& text) {
            return QString::number(calls) + u' ' +
                   ScriptedDialogs::Shown{
                       {MsgKind::Fatal, MsgIcon::Critical, title, text, MsgButtons::Ok}}
                       .line() +
                   u'\n' + QString::number(calls) + QStringLiteral(" ended");
        };
        const QString restart = QStringLiteral("\n\nCorrect problem and restart.");
        QTest::newRow("GpibWrite, descriptor 0")
            << "" << Routine([](Rig& rig) { rig.io.GpibWrite(0, "SIG"); })
            << QStringList{fatal(0, "Device Error", "Device not configured." + restart)};
        // The query after a failed write reads nothing; the next write clears the flag.
        QTest::newRow("OK, then Cancel in the error dialog")
            << "write-error=MAMPL?@1,write-error=SIG" << Routine([](Rig& rig) {
                   rig.dialogs.answer({MsgResult::Ok, MsgResult::Cancel});
                   for (const char* command : {"MAMPL?", "MAMPL?", "SIG"})
                       rig.log(QStringLiteral("answered %1, flag %2")
                                   .arg(!rig.io.GpibQuery(rig.analyser(), command).isEmpty())
                                   .arg(rig.io.IoErrorFlag));
               })
            << QStringList{"1 " + gpibError(2, "No listener on write function."),
                           "1 answered 0, flag 1",
                           "7 answered 1, flag 0",
                           "8 " + gpibError(2, "No listener on write function."),
                           "8 answered 0, flag 1",
                           "8 ended"};
        // Answers come newest first.
        QTest::newRow("FindDevice miss without \"!\"")
            << "others-first" << Routine([](Rig& rig) { rig.init(), rig.find("ID?", "2710"); })
            << QStringList{
                   fatal(19, "Expected Id-response from device not found" + QString(40, u' '),
                         "ID Query: ID?\n\nExpected Response: 2710\n\nReceived Response(s):\n" +
                             Analyser2712 +
                             "\nSIMULATED,POWER SUPPLY 6030,V1.3\nSIMULATED,COUNTER 5370,V2.10\n\n"
                             "Correct the problem and restart. Program will end.")};
        // The probe opened for the silent search serves the next one: no bus call between.
        QTest::newRow("every device claimed")
            << "" << Routine([](Rig& rig) {
                   rig.init();
                   rig.find("ID?", "2712");
                   rig.log(QStringLiteral("silent %1").arg(rig.find("ID?", "!2712")));
                   rig.find("ID?", "2712");
               })
            << QStringList{"11 silent 0", fatal(11, "Not enough devices on the bus",
                                                "Can't find more than 1 device(s)." + restart)};

        // GpibInit: the three set-up calls, then the message its mode asks for.
        const auto init = [&](const char* name, const char* scenario, int mode, int code,
                              const QString& text) {
            QStringList said;
            if (!text.isEmpty())
                said << fatal(3, QStringLiteral("Initialization Error %1").arg(code), text)
                            .section(u'\n', 0, mode == 1 ? 1 : 0);
            if (mode != 1)
                said << QStringLiteral("3 returned");
            QTest::newRow(name) << QString(scenario)
                                << Routine([mode](Rig& rig) { rig.io.GpibInit(qint16(mode)); })
                                << said;
        };
        init("GpibInit, empty bus, 1", "no-listener", 1, 14, "No listeners found." + restart);
        init("GpibInit, empty bus, -1", "no-listener", -1, 14, {});
        init("GpibInit, empty bus, 0", "no-listener", 0, 14, "No listeners found.");
        init("GpibInit, 15 listeners, 0", "15-listeners", 0, 20,
             "Too many listeners found.\nMax 14 listeners allowed." + restart);
        init("GpibInit, no configuration, 1", "no-board", 1, 4, restart);
        init("GpibInit, no board device, -1", "no-board-device", -1, 0, restart);
    }
    void endings()
    {
        QFETCH(QString, scenario);
        QFETCH(Routine, routine);
        QFETCH(QStringList, said);
        Rig rig(scenario);
        routine(rig);
        rig.log(QLatin1String(rig.io.programEnded() ? "ended" : "returned"));
        QCOMPARE(rig.counted.join(u'\n'), said.join(u'\n'));
    }
};

QTEST_GUILESS_MAIN(TestInstrumentIO)
#include "tst_instrumentio.moc"
