// The measurement sequences of the main window. Each runs inside the Run handler; its waits
// let window events run, which is how Stop reaches StopRequested between points.

#include "app/Chart.h"
#include "app/MainForm.h"
#include "gpib/AnalyserCommands.h"
#include "gpib/InstrumentIO.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>

using namespace AnalyserCommands;

namespace {

// Points of a sweep at multiplier m: m, 2m, ... <= 80; the device sweeps never measure
// point 1, so at m = 1 they start at point 2.
QVector<int> sweepPoints(int m, bool skipFirstPoint)
{
    QVector<int> points;
    for (int i = m; i <= GridPoints; i += m) {
        if (skipFirstPoint && i == 1)
            continue;
        points << i;
    }
    return points;
}

} // namespace

void MainForm::GetRef(const qint16& index)
{
    const qint16 device = State.AnalyserDevice;
    const QString& name = State.AnalyserName;

    State.StopRequested = false;
    ShowBusy(true);
    Label_Info->setText("Setting up the " + name);
    m_io.GpibWrite(device, Reset);
    m_io.Delay(5);
    m_io.GpibWrite(device, GeneralSetup);
    m_io.Delay(10);
    ShowBusy(false);
    for (int series = 1; series <= 6; ++series)
        MSChart1->setSeriesHidden(series, true);
    Check_SkipMsg->setChecked(false);
    Check_SkipMsg->setEnabled(false);

    // The two kinds differ only in the frames, the prompt, the value axis, the set-up
    // message and the option that gets the focus.
    const bool returnLoss = index != 0;
    const int kind = returnLoss ? ReturnLossKind : AttenuationKind;
    QWidget* otherFrame = returnLoss ? static_cast<QWidget*>(Frame_Attn) : Frame_Refl;
    QRadioButton* firstDeviceOption = returnLoss ? Option_Refl[1] : Option_Attn[1];
    const auto enableThisFrame = [&](bool full) {
        if (returnLoss)
            EnableReflControls(true, full);
        else
            EnableAttnControls(true, full, full);
    };
    const QString title = returnLoss ? QStringLiteral("Return Loss Measurement Setup")
                                     : QStringLiteral("Attenuator Measurement Setup");
    const QString prompt =
        returnLoss
            ? "Connect the Impedance Bridge between the Tracking Generator output and the " + name +
                  " input.\nIf possible connect the Bridge output directly to the " + name +
                  " input using an NM-to-NM adapter.\nDon't connect anything the DUT input of "
                  "the Bridge.\n\nClick OK when done and the " +
                  name + " has finished setup."
            : "Connect the Tracking Generator output to the " + name +
                  " input.\n\nClick OK when done and the " + name + " has finished setup.";

    if (firstDeviceOption->isEnabled())
        enableThisFrame(false);
    otherFrame->setEnabled(false);
    if (ask(MsgIcon::Information, title, prompt, MsgButtons::OkCancel) == MsgResult::Cancel) {
        Combo_FreqStep->setEnabled(true);
        if (State.RefValid[kind])
            enableThisFrame(true);
        otherFrame->setEnabled(true);
        return;
    }
    // Return loss in dB, or the deviation from the nominal attenuation in dB.
    MSChart1->setMaximum(returnLoss ? 40 : 1);
    MSChart1->setMinimum(returnLoss ? 10 : -1);
    MSChart1->setMajorDivision(returnLoss ? 6 : 4);
    MSChart1->setMinorDivision(1);
    ShowBusy(true);
    Label_Info->setText("Setting up the " + name);
    letEventsRun();
    m_io.GpibWrite(device, returnLoss ? ReturnLossSetup : AttenuationSetup);
    m_io.Delay(5);
    m_io.GpibWrite(device, Signal);
    m_io.GpibWaitSrq(device);
    m_io.Delay(1);
    FillRefTable(kind);
    otherFrame->setEnabled(true);
    if (State.StopRequested) {
        ResetStopSeq();
        Combo_FreqStep->setEnabled(true);
        return;
    }
    enableThisFrame(true);
    // Only the focus moves: the selection, and MeasType with it, stays on Reference.
    giveFocus(firstDeviceOption);
}

