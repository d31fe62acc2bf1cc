#pragma once

// The program on the simulated bench, driven through its buttons on the virtual clock, and
// the bus traffic a sweep should make.

#include "BenchFixture.h"
#include "chart/Chart.h"
#include "gpib/AnalyserCommands.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <functional>

namespace {

using namespace AnalyserCommands;

const int Multipliers[] = {1, 2, 4, 8};

struct Bench : BenchFixture {
    explicit Bench(const QString& scenario = {}) : BenchFixture(scenario)
    {
        startUp();
        forget();
    }

    MainForm& w() { return *form; }

    void clickFrame(QWidget* frame)
    {
        QTest::mouseClick(frame, Qt::LeftButton, {},
                          QPoint(frame->width() - 4, frame->height() - 4));
    }

    void chooseStep(int index)
    {
        QComboBox* combo = w().Combo_FreqStep;
        QVERIFY(combo->isEnabled());
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Home);
        for (int i = 0; i < index; ++i)
            QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->currentIndex(), index);
    }

    void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    void run() { click(w().Command_Run); }

    // A reference of the kind whose frame this is, at the given step index.
    void reference(QWidget* frame, int step)
    {
        clickFrame(frame);
        chooseStep(step);
        run();
    }

    // A reference of the kind at the step, then its usual device chosen (a termination's
    // return loss, the 2X attenuator), with the bus traffic and messages so far forgotten.
    void chooseDevice(bool attenuation, int step = 3)
    {
        reference(attenuation ? w().Frame_Attn : w().Frame_Refl, step);
        click(attenuation ? static_cast<QAbstractButton*>(w().Option_Attn[2]) : w().Option_Refl[1]);
        forget();
    }

    // Does action the given seconds after the operator has answered a connection prompt.
    void afterPrompt(double seconds, std::function<void()> action)
    {
        dialogs.onMessage = [=, this](const ScriptedDialogs::Shown& shown) {
            if (shown.icon == MsgIcon::Information)
                clock.schedule(seconds, action);
            return std::optional<MsgResult>();
        };
    }

    void forget()
    {
        bench.clearReceived();
        dialogs.clear();
    }

    // Waiting for the operator: Run offered, Stop not, no busy sign.
    bool idle()
    {
        return w().Command_Run->isEnabled() && !w().Command_Stop->isEnabled() &&
               !w().Label_Busy->isVisible();
    }

    float cell(int row, int column) const { return form->MSChart1->cell(row, column).toFloat(); }
};

inline QStringList sweepTraffic(int m, bool skipFirst)
{
    QStringList traffic;
    for (int i = m; i <= 80; i += m) {
        if (skipFirst && i == 1)
            continue;
        traffic << MarkerFrequency(i * 12.5) << MarkerAmplitude;
    }
    return traffic;
}

const QStringList ReturnLossReference{Reset, GeneralSetup, ReturnLossSetup, Signal,
                                      ReferenceLevelQuery};
const QStringList AttenuationReference{Reset, GeneralSetup, AttenuationSetup, Signal,
                                       ReferenceLevelQuery};

} // namespace
