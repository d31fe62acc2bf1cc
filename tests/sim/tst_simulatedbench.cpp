#include "ScriptedDialogs.h"
#include "gpib/Clock.h"
#include "sim/SimulatedBench.h"
#include "sim/SimulatedOperator.h"

#include <QtTest>

#include <memory>

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
    std::unique_ptr<SimulatedBench> bench;
    int ud = -1;

    explicit Bench(const QString& words = {}, int pad = 18)
    {
        const std::optional<BenchScenario> scenario = BenchScenario::parse(words);
        if (!scenario)
            qFatal("bad scenario %s", qPrintable(words));
        bench = std::make_unique<SimulatedBench>(clock, *scenario);
        ud = bench->ibdev(0, pad, 0, T3s, 1, 0);
    }

    int write(const QByteArray& message) { return bench->ibwrt(ud, message); }

    // The whole answer, read in 1024-byte pieces until END or an error.
    QByteArray read()
    {
        QByteArray answer;
        for (;;) {
            QByteArray buffer(1024, '\0');
            const int sta = bench->ibrd(ud, buffer);
            answer += buffer.left(bench->status().ibcntl);
            if ((sta & ERR) || (sta & END))
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
        bench->ibrsp(ud, &stb);
        return quint8(stb);
    }

    // One marker reading after a fresh sweep, as the program takes it.
    double level(double fMHz)
    {
        write("SIG");
        write(QByteArray("MFREQ ") + QByteArray::number(fMHz * 1e6, 'E', 4) + ")");
        return query("MAMPL?").toDouble();
    }
};

