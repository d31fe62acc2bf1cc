#include "base/Clock.h"
#include "gpib/AnalyserCommands.h"
#include "sim/BenchProtocol.h"
#include "sim/SimulatedBench.h"

#include <QtTest>

using namespace Ni488;

// The bus faults the program meets (time-outs, refused writes, the bus's own errors) and the
// model's levels are checked through the program's own I/O in tst_instrumentio and tst_engine;
// here is what the bench answers, byte for byte.
namespace {

// A bench on its own virtual clock, with one descriptor at the analyser (T3s).
struct Bench {
    VirtualClock clock;
    SimulatedBench bench;
    int ud;

    explicit Bench(const QString& words = {})
        : bench(clock, BenchScenario::parse(words).value()), ud(bench.ibdev(0, 18, 0, T3s, 1, 0))
    {}
    int write(const QByteArray& message) { return bench.ibwrt(ud, message); }
    // The whole answer, read in 512-byte pieces until END or an error.
    QByteArray query(const QByteArray& message = {})
    {
        if (!message.isEmpty())
            write(message);
        QByteArray answer;
        for (int sta = 0; !(sta & (ERR | END));) {
            QByteArray buffer(512, '\0');
            sta = bench.ibrd(ud, buffer);
            answer += buffer.left(bench.status().ibcntl);
        }
        return answer;
    }
    quint8 poll()
    {
        char stb = 0;
        bench.ibrsp(ud, &stb);
        return quint8(stb);
    }
    // ibsta and iberr of the last call
    std::pair<int, int> status() const { return {bench.status().ibsta, bench.status().iberr}; }
};

// The "++" adapter in front of a bench, as its host sees it: lines in, bytes out. A line
// "wait N" lets N seconds pass instead.
struct Adapter {
    VirtualClock clock;
    SimulatedBench bench{clock, BenchScenario{}};
    BenchProtocol protocol{clock, bench, {}, {}};
    QByteArray out;

    QByteArray talk(const QByteArrayList& lines)
    {
        protocol.output = [this](const QByteArray& bytes) { out += bytes; };
        for (const QByteArray& line : lines) {
            if (line.startsWith("wait "))
                clock.advance(line.mid(5).toDouble());
            else
                protocol.receive(line + '\n');
        }
        return std::exchange(out, {});
    }
};

} // namespace

