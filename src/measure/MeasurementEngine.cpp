// The measurement sequences. Each runs inside run(), on the bus thread: its waits block that
// thread, and a stop request reaches StopRequested between points.

#include "measure/MeasurementEngine.h"

#include "base/NumberText.h"
#include "gpib/AnalyserCommands.h"
#include "gpib/InstrumentIO.h"
#include "measure/FrequencyStep.h"
#include "measure/ResultGrid.h"

#include <cmath>

using namespace AnalyserCommands;

MeasurementEngine::MeasurementEngine(InstrumentIO& io, OperatorDialogs& dialogs,
                                     MeasurementView& view, QObject* parent)
    : QObject(parent), m_io(io), m_dialogs(dialogs), m_view(view)
{}

void MeasurementEngine::FindAnalyser()
{
    m_io.DefaultTimeout = Ni488::T3s;
    m_io.GpibInit(1);

    // The 2710 and 2711 answers are looked for exactly; anything else naming 2712 is one.
    const auto find = [this](QString query, QString expected) {
        return m_io.FindDevice(query, expected);
    };
    for (const auto& [expected, name] :
         {std::pair{"!2710", "2710"}, std::pair{"!2711", "2711"}, std::pair{"2712", "2712"}}) {
        State.AnalyserDevice = find(QStringLiteral("ID?"), QLatin1String(expected));
        if (State.AnalyserDevice != 0) {
            State.AnalyserName = QLatin1String(name);
            break;
        }
    }
    for (int i = 0; i < FrequencyStep::Count; ++i)
        Globals.StepMult[size_t(i)] = FrequencyStep::at(i).multiplier;
}

void MeasurementEngine::CheckTrackingGenerator()
{
    m_analyserId = m_io.GpibQuery(State.AnalyserDevice, Identify);
    if (m_io.programEnded() || m_analyserId.contains(TrackingGenerator))
        return;
    m_dialogs.message({MsgKind::Fatal, MsgIcon::Critical, QStringLiteral("Error"),
                       "No Tracking Generator option found in the " + State.AnalyserName +
                           ".\n\nThis program will quit.",
                       MsgButtons::Ok});
    m_io.endProgram();
}

void MeasurementEngine::run()
{
    if (m_running || m_io.programEnded())
        return;
    m_running = true;
    m_sweptToEnd = false;
    m_lastResult.reset();
    m_io.beginRun();
    // An adapter lost in an earlier run is reconnected; still gone, the operator is told again
    // and nothing else happens.
    if (m_io.linkLost() && !m_io.reconnect()) {
        m_io.tellAdapterLost();
        m_io.endRun();
        m_running = false;
        return;
    }
    const MeasType measType = Globals.MeasType;
    if (isReference(measType))
        GetRef(measType);
    else if (kindOf(measType) == MeasKind::ReturnLoss)
        GetRetLossResult(measType);
    else
        GetAttResult(measType);
    m_view.enableStop(false);
    m_io.endRun();
    m_running = false;
}

void MeasurementEngine::requestClose()
{
    m_closeRequested = true;
    State.StopRequested = true;
}

