#include "ScriptedDialogs.h"
#include "base/Clock.h"
#include "sim/BenchProtocol.h"
#include "sim/SimulatedBench.h"
#include "sim/SimulatedOperator.h"

#include <QtTest>

using namespace Ni488;

Q_DECLARE_METATYPE(Connection)

namespace {

// The program's set-up, exactly as it sends it.
const QByteArray SetUp = "EOS ON;HDR OFF;TIM 100E-3;ACQMODE PEAK;SPAN 100.0E+6;MXSPN OFF;"
                         "FREQ 500.E+6;STEP 2.000E+6;VIDFLT 3.0E+4;VFENAB ON;TGLEVEL 0.0;"
                         "TGENAB ON:SIG";

// A bench on its own virtual clock, with one descriptor at the analyser (T3s).
struct Bench {
    VirtualClock clock;
    SimulatedBench bench;
    int ud;

    explicit Bench(const QString& words = {}, int pad = 18)
        : bench(clock, BenchScenario::parse(words).value()), ud(bench.ibdev(0, pad, 0, T3s, 1, 0))
    {}

    int write(const QByteArray& message) { return bench.ibwrt(ud, message); }
    // ibsta, iberr and ibcntl of the last call
    std::tuple<int, int, long> status() const
    {
        return {bench.status().ibsta, bench.status().iberr, bench.status().ibcntl};
    }

    // The whole answer, read in 512-byte pieces until END or an error.
    QByteArray read()
    {
        QByteArray answer;
        for (;;) {
            QByteArray buffer(512, '\0');
            const int sta = bench.ibrd(ud, buffer);
            answer += buffer.left(bench.status().ibcntl);
            if (sta & (ERR | END))
                return answer;
        }
    }

    QByteArray query(const QByteArray& message)
    {
        write(message);
        return read();
    }

    quint8 poll()
    {
        char stb = 0;
        bench.ibrsp(ud, &stb);
        return quint8(stb);
    }

    // One marker reading after a fresh sweep, as the program takes it.
    double level(double fMHz)
    {
        write("SIG");
        write(QByteArray("MFREQ ") + QByteArray::number(fMHz * 1e6, 'E', 4) + ")");
        return query("MAMPL?").toDouble();
    }

    // The listeners on every address, at most 15.
    QVector<short> listeners()
    {
        QVector<short> addresses, found;
        for (short a = 1; a <= 30; ++a)
            addresses << a;
        bench.FindLstn(0, addresses << NOADDR, found, 15);
        return found;
    }
};

// The "++" adapter in front of a bench, as its host sees it: lines in, bytes out. A line
// "wait N" lets N seconds pass instead.
struct Adapter {
    VirtualClock clock;
    SimulatedBench bench{clock, BenchScenario{}};
    BenchProtocol protocol{clock, bench, {}, {}};
    QByteArray out;