void MainForm::FillRefTable(int kind)
{
    const qint16 device = State.AnalyserDevice;
    const qint16 m = currentStepMult();

    // A table is offered again only at its own step or a coarser multiple of it.
    if (State.RefValid[kind] && m % State.RefStep[kind] == 0) {
        if (ask(MsgIcon::Question, QStringLiteral("Reference Table"),
                QStringLiteral("Do want to use the already defined Reference table ?"),
                MsgButtons::YesNo) == MsgResult::Yes) {
            m_io.GpibWrite(device, TriggerFreeRun);
            ShowBusy(false);
            return;
        }
    }
    State.RefStep[kind] = currentStepMult();
    State.RefTable[kind][0] = float(LeadingNumber(m_io.GpibQuery(device, ReferenceLevelQuery)));
    Command_Stop->setEnabled(true);
    for (int i : sweepPoints(m, false)) {
        const double frequency = PointFrequency(i);
        Label_Info->setText("Getting Ref value for" + NumberText(frequency) + " MHz");
        m_io.GpibWrite(device, MarkerFrequency(frequency));
        m_io.Delay(0.8f);
        State.RefTable[kind][i] = float(LeadingNumber(m_io.GpibQuery(device, MarkerAmplitude)));
        if (State.StopRequested)
            break;
    }
    m_io.GpibWrite(device, TriggerFreeRun);
    if (State.StopRequested) {
        State.RefValid[kind] = false;
        return;
    }
    State.RefValid[kind] = true;
    ShowBusy(false);
    ask(MsgIcon::None,
        QString(kind != AttenuationKind ? "Return Loss " : "Attenuator ") + "Reference",
        QStringLiteral("Getting Reference values done."), MsgButtons::Ok);
}

void MainForm::GetRetLossResult(const qint16& index)
{
    const qint16 device = State.AnalyserDevice;

    State.StopRequested = false;
    const bool customLimit = Check_CustomLimits[1]->isChecked();
    if (customLimit) {
        const double value = LeadingNumber(Text_CustomLimits[1]->text());
        if (value < 10 || value > 40) {
            refuseEntry(Text_CustomLimits[1],
                        QStringLiteral("Custom Limit must be between 10 and 40"));
            return;
        }
    }
    const QString dut = index == 7 ? QStringLiteral("Termination") : QStringLiteral("Attenuator");
    if (!Check_SkipMsg->isChecked()) {
        const QString prompt =
            "Connect the " + dut +
            " to be measured to the DUT connector of the Impedance Bridge.\n" +
            (index == 7 ? QStringLiteral("\n")
                        : QStringLiteral("Use a known good Termination on the open end of the "
                                         "Attenuator.\n\n")) +
            "Click OK when done.";
        if (ask(MsgIcon::Information, QStringLiteral("Return Loss Measurement Setup"), prompt,
                MsgButtons::OkCancel) == MsgResult::Cancel) {
            State.StopRequested = true;
            return;
        }
    }
    const float limit = customLimit ? float(LeadingNumber(Text_CustomLimits[1]->text()))
                                    : (index == 7 ? 21.0f : 26.0f);
    ShowBusy(true);
    Label_Info->setText("Setting up the " + State.AnalyserName);
    letEventsRun();
    writeColumn(1, limit);
    MSChart1->setSeriesHidden(1, false);
    MSChart1->setSeriesHidden(stepIndex() + 3, false);
    m_io.GpibWrite(device, Signal);
    m_io.Delay(2.0f);
    MSChart1->setColumn(stepIndex() + 3);
    Command_Stop->setEnabled(true);

    const float* reference = State.RefTable[ReturnLossKind].data();
    sweepDevice(QStringLiteral("Getting value for"), true, [reference](int i, double reading) {
        return float(std::fabs(reading - double(reference[i])));
    });
    m_io.GpibWrite(device, TriggerFreeRun);
    ShowBusy(false);
    if (State.StopRequested) {
        ResetStopSeq();
        return;
    }
    m_sweptToEnd = true;
    if (!Check_SkipMsg->isChecked())
        ask(MsgIcon::None, QStringLiteral("Return Loss Measurement"),
            QStringLiteral("Getting Return Loss values done."), MsgButtons::Ok);
    Check_SkipMsg->setEnabled(true);
}

