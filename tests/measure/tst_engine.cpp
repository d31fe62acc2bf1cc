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
    void reference_data();
    void reference();
    void deviceSweep_data();
    void deviceSweep();
    void interrupted_data();
    void interrupted();
    void reuseOffer();
    void valueChecks_data();
    void valueChecks();
    void busFaultsMidSweep();
    void cancelAtGpibErrorEndsProgram();
    void closeRequestedMidRun();
};

void EngineTest::reference_data()
{
    QTest::addColumn<MeasType>("type");
    QTest::addColumn<int>("step");
    for (int step = 0; step < 4; ++step) {
        QTest::addRow("return loss, step %d", step) << MeasType::RlReference << step;
        QTest::addRow("attenuation, step %d", step) << MeasType::AttReference << step;
    }
}

void EngineTest::reference()
{
    QFETCH(MeasType, type);
    QFETCH(int, step);
    const bool rl = type == MeasType::RlReference;
    const int m = Multipliers[step];
    EngineBench b;
    const double start = b.clock.now();
    b.run(type, step);

    // 5 + 10 s of general set-up, 5 + 1 s after the prompt, the SIG, then 0.9 s a point.
    const double elapsed = b.clock.now() - start, expected = 21 + 80 / m * 0.9;
    QVERIFY2(elapsed >= expected && elapsed < expected + 1.0, qPrintable(QString::number(elapsed)));
    QCOMPARE(b.bench.received(), (rl ? RlReference : AttReference) + markers(m, false) + FreeRun);
    const QString title = rl ? "Return Loss " : "Attenuator ";
    QCOMPARE(b.dialogs.titles(), (QStringList{title + "Measurement Setup", title + "Reference"}));
    QCOMPARE(b.dialogs.shown[0].text, rl ? RlPrompt : AttPrompt);
    QCOMPARE(b.dialogs.shown[0].icon, MsgIcon::Information);
    QCOMPARE(b.dialogs.shown[1].text, "Getting Reference values done.");
    QCOMPARE(b.dialogs.shown[1].icon, MsgIcon::None);
    const int kind = rl ? 1 : 0;
    QVERIFY(b.engine.State.RefValid[kind] && !b.engine.State.RefValid[1 - kind]);
    QCOMPARE(b.engine.State.RefStep[kind], m);
    QVERIFY(b.view.deviceOptions[kind]);
    QCOMPARE(b.grid.maximum(), rl ? 40.0 : 1.0);
    QCOMPARE(b.grid.minimum(), rl ? 10.0 : -1.0);
    QCOMPARE(b.grid.majorDivision(), rl ? 6 : 4);
    for (int series = 1; series <= 6; ++series)
        QVERIFY(b.grid.seriesHidden(series));
    QVERIFY(!b.engine.sweptToEnd() && !b.engine.lastResult());
}

void EngineTest::deviceSweep_data()
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
    QTest::newRow("termination, 100 MHz")
        << "" << MeasType::Termination << 3 << "SIG"
        << "Connect the Termination " + bridge + "\nClick OK when done." << 21.0f << "PASS";
    QTest::newRow("attenuator return loss, 50 MHz")
        << "" << MeasType::AttenuatorRl << 2 << "SIG"
        << "Connect the Attenuator " + bridge +
               "Use a known good Termination on the open end of the Attenuator.\n\n"
               "Click OK when done."
        << 26.0f << "PASS";
    QTest::newRow("failing termination, 100 MHz")
        << "failing" << MeasType::Termination << 3 << "SIG"
        << "Connect the Termination " + bridge + "\nClick OK when done." << 21.0f << "FAIL";
    QTest::newRow("cable, 100 MHz") << "" << MeasType::Cable << 3 << "REFLVL  4|SIG"
                                    << "Connect the Cable" + between << 0.0f << "NONE";
    QTest::newRow("2X, 12.5 MHz") << "" << MeasType::Att2X << 0 << "REFLVL -2|SIG"
                                  << "Connect the 2X (6 dB) Attenuator" + between << 0.3f << "PASS";
    QTest::newRow("2.5X, 25 MHz") << "" << MeasType::Att2p5X << 1 << "REFLVL -4|SIG"
                                  << "Connect the 2.5X (8 dB) Attenuator" + between << 0.3f
                                  << "PASS";
    QTest::newRow("5X, 100 MHz") << "" << MeasType::Att5X << 3 << "REFLVL -10|SIG"
                                 << "Connect the 5X (14 dB) Attenuator" + between << 0.4f << "PASS";
    QTest::newRow("failing 10X, 100 MHz")
        << "failing" << MeasType::Att10X << 3 << "REFLVL -16|SIG"
        << "Connect the 10X (20 dB) Attenuator" + between << 0.4f << "FAIL";
}