    Adapter()
    {
        protocol.output = [this](const QByteArray& bytes) { out += bytes; };
    }
    QByteArray talk(const QByteArrayList& lines)
    {
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
    void findListeners_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QVector<short>>("expected");
        QTest::addColumn<int>("iberr"); // -1: no error
        QTest::newRow("default") << "" << QVector<short>{0, 18} << -1;
        QTest::newRow("twin") << "twin-analysers" << QVector<short>{0, 18, 19} << -1;
        QTest::newRow("others first") << "others-first" << QVector<short>{0, 3, 5, 18} << -1;
        // Fillers take the lowest free addresses; 15 instruments and the controller overflow.
        const QVector<short> low{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
        QTest::newRow("14 fit") << "14-listeners" << (low.first(14) << 18) << -1;
        QTest::newRow("15 overflow") << "15-listeners" << low << ETAB;
        QTest::newRow("no listener") << "no-listener" << QVector<short>{} << EBUS;
        QTest::newRow("no configuration") << "no-board" << QVector<short>{} << EARG;
        QTest::newRow("no board device") << "no-board-device" << QVector<short>{} << EDVR;
    }
    void findListeners()
    {
        QFETCH(QString, scenario);
        QFETCH(QVector<short>, expected);
        QFETCH(int, iberr);
        Bench b(scenario);
        const QVector<short> found = b.listeners();
        const GpibStatus s = b.bench.status();
        QCOMPARE(s.ibsta & ERR ? s.iberr : -1, iberr);
        QCOMPARE(s.ibcntl, long(expected.size()));
        QCOMPARE(found.mid(0, expected.size()), expected);
    }

    // What a message gets back: identity, headers, endings, padding read in pieces, and a
    // service request for anything the analyser cannot do.
    void answers_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("pad");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<quint8>("statusByte");
        const auto row = [](const char* name, const char* scenario, const char* message,
                            const QByteArray& expected, quint8 stb = 0, int pad = 18) {
            QTest::newRow(name) << QString::fromLatin1(scenario) << pad << QByteArray(message)
                                << expected << stb;
        };
        const QByteArray options = ",V1.04,OPTIONS:TRACKING GEN,NB FILTER";
        row("2712", "", "ID?", "ID SIMULATED,2712" + options);
        row("2710 no-tg", "2710,no-tg", "ID?", "ID SIMULATED,2710,V1.04,OPTIONS:NB FILTER");
        row("counter", "others-first", "ID?", "SIMULATED,COUNTER 5370,V2.10", 0, 3);
        row("no header", "", "HDR OFF;REFLVL  4;REFLVL?", "4.0");
        row("header again", "", "HDR OFF;HDR ON;REFLVL?", "REFLVL -20.0");
        row("reset", "", "HDR OFF;REFLVL 4;REC 1;REFLVL?", "REFLVL -20.0");
        row("crlf", "crlf", "REFLVL?", "REFLVL -20.0\r\n");
        row("lf", "lf", "REFLVL?", "REFLVL -20.0\n");
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
        QFETCH(int, pad);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, expected);
        QFETCH(quint8, statusByte);
        Bench b(scenario, pad);
        QCOMPARE(b.query(message), expected);
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
        QFETCH(QString, expected);
        Bench b(scenario);
        QStringList seen;
        for (const QByteArray& message : {SetUp, QByteArray("SIG")}) {
            QCOMPARE(b.write(message), CMPL);
            const bool timedOut = b.bench.ibwait(b.ud, RQS | TIMO) & TIMO;
            seen << QString::number(b.clock.now()) + (timedOut ? " timeout" : ":");
            while (b.bench.ibwait(b.ud, 0) & RQS)
                seen.last() += ' ' + QString::number(b.poll(), 16);
            QCOMPARE(b.bench.ibwait(b.ud, 0), CMPL);
        }
        QVERIFY(b.query("SIG;MAMPL?").toDouble() < 0);
        seen << "answered at " + QString::number(b.clock.now());
        QCOMPARE(seen.join(" | "), expected);
    }

