// The measurement sequences without a window: the engine on the simulated bench and the
// virtual clock, with the analyser commands written out as the analyser receives them.

#include "EngineBench.h"

#include <QTest>

#include <cmath>

namespace {

const QString GeneralSetup = "EOS ON;HDR OFF;TIM 100E-3;ACQMODE PEAK;SPAN 100.0E+6;MXSPN OFF;"
                             "FREQ 500.E+6;STEP 2.000E+6;VIDFLT 3.0E+4;VFENAB ON;TGLEVEL 0.0;"
                             "TGENAB ON:SIG";
const QStringList RlReference{"REC 1", GeneralSetup, "REFLVL 10.0;RFATT 40;STEP 2.000E+6", "SIG",
                              "REFLVL?"};
const QStringList AttReference{"REC 1", GeneralSetup, "VRTDSP LOG:1;REFLVL 4.0;RFATT 34;FINE ON",
                               "SIG", "REFLVL?"};
const QStringList Markers100{"MFREQ 100E+6)", "MAMPL?", "MFREQ 200E+6)",  "MAMPL?",
                             "MFREQ 300E+6)", "MAMPL?", "MFREQ 400E+6)",  "MAMPL?",
                             "MFREQ 500E+6)", "MAMPL?", "MFREQ 600E+6)",  "MAMPL?",
                             "MFREQ 700E+6)", "MAMPL?", "MFREQ 800E+6)",  "MAMPL?",
                             "MFREQ 900E+6)", "MAMPL?", "MFREQ 1000E+6)", "MAMPL?"};
const int Multipliers[] = {1, 2, 4, 8};
const QStringList FreeRun{"TRI FRE"};

// Marker and reading for every point of a sweep at multiplier m; device sweeps skip 12.5 MHz.
QStringList markers(int m, bool device)
{
    if (m == 8)
        return Markers100;
    QStringList traffic;
    for (int i = (device && m == 1) ? 2 : m; i <= 80; i += m)
        traffic << QStringLiteral("MFREQ %1E+6)").arg(i * 12.5) << "MAMPL?";
    return traffic;
}

const QString RlPrompt = "Connect the Impedance Bridge between the Tracking Generator output and "
                         "the 2712 input.\nIf possible connect the Bridge output directly to the "
                         "2712 input using an NM-to-NM adapter.\nDon't connect anything the DUT "
                         "input of the Bridge.\n\nClick OK when done and the 2712 has finished "
                         "setup.";
const QString AttPrompt = "Connect the Tracking Generator output to the 2712 input.\n\nClick OK "
                          "when done and the 2712 has finished setup.";

} // namespace

class EngineTest : public QObject {
    Q_OBJECT
private slots:
    // A device sweep after its reference at the same step: first the reference (set-up, prompt,
    // 0.9 s a point, the table kept), then the device.
    void deviceSweep_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<MeasType>("type");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("first"); // what precedes the points, after the reference
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<float>("limit");
        QTest::addColumn<QString>("verdict");