void MainForm::GetAttResult(const qint16& index)
{
    const qint16 device = State.AnalyserDevice;

    State.StopRequested = false;
    if (Check_CustomAttn->isChecked()) {
        Text_CustomAttn->setText(Text_CustomAttn->text().replace(',', '.'));
        const double value = LeadingNumber(Text_CustomAttn->text());
        if (value == 0) {
            Text_CustomAttn->setText(QStringLiteral("0.0"));
        } else if (value > 25) {
            refuseEntry(Text_CustomAttn,
                        QStringLiteral("Custom Attenuation must be less than or equal to 25 dB."));
            return;
        }
    }
    if (Check_CustomLimits[0]->isChecked()) {
        Text_CustomLimits[0]->setText(Text_CustomLimits[0]->text().replace(',', '.'));
        if (Text_CustomLimits[0]->text().isEmpty()) {
            Check_CustomLimits[0]->setChecked(false);
        } else {
            const double value = LeadingNumber(Text_CustomLimits[0]->text());
            if (value < 0.1 || value > 1.0) {
                refuseEntry(Text_CustomLimits[0],
                            QStringLiteral("Custom Limit must be between 0.1 and 1.0"));
                return;
            }
        }
    }

    QString dut;
    float nominal = 0;
    switch (index) {
    case 1:
        dut = QStringLiteral("Cable");
        break;
    case 2:
        dut = QStringLiteral("2X (6 dB)"), nominal = 6;
        break;
    case 3:
        dut = QStringLiteral("2.5X (8 dB)"), nominal = 8;
        break;
    case 4:
        dut = QStringLiteral("5X (14 dB)"), nominal = 14;
        break;
    case 5:
        dut = QStringLiteral("10X (20 dB)"), nominal = 20;
        break;
    case 9:
        dut = Text_CustomAttn->text().trimmed() + " dB";
        nominal = float(LeadingNumber(Text_CustomAttn->text()));
        break;
    default:
        break;
    }
    if (index != 1)
        dut += QStringLiteral(" Attenuator");

    m_io.GpibWrite(device, ReferenceLevel(State.RefTable[AttenuationKind][0] - nominal));
    if (!Check_SkipMsg->isChecked()) {
        const QString prompt = "Connect the " + dut +
                               " to be measured between the Tracking Generator output and the " +
                               State.AnalyserName + " input.\n\nClick OK when done.";
        if (ask(MsgIcon::Information, QStringLiteral("Attenuator Measurement Setup"), prompt,
                MsgButtons::OkCancel) == MsgResult::Cancel) {
            State.StopRequested = true;
            return;
        }
    } else {
        m_io.Delay(3.0f);
    }

    const bool customLimit = Check_CustomLimits[0]->isChecked();
    float limit = 0;
    if (customLimit)
        limit = float(LeadingNumber(Text_CustomLimits[0]->text()));
    else if (index == 2 || index == 3)
        limit = 0.3f;
    else if (index == 4 || index == 5)
        limit = 0.4f;

    ShowBusy(true);
    EnableAttnControls(false, false, false);
    Label_Info->setText("Setting up the " + State.AnalyserName);
    letEventsRun();
    writeColumn(1, limit);
    writeColumn(2, -limit);
    const bool hideLimits = !customLimit && (index == 1 || index == 9);
    MSChart1->setSeriesHidden(1, hideLimits);
    MSChart1->setSeriesHidden(2, hideLimits);
    ClearGraph(0);
    m_io.GpibWrite(device, Signal);
    m_io.GpibWaitSrq(device);
    MSChart1->setSeriesHidden(stepIndex() + 3, false);
    MSChart1->setColumn(stepIndex() + 3);
    Command_Stop->setEnabled(true);

    const float* reference = State.RefTable[AttenuationKind].data();
    sweepDevice(QStringLiteral("Getting Meas value for"), false,
                [reference, nominal](int i, double reading) {
                    return float(double(reference[i]) - nominal - reading);
                });
    m_io.GpibWrite(device, TriggerFreeRun);
    ShowBusy(false);
    EnableAttnControls(true, index != 9, true);
    if (State.StopRequested) {
        ResetStopSeq();
        return;
    }
    m_sweptToEnd = true;
    if (!Check_SkipMsg->isChecked())
        ask(MsgIcon::None, QStringLiteral("Attenuation Measurement"),
            QStringLiteral("Getting Attenuation values done."), MsgButtons::Ok);
    Check_SkipMsg->setEnabled(true);
}

void MainForm::sweepDevice(const QString& progress, bool startCurveAtFirstPoint,
                           const std::function<float(int point, double reading)>& result)
{
    const qint16 device = State.AnalyserDevice;
    const qint16 m = currentStepMult();
    float previous = 0;
    const QVector<int> points = sweepPoints(m, true);
    for (int i : points) {
        const double frequency = PointFrequency(i);
        Label_Info->setText(progress + NumberText(frequency) + " MHz");
        m_io.GpibWrite(device, MarkerFrequency(frequency));
        m_io.Delay(0.7f);
        const float value = result(i, LeadingNumber(m_io.GpibQuery(device, MarkerAmplitude)));
        if (startCurveAtFirstPoint && i == points.first())
            ClearGraph(value);
        if (m > 1 && i > m)
            fillBetween(i, m, previous, value);
        writeRow(i, value);
        previous = value;
        if (State.StopRequested)
            break;
    }
}