    void readTimeoutWriteErrorAndVanish()
    {
        // Only the second MAMPL? goes unanswered, and it costs the descriptor's time-out.
        Bench b("timeout=MAMPL?@2");
        QVERIFY(b.query("MAMPL?").startsWith("MAMPL"));
        QCOMPARE(b.query("MAMPL?"), QByteArray());
        QCOMPARE(b.status(), std::tuple(ERR | TIMO, EABO, 0L));
        QCOMPARE(b.clock.now(), 3.0);
        b.bench.ibtmo(b.ud, T1s);
        QVERIFY(b.query("MAMPL?").startsWith("MAMPL"));
        // Device clear throws away an answer nobody wants any more.
        b.write("ID?");
        QCOMPARE(b.bench.ibclr(b.ud), CMPL);
        QCOMPARE(b.read(), QByteArray());
        QCOMPARE(b.clock.now(), 4.0);

        Bench w("write-error=MFREQ@2");
        QCOMPARE(w.write("MFREQ 1E+6)"), CMPL);
        QCOMPARE(w.write("MFREQ 2E+6)"), ERR);
        QCOMPARE(w.status(), std::tuple(ERR, ENOL, 0L));
        QCOMPARE(w.write("MFREQ 3E+6)"), CMPL);
        QCOMPARE(w.bench.received(), (QStringList{"MFREQ 1E+6)", "MFREQ 3E+6)"}));

        // The second MAMPL? goes unanswered and the analyser is off the bus from then on.
        Bench v("vanish=2");
        QVERIFY(!v.query("MAMPL?").isEmpty());
        QCOMPARE(v.query("MAMPL?"), QByteArray());
        QCOMPARE(v.status(), std::tuple(ERR | TIMO, EABO, 0L));
        QCOMPARE(v.write("MAMPL?"), ERR);
        QCOMPARE(v.status(), std::tuple(ERR, ENOL, 0L));
        const double before = v.clock.now();
        QCOMPARE(v.bench.ibrsp(v.ud, nullptr), ERR | TIMO);
        QCOMPARE(v.clock.now(), before + 3);
        v.listeners();
        QCOMPARE(v.status(), std::tuple(ERR, EBUS, 0L));
    }

    void modelLevels_data()
    {
        QTest::addColumn<QString>("quality");
        QTest::addColumn<Connection>("dut");
        const auto row = [](const char* quality, const char* name, Connection dut) {
            QTest::addRow("%s %s", quality, name) << QString::fromLatin1(quality) << dut;
        };
        row("marginal", "closed attenuator", Connection::bridgeDut(Connection::Dut::Attenuator));
        row("failing", "20 dB", Connection::attenuatorDut(20));
        row("good", "12.5 dB", Connection::attenuatorDut(12.5));
    }
    void modelLevels()
    {
        QFETCH(QString, quality);
        QFETCH(Connection, dut);
        // The difference of reference and DUT readings is what the program turns into a result;
        // tst_sequences compares good parts over the whole band.
        const bool bridge = dut.kind == Connection::Kind::BridgeDut;
        Bench b(quality);
        b.write("HDR OFF;TGLEVEL 0.0;TGENAB ON");
        for (double f : {1.0, 250.0, 1000.0}) {
            b.bench.connect(bridge ? Connection::bridgeOpen() : Connection::through());
            const double ref = b.level(f);
            const double loss = BenchModel::cableLoss(f) + (bridge ? BenchModel::bridgeLoss(f) : 0);
            QVERIFY(qAbs(ref + loss) < 0.03);
            b.bench.connect(dut);
            const double expected =
                bridge ? b.bench.modelReturnLoss(f) : dut.nominalDb + b.bench.modelDeviation(f);
            QVERIFY2(qAbs(ref - b.level(f) - expected) <= 0.05, qPrintable(QString::number(f)));
        }
        b.write("TGENAB OFF;SIG");
        QVERIFY(qAbs(b.query("MAMPL?").toDouble() - BenchModel::NoiseFloorDbm) <= 1.5);
    }