class TestSimulatedBench : public QObject {
    Q_OBJECT
private slots:
    // What a message gets back: identity, headers, endings, padding read in pieces, and a
    // service request for anything the analyser cannot do.
    void answers_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<quint8>("statusByte");
        const auto row = [](const char* name, const char* scenario, const char* message,
                            const QByteArray& expected, quint8 stb = 0) {
            QTest::newRow(name) << QString(scenario) << QByteArray(message) << expected << stb;
        };
        row("2712", "", "ID?", "ID SIMULATED,2712,V1.04,OPTIONS:TRACKING GEN,NB FILTER");
        row("no header", "", "HDR OFF;REFLVL  4;REFLVL?", "4.0");
        row("header again", "", "HDR OFF;HDR ON;REFLVL?", "REFLVL -20.0");
        row("reset", "", "HDR OFF;REFLVL 4;REC 1;REFLVL?", "REFLVL -20.0");
        row("crlf", "crlf", "REFLVL?", "REFLVL -20.0\r\n");
        row("junk", "junk", "REFLVL?", "REFLVL -20.0\n\xff");
        // 607 bytes: a full buffer without END, then the rest with it.
        row("long", "long-answers,crlf", "HDR OFF;REFLVL?",
            "-20.0" + QByteArray(600, ' ') + "\r\n");
        row("unknown header", "", "FROB 3;REFLVL?", "REFLVL -20.0", 0x61);
        row("bad argument", "", "TGENAB MAYBE;REFLVL?", "REFLVL -20.0", 0x61);
        row("no generator", "no-tg", "TGENAB ON;REFLVL?", "REFLVL -20.0", 0x61);
    }
    void answers()
    {
        QFETCH(QString, scenario);
        QFETCH(QByteArray, message);
        QFETCH(quint8, statusByte);
        Bench b(scenario);
        QTEST(b.query(message), "expected");
        QCOMPARE(b.bench.status().ibsta, CMPL | END);
        QCOMPARE(b.clock.now(), 0.0);
        QCOMPARE(bool(b.bench.ibwait(b.ud, 0) & RQS), statusByte != 0);
        QCOMPARE(b.poll(), statusByte);
    }

    // A sweep's request stays up until polled, and a poll clears one request; stale ones are
    // pending before the first sweep and again after each sweep's poll. A query after SIG is
    // answered once the sweep is done.
    void serviceRequests_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("expected"); // per sweep: when the wait ended, the bytes polled
        QTest::newRow("default") << "" << QString("0.3: 42 | 0.6: 42 | answered at 0.9");
        QTest::newRow("stale") << "stale-srq"
                               << QString("0: 41 44 43 | 0.3: 42 41 44 43 | answered at 0.9");
        QTest::newRow("none") << "no-srq" << QString("3 timeout | 6 timeout | answered at 6.3");
    }
    void serviceRequests()
    {
        QFETCH(QString, scenario);
        Bench b(scenario);
        QStringList seen;
        // The program's set-up, then a sweep.
        for (const QString& message : {AnalyserCommands::GeneralSetup, AnalyserCommands::Signal}) {
            QCOMPARE(b.write(message.toLatin1()), CMPL);
            const bool timedOut = b.bench.ibwait(b.ud, RQS | TIMO) & TIMO;
            seen << QString::number(b.clock.now()) + (timedOut ? " timeout" : ":");
            while (b.bench.ibwait(b.ud, 0) & RQS)
                seen.last() += ' ' + QString::number(b.poll(), 16);
            QCOMPARE(b.bench.ibwait(b.ud, 0), CMPL);
        }
        QVERIFY(b.query("SIG;MAMPL?").toDouble() < 0);
        seen << "answered at " + QString::number(b.clock.now());
        QTEST(seen.join(" | "), "expected");
    }

    void clearAndVanish()
    {
        // Device clear throws away an answer nobody wants any more.
        Bench b("vanish=2");
        b.write("ID?");
        QCOMPARE(b.bench.ibclr(b.ud), CMPL);
        QCOMPARE(b.query(), QByteArray());
        QCOMPARE(b.status(), std::pair(ERR | TIMO, int(EABO)));
        // The second MAMPL? goes unanswered and the analyser is off the bus from then on.
        QVERIFY(!b.query("MAMPL?").isEmpty());
        QCOMPARE(b.query("MAMPL?"), QByteArray());
        QCOMPARE(b.status(), std::pair(ERR | TIMO, int(EABO)));
        QCOMPARE(b.write("MAMPL?"), ERR);
        QCOMPARE(b.status(), std::pair(ERR, int(ENOL)));
        const double before = b.clock.now();
        QCOMPARE(b.bench.ibrsp(b.ud, nullptr), ERR | TIMO);
        QCOMPARE(b.clock.now(), before + 3);
    }

    // Whole exchanges: what the host gets back and what reaches the analyser.
    void adapterTranscripts_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("analyser");
        const QByteArray id = "ID SIMULATED,2712,V1.04,OPTIONS:TRACKING GEN,NB FILTER";
        const QByteArray refused = "Unrecognized command\r\n";
        QTest::newRow("start-up settings; a reset brings back what was saved")
            << QByteArray(
                   "++ver|++addr|++auto|++eoi|++eos|++eot_enable|++eot_char|++read_tmo_ms|"
                   "++savecfg|++eos 2|++savecfg 0|++eos 3|++rst|++eos|wait 5|++eos|++savecfg")
            << QByteArray("Velmora bench GPIB adapter, version " VELMORA_VERSION
                          "\r\n0\r\n0\r\n1\r\n0\r\n0\r\n0\r\n500\r\n1\r\n2\r\n0\r\n")
            << QByteArray();
        // Each setting's range is refused beyond its ends, and the setting stays.
        QTest::newRow("addresses at both ends and beyond")
            << QByteArray("++addr 0|++addr|++addr 0 96|++addr|++addr 30 126|++addr 31|++addr -1|"
                          "++addr 5 127|++addr 5 95|++addr 96|++addr 5 6|++addr 5 96 97|++addr")
            << "0\r\n0 96\r\n" + refused.repeated(7) + "30 126\r\n"
            << QByteArray();
        QTest::newRow("a setting at both ends and beyond")
            << QByteArray("++read_tmo_ms 0|++read_tmo_ms|++read_tmo_ms 32000|++read_tmo_ms 32001|"
                          "++read_tmo_ms -5|++read_tmo_ms 1e3|++read_tmo_ms on|++read_tmo_ms")
            << "0\r\n" + refused.repeated(4) + "32000\r\n"
            << QByteArray();
        QTest::newRow("++read eoi with the end mark; nothing read unasked")
            << QByteArray("++addr 18|++eot_enable 1|++eot_char 4|ID?|++read eoi|RFATT?")
            << id + '\x04' << QByteArray("ID?\r\n|RFATT?\r\n");
        QTest::newRow("++read to a character leaves the rest; to the time-out takes it")
            << QByteArray("++addr 18|++eos 3|ID?|++read 44|++read 256|++read")
            << id.left(13) + refused + id.mid(13) << QByteArray("ID?");
        QTest::newRow("++auto 1 reads after every message, ++auto 2 after queries")
            << QByteArray(
                   "++addr 18|++eos 2|++auto 1|REFLVL -10.0|REFLVL?|++auto 2|RFATT 10|RFATT?")
            << QByteArray("REFLVL -10.0RFATT 10")
            << QByteArray("REFLVL -10.0\n|REFLVL?\n|RFATT 10\n|RFATT?\n");
        QTest::newRow("without EOI a message ends only at a line feed")
            << QByteArray("++addr 18|++eoi 0|++eos 1|REFLVL -10.0|++eos 0|RFATT?|++eos 3|ID?")
            << QByteArray() << QByteArray("REFLVL -10.0\rRFATT?\r\n");
        QTest::newRow("a device neither addresses nor passes messages; wrong addresses")
            << QByteArray("++mode 0|++addr 18|ID?|++read eoi|++spoll|++mode 1|++spoll 31|"
                          "++trg 18 96 5|++loc|++llo all|++lon 1|++loc 5")
            << refused.repeated(3) << QByteArray();
    }
    void adapterTranscripts()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QByteArray, analyser);
        Adapter a;
        QTEST(a.talk(lines.split('|')), "answer");
        QCOMPARE(a.bench.received().join(u'|'), QString::fromLatin1(analyser));
    }

    void scenarioParsing()
    {
        // The other tests use most words; here blanks after commas, and words that are wrong.
        QVERIFY(BenchScenario::parse("timeout=MAMPL?@3, stale-srq,  no-srq"));
        for (const char* wrong : {"2713", "vanish=0", "timeout=", "good,fast"})
            QVERIFY2(!BenchScenario::parse(wrong), wrong);
    }
};

QTEST_MAIN(TestSimulatedBench)
#include "tst_simulatedbench.moc"
