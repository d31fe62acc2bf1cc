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

    void descriptorsAndBoard()
    {
        Bench b;
        QVERIFY(b.ud >= 1);
        const int second = b.bench->ibdev(0, 5, 0, T10s, 1, 0);
        QVERIFY(second >= 1 && second != b.ud);
        int tmo = 0;
        QCOMPARE(b.bench->ibask(second, IbaTMO, &tmo), CMPL);
        QCOMPARE(tmo, T10s);
        b.bench->ibtmo(second, T100ms);
        b.bench->ibask(second, IbaTMO, &tmo);
        QCOMPARE(tmo, T100ms);

        // Nobody at address 5 until the descriptor is re-pointed at the analyser.
        QCOMPARE(b.bench->ibwrt(second, "ID?"), ERR);
        QCOMPARE(b.bench->status().iberr, ENOL);
        QCOMPARE(b.bench->ibclr(second), ERR);
        QCOMPARE(b.bench->status().iberr, ENOL);
        b.bench->ibpad(second, 18);
        QCOMPARE(b.bench->ibclr(second), CMPL);

        QCOMPARE(b.bench->ibtmo(99, T1s), ERR);
        QCOMPARE(b.bench->status().iberr, EDVR);
        QCOMPARE(b.bench->ibdev(1, 18, 0, T3s, 1, 0), -1);
        QCOMPARE(b.bench->status().iberr, ENEB);
        QCOMPARE(b.bench->ibsre(0, 1), CMPL);
        b.bench->SendIFC(0);
        QCOMPARE(b.bench->status().ibsta, CMPL);

        Bench none("no-board");
        QCOMPARE(none.ud, -1);
        QCOMPARE(none.bench->status().iberr, ENEB);
        none.bench->SendIFC(0);
        QCOMPARE(none.bench->status().ibsta, ERR);
        QCOMPARE(none.bench->status().iberr, ENEB);
    }

    void identification_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("pad");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("2712") << "" << 18 << QByteArray("ID?")
                              << QByteArray(
                                     "ID SIMULATED,2712,V1.04,OPTIONS:TRACKING GEN,NB FILTER");
        QTest::newRow("2711 no header") << "2711" << 18 << QByteArray("HDR OFF;ID?")
                                        << QByteArray("SIMULATED,2711,V1.04,OPTIONS:TRACKING GEN,"
                                                      "NB FILTER");
        QTest::newRow("2710 no-tg") << "2710,no-tg" << 18 << QByteArray("ID?")
                                    << QByteArray("ID SIMULATED,2710,V1.04,OPTIONS:NB FILTER");
        QTest::newRow("counter") << "others-first" << 3 << QByteArray("ID?")
                                 << QByteArray("SIMULATED,COUNTER 5370,V2.10");
    }

    void identification()
    {
        QFETCH(QString, scenario);
        QFETCH(int, pad);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, expected);

        Bench b(scenario, pad);
        QCOMPARE(b.query(message), expected);
    }

    void headersAndReferenceLevel()
    {
        Bench b;
        QCOMPARE(b.query("REFLVL?"), QByteArray("REFLVL -20.0"));
        QCOMPARE(b.write("REFLVL 10.0;RFATT 40;STEP 2.000E+6"), CMPL);
        QCOMPARE(b.query("REFLVL?"), QByteArray("REFLVL 10.0"));
        QVERIFY(b.query("MAMPL?").startsWith("MAMPL -"));

        // The program's own messages never upset the analyser.
        const QList<QByteArray> program = {
            "REC 1",          SetUp,       "VRTDSP LOG:1;REFLVL 4.0;RFATT 34;FINE ON",
            "MFREQ 37.5E+6)", "REFLVL  4", "TRI FRE"};
        for (const QByteArray& message : program)
            QCOMPARE(b.write(message), CMPL);
        QCOMPARE(b.query("REFLVL?"), QByteArray("4.0"));
        b.write("REFLVL -2");
        QCOMPARE(b.query("REFLVL?"), QByteArray("-2.0"));
        b.clock.advance(1);
        char stb = 0x7f;
        b.bench->ibrsp(b.ud, &stb);
        QCOMPARE(quint8(stb), quint8(0x42)); // the set-up's sweep, and no error before it
        b.bench->ibrsp(b.ud, &stb);
        QCOMPARE(stb, char(0));

        b.write("REC 1");
        QCOMPARE(b.query("REFLVL?"), QByteArray("REFLVL -20.0"));
        QCOMPARE(b.bench->received().size(), program.size() + 9);
        QCOMPARE(b.bench->received().at(7), QStringLiteral("MFREQ 37.5E+6)"));
    }

    void sweepRaisesServiceRequest()
    {
        Bench b;
        QCOMPARE(b.bench->ibwait(b.ud, 0), CMPL);
        QCOMPARE(b.write(SetUp), CMPL);
        QCOMPARE(b.bench->ibwait(b.ud, TIMO | CMPL), CMPL);
        QCOMPARE(b.clock.now(), 0.0);

        QCOMPARE(b.bench->ibwait(b.ud, RQS | TIMO), CMPL | RQS);
        QCOMPARE(b.clock.now(), 0.3);
        QCOMPARE(b.bench->ibwait(b.ud, 0), CMPL | RQS);
        char stb = 0;
        QCOMPARE(b.bench->ibrsp(b.ud, &stb), CMPL);
        QCOMPARE(quint8(stb), quint8(0x42));
        QCOMPARE(b.bench->ibwait(b.ud, 0), CMPL);

        // A query right after SIG is answered once the sweep is done.
        b.write("SIG");
        b.write("MAMPL?");
        QVERIFY(b.read().toDouble() < 0);
        QCOMPARE(b.clock.now(), 0.6);
    }

    void unknownCommandRequestsService()
    {
        Bench b;
        QCOMPARE(b.write("FROB 3"), CMPL);
        QCOMPARE(b.bench->ibwait(b.ud, RQS | TIMO), CMPL | RQS);
        QCOMPARE(b.clock.now(), 0.0);
        char stb = 0;
        b.bench->ibrsp(b.ud, &stb);
        QCOMPARE(quint8(stb), quint8(0x61));
        b.write("TGENAB MAYBE");
        b.bench->ibrsp(b.ud, &stb);
        QCOMPARE(quint8(stb), quint8(0x61));

        Bench noTg("no-tg");
        noTg.write("TGENAB ON");
        noTg.bench->ibrsp(noTg.ud, &stb);
        QCOMPARE(quint8(stb), quint8(0x61));
    }

    void missingServiceRequest()
    {
        Bench b("no-srq");
        b.write("SIG");
        QCOMPARE(b.bench->ibwait(b.ud, RQS | TIMO), CMPL | TIMO);
        QCOMPARE(b.clock.now(), 3.0);
        QCOMPARE(b.bench->ibwait(b.ud, RQS), ERR | CMPL);
        QCOMPARE(b.bench->status().iberr, EABO);
        QCOMPARE(b.clock.now(), 1003.0);
    }

    void staleServiceRequests()
    {
        Bench b("stale-srq");
        const auto drain = [&b] {
            QList<quint8> bytes;
            for (char stb = 1; stb != 0;) {
                b.bench->ibrsp(b.ud, &stb);
                bytes.append(quint8(stb));
            }
            return bytes;
        };
        QCOMPARE(b.bench->ibwait(b.ud, 0), CMPL | RQS);
        QCOMPARE(drain(), (QList<quint8>{0x41, 0x44, 0x43, 0}));
        b.write("SIG");
        QCOMPARE(b.bench->ibwait(b.ud, RQS | TIMO), CMPL | RQS);
        QCOMPARE(b.clock.now(), 0.3);
        // Acknowledging the sweep leaves the stale ones pending for the next SIG.
        QCOMPARE(drain(), (QList<quint8>{0x42, 0x41, 0x44, 0x43, 0}));
    }

    void chunkedRead()
    {
        Bench b;
        b.write("REFLVL?");
        QByteArray small(16, 'x');
        QCOMPARE(b.bench->ibrd(b.ud, small), CMPL | END);
        QCOMPARE(b.bench->status().ibcntl, 12L);
        QCOMPARE(small, QByteArray("REFLVL -20.0xxxx"));

        Bench padded("long-answers,crlf");
        padded.write("HDR OFF;REFLVL?");
        QByteArray buffer(512, '\0');
        QCOMPARE(padded.bench->ibrd(padded.ud, buffer), CMPL);
        QCOMPARE(padded.bench->status().ibcntl, 512L);
        QVERIFY(buffer.startsWith("-20.0   "));
        buffer.fill('\0');
        QCOMPARE(padded.bench->ibrd(padded.ud, buffer), CMPL | END);
        QCOMPARE(padded.bench->status().ibcntl, 5L + 600 + 2 - 512);
        QVERIFY(buffer.left(95).endsWith("   \r\n"));
    }

    void readTimeout()
    {
        Bench b("timeout=MAMPL?@2");
        QByteArray buffer(64, '\0');
        QCOMPARE(b.bench->ibrd(b.ud, buffer), ERR | TIMO);
        QCOMPARE(b.bench->status().iberr, EABO);
        QCOMPARE(b.bench->status().ibcntl, 0L);
        QCOMPARE(b.clock.now(), 3.0);

        b.bench->ibtmo(b.ud, T1s);
        QVERIFY(b.query("MAMPL?").startsWith("MAMPL"));
        QCOMPARE(b.query("MAMPL?"), QByteArray());
        QCOMPARE(b.bench->status().ibsta, ERR | TIMO);
        QCOMPARE(b.clock.now(), 4.0);
        QVERIFY(b.query("MAMPL?").startsWith("MAMPL"));

        // Device clear throws away an answer nobody wants any more.
        b.write("ID?");
        QCOMPARE(b.bench->ibclr(b.ud), CMPL);
        QCOMPARE(b.bench->ibrd(b.ud, buffer), ERR | TIMO);
    }

    void writeErrorAndVanish()
    {
        Bench b("write-error=MFREQ@2");
        QCOMPARE(b.write("MFREQ 1E+6)"), CMPL);
        QCOMPARE(b.bench->status().ibcntl, 11L);
        QCOMPARE(b.write("MFREQ 2E+6)"), ERR);
        QCOMPARE(b.bench->status().iberr, ENOL);
        QCOMPARE(b.bench->status().ibcntl, 0L);
        QCOMPARE(b.write("MFREQ 3E+6)"), CMPL);
        QCOMPARE(b.bench->received(), (QStringList{"MFREQ 1E+6)", "MFREQ 3E+6)"}));

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

    void endings_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("eoi") << "" << QByteArray("REFLVL -20.0");
        QTest::newRow("crlf") << "crlf" << QByteArray("REFLVL -20.0\r\n");
        QTest::newRow("lf") << "lf" << QByteArray("REFLVL -20.0\n");
        QTest::newRow("junk") << "junk" << QByteArray("REFLVL -20.0\n\xff");
    }

    void endings()
    {
        QFETCH(QString, scenario);
        QFETCH(QByteArray, expected);
        Bench b(scenario);
        QCOMPARE(b.query("REFLVL?"), expected);
        QCOMPARE(b.bench->status().ibsta, CMPL | END);
    }

    void modelLevels_data()
    {
        QTest::addColumn<QString>("quality");
        QTest::addColumn<Connection>("dut");
        const QList<std::pair<const char*, Connection>> duts = {
            {"termination", Connection::bridgeDut(Connection::Dut::Termination)},
            {"closed attenuator", Connection::bridgeDut(Connection::Dut::Attenuator)},
            {"cable", Connection::attenuatorDut(0)},
            {"6 dB", Connection::attenuatorDut(6)},
            {"8 dB", Connection::attenuatorDut(8)},
            {"14 dB", Connection::attenuatorDut(14)},
            {"20 dB", Connection::attenuatorDut(20)},
            {"12.5 dB", Connection::attenuatorDut(12.5)}};
        for (const char* q : {"good", "marginal", "failing"}) {
            for (const auto& [name, dut] : duts)
                QTest::addRow("%s %s", q, name) << QString::fromLatin1(q) << dut;
        }
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
        for (double f : {1.0, 37.5, 250.0, 600.0, 1000.0}) {
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

    void qualityAgainstLimits()
    {
        // Worst case over 1..1000 MHz, and where it first crosses the limit.
        const auto worst = [](const BenchModel& m, const Connection& c, double limit, bool loss) {
            double extreme = loss ? 1e9 : 0;
            double crossing = 0;
            for (double f = 1; f <= 1000; f += 1) {
                const double v = loss ? m.returnLoss(c, f) : qAbs(m.deviation(c, f));
                extreme = loss ? qMin(extreme, v) : qMax(extreme, v);
                if (crossing == 0 && (loss ? v < limit : v > limit))
                    crossing = f;
            }
            return std::pair{extreme, crossing};
        };
        const BenchModel good(DutQuality::Good), marginal(DutQuality::Marginal),
            failing(DutQuality::Failing);
        const Connection term = Connection::bridgeDut(Connection::Dut::Termination);
        const Connection att = Connection::bridgeDut(Connection::Dut::Attenuator);

        QVERIFY(worst(good, term, 21, true).first > 26);
        QVERIFY(qAbs(good.returnLoss(term, 1) - 38) < 1);
        QVERIFY(worst(good, att, 26, true).first > 30);
        const double marginalTerm = worst(marginal, term, 21, true).first;
        QVERIFY(marginalTerm > 21 && marginalTerm < 22.5);
        const double marginalAtt = worst(marginal, att, 26, true).first;
        QVERIFY(marginalAtt > 26 && marginalAtt < 27.5);
        QVERIFY(worst(failing, term, 21, true).second > 700);
        QVERIFY(worst(failing, att, 26, true).second > 700);

        for (double nominal : {6.0, 8.0, 14.0, 20.0}) {
            const Connection c = Connection::attenuatorDut(nominal);
            const double limit = nominal < 10 ? 0.3 : 0.4;
            QVERIFY(worst(good, c, limit, false).first <= limit - 0.1);
            const double m = worst(marginal, c, limit, false).first;
            QVERIFY(m < limit && m > limit - 0.1);
            QVERIFY(worst(failing, c, limit, false).second > 600);
        }
        QVERIFY(worst(good, Connection::attenuatorDut(0), 1, false).first < 0.05);
    }

    void heldTrace()
    {
        Bench b;
        b.write("HDR OFF;TGLEVEL 0.0;TGENAB ON");
        b.bench->connect(Connection::through());
        const double through = b.level(100);
        // A single sweep holds its trace: reconnecting shows only after the next SIG.
        b.bench->connect(Connection::attenuatorDut(20));
        QVERIFY(qAbs(b.query("MAMPL?").toDouble() - through) < 0.05);
        b.write("TRI FRE");
        QVERIFY(qAbs(b.query("MAMPL?").toDouble() - through + 20) < 0.1);
    }

    void operatorConnects_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("prompt");
        QTest::addColumn<Connection>("expected");

        const auto row = [](const char* name, const char* text, Connection c, bool prompt = true) {
            QTest::newRow(name) << QString::fromLatin1(text) << prompt << c;
        };
        row("bridge",
            "Connect the Impedance Bridge between the Tracking Generator output and the "
            "2712 input.\nPress OK when ready.",
            Connection::bridgeOpen());
        row("through", "Connect the Tracking Generator output to the 2712 input. Press OK.",
            Connection::through());
        row("termination",
            "Connect the Termination to be measured to the DUT connector of the Impedance Bridge. "
            "X",
            Connection::bridgeDut(Connection::Dut::Termination));
        row("attenuator",
            "Connect the Attenuator to be measured to the DUT connector of the Impedance Bridge. X",
            Connection::bridgeDut(Connection::Dut::Attenuator));
        row("cable", "Connect the Cable to be measured between the Tracking Generator output and",
            Connection::attenuatorDut(0));
        row("2X", "Connect the 2X (6 dB) Attenuator to be measured between the",
            Connection::attenuatorDut(6));
        row("2.5X", "Connect the 2.5X (8 dB) Attenuator to be measured between the",
            Connection::attenuatorDut(8));
        row("5X", "Connect the 5X (14 dB) Attenuator to be measured between",
            Connection::attenuatorDut(14));
        row("10X", "Connect the 10X (20 dB) Attenuator to be measured between",
            Connection::attenuatorDut(20));
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