    // A connection prompt answered Ok gets its connection made; the message reaches the
    // person unchanged, and a person who cancels connects nothing. The program's own prompts
    // for the bridge, the through connection and the fixed parts run in tst_sequences.
    void operatorConnects_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Connection>("expected");
        using C = Connection;
        const auto row = [](const char* text, C c) { QTest::newRow(text) << QString(text) << c; };
        row("Connect the 2.5X (8 dB) Attenuator to be measured between", C::attenuatorDut(8));
        row("Connect the 12.5 dB Attenuator to be measured between", C::attenuatorDut(12.5));
        row("The measurement is complete.", C::nothing());
    }
    void operatorConnects()
    {
        QFETCH(QString, text);
        QFETCH(Connection, expected);
        Bench b;
        ScriptedDialogs person;
        SimulatedOperator hands(person, b.bench);
        person.answer({MsgResult::Cancel, MsgResult::Ok});
        const auto tell = [&] {
            return hands.message(MsgIcon::Information, "Velmora", text, MsgButtons::OkCancel);
        };
        QCOMPARE(tell(), MsgResult::Cancel);
        QCOMPARE(b.bench.connection(), Connection::nothing());
        QCOMPARE(tell(), MsgResult::Ok);
        QCOMPARE(person.shown.last().text, text);
        QCOMPARE(b.bench.connection(), expected);
    }

    // Each setting at both ends of its range, then beyond: refused as an unknown command,
    // and the setting stays.
    void adapterSettingRanges_data()
    {
        QTest::addColumn<QByteArray>("values"); // lowest|highest|refused|...
        QTest::newRow("addr") << QByteArray("0|30|31|-1|5 127|5 95|5 96 97");
        QTest::newRow("addr PAD SAD") << QByteArray("0 96|30 126|96|5 6");
        QTest::newRow("auto") << QByteArray("0|3|4|7");
        QTest::newRow("eoi") << QByteArray("0|1|2");
        QTest::newRow("eos") << QByteArray("0|3|4");
        QTest::newRow("eot_enable") << QByteArray("0|1|2");
        QTest::newRow("eot_char") << QByteArray("0|255|256|300");
        QTest::newRow("read_tmo_ms") << QByteArray("0|32000|32001|-5|1e3");
        QTest::newRow("mode") << QByteArray("0|1|2");
        QTest::newRow("savecfg") << QByteArray("0|1|2|on");
    }
    void adapterSettingRanges()
    {
        QFETCH(QByteArray, values);
        const QByteArray command = "++" + QByteArray(QTest::currentDataTag()).split(' ').first();
        const QByteArrayList list = values.split('|');
        Adapter a;
        QByteArrayList lines;
        QByteArray expected;
        for (qsizetype i = 0; i < list.size(); ++i) {
            lines << command + ' ' + list.at(i) << command;
            expected += (i < 2 ? "" : "Unrecognized command\r\n") +
                        list.at(std::min<qsizetype>(i, 1)) + "\r\n";
        }
        QCOMPARE(a.talk(lines), expected);
    }

    // Whole exchanges: what the host gets back and what reaches the analyser.
    void adapterTranscripts_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("analyser");
        const QByteArray id = "ID SIMULATED,2712,V1.04,OPTIONS:TRACKING GEN,NB FILTER";
        QTest::newRow("start-up settings; a reset brings back what was saved")
            << QByteArray(
                   "++ver|++addr|++auto|++eoi|++eos|++eot_enable|++eot_char|++read_tmo_ms|"
                   "++savecfg|++eos 2|++savecfg 0|++eos 3|++rst|++eos|wait 5|++eos|++savecfg")
            << QByteArray("Velmora bench GPIB adapter, version " VELMORA_VERSION
                          "\r\n0\r\n0\r\n1\r\n0\r\n0\r\n0\r\n500\r\n1\r\n2\r\n0\r\n")
            << QByteArray();
        QTest::newRow("++read eoi with the end mark; nothing read unasked")
            << QByteArray("++addr 18|++eot_enable 1|++eot_char 4|ID?|++read eoi|RFATT?")
            << id + '\x04' << QByteArray("ID?\r\n|RFATT?\r\n");
        QTest::newRow("++read to a character leaves the rest; to the time-out takes it")
            << QByteArray("++addr 18|++eos 3|ID?|++read 44|++read 256|++read")
            << id.left(13) + "Unrecognized command\r\n" + id.mid(13) << QByteArray("ID?");
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
            << QByteArray("Unrecognized command\r\n").repeated(3) << QByteArray();
    }
    void adapterTranscripts()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, analyser);
        Adapter a;
        QCOMPARE(a.talk(lines.split('|')), answer);
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