QVector<short> allAddresses()
{
    QVector<short> addresses;
    for (short a = 1; a <= 30; ++a)
        addresses.append(a);
    addresses.append(NOADDR);
    return addresses;
}

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
        QTest::newRow("no board") << "no-board" << QVector<short>{} << ENEB;
    }

    void findListeners()
    {
        QFETCH(QString, scenario);
        QFETCH(QVector<short>, expected);
        QFETCH(int, iberr);

        Bench b(scenario);
        QVector<short> results;
        b.bench->FindLstn(0, allAddresses(), results, 15);
        const GpibStatus s = b.bench->status();
        QCOMPARE(bool(s.ibsta & ERR), iberr >= 0);
        if (iberr >= 0)
            QCOMPARE(s.iberr, iberr);
        QCOMPARE(s.ibcntl, long(expected.size()));
        QCOMPARE(results.mid(0, expected.size()), expected);
    }

    // What a message gets back: identity, headers, endings, and a service request for
    // anything the analyser cannot do.
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
        row("2711", "2711", "ID?", "ID SIMULATED,2711" + options);
        row("2710 no-tg", "2710,no-tg", "ID?", "ID SIMULATED,2710,V1.04,OPTIONS:NB FILTER");
        row("counter", "others-first", "ID?", "SIMULATED,COUNTER 5370,V2.10", 0, 3);
        row("no header", "", "HDR OFF;REFLVL  4;REFLVL?", "4.0");
        row("header again", "", "HDR OFF;HDR ON;REFLVL?", "REFLVL -20.0");
        row("reset", "", "HDR OFF;REFLVL 4;REC 1;REFLVL?", "REFLVL -20.0");
        row("crlf", "crlf", "REFLVL?", "REFLVL -20.0\r\n");
        row("lf", "lf", "REFLVL?", "REFLVL -20.0\n");
        row("junk", "junk", "REFLVL?", "REFLVL -20.0\n\xff");
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
        QCOMPARE(b.bench->status().ibsta, CMPL | END);
        QCOMPARE(b.clock.now(), 0.0);
        QCOMPARE(bool(b.bench->ibwait(b.ud, 0) & RQS), statusByte != 0);
        QCOMPARE(b.poll(), statusByte);
    }

    void sweepRaisesServiceRequest()
    {
        Bench b;
        QCOMPARE(b.write(SetUp), CMPL);
        QCOMPARE(b.clock.now(), 0.0);

        // The sweep takes 0.3 s; its request stays up until polled, and the poll clears it.
        QCOMPARE(b.bench->ibwait(b.ud, RQS | TIMO), CMPL | RQS);
        QCOMPARE(b.clock.now(), 0.3);
        QCOMPARE(b.bench->ibwait(b.ud, 0), CMPL | RQS);
        QCOMPARE(b.poll(), quint8(0x42));
        QCOMPARE(b.bench->ibwait(b.ud, 0), CMPL);

        // A query right after SIG is answered once the sweep is done.
        b.write("SIG");
        b.write("MAMPL?");
        QVERIFY(b.read().toDouble() < 0);
        QCOMPARE(b.clock.now(), 0.6);
    }

    void chunkedRead()
    {
        // 5 characters, 600 of padding and CR LF: a full buffer without END, then the rest.
        Bench b("long-answers,crlf");
        b.write("HDR OFF;REFLVL?");
        QByteArray buffer(512, '\0');
        QCOMPARE(b.bench->ibrd(b.ud, buffer), CMPL);
        QCOMPARE(b.bench->status().ibcntl, 512L);
        QVERIFY(buffer.startsWith("-20.0   "));
        buffer.fill('\0');
        QCOMPARE(b.bench->ibrd(b.ud, buffer), CMPL | END);
        QCOMPARE(b.bench->status().ibcntl, 5L + 600 + 2 - 512);
        QVERIFY(buffer.left(95).endsWith("   \r\n"));
    }

    void readTimeout()
    {
        // Only the second MAMPL? goes unanswered, and it costs the descriptor's time-out.
        Bench b("timeout=MAMPL?@2");
        QVERIFY(b.query("MAMPL?").startsWith("MAMPL"));
        QCOMPARE(b.query("MAMPL?"), QByteArray());
        QCOMPARE(b.bench->status().ibsta, ERR | TIMO);
        QCOMPARE(b.bench->status().iberr, EABO);
        QCOMPARE(b.bench->status().ibcntl, 0L);
        QCOMPARE(b.clock.now(), 3.0);
        b.bench->ibtmo(b.ud, T1s);
        QVERIFY(b.query("MAMPL?").startsWith("MAMPL"));

        // Device clear throws away an answer nobody wants any more.
        b.write("ID?");
        QCOMPARE(b.bench->ibclr(b.ud), CMPL);
        QCOMPARE(b.read(), QByteArray());
        QCOMPARE(b.clock.now(), 4.0);
    }

    void writeErrorAndVanish()
    {
        Bench b("write-error=MFREQ@2");
        QCOMPARE(b.write("MFREQ 1E+6)"), CMPL);
        QCOMPARE(b.write("MFREQ 2E+6)"), ERR);
        QCOMPARE(b.bench->status().iberr, ENOL);
        QCOMPARE(b.bench->status().ibcntl, 0L);
        QCOMPARE(b.write("MFREQ 3E+6)"), CMPL);
        QCOMPARE(b.bench->received(), (QStringList{"MFREQ 1E+6)", "MFREQ 3E+6)"}));

        // The second MAMPL? goes unanswered and the analyser is off the bus from then on.
        Bench v("vanish=2");
        QVERIFY(!v.query("MAMPL?").isEmpty());
        v.write("MAMPL?");
        QCOMPARE(v.read(), QByteArray());
        QCOMPARE(v.bench->status().iberr, EABO);
        QCOMPARE(v.write("MAMPL?"), ERR);
        QCOMPARE(v.bench->status().iberr, ENOL);
        char stb = 0;
        const double before = v.clock.now();
        QCOMPARE(v.bench->ibrsp(v.ud, &stb), ERR | TIMO);
        QCOMPARE(v.clock.now(), before + 3);
        QVector<short> results;
        v.bench->FindLstn(0, allAddresses(), results, 15);
        QCOMPARE(v.bench->status().iberr, EBUS);
    }

    void modelLevels_data()
    {
        QTest::addColumn<QString>("quality");
        QTest::addColumn<Connection>("dut");
        const auto row = [](const char* quality, const char* name, Connection dut) {
            QTest::addRow("%s %s", quality, name) << QString::fromLatin1(quality) << dut;
        };
        row("good", "termination", Connection::bridgeDut(Connection::Dut::Termination));
        row("marginal", "closed attenuator", Connection::bridgeDut(Connection::Dut::Attenuator));
        row("good", "cable", Connection::attenuatorDut(0));
        row("marginal", "6 dB", Connection::attenuatorDut(6));
        row("failing", "20 dB", Connection::attenuatorDut(20));
        row("good", "12.5 dB", Connection::attenuatorDut(12.5));
    }

    void modelLevels()
    {
        QFETCH(QString, quality);
        QFETCH(Connection, dut);
        // The difference of reference and DUT readings is what the program turns into a result.
        const bool bridge = dut.kind == Connection::Kind::BridgeDut;
        const Connection reference = bridge ? Connection::bridgeOpen() : Connection::through();
        Bench b(quality);
        b.write("HDR OFF;TGLEVEL 0.0;TGENAB ON");
        for (double f : {1.0, 250.0, 1000.0}) {
            b.bench->connect(reference);
            const double ref = b.level(f);
            const double loss = BenchModel::cableLoss(f) + (bridge ? BenchModel::bridgeLoss(f) : 0);
            QVERIFY(qAbs(ref + loss) < 0.03);
            b.bench->connect(dut);
            const double expected =
                bridge ? b.bench->modelReturnLoss(f) : dut.nominalDb + b.bench->modelDeviation(f);
            QVERIFY2(qAbs(ref - b.level(f) - expected) <= 0.05, qPrintable(QString::number(f)));
        }
        b.write("TGENAB OFF;SIG");
        QVERIFY(qAbs(b.query("MAMPL?").toDouble() - BenchModel::NoiseFloorDbm) <= 1.5);
    }

    void operatorConnects_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("prompt");
        QTest::addColumn<Connection>("expected");

        const auto row = [](const char* name, const char* text, Connection c, bool prompt = true) {
            QTest::newRow(name) << QString::fromLatin1(text) << prompt << c;
        };
        row("bridge", "Connect the Impedance Bridge between the Tracking Generator output and",
            Connection::bridgeOpen());
        row("through", "Connect the Tracking Generator output to the 2712 input. Press OK.",
            Connection::through());
        row("termination", "Connect the Termination to be measured to the DUT connector of the",
            Connection::bridgeDut(Connection::Dut::Termination));
        row("attenuator", "Connect the Attenuator to be measured to the DUT connector of the",
            Connection::bridgeDut(Connection::Dut::Attenuator));
        row("cable", "Connect the Cable to be measured between the Tracking Generator output and",
            Connection::attenuatorDut(0));
        row("2.5X", "Connect the 2.5X (8 dB) Attenuator to be measured between the",
            Connection::attenuatorDut(8));
        row("custom", "Connect the 12.5 dB Attenuator to be measured between the",
            Connection::attenuatorDut(12.5));
        row("other", "The measurement is complete.", Connection::nothing(), false);
    }

    void operatorConnects()
    {
        QFETCH(QString, text);
        QFETCH(bool, prompt);
        QFETCH(Connection, expected);

        Bench b;
        ScriptedDialogs person;
        SimulatedOperator hands(person, *b.bench);
        person.answer({MsgResult::Cancel, MsgResult::Ok});
        // A person who cancels connects nothing; the message reaches the person unchanged.
        QCOMPARE(hands.message(MsgIcon::Information, "Velmora", text, MsgButtons::OkCancel),
                 MsgResult::Cancel);
        QCOMPARE(b.bench->connection(), Connection::nothing());
        QCOMPARE(hands.message(MsgIcon::Information, "Velmora", text, MsgButtons::OkCancel),
                 MsgResult::Ok);
        QCOMPARE(person.shown.last().text, text);
        QCOMPARE(b.bench->connection(), expected);
        QCOMPARE(SimulatedOperator::requestedConnection(text).has_value(), prompt);
    }

    void scenarioParsing_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<bool>("valid");
        QTest::newRow("empty") << "" << true;
        QTest::newRow("models") << "2710,no-tg,marginal" << true;
        QTest::newRow("faults") << "timeout=MAMPL?@3, write-error=SIG,vanish=4,stale-srq,junk"
                                << true;
        QTest::newRow("unknown") << "2713" << false;
        QTest::newRow("bad count") << "vanish=0" << false;
        QTest::newRow("empty command") << "timeout=" << false;
        QTest::newRow("one bad word") << "good,fast" << false;
    }

    void scenarioParsing()
    {
        QFETCH(QString, words);
        QFETCH(bool, valid);
        QCOMPARE(BenchScenario::parse(words).has_value(), valid);
    }
};

QTEST_MAIN(TestSimulatedBench)
#include "tst_simulatedbench.moc"