        const QString bridge = "to be measured to the DUT connector of the Impedance Bridge.\n";
        const QString between =
            " to be measured between the Tracking Generator output and the 2712 input.\n\n"
            "Click OK when done.";
        QTest::newRow("termination, 12.5 MHz")
            << "" << MeasType::Termination << 0 << "SIG"
            << "Connect the Termination " + bridge + "\nClick OK when done." << 21.0f << "PASS";
        QTest::newRow("attenuator return loss, 50 MHz")
            << "" << MeasType::AttenuatorRl << 2 << "SIG"
            << "Connect the Attenuator " + bridge +
                   "Use a known good Termination on the open end of the Attenuator.\n\n"
                   "Click OK when done."
            << 26.0f << "PASS";
        QTest::newRow("cable, 100 MHz") << "" << MeasType::Cable << 3 << "REFLVL  4|SIG"
                                        << "Connect the Cable" + between << 0.0f << "NONE";
        QTest::newRow("2X, 12.5 MHz")
            << "" << MeasType::Att2X << 0 << "REFLVL -2|SIG"
            << "Connect the 2X (6 dB) Attenuator" + between << 0.3f << "PASS";
        QTest::newRow("2.5X, 25 MHz")
            << "" << MeasType::Att2p5X << 1 << "REFLVL -4|SIG"
            << "Connect the 2.5X (8 dB) Attenuator" + between << 0.3f << "PASS";
        QTest::newRow("5X, 50 MHz")
            << "" << MeasType::Att5X << 2 << "REFLVL -10|SIG"
            << "Connect the 5X (14 dB) Attenuator" + between << 0.4f << "PASS";
        QTest::newRow("failing 10X, 100 MHz")
            << "failing" << MeasType::Att10X << 3 << "REFLVL -16|SIG"
            << "Connect the 10X (20 dB) Attenuator" + between << 0.4f << "FAIL";
    }

    void deviceSweep()
    {
        QFETCH(QString, scenario);
        QFETCH(MeasType, type);
        QFETCH(int, step);
        QFETCH(QString, first);
        QFETCH(QString, verdict);
        const int m = Multipliers[step];
        const bool rl = kindOf(type) == MeasKind::ReturnLoss;
        const int kind = rl ? 1 : 0;
        EngineBench b(scenario);
        const double start = b.clock.now();
        b.run(rl ? MeasType::RlReference : MeasType::AttReference, step);

        // 5 + 10 s of general set-up, 5 + 1 s after the prompt, the SIG, then 0.9 s a point.
        const double elapsed = b.clock.now() - start, expected = 21 + 80 / m * 0.9;
        QVERIFY2(elapsed >= expected && elapsed < expected + 1.0,
                 qPrintable(QString::number(elapsed)));
        QCOMPARE(b.bench.received(),
                 (rl ? RlReference : AttReference) + markers(m, false) + FreeRun);
        const QString title = rl ? "Return Loss " : "Attenuator ";
        QCOMPARE(b.dialogs.titles(),
                 (QStringList{title + "Measurement Setup", title + "Reference"}));
        QCOMPARE(b.dialogs.shown[0].text, rl ? RlPrompt : AttPrompt);
        QCOMPARE(b.dialogs.shown[0].icon, MsgIcon::Information);
        QCOMPARE(b.dialogs.shown[1].text, "Getting Reference values done.");
        QCOMPARE(b.dialogs.shown[1].icon, MsgIcon::None);
        QVERIFY(b.engine.State.RefValid[kind] && !b.engine.State.RefValid[1 - kind]);
        QCOMPARE(b.engine.State.RefStep[kind], m);
        QVERIFY(b.view.deviceOptions[kind]);
        QCOMPARE(b.grid.maximum(), rl ? 40.0 : 1.0);
        QCOMPARE(b.grid.minimum(), rl ? 10.0 : -1.0);
        QCOMPARE(b.grid.majorDivision(), rl ? 6 : 4);
        for (int series = 1; series <= 6; ++series)
            QVERIFY(b.grid.seriesHidden(series));
        QVERIFY(!b.engine.sweptToEnd() && !b.engine.lastResult());

        b.forget();
        b.run(type);
        QCOMPARE(b.bench.received(), first.split('|') + markers(m, true) + FreeRun);
        QCOMPARE(b.dialogs.shown.size(), 2);
        QTEST(b.dialogs.shown[0].text, "prompt");
        QCOMPARE(b.dialogs.shown[1].title,
                 rl ? "Return Loss Measurement" : "Attenuation Measurement");
        QCOMPARE(b.dialogs.shown[1].text,
                 rl ? "Getting Return Loss values done." : "Getting Attenuation values done.");

        // Limit lines at every row, the curve in the step's column from its first point on.
        const int column = step + 3, firstPoint = m == 1 ? 2 : m;
        QTEST(b.cell(40, 1), "limit");
        QCOMPARE(b.grid.seriesHidden(1), verdict == "NONE");
        QVERIFY(!b.grid.seriesHidden(column));
        QVERIFY(b.grid.cell(firstPoint - 1, column).isEmpty() || !rl);
        for (int i = firstPoint + m; i <= 80; i += m) {
            const double model =
                rl ? b.bench.modelReturnLoss(i * 12.5) : b.bench.modelDeviation(i * 12.5);
            QVERIFY2(std::fabs(b.cell(i, column) - model) <= 0.05, qPrintable(QString::number(i)));
            // Between two points the chart draws a fill-in within their span.
            const float low = std::min(b.cell(i - m, column), b.cell(i, column));
            const float high = std::max(b.cell(i - m, column), b.cell(i, column));
            for (int j = i - m + 1; j < i; ++j)
                QVERIFY(b.cell(j, column) >= low && b.cell(j, column) <= high);
        }

        // The record holds the measured points only, as drawn, and the verdict on them.
        QVERIFY(b.engine.sweptToEnd());
        const MeasurementResult& result = b.engine.lastResult().value();
        QCOMPARE(result.type, type);
        QCOMPARE(result.points.size(), QList<int>({79, 40, 20, 10})[step]);
        for (const MeasuredPoint& point : result.points)
            QCOMPARE(point.value, b.cell(int(point.frequencyMHz / 12.5), column));
        QCOMPARE(result.reference.points.size(), 80 / m);
        QCOMPARE(Verdict::of(result).word(), verdict);
    }

    void interrupted_data()
    {
        QTest::addColumn<MeasType>("type");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QStringList>("titles");
        const QStringList stopAt4th = markers(2, false).mid(0, 8) + FreeRun;
        QTest::newRow("reference, Cancel at the prompt")
            << MeasType::RlReference << "cancel" << QStringList{"REC 1", GeneralSetup}
            << QStringList{"Return Loss Measurement Setup"};
        QTest::newRow("reference, Stop at the 4th point")
            << MeasType::RlReference << "stop" << RlReference + stopAt4th
            << QStringList{"Return Loss Measurement Setup", "Stop"};
        QTest::newRow("termination, Cancel at the prompt")
            << MeasType::Termination << "cancel" << QStringList{}
            << QStringList{"Return Loss Measurement Setup"};
        QTest::newRow("termination, Stop in the sweep")
            << MeasType::Termination << "stop"
            << QStringList{"SIG"} + markers(2, true).mid(0, 6) + FreeRun
            << QStringList{"Return Loss Measurement Setup", "Stop"};
        QTest::newRow("2X, Cancel at the prompt")
            << MeasType::Att2X << "cancel" << QStringList{"REFLVL -2"}
            << QStringList{"Attenuator Measurement Setup"};
    }

    void interrupted()
    {
        QFETCH(MeasType, type);
        QFETCH(QString, how);
        const MeasKind kind = kindOf(type);
        EngineBench b;
        if (!isReference(type)) {
            b.run(referenceOf(kind), 1);
            b.forget();
        }
        const bool devicesBefore = b.view.deviceOptions[kindIndex(kind)];
        if (how == "cancel") {
            b.dialogs.answer({MsgResult::Cancel});
        } else {
            // Stop while the fourth point is being read, or the third of a device.
            const double after =
                isReference(type) ? 6.0 + 0.5 + 0.1 + 3 * 0.9 + 0.3 : 2.0 + 2 * 0.9 + 0.3;
            b.afterPrompt(after, [&] {
                b.engine.requestStop();
                b.view.showBusy(false);
            });
        }
        b.run(type);

        QTEST(b.bench.received(), "sent");
        QTEST(b.dialogs.titles(), "titles");
        if (how == "stop") {
            QCOMPARE(b.dialogs.shown.last().text, "Sequence interupted by user.");
            QCOMPARE(b.dialogs.shown.last().icon, MsgIcon::Exclamation);
        }
        QVERIFY(!b.engine.sweptToEnd() && !b.engine.lastResult());
        QVERIFY(!b.view.stopEnabled);
        // A reference that did not complete leaves no table and no device to choose.
        QCOMPARE(b.engine.State.RefValid[kindIndex(kind)], !isReference(type));
        QCOMPARE(b.view.deviceOptions[kindIndex(kind)], !isReference(type) && devicesBefore);
    }

    void reuseOffer()
    {
        EngineBench b;
        b.run(MeasType::RlReference, 1);
        // Yes at any coarser step: the table is kept, "TRI FRE" sent, no done message.
        for (int step : {1, 2, 3}) {
            b.forget();
            b.run(MeasType::RlReference, step);
            QCOMPARE(b.dialogs.titles(),
                     (QStringList{"Return Loss Measurement Setup", "Reference Table"}));
            QCOMPARE(b.dialogs.shown[1].text,
                     "Do want to use the already defined Reference table ?");
            QCOMPARE(b.dialogs.shown[1].icon, MsgIcon::Question);
            QCOMPARE(b.bench.received().mid(2),
                     (QStringList{"REFLVL 10.0;RFATT 40;STEP 2.000E+6", "SIG", "TRI FRE"}));
        }
        // Never at a finer step than the table's.
        b.forget();
        b.run(MeasType::RlReference, 0);
        QVERIFY(!b.dialogs.titles().contains("Reference Table"));

        // An attenuation table at 100 MHz is not offered at 12.5 MHz after a return-loss table
        // at 12.5 MHz: 70 of its points were never measured.
        EngineBench kinds;
        kinds.run(MeasType::AttReference, 3);
        kinds.run(MeasType::RlReference, 0);
        kinds.forget();
        kinds.run(MeasType::AttReference, 0);
        QVERIFY(!kinds.dialogs.titles().contains("Reference Table"));
        QCOMPARE(kinds.engine.State.RefStep[0], 1);
    }

    // Entries checked before a sweep: a refused one is cleared, and nothing goes to the
    // analyser; else the first command sent. Then the attenuation and limit boxes as left.
    void valueChecks_data()
    {
        QTest::addColumn<MeasType>("type");
        QTest::addColumn<QString>("attenuation");
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QString>("seen"); // message or first command|attenuation|limit
        const auto row = [](const char* name, MeasType type, const char* attenuation,
                            const char* limit, const QString& seen) {
            QTest::newRow(name) << type << QString(attenuation) << QString(limit) << seen;
        };
        const QString lossError = "Custom Limit must be between 10 and 40||";
        const QString attnError = "Custom Attenuation must be less than or equal to 25 dB.|";
        const QString limitError = "Custom Limit must be between 0.1 and 1.0|";
        const MeasType term = MeasType::Termination, custom = MeasType::CustomAtt;
        row("return loss 10", term, "", "10", "SIG||10");
        row("return loss 40", term, "", "40", "SIG||40");
        row("return loss 9.9", term, "", "9.9", lossError);
        row("return loss 40.1", term, "", "40.1", lossError);
        row("comma attenuation", custom, "12,5", "0,5", "REFLVL -8.5|12.5|0.5");
        row("25 accepted", custom, "25", "1.0", "REFLVL -21|25|1.0");
        row("25.5 refused", custom, "25.5", "0.5", attnError + "|0.5");
        row("not a number", custom, "x", "0.1", "REFLVL  4|0.0|0.1");
        row("limit 0.05", custom, "6", "0.05", limitError + "6|");
        row("limit 1.2", MeasType::Att2X, "", "1.2", limitError + "|");
        row("empty limit: default", MeasType::Att2X, "", "", "REFLVL -2||");
    }

    void valueChecks()
    {
        QFETCH(MeasType, type);
        QFETCH(QString, attenuation);
        QFETCH(QString, limit);
        QFETCH(QString, seen);
        const MeasKind kind = kindOf(type);
        const Entry limitEntry =
            kind == MeasKind::ReturnLoss ? Entry::CustomLimitsRl : Entry::CustomLimitsAtt;
        EngineBench b;
        b.run(referenceOf(kind), 3);
        b.forget();
        b.view.customAttn = type == MeasType::CustomAtt;
        b.view.texts[size_t(Entry::CustomAttn)] = attenuation;
        b.view.limits[kindIndex(kind)] = true;
        b.view.texts[size_t(limitEntry)] = limit;
        b.run(type);

        const bool refused = b.bench.received().isEmpty();
        QCOMPARE(QStringList({refused ? b.dialogs.shown.value(0).text : b.bench.received().first(),
                              b.view.entryText(Entry::CustomAttn), b.view.entryText(limitEntry)})
                     .join('|'),
                 seen);
        if (refused) {
            QCOMPARE(b.dialogs.titles(), QStringList{"Error"});
            QCOMPARE(b.dialogs.shown[0].icon, MsgIcon::Critical);
            QVERIFY(!b.engine.sweptToEnd());
            return;
        }
        // An empty custom limit unticks the box and the device's own limit applies.
        QCOMPARE(b.view.limits[kindIndex(kind)], !limit.isEmpty());
        QCOMPARE(b.cell(40, 1), limit.isEmpty() ? 0.3f : float(seen.section('|', 2).toDouble()));
        QVERIFY(!b.grid.seriesHidden(1));
        if (type == MeasType::CustomAtt)
            QCOMPARE(b.dialogs.shown[0].text.section(" to be measured", 0, 0),
                     "Connect the " + seen.section('|', 1, 1) + " dB Attenuator");
        QCOMPARE(b.engine.lastResult()->customLimits, !limit.isEmpty());
    }

    // Bus faults mid-sweep, each answered OK: a message nobody takes (at 200 MHz), then an
    // answer that never comes (at 300 MHz: it reads 0). The sweep goes on to its end.
    void busFaultsMidSweep()
    {
        EngineBench b(QStringLiteral("write-error=MFREQ 200E+6)@2,timeout=MAMPL?@13"));
        b.run(MeasType::AttReference, 3);
        b.forget();
        b.run(MeasType::Att2X);
        QCOMPARE(b.dialogs.titles(), (QStringList{"Attenuator Measurement Setup", "GPIB ERROR # 2",
                                                  "I/O Error", "Attenuation Measurement"}));
        QCOMPARE(b.cell(24, 6), b.engine.State.RefTable[0][24] - 6.0f);
        QVERIFY(std::fabs(b.cell(32, 6) - b.bench.modelDeviation(400)) <= 0.05);
    }
};

QTEST_MAIN(EngineTest)
#include "tst_engine.moc"