void EngineTest::deviceSweep()
{
    QFETCH(QString, scenario);
    QFETCH(MeasType, type);
    QFETCH(int, step);
    QFETCH(QString, first);
    QFETCH(QString, prompt);
    QFETCH(float, limit);
    QFETCH(QString, verdict);
    const int m = Multipliers[step];
    const bool rl = kindOf(type) == MeasKind::ReturnLoss;
    EngineBench b(scenario);
    b.run(rl ? MeasType::RlReference : MeasType::AttReference, step);
    b.forget();
    b.run(type);

    QCOMPARE(b.bench.received(), first.split('|') + markers(m, true) + FreeRun);
    QCOMPARE(b.dialogs.shown.size(), 2);
    QCOMPARE(b.dialogs.shown[0].text, prompt);
    QCOMPARE(b.dialogs.shown[1].title, rl ? "Return Loss Measurement" : "Attenuation Measurement");
    QCOMPARE(b.dialogs.shown[1].text,
             rl ? "Getting Return Loss values done." : "Getting Attenuation values done.");

    // Limit lines at every row, the curve in the step's column from its first point on.
    const int column = step + 3, firstPoint = m == 1 ? 2 : m;
    QCOMPARE(b.cell(40, 1), limit);
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
    QCOMPARE(result.points.first().frequencyMHz, firstPoint * 12.5);
    QCOMPARE(result.points.last().frequencyMHz, 1000.0);
    for (const MeasuredPoint& point : result.points)
        QCOMPARE(point.value, b.cell(int(point.frequencyMHz / 12.5), column));
    QCOMPARE(result.reference.points.size(), 80 / m);
    QCOMPARE(Verdict::of(result).word(), verdict);
}

void EngineTest::interrupted_data()
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

