// End-to-end checks of the measurement sequences: the program on the simulated bench, driven
// through its buttons, on the virtual clock.

#include "SequenceBench.h"

using namespace AnalyserCommands;

class SequencesTest : public QObject {
    Q_OBJECT
private slots:
    void returnLossCheck_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("measType");
        for (int step = 0; step < 4; ++step) {
            QTest::addRow("termination, step %d", step) << step << 7;
            QTest::addRow("attenuator, step %d", step) << step << 8;
        }
    }

    void returnLossCheck()
    {
        QFETCH(int, step);
        QFETCH(int, measType);
        const int m = Multipliers[step];
        Bench b;
        const double start = b.clock.now();
        b.reference(b.w().Frame_Refl, step);
        // 5 + 10 s of general set-up, 5 + 1 s after the prompt, the SIG, then 0.9 s a point.
        const double elapsed = b.clock.now() - start, expected = 21 + 80 / m * 0.9;
        QVERIFY2(elapsed >= expected && elapsed < expected + 1.0,
                 qPrintable(QString::number(elapsed)));

        QCOMPARE(b.bench.received(),
                 (ReturnLossReference + sweepTraffic(m, false) + QStringList{TriggerFreeRun}));
        QCOMPARE(b.dialogs.titles(),
                 (QStringList{"Return Loss Measurement Setup", "Return Loss Reference"}));
        QCOMPARE(b.dialogs.shown[0].text,
                 "Connect the Impedance Bridge between the Tracking Generator output and the 2712 "
                 "input.\nIf possible connect the Bridge output directly to the 2712 input using "
                 "an NM-to-NM adapter.\nDon't connect anything the DUT input of the Bridge.\n\n"
                 "Click OK when done and the 2712 has finished setup.");
        QCOMPARE(b.dialogs.shown[1].text, "Getting Reference values done.");
        QCOMPARE(b.dialogs.shown[1].icon, MsgIcon::None);
        QVERIFY(b.w().Option_Refl[1]->isEnabled() && b.w().Option_Refl[2]->isEnabled());
        QVERIFY(b.w().Check_CustomLimits[1]->isEnabled());
        QVERIFY(b.w().Frame_Attn->isEnabled());
        QVERIFY(!b.w().Combo_FreqStep->isEnabled());
        QVERIFY(!b.w().Command_Print->isVisible());
        QCOMPARE(b.w().focusWidget(), b.w().Option_Refl[1]);
        QCOMPARE(b.w().MSChart1->maximum(), 40.0);
        QCOMPARE(b.w().MSChart1->minimum(), 10.0);
        for (int series = 1; series <= 6; ++series)
            QVERIFY(b.w().MSChart1->seriesHidden(series));

        b.click(b.w().Option_Refl[measType - 6]);
        b.forget();
        b.run();

        QCOMPARE(b.bench.received(),
                 (QStringList{Signal} + sweepTraffic(m, true) + QStringList{TriggerFreeRun}));
        QCOMPARE(b.dialogs.titles(),
                 (QStringList{"Return Loss Measurement Setup", "Return Loss Measurement"}));
        QCOMPARE(b.dialogs.shown[0].text,
                 measType == 7
                     ? QString("Connect the Termination to be measured to the DUT connector of "
                               "the Impedance Bridge.\n\nClick OK when done.")
                     : QString("Connect the Attenuator to be measured to the DUT connector of the "
                               "Impedance Bridge.\nUse a known good Termination on the open end "
                               "of the Attenuator.\n\nClick OK when done."));
        QCOMPARE(b.dialogs.shown[1].text, "Getting Return Loss values done.");

        const int column = step + 3;
        const float limit = measType == 7 ? 21.0f : 26.0f;
        for (int row = 1; row <= 80; ++row)
            QCOMPARE(b.cell(row, 1), limit);
        const int first = m == 1 ? 2 : m;
        for (int row = 1; row < first; ++row)
            QVERIFY(b.w().MSChart1->cell(row, column).isEmpty());
        for (int i = first; i <= 80; i += (i == 1 ? 1 : m)) {
            const double model = b.bench.modelReturnLoss(i * 12.5);
            QVERIFY2(
                std::fabs(b.cell(i, column) - model) <= 0.05,
                qPrintable(QString("point %1: %2 vs %3").arg(i).arg(b.cell(i, column)).arg(model)));
            // Points between two readings are filled in on the straight line between them.
            if (m > 1 && i > m) {
                const float previous = b.cell(i - m, column), d = b.cell(i, column) - previous;
                for (int j = 1; j < m; ++j) {
                    const float fill =
                        std::fabs(d) >= 0.01f ? previous + float(j) * d / float(m) : previous;
                    QCOMPARE(b.cell(i - m + j, column), fill);
                }
            }
        }
        QVERIFY(!b.w().MSChart1->seriesHidden(1) && !b.w().MSChart1->seriesHidden(column));
        QVERIFY(b.w().Command_Print->isVisible());
        QVERIFY(b.w().Check_SkipMsg->isEnabled());
        QVERIFY(b.idle());
    }

    void attenuationCheck_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("option");
        QTest::addColumn<QString>("dut");
        QTest::addColumn<float>("nominal");
        QTest::addColumn<float>("limit");
        const QStringList duts{"Cable", "2X (6 dB) Attenuator", "2.5X (8 dB) Attenuator",
                               "5X (14 dB) Attenuator", "10X (20 dB) Attenuator"};
        const float nominals[] = {0, 6, 8, 14, 20}, limits[] = {0, 0.3f, 0.3f, 0.4f, 0.4f};
        for (int step = 0; step < 4; ++step)
            for (int i = 0; i < 5; ++i)
                QTest::addRow("option %d, step %d", i + 1, step)
                    << step << i + 1 << duts[i] << nominals[i] << limits[i];
    }

    void attenuationCheck()
    {
        QFETCH(int, step);
        QFETCH(int, option);
        QFETCH(QString, dut);
        QFETCH(float, nominal);
        QFETCH(float, limit);
        const int m = Multipliers[step];
        Bench b;
        b.reference(b.w().Frame_Attn, step);
        QCOMPARE(b.bench.received(),
                 (AttenuationReference + sweepTraffic(m, false) + QStringList{TriggerFreeRun}));
        QCOMPARE(b.dialogs.titles(),
                 (QStringList{"Attenuator Measurement Setup", "Attenuator Reference"}));
        QCOMPARE(b.dialogs.shown[0].text, "Connect the Tracking Generator output to the 2712 "
                                          "input.\n\nClick OK when done and the 2712 has finished "
                                          "setup.");
        QCOMPARE(b.w().MSChart1->maximum(), 1.0);
        QCOMPARE(b.w().MSChart1->minimum(), -1.0);
        QCOMPARE(b.w().MSChart1->majorDivision(), 4);
        QCOMPARE(b.w().focusWidget(), b.w().Option_Attn[1]);
        for (int i = 1; i <= 5; ++i)
            QVERIFY(b.w().Option_Attn[i]->isEnabled());
        QVERIFY(b.w().Check_CustomAttn->isEnabled());

        b.click(b.w().Option_Attn[option]);
        b.forget();
        b.run();

        // The reference level answered before the sweep was 4 dB.
        QCOMPARE(b.bench.received(), (QStringList{ReferenceLevel(4.0f - nominal), Signal} +
                                      sweepTraffic(m, true) + QStringList{TriggerFreeRun}));
        QCOMPARE(b.dialogs.shown[0].text, "Connect the " + dut +
                                              " to be measured between the Tracking Generator "
                                              "output and the 2712 input.\n\nClick OK when done.");
        QCOMPARE(b.dialogs.shown[1].title, "Attenuation Measurement");
        QCOMPARE(b.dialogs.shown[1].text, "Getting Attenuation values done.");

        const int column = step + 3;
        for (int row = 1; row <= 80; ++row) {
            QCOMPARE(b.cell(row, 1), limit);
            QCOMPARE(b.cell(row, 2), -limit);
        }
        QCOMPARE(b.w().MSChart1->seriesHidden(1), option == 1);
        const int first = m == 1 ? 2 : m;
        QVERIFY(b.w().MSChart1->cell(first - 1, column).isEmpty() || first == 1);
        for (int i = first; i <= 80; i += (i == 1 ? 1 : m))
            QVERIFY2(std::fabs(b.cell(i, column) - b.bench.modelDeviation(i * 12.5)) <= 0.05,
                     qPrintable(QString("point %1").arg(i)));
        QVERIFY(b.w().Command_Print->isVisible());
        for (int i = 0; i <= 5; ++i)
            QVERIFY(b.w().Option_Attn[i]->isEnabled());
    }

    void stopDuringReference()
    {
        Bench b;
        b.clickFrame(b.w().Frame_Refl);
        b.chooseStep(1);
        bool runEnabledWhileWinding = true;
        // Stop while the fourth point is being read.
        b.afterPrompt(6.0 + 0.5 + 0.1 + 3 * 0.9 + 0.3, [&] {
            b.click(b.w().Command_Stop);
            QVERIFY(!b.w().Label_Busy->isVisible() && !b.w().Label_Info->isVisible());
            runEnabledWhileWinding = b.w().Command_Run->isEnabled();
        });
        // The message comes once the sweep has wound down, with nothing left to press.
        bool buttonsOffAtMessage = false;
        b.dialogs.onMessage = [&, prompt = b.dialogs.onMessage](const ScriptedDialogs::Shown& s) {
            if (s.title == u"Stop")
                buttonsOffAtMessage = b.bench.received().last() == TriggerFreeRun &&
                                      !b.w().Command_Stop->isEnabled() &&
                                      !b.w().Command_Run->isEnabled();
            return prompt(s);
        };
        b.run();

        QVERIFY(!runEnabledWhileWinding);
        QVERIFY(buttonsOffAtMessage);
        QCOMPARE(b.bench.received(), (ReturnLossReference + sweepTraffic(2, false).mid(0, 8) +
                                      QStringList{TriggerFreeRun}));
        QCOMPARE(b.dialogs.titles(), (QStringList{"Return Loss Measurement Setup", "Stop"}));
        QCOMPARE(b.dialogs.shown[1].text, "Sequence interupted by user.");
        QCOMPARE(b.dialogs.shown[1].icon, MsgIcon::Exclamation);
        QVERIFY(!b.w().State.RefValid[1]);
        QVERIFY(b.idle());
        QVERIFY(b.w().Combo_FreqStep->isEnabled());
        QVERIFY(!b.w().Option_Refl[1]->isEnabled());
        QVERIFY(b.w().Frame_Attn->isEnabled());
    }

    // A device measurement given up at its prompt (Cancel) or during its sweep (Stop).
    void interruptDevice_data()
    {
        QTest::addColumn<bool>("attenuation");
        QTest::addColumn<bool>("stop");
        for (bool attenuation : {false, true}) {
            const char* kind = attenuation ? "attenuation" : "return loss";
            QTest::addRow("%s, Cancel at the prompt", kind) << attenuation << false;
            QTest::addRow("%s, Stop in the sweep", kind) << attenuation << true;
        }
    }

    void interruptDevice()
    {
        QFETCH(bool, attenuation);
        QFETCH(bool, stop);
        Bench b;
        b.chooseDevice(attenuation, 2);
        if (stop)
            b.afterPrompt(3.0, [&] { b.click(b.w().Command_Stop); });
        else
            b.dialogs.answer({MsgResult::Cancel});
        b.run();
        const QStringList received = b.bench.received();
        if (stop) {
            QCOMPARE(received.last(), TriggerFreeRun);
            QVERIFY(received.count(MarkerAmplitude) < 10);
            QCOMPARE(b.dialogs.titles().last(), "Stop");
        } else {
            QCOMPARE(b.dialogs.shown.size(), 1); // no message after Cancel
            QCOMPARE(received, (attenuation ? QStringList{ReferenceLevel(-2.0f)} : QStringList{}));
        }
        QVERIFY(b.w().State.StopRequested);
        QVERIFY(!b.w().Command_Print->isVisible());
        QVERIFY(b.idle());
        // The attenuation measurement gives its controls back.
        QVERIFY(!attenuation || b.w().Option_Attn[3]->isEnabled());
    }

    void cancelAtReferencePrompts()
    {
        { // reference prompt, no table yet
            Bench b;
            b.dialogs.answer({MsgResult::Cancel});
            b.reference(b.w().Frame_Refl, 1);
            QCOMPARE(b.bench.received(), (QStringList{Reset, GeneralSetup}));
            QVERIFY(!b.w().Option_Refl[1]->isEnabled());
            QVERIFY(b.w().Combo_FreqStep->isEnabled());
            QVERIFY(b.w().Frame_Attn->isEnabled());
            QVERIFY(!b.w().Command_Print->isVisible());
        }
        { // reference prompt with a valid table from an earlier run
            Bench b;
            b.reference(b.w().Frame_Attn, 1);
            b.click(b.w().Option_Attn[0]);
            b.dialogs.answer({MsgResult::Cancel});
            b.run();
            for (int i = 1; i <= 5; ++i)
                QVERIFY(b.w().Option_Attn[i]->isEnabled());
            QVERIFY(b.w().Frame_Refl->isEnabled());
        }
    }

    void reuseOffer()
    {
        Bench b;
        b.reference(b.w().Frame_Refl, 1);
        // Yes: the stored table is kept, "TRI FRE" sent, no done message.
        for (int step : {1, 2, 3}) {
            b.click(b.w().Option_Refl[0]);
            b.chooseStep(step);
            // The step change invalidated the table, though it is still at 25 MHz.
            b.w().State.RefValid[1] = true;
            b.forget();
            b.run();
            QCOMPARE(b.dialogs.titles(),
                     (QStringList{"Return Loss Measurement Setup", "Reference Table"}));
            QCOMPARE(b.dialogs.shown[1].text,
                     "Do want to use the already defined Reference table ?");
            QCOMPARE(b.dialogs.shown[1].icon, MsgIcon::Question);
            QCOMPARE(b.bench.received().last(), TriggerFreeRun);
            QVERIFY(!b.bench.received().contains(ReferenceLevelQuery));
            QVERIFY(b.w().Option_Refl[1]->isEnabled());
        }
        // No: a new table at the current step.
        b.click(b.w().Option_Refl[0]);
        b.forget();
        b.dialogs.answer({MsgResult::Ok, MsgResult::No});
        b.run();
        QCOMPARE(b.bench.received().count(MarkerAmplitude), 10);
        QCOMPARE(b.w().State.RefStep[1], 8);
        // Not offered at a finer step than the table's.
        b.click(b.w().Option_Refl[0]);
        b.chooseStep(0);
        b.w().State.RefValid[1] = true;
        b.dialogs.clear();
        b.run();
        QVERIFY(!b.dialogs.titles().contains("Reference Table"));

        // An attenuation table at 100 MHz is not offered at 12.5 MHz because a return-loss
        // table was taken at 12.5 MHz in between: 70 of its points were never measured.
        Bench kinds;
        kinds.reference(kinds.w().Frame_Attn, 3);
        kinds.reference(kinds.w().Frame_Refl, 0);
        kinds.clickFrame(kinds.w().Frame_Attn);
        kinds.w().State.RefValid[0] = true;
        kinds.dialogs.clear();
        kinds.run();
        QVERIFY(!kinds.dialogs.titles().contains("Reference Table"));
        QCOMPARE(kinds.w().State.RefStep[0], 1);
    }

    // Entries checked before a sweep; a refused one is cleared and gets the focus.
    void valueChecks_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("attenuation");
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("attenuationAfter");
        QTest::addColumn<QString>("limitAfter");
        const auto row = [](const char* name, const char* device, const char* attenuation,
                            const char* limit, const char* message, const char* attenuationAfter,
                            const char* limitAfter) {
            QTest::newRow(name) << QString(device) << QString(attenuation) << QString(limit)
                                << QString(message) << QString(attenuationAfter)
                                << QString(limitAfter);
        };
        const char* lossError = "Custom Limit must be between 10 and 40";
        const char* attnError = "Custom Attenuation must be less than or equal to 25 dB.";
        const char* limitError = "Custom Limit must be between 0.1 and 1.0";
        row("return loss 10", "termination", "", "10", "", "", "10");
        row("return loss 40", "termination", "", "40", "", "", "40");
        row("return loss 9.9", "termination", "", "9.9", lossError, "", "");
        row("return loss 40.1", "termination", "", "40.1", lossError, "", "");
        row("return loss text", "termination", "", "abc", lossError, "", "");
        row("comma attenuation", "custom", "12,5", "0,5", "", "12.5", "0.5");
        row("25 accepted", "custom", "25", "1.0", "", "25", "1.0");
        row("25.5 refused", "custom", "25.5", "0.5", attnError, "", "0.5");
        row("zero", "custom", "0", "0.1", "", "0.0", "0.1");
        row("not a number", "custom", "x", "0.1", "", "0.0", "0.1");
        row("limit 0.05", "custom", "6", "0.05", limitError, "6", "");
        row("limit 1.2", "2X", "", "1.2", limitError, "", "");
    }

    void valueChecks()
    {
        QFETCH(QString, device);
        QFETCH(QString, attenuation);
        QFETCH(QString, limit);
        QFETCH(QString, message);
        QFETCH(QString, attenuationAfter);
        QFETCH(QString, limitAfter);
        const bool custom = device == "custom";
        const int kind = device == "termination" ? 1 : 0;
        Bench b;
        b.chooseDevice(kind == 0);
        QLineEdit* limitText = b.w().Text_CustomLimits[kind];
        if (custom) {
            b.click(b.w().Check_CustomAttn); // ticks "Custom Limits" too
            QTest::keyClicks(b.w().Text_CustomAttn, attenuation);
        } else {
            b.click(b.w().Check_CustomLimits[kind]);
        }
        QTest::keyClicks(limitText, limit);
        b.run();
        if (custom)
            QCOMPARE(b.w().Text_CustomAttn->text(), attenuationAfter);
        QCOMPARE(limitText->text(), limitAfter);
        if (!message.isEmpty()) {
            QCOMPARE(b.dialogs.titles(), QStringList{"Error"});
            QCOMPARE(b.dialogs.shown[0].text, message);
            QCOMPARE(b.dialogs.shown[0].icon, MsgIcon::Critical);
            QCOMPARE(b.w().focusWidget(),
                     custom && attenuationAfter.isEmpty() ? b.w().Text_CustomAttn : limitText);
            QVERIFY(b.bench.received().isEmpty());
            // Nothing was measured, so nothing may be printed.
            QVERIFY(!b.w().Command_Print->isVisible());
            return;
        }
        QCOMPARE(b.cell(40, 1), float(limitAfter.toDouble()));
        QVERIFY(!b.w().MSChart1->seriesHidden(1));
        QVERIFY(b.w().Command_Print->isVisible());
        if (!custom)
            return;
        const float nominal = float(attenuationAfter.toDouble());
        QCOMPARE(b.bench.received().first(), ReferenceLevel(4.0f - nominal));
        QCOMPARE(b.dialogs.shown[0].text.section(" to be measured", 0, 0),
                 "Connect the " + attenuationAfter + " dB Attenuator");
        // A custom attenuation keeps the fixed options disabled after its sweep.
        QVERIFY(!b.w().Option_Attn[2]->isEnabled());
        QVERIFY(b.w().Option_Attn[0]->isEnabled());
    }

    void skipMessages()
    {
        Bench b;
        b.chooseDevice(false);
        QVERIFY(!b.w().Check_SkipMsg->isEnabled());
        b.run(); // one device measurement enables "Skip Messages"
        b.click(b.w().Check_SkipMsg);
        QVERIFY(b.w().Check_SkipMsg->isChecked());
        b.dialogs.clear();
        b.run();
        QVERIFY(b.dialogs.shown.isEmpty());
        QVERIFY(b.w().Command_Print->isVisible());
        // The value check is not skipped.
        b.click(b.w().Check_CustomLimits[1]);
        QTest::keyClicks(b.w().Text_CustomLimits[1], "5");
        b.run();
        QCOMPARE(b.dialogs.titles(), QStringList{"Error"});
    }

    void hiddenLimitLines()
    {
        Bench b;
        b.reference(b.w().Frame_Attn, 3);
        // The cable has no limit lines of its own; a custom limit shows them.
        b.click(b.w().Option_Attn[1]);
        b.click(b.w().Check_CustomLimits[0]);
        QTest::keyClicks(b.w().Text_CustomLimits[0], "0.2");
        b.run();
        QVERIFY(!b.w().MSChart1->seriesHidden(1) && !b.w().MSChart1->seriesHidden(2));
        QCOMPARE(b.cell(10, 2), -0.2f);
        // An empty custom limit falls back to the default and unticks the box.
        b.click(b.w().Option_Attn[2]);
        QTest::mouseDClick(b.w().Text_CustomLimits[0], Qt::LeftButton);
        b.run();
        QVERIFY(!b.w().Check_CustomLimits[0]->isChecked());
        QCOMPARE(b.cell(10, 1), 0.3f);
    }

    void gpibErrorMidSweepContinues()
    {
        Bench b(QStringLiteral("write-error=MFREQ 50E+6)"));
        b.chooseDevice(false, 2);
        b.run();
        QCOMPARE(b.dialogs.titles(), (QStringList{"Return Loss Measurement Setup", "GPIB ERROR # 2",
                                                  "Return Loss Measurement"}));
        QCOMPARE(b.dialogs.shown[1].text, "No listener on write function.\nSelect OK to continue "
                                          "or Cancel to terminate program.");
        QVERIFY(b.w().Command_Print->isVisible());
    }

    void readTimeoutMidSweep()
    {
        // The third point's answer never comes: it reads 0 and the sweep goes on.
        Bench b(QStringLiteral("timeout=MAMPL?@13"));
        b.chooseDevice(true); // ten reference points
        b.run();
        QCOMPARE(b.dialogs.titles(), (QStringList{"Attenuator Measurement Setup", "I/O Error",
                                                  "Attenuation Measurement"}));
        QCOMPARE(b.cell(24, 6), b.w().State.RefTable[0][24] - 6.0f);
        QVERIFY(std::fabs(b.cell(32, 6) - b.bench.modelDeviation(400)) <= 0.05);
    }

    void closeDuringRun_data()
    {
        QTest::addColumn<QString>("moment");
        QTest::addColumn<int>("answer");
        for (const char* moment :
             {"set-up wait", "reference", "return-loss sweep", "attenuation sweep"})
            for (int answer : {int(MsgResult::Yes), int(MsgResult::No), int(MsgResult::Cancel)})
                QTest::addRow("%s, answer %d", moment, answer) << QString(moment) << answer;
    }

    void closeDuringRun()
    {
        QFETCH(QString, moment);
        QFETCH(int, answer);
        Bench b;
        if (moment.endsWith("sweep"))
            b.chooseDevice(moment == "attenuation sweep");
        else
            b.clickFrame(b.w().Frame_Refl);
        // Close while the sequence waits: during the general set-up, or a few points into a sweep.
        const double when = moment == "set-up wait" ? 7.0 : moment == "reference" ? 24.0 : 5.0;
        b.clock.schedule(when, [&] { b.w().close(); });
        b.dialogs.onMessage = [&](const ScriptedDialogs::Shown& shown) -> std::optional<MsgResult> {
            if (shown.title == "Terminate Program")
                return MsgResult(answer);
            return std::nullopt;
        };
        b.run();
        for (int turn = 0; turn < 10; ++turn)
            QCoreApplication::processEvents();

        const QStringList received = b.bench.received();
        const QStringList titles = b.dialogs.titles();
        QCOMPARE(titles.count("Terminate Program"), 1);
        QVERIFY(!titles.contains("Stop"));
        QVERIFY(!titles.contains("Return Loss Reference"));
        if (moment != "set-up wait") {
            // The sweep wound down with its closing command, and only then may the reset follow.
            QVERIFY(received.contains(TriggerFreeRun));
            QVERIFY(received.count(MarkerAmplitude) < 10);
        }
        const int resets = moment == "set-up wait" || moment == "reference" ? 2 : 1;
        QCOMPARE(received.last() == Reset && received.count(Reset) == resets,
                 answer == int(MsgResult::Yes));
        QCOMPARE(b.w().isVisible(), answer == int(MsgResult::Cancel));
        if (answer == int(MsgResult::Cancel))
            QVERIFY(!b.w().running() && b.idle());
    }
};

QTEST_MAIN(SequencesTest)
#include "tst_sequences.moc"