void MeasurementEngine::GetRef(const MeasType& index)
{
    const qint16 device = State.AnalyserDevice;
    const QString& name = State.AnalyserName;

    State.StopRequested = false;
    m_view.showBusy(true);
    m_view.showProgress({"Setting up the " + name});
    m_io.GpibWrite(device, Reset);
    m_io.Delay(5);
    m_io.GpibWrite(device, GeneralSetup);
    m_io.Delay(10);
    m_view.showBusy(false);
    m_view.drawOnGrid([](ResultGrid& grid) {
        for (int series = 1; series <= 6; ++series)
            grid.setSeriesHidden(series, true);
    });
    m_view.uncheckSkipMessages();
    m_view.enableSkipMessages(false);

    // The two kinds differ only in the frames, the prompt, the value axis, the set-up
    // message and the option that gets the focus.
    const MeasKind kind = kindOf(index);
    const bool returnLoss = kind == MeasKind::ReturnLoss;
    const MeasKind otherKind = returnLoss ? MeasKind::Attenuation : MeasKind::ReturnLoss;
    const auto enableThisFrame = [&](bool full) {
        if (returnLoss)
            m_view.enableReflControls(true, full);
        else
            m_view.enableAttnControls(true, full, full);
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

    if (m_view.deviceOptionsEnabled(kind))
        enableThisFrame(false);
    m_view.enableFrame(otherKind, false);
    const auto cancel = [&] {
        m_view.enableStepList(true);
        if (State.RefValid[kindIndex(kind)])
            enableThisFrame(true);
        m_view.enableFrame(otherKind, true);
    };
    const Hookup hookup{returnLoss ? Hookup::Setup::BridgeOpen : Hookup::Setup::Through};
    if (setUpEnds() || ask({MsgKind::ConnectionPrompt, MsgIcon::Information, title, prompt,
                            MsgButtons::OkCancel, hookup}) == MsgResult::Cancel) {
        cancel();
        return;
    }
    m_view.drawOnGrid([kind](ResultGrid& grid) { grid.setScaleFor(kind); });
    m_view.showBusy(true);
    m_view.showProgress({"Setting up the " + name});
    m_io.GpibWrite(device, returnLoss ? ReturnLossSetup : AttenuationSetup);
    m_io.Delay(5);
    m_io.GpibWrite(device, Signal);
    m_io.GpibWaitSrq(device);
    m_io.Delay(1);
    if (setUpEnds()) {
        m_view.showBusy(false);
        cancel();
        return;
    }
    FillRefTable(kindIndex(kind));
    m_view.enableFrame(otherKind, true);
    if (State.StopRequested || adapterLost()) {
        ResetStopSeq();
        m_view.enableStepList(true);
        return;
    }
    enableThisFrame(true);
    m_view.focusFirstDevice(kind);
}

void MeasurementEngine::FillRefTable(int kind)
{
    const qint16 device = State.AnalyserDevice;
    const qint16 m = currentStepMult();

    // A table is offered again only at its own step or a coarser multiple of it.
    if (State.RefValid[kind] && m % State.RefStep[kind] == 0) {
        if (ask({MsgKind::ReferenceReuse, MsgIcon::Question, QStringLiteral("Reference Table"),
                 QStringLiteral("Do want to use the already defined Reference table ?"),
                 MsgButtons::YesNo}) == MsgResult::Yes) {
            m_io.GpibWrite(device, TriggerFreeRun);
            m_view.showBusy(false);
            return;
        }
    }
    State.RefStep[kind] = m;
    State.RefTable[kind][0] = float(LeadingNumber(m_io.GpibQuery(device, ReferenceLevelQuery)));
    m_view.enableStop(true);
    const QVector<int> points = FrequencyStep::sweepPoints(m, false);
    for (int done = 0; done < points.size(); ++done) {
        const int i = points[done];
        const double frequency = PointFrequency(i);
        m_view.showProgress(
            {"Getting Ref value for" + NumberText(frequency) + " MHz", done, int(points.size())});
        m_io.GpibWrite(device, MarkerFrequency(frequency));
        m_io.Delay(0.8f);
        State.RefTable[kind][i] = float(LeadingNumber(m_io.GpibQuery(device, MarkerAmplitude)));
        if (State.StopRequested || adapterLost())
            break;
    }
    if (adapterLost()) {
        State.RefValid[kind] = false;
        return;
    }
    m_io.GpibWrite(device, TriggerFreeRun);
    if (State.StopRequested) {
        State.RefValid[kind] = false;
        return;
    }
    State.RefValid[kind] = true;
    m_refTaken[kind] = QDateTime::currentDateTimeUtc();
    m_view.showBusy(false);
    ask({MsgKind::Done, MsgIcon::None,
         QString(kind != AttenuationKind ? "Return Loss " : "Attenuator ") + "Reference",
         QStringLiteral("Getting Reference values done."), MsgButtons::Ok});
}

void MeasurementEngine::GetRetLossResult(const MeasType& index)
{
    const qint16 device = State.AnalyserDevice;
    const MeasInfo& info = measInfo(index);

    State.StopRequested = false;
    const bool customLimit = m_view.customLimits(MeasKind::ReturnLoss);
    if (customLimit) {
        const QString refusal =
            customLimitRefusal(MeasKind::ReturnLoss, m_view.entryText(Entry::CustomLimitsRl));
        if (!refusal.isEmpty())
            return refuse(Entry::CustomLimitsRl, refusal);
    }
    if (!m_view.skipMessages()) {
        const QString prompt =
            QStringLiteral("Connect the %1 to be measured to the DUT connector of the Impedance "
                           "Bridge.\n%2Click OK when done.")
                .arg(QLatin1String(info.promptText),
                     index == MeasType::Termination
                         ? QStringLiteral("\n")
                         : QStringLiteral("Use a known good Termination on the open end of the "
                                          "Attenuator.\n\n"));
        const Hookup hookup{index == MeasType::Termination ? Hookup::Setup::TerminationOnBridge
                                                           : Hookup::Setup::AttenuatorOnBridge};
        if (ask({MsgKind::ConnectionPrompt, MsgIcon::Information,
                 QStringLiteral("Return Loss Measurement Setup"), prompt, MsgButtons::OkCancel,
                 hookup}) == MsgResult::Cancel) {
            State.StopRequested = true;
            return;
        }
    }
    const float limit =
        customLimit ? float(LeadingNumber(m_view.entryText(Entry::CustomLimitsRl))) : info.limitDb;
    MeasurementResult result = startResult(index, 0, limit, customLimit, true);
    m_view.showBusy(true);
    m_view.showProgress({"Setting up the " + State.AnalyserName});
    m_view.drawOnGrid([limit, curve = curveColumn()](ResultGrid& grid) {
        grid.fillColumn(ResultGrid::LimitColumn, limit);
        grid.setSeriesHidden(ResultGrid::LimitColumn, false);
        grid.setSeriesHidden(curve, false);
    });
    m_io.GpibWrite(device, Signal);
    m_io.Delay(2.0f);
    if (setUpEnds())
        return abandonBeforeLoop(index);
    m_view.drawOnGrid([curve = curveColumn()](ResultGrid& grid) { grid.setColumn(curve); });
    m_view.enableStop(true);

    const float* reference = State.RefTable[ReturnLossKind].data();
    sweepDevice(
        QStringLiteral("Getting value for"), true,
        [reference](int i, double reading) {
            return float(std::fabs(reading - double(reference[i])));
        },
        result);
    endDeviceSweep(result);
}

void MeasurementEngine::GetAttResult(const MeasType& index)
{
    const qint16 device = State.AnalyserDevice;
    const MeasInfo& info = measInfo(index);

    State.StopRequested = false;
    if (!acceptCustomAttenuation() || !acceptCustomLimitsAtt())
        return;

    const bool custom = index == MeasType::CustomAtt;
    const QString customText = m_view.entryText(Entry::CustomAttn);
    QString dut = custom ? customText.trimmed() + " dB" : QLatin1String(info.promptText);
    if (index != MeasType::Cable)
        dut += QStringLiteral(" Attenuator");
    const float nominal = custom ? float(LeadingNumber(customText)) : info.nominalDb;

    m_io.GpibWrite(device, ReferenceLevel(State.RefTable[AttenuationKind][0] - nominal));
    if (setUpEnds()) {
        State.StopRequested = true;
        return;
    }
    if (!m_view.skipMessages()) {
        const QString prompt = "Connect the " + dut +
                               " to be measured between the Tracking Generator output and the " +
                               State.AnalyserName + " input.\n\nClick OK when done.";
        if (ask({MsgKind::ConnectionPrompt, MsgIcon::Information,
                 QStringLiteral("Attenuator Measurement Setup"), prompt, MsgButtons::OkCancel,
                 Hookup{Hookup::Setup::InLine, nominal}}) == MsgResult::Cancel) {
            State.StopRequested = true;
            return;
        }
    } else {
        m_io.Delay(3.0f);
    }

    const bool customLimit = m_view.customLimits(MeasKind::Attenuation);
    const float limit =
        customLimit ? float(LeadingNumber(m_view.entryText(Entry::CustomLimitsAtt))) : info.limitDb;
    const bool limitsShown = customLimit || info.limits != LimitSet::None;
    MeasurementResult result = startResult(index, nominal, limit, customLimit, limitsShown);
    result.customAttnText = customText;

    m_view.showBusy(true);
    m_view.enableAttnControls(false, false, false);
    m_view.showProgress({"Setting up the " + State.AnalyserName});
    m_view.drawOnGrid([this, limit, limitsShown](ResultGrid& grid) {
        grid.fillColumn(ResultGrid::LimitColumn, limit);
        grid.fillColumn(ResultGrid::NegativeLimitColumn, -limit);
        grid.setSeriesHidden(ResultGrid::LimitColumn, !limitsShown);
        grid.setSeriesHidden(ResultGrid::NegativeLimitColumn, !limitsShown);
        ClearGraph(grid, 0);
    });
    m_io.GpibWrite(device, Signal);
    m_io.GpibWaitSrq(device);
    if (setUpEnds())
        return abandonBeforeLoop(index);
    m_view.drawOnGrid([curve = curveColumn()](ResultGrid& grid) {
        grid.setSeriesHidden(curve, false);
        grid.setColumn(curve);
    });
    m_view.enableStop(true);

    const float* reference = State.RefTable[AttenuationKind].data();
    sweepDevice(
        QStringLiteral("Getting Meas value for"), false,
        [reference, nominal](int i, double reading) {
            return float(double(reference[i]) - nominal - reading);
        },
        result);
    endDeviceSweep(result);
}

bool MeasurementEngine::acceptCustomAttenuation()
{
    if (!m_view.customAttenuation())
        return true;
    const QString text = m_view.entryText(Entry::CustomAttn).replace(',', '.');
    m_view.setEntryText(Entry::CustomAttn, text);
    if (const QString refusal = customAttenuationRefusal(text); !refusal.isEmpty()) {
        refuse(Entry::CustomAttn, refusal);
        return false;
    }
    if (LeadingNumber(text) == 0)
        m_view.setEntryText(Entry::CustomAttn, QStringLiteral("0.0"));
    return true;
}

QString MeasurementEngine::customAttenuationRefusal(const QString& text)
{
    if (LeadingNumber(QString(text).replace(',', '.')) > 25)
        return QStringLiteral("Custom Attenuation must be less than or equal to 25 dB.");
    return {};
}

QString MeasurementEngine::customLimitRefusal(MeasKind kind, const QString& text)
{
    if (kind == MeasKind::ReturnLoss) {
        const double value = LeadingNumber(text);
        return value < 10 || value > 40 ? QStringLiteral("Custom Limit must be between 10 and 40")
                                        : QString();
    }
    const QString typed = QString(text).replace(',', '.');
    const double value = LeadingNumber(typed);
    if (typed.isEmpty() || (value >= 0.1 && value <= 1.0))
        return {};
    return QStringLiteral("Custom Limit must be between 0.1 and 1.0");
}

bool MeasurementEngine::acceptCustomLimitsAtt()
{
    if (!m_view.customLimits(MeasKind::Attenuation))
        return true;
    const QString text = m_view.entryText(Entry::CustomLimitsAtt).replace(',', '.');
    m_view.setEntryText(Entry::CustomLimitsAtt, text);
    if (text.isEmpty()) {
        m_view.uncheckCustomLimits(MeasKind::Attenuation);
        return true;
    }
    if (const QString refusal = customLimitRefusal(MeasKind::Attenuation, text);
        !refusal.isEmpty()) {
        refuse(Entry::CustomLimitsAtt, refusal);
        return false;
    }
    return true;
}

void MeasurementEngine::endDeviceSweep(MeasurementResult& result)
{
    const bool attenuation = result.kind() == MeasKind::Attenuation;
    const bool lost = adapterLost();
    if (!lost)
        m_io.GpibWrite(State.AnalyserDevice, TriggerFreeRun);
    m_view.showBusy(false);
    if (attenuation)
        m_view.enableAttnControls(true, result.type != MeasType::CustomAtt, true);
    if (State.StopRequested || lost) {
        ResetStopSeq();
        return;
    }
    m_sweptToEnd = true;
    result.ended = QDateTime::currentDateTimeUtc();
    m_lastResult = result;
    emit sweepCompleted(result);
    if (!m_view.skipMessages())
        ask({MsgKind::Done, MsgIcon::None,
             attenuation ? QStringLiteral("Attenuation Measurement")
                         : QStringLiteral("Return Loss Measurement"),
             attenuation ? QStringLiteral("Getting Attenuation values done.")
                         : QStringLiteral("Getting Return Loss values done."),
             MsgButtons::Ok});
    m_view.enableSkipMessages(true);
}

MeasurementResult MeasurementEngine::startResult(MeasType type, float nominal, float limit,
                                                 bool customLimit, bool limitsShown) const
{
    MeasurementResult result;
    result.type = type;
    result.stepIndex = stepIndex();
    result.stepMult = currentStepMult();
    result.nominalDb = nominal;
    result.customLimits = customLimit;
    result.limitsShown = limitsShown;
    result.limitDb = limit;
    result.started = QDateTime::currentDateTimeUtc();
    result.analyserName = State.AnalyserName;
    const int kind = kindIndex(kindOf(type));
    ReferenceSnapshot& reference = result.reference;
    reference.level = State.RefTable[kind][0];
    reference.stepMult = State.RefStep[kind];
    reference.taken = m_refTaken[kind];
    for (int i : FrequencyStep::sweepPoints(reference.stepMult, false))
        reference.points << MeasuredPoint{PointFrequency(i), State.RefTable[kind][i]};
    return result;
}

void MeasurementEngine::sweepDevice(const QString& progress, bool startCurveAtFirstPoint,
                                    const std::function<float(int point, double reading)>& value,
                                    MeasurementResult& result)
{
    const qint16 device = State.AnalyserDevice;
    const qint16 m = currentStepMult();
    float previous = 0;
    const QVector<int> points = FrequencyStep::sweepPoints(m, true);
    for (int done = 0; done < points.size(); ++done) {
        const int i = points[done];
        const double frequency = PointFrequency(i);
        m_view.showProgress({progress + NumberText(frequency) + " MHz", done, int(points.size())});
        m_io.GpibWrite(device, MarkerFrequency(frequency));
        m_io.Delay(0.7f);
        const float v = value(i, LeadingNumber(m_io.GpibQuery(device, MarkerAmplitude)));
        m_view.drawOnGrid([&](ResultGrid& grid) {
            if (startCurveAtFirstPoint && i == points.first())
                ClearGraph(grid, v);
            if (m > 1 && i > m)
                fillBetween(grid, i, m, previous, v);
            writeRow(grid, i, v);
        });
        result.points << MeasuredPoint{frequency, v};
        previous = v;
        if (State.StopRequested || adapterLost())
            break;
    }
}

void MeasurementEngine::ResetStopSeq()
{
    m_view.enableStop(false);
    // Leaving, the close question follows; a lost adapter has been told as itself.
    if (m_closeRequested || adapterLost())
        return;
    m_dialogs.message({MsgKind::StopNotice, MsgIcon::Exclamation, QStringLiteral("Stop"),
                       QStringLiteral("Sequence interupted by user."), MsgButtons::Ok});
}

void MeasurementEngine::ClearGraph(ResultGrid& grid, float graphValue) const
{
    grid.setColumn(curveColumn());
    for (int row = currentStepMult(); row <= GridPoints; ++row) {
        if (row == 1 && currentStepMult() == 1)
            row = 2;
        grid.setRow(row);
        grid.setData(ResultGrid::text(graphValue));
    }
}

bool MeasurementEngine::setUpEnds() const
{
    return adapterLost() || m_io.cutShortAsked();
}

bool MeasurementEngine::adapterLost() const
{
    // An ending program is as gone as a lost adapter: nothing more is asked or sent.
    return m_io.linkLost() || m_io.programEnded();
}

void MeasurementEngine::abandonBeforeLoop(MeasType type)
{
    m_view.showBusy(false);
    if (kindOf(type) == MeasKind::Attenuation)
        m_view.enableAttnControls(true, type != MeasType::CustomAtt, true);
    State.StopRequested = true;
}

MsgResult MeasurementEngine::ask(const OperatorMessage& message)
{
    // Once the operator has asked to close, or the run is cut short, no further connection is
    // asked for.
    if (m_closeRequested || m_io.programEnded() || m_io.cutShortAsked())
        return message.backOut();
    return m_dialogs.message(message);
}

void MeasurementEngine::refuse(Entry entry, const QString& message)
{
    m_dialogs.message({MsgKind::RefusedValue, MsgIcon::Critical, QStringLiteral("Error"), message,
                       MsgButtons::Ok});
    m_view.clearAndFocus(entry);
}

int MeasurementEngine::curveColumn() const
{
    return FrequencyStep::at(stepIndex()).column;
}

qint16 MeasurementEngine::currentStepMult() const
{
    return Globals.StepMult.at(size_t(stepIndex()));
}

void MeasurementEngine::writeRow(ResultGrid& grid, int row, float value)
{
    grid.setRow(row);
    grid.setData(ResultGrid::text(value));
}

void MeasurementEngine::fillBetween(ResultGrid& grid, int point, int step, float previous,
                                    float value)
{
    // Straight line from the previous point; a step under 0.01 dB is drawn flat.
    const float d = value - previous;
    for (int j = 1; j < step; ++j) {
        const float fill = std::fabs(d) >= 0.01f ? previous + float(j) * d / float(step) : previous;
        writeRow(grid, point - step + j, fill);
    }
}

bool MeasurementEngine::programEnded() const
{
    return m_io.programEnded();
}