void EngineTest::interrupted()
{
    QFETCH(MeasType, type);
    QFETCH(QString, how);
    QFETCH(QStringList, sent);
    QFETCH(QStringList, titles);
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

    QCOMPARE(b.bench.received(), sent);
    QCOMPARE(b.dialogs.titles(), titles);
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

void EngineTest::reuseOffer()
{
    EngineBench b;
    b.run(MeasType::RlReference, 1);
    // Yes at any coarser step: the table is kept, "TRI FRE" sent, no done message.
    for (int step : {1, 2, 3}) {
        b.forget();
        b.run(MeasType::RlReference, step);
        QCOMPARE(b.dialogs.titles(),
                 (QStringList{"Return Loss Measurement Setup", "Reference Table"}));
        QCOMPARE(b.dialogs.shown[1].text, "Do want to use the already defined Reference table ?");
        QCOMPARE(b.dialogs.shown[1].icon, MsgIcon::Question);
        QCOMPARE(b.bench.received().mid(2),
                 (QStringList{"REFLVL 10.0;RFATT 40;STEP 2.000E+6", "SIG", "TRI FRE"}));
    }
    // No: a new table at this step.
    b.forget();
    b.dialogs.answer({MsgResult::Ok, MsgResult::No});
    b.run(MeasType::RlReference, 3);
    QCOMPARE(b.bench.received(), RlReference + Markers100 + FreeRun);
    QCOMPARE(b.engine.State.RefStep[1], 8);
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

// Entries checked before a sweep; a refused one is cleared, and nothing goes to the analyser.
void EngineTest::valueChecks_data()
{
    QTest::addColumn<MeasType>("type");
    QTest::addColumn<QString>("attenuation");
    QTest::addColumn<QString>("limit");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("attenuationAfter");
    QTest::addColumn<QString>("limitAfter");
    QTest::addColumn<QString>("firstSent");
    const auto row = [](const char* name, MeasType type, const char* attenuation, const char* limit,
                        const char* message, const char* attenuationAfter, const char* limitAfter,
                        const char* firstSent) {
        QTest::newRow(name) << type << QString(attenuation) << QString(limit) << QString(message)
                            << QString(attenuationAfter) << QString(limitAfter)
                            << QString(firstSent);
    };
    const char* lossError = "Custom Limit must be between 10 and 40";
    const char* attnError = "Custom Attenuation must be less than or equal to 25 dB.";
    const char* limitError = "Custom Limit must be between 0.1 and 1.0";
    const MeasType term = MeasType::Termination, custom = MeasType::CustomAtt;
    row("return loss 10", term, "", "10", "", "", "10", "SIG");
    row("return loss 40", term, "", "40", "", "", "40", "SIG");
    row("return loss 9.9", term, "", "9.9", lossError, "", "", "");
    row("return loss 40.1", term, "", "40.1", lossError, "", "", "");
    row("return loss text", term, "", "abc", lossError, "", "", "");
    row("comma attenuation", custom, "12,5", "0,5", "", "12.5", "0.5", "REFLVL -8.5");
    row("25 accepted", custom, "25", "1.0", "", "25", "1.0", "REFLVL -21");
    row("25.5 refused", custom, "25.5", "0.5", attnError, "", "0.5", "");
    row("zero", custom, "0", "0.1", "", "0.0", "0.1", "REFLVL  4");
    row("not a number", custom, "x", "0.1", "", "0.0", "0.1", "REFLVL  4");
    row("limit 0.05", custom, "6", "0.05", limitError, "6", "", "");
    row("limit 1.2", MeasType::Att2X, "", "1.2", limitError, "", "", "");
    row("empty limit: default", MeasType::Att2X, "", "", "", "", "", "REFLVL -2");
}

void EngineTest::valueChecks()
{
    QFETCH(MeasType, type);
    QFETCH(QString, attenuation);
    QFETCH(QString, limit);
    QFETCH(QString, message);
    QFETCH(QString, attenuationAfter);
    QFETCH(QString, limitAfter);
    QFETCH(QString, firstSent);
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

    QCOMPARE(b.view.entryText(Entry::CustomAttn), attenuationAfter);
    QCOMPARE(b.view.entryText(limitEntry), limitAfter);
    if (!message.isEmpty()) {
        QCOMPARE(b.dialogs.titles(), QStringList{"Error"});
        QCOMPARE(b.dialogs.shown[0].text, message);
        QCOMPARE(b.dialogs.shown[0].icon, MsgIcon::Critical);
        QVERIFY(b.bench.received().isEmpty());
        QVERIFY(!b.engine.sweptToEnd());
        return;
    }
    QCOMPARE(b.bench.received().first(), firstSent);
    // An empty custom limit unticks the box and the device's own limit applies.
    QCOMPARE(b.view.limits[kindIndex(kind)], !limit.isEmpty());
    QCOMPARE(b.cell(40, 1), limit.isEmpty() ? 0.3f : float(limitAfter.toDouble()));
    QVERIFY(!b.grid.seriesHidden(1));
    if (type == MeasType::CustomAtt)
        QCOMPARE(b.dialogs.shown[0].text.section(" to be measured", 0, 0),
                 "Connect the " + attenuationAfter + " dB Attenuator");
    QCOMPARE(b.engine.lastResult()->customLimits, !limit.isEmpty());
}

void EngineTest::busFaultsMidSweep()
{
    { // A message nobody takes: the dialog, OK, and the sweep goes on.
        EngineBench b(QStringLiteral("write-error=MFREQ 50E+6)"));
        b.run(MeasType::RlReference, 2);
        b.forget();
        b.run(MeasType::Termination);
        QCOMPARE(b.dialogs.titles(), (QStringList{"Return Loss Measurement Setup", "GPIB ERROR # 2",
                                                  "Return Loss Measurement"}));
        QCOMPARE(b.dialogs.shown[1].text, "No listener on write function.\nSelect OK to continue "
                                          "or Cancel to terminate program.");
        QVERIFY(b.engine.sweptToEnd());
    }
    { // The third point's answer never comes: it reads 0 and the sweep goes on.
        EngineBench b(QStringLiteral("timeout=MAMPL?@13"));
        b.run(MeasType::AttReference, 3);
        b.forget();
        b.run(MeasType::Att2X);
        QCOMPARE(b.dialogs.titles(), (QStringList{"Attenuator Measurement Setup", "I/O Error",
                                                  "Attenuation Measurement"}));
        QCOMPARE(b.cell(24, 6), b.engine.State.RefTable[0][24] - 6.0f);
        QVERIFY(std::fabs(b.cell(32, 6) - b.bench.modelDeviation(400)) <= 0.05);
    }
}

void EngineTest::cancelAtGpibErrorEndsProgram()
{
    // In a child, which must exit with a failure status having sent nothing more.
    const ChildOutcome outcome = runInChild([](auto report) {
        EngineBench b(QStringLiteral("write-error=MFREQ 500E+6)"));
        b.run(MeasType::AttReference, 3);
        b.forget();
        b.dialogs.onMessage = [&](const ScriptedDialogs::Shown& shown) -> std::optional<MsgResult> {
            report("sent " + b.bench.received().join('|'));
            return shown.title.startsWith("GPIB ERROR") ? MsgResult::Cancel : MsgResult::Ok;
        };
        b.run(MeasType::Att2X);
        report("returned");
    });
    QCOMPARE(outcome.exitStatus, 1);
    QCOMPARE(outcome.log.split('\n', Qt::SkipEmptyParts).last(),
             "sent REFLVL -2|SIG|" + Markers100.mid(0, 8).join('|'));
}

void EngineTest::closeRequestedMidRun()
{
    // The operator closes the window during a reference: the sweep winds down with its closing
    // command, and neither the stop notice nor the done message follows.
    EngineBench b;
    b.afterPrompt(9.0, [&] { b.engine.requestClose(); });
    b.run(MeasType::RlReference, 3);
    QCOMPARE(b.bench.received().last(), "TRI FRE");
    QVERIFY(b.bench.received().count("MAMPL?") < 10);
    QCOMPARE(b.dialogs.titles(), QStringList{"Return Loss Measurement Setup"});
    QVERIFY(!b.engine.running());
}

QTEST_MAIN(EngineTest)
#include "tst_engine.moc"
