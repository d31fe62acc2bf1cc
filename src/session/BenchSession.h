#pragma once

#include "base/OperatorDialogs.h"
#include "gpib/InstrumentIO.h"
#include "history/HistoryRecord.h"
#include "measure/FrequencyStep.h"
#include "measure/MeasurementEngine.h"
#include "measure/MeasurementView.h"
#include "measure/ResultGrid.h"
#include "remote/RemoteBench.h"
#include "session/BusThread.h"

#include <array>
#include <memory>

class Clock;
class GpibDriver;

// What the operator's controls show: enabled, checked and shown, as the window draws them.
struct ControlState {
    bool enabled = false;
    bool checked = false;
    bool shown = true;
};

// The selection controls, the busy indicator and the command buttons as values. The session's
// rules change them; the window only draws them.
struct BenchControls {
    std::array<bool, 2> frameEnabled{true, true}; // by kind index
    std::array<ControlState, 6> attnOptions{};    // "Reference", "1 X" .. "10 X"
    std::array<ControlState, 3> reflOptions{};    // "Reference", "Termination", "Attenuator"
    ControlState customAttnCheck;
    ControlState customAttnBox{true, false, false};
    QString customAttnText;
    std::array<ControlState, 2> customLimitsCheck{}; // by kind index
    std::array<ControlState, 2> customLimitsBox{{{true, false, false}, {true, false, false}}};
    std::array<QString, 2> customLimitsText;
    // Shown and hidden with the boxes beside them.
    std::array<ControlState, 3> dbLabels{
        {{true, false, false}, {true, false, false}, {true, false, false}}};
    ControlState stepList;
    int stepIndex = FrequencyStep::DefaultIndex;
    ControlState skipMessages;
    ControlState run, stop;
    bool printShown = false;
    bool busyShown = false;
    bool infoShown = true;
    QString info = QStringLiteral("Click inside one of the frames");
    // While a run is in progress nothing in the frames can be touched, whatever its own state.
    bool selectionLocked = false;

    const ControlState& option(MeasKind kind, int index) const
    {
        return kind == MeasKind::ReturnLoss ? reflOptions.at(size_t(index))
                                            : attnOptions.at(size_t(index));
    }
    // Usable by the operator now: its own state, its frame's and the run's lock.
    bool usable(MeasKind kind, const ControlState& control) const
    {
        return control.enabled && frameEnabled[size_t(kindIndex(kind))] && !selectionLocked;
    }
};

// Where the operator's focus goes next.
enum class FocusTarget {
    CustomAttn,
    CustomLimitsAtt,
    CustomLimitsRl,
    FirstAttnDevice,
    FirstReflDevice
};

// One bench session behind every front door: the window, remote control and the batch run make
// the same calls, and the session owns the selection, its rules, the checks with their messages
// and the cleaning of texts from outside. A call the operator could not make at that moment is
// refused (-221). The sequences run in the engine on the bus thread, which sees the controls
// through this session on the window's thread; the calls below are all made on that thread.
class BenchSession : public RemoteBench, public MeasurementView {
    Q_OBJECT
public:
    BenchSession(GpibDriver& bus, Clock& clock, OperatorDialogs& dialogs,
                 QObject* parent = nullptr);
    ~BenchSession() override;

    InstrumentIO& io() { return m_io; }
    MeasurementEngine& engine() { return m_engine; }
    const MeasurementEngine& engine() const { return m_engine; }
    // The results grid the sweeps write and the chart draws.
    ResultGrid& grid() { return m_grid; }
    const BenchControls& controls() const { return m_controls; }

    // Start-up on the bus thread: the bus, the analyser and the step list; then, at the window's
    // first activation, the tracking generator. Each calls then when it is over, and
    // programEnded() may hold by then.
    void load(std::function<void()> then = {});
    void checkTrackingGenerator(std::function<void()> then = {});
    // Work handed to the bus thread is in progress; settled() says when none is left.
    bool working() const { return m_bus.pending() > 0; }
    // A fatal condition was met: nothing more goes over the bus or to the operator, and the
    // front door ends the program.
    bool programEnded() const { return m_io.programEnded(); }

    // ---- The operator's selection: each call is one click or entry ---------------------
    Refusal chooseOption(MeasKind kind, int index);
    Refusal setCustomAttenuationChecked(bool on);
    Refusal setCustomLimitsChecked(MeasKind kind, bool on);
    Refusal setCustomLimitsText(MeasKind kind, const QString& text);
    Refusal setSkipMessages(bool on);

    // ---- Run, Stop and leaving -------------------------------------------------------------
    // Starts the selected sequence on the bus thread (Run); runFinished once it has returned.
    // Refused when Run is not usable.
    Refusal runNow(StartedFrom origin, bool attended = true);
    bool running() const { return m_running; }
    // Stop: the sweeps end after the point they are at.
    void stop();
    // Leaving: asks whether to reset the analyser. When the answer is to reset it, the reset
    // goes over the bus and afterReset runs once it has.
    enum class Leaving { Cancelled, Now, AfterReset };
    Leaving leave(std::function<void()> afterReset);
    // Leaving while a run is in progress: it winds down and asks for nothing more.
    void requestClose();
    // The run is to end at once (a signal): in a point loop as at Stop, after the point in
    // progress; elsewhere the wait or prompt in progress is cut short and the run ends as a
    // Cancel at its connection prompt.
    void cutShort();
    bool closeRequested() const { return m_engine.closeRequested(); }
    void clearCloseRequest() { m_engine.clearCloseRequest(); }

    // Who started the run in progress and whether anybody is at the bench, for its record.
    StartedFrom runOrigin() const { return m_origin; }
    bool runAttended() const { return m_attended; }

    // ---- Remote control and the batch run -------------------------------------------------
    QString analyserModel() const override;
    MeasKind kind() const override;
    Refusal setKind(MeasKind kind) override;
    int stepIndex() const override { return m_controls.stepIndex; }
    Refusal setStepIndex(int index) override;
    MeasType device() const override { return m_engine.Globals.MeasType; }
    Refusal setDevice(MeasType type) override;
    QString customAttenuationText() const override { return m_controls.customAttnText; }
    Refusal setCustomAttenuation(const QString& text) override;
    bool customLimitOn() const override;
    QString customLimitText() const override;
    Refusal setCustomLimit(bool on, const QString& text) override;
    QString dutId() const override { return m_dutId; }
    Refusal setDutId(const QString& id) override;
    QString comment() const override { return m_comment; }
    Refusal setComment(const QString& text) override;
    Refusal initiate(int connection, bool promptsOn) override;
    void abort() override;
    bool busy() const override { return m_running; }
    std::optional<MeasurementResult> lastResult() const override { return m_lastResult; }
    // The record kept of the last sweep, for the page printed of it; none before one.
    const std::optional<PageRecord>& lastRecord() const { return m_lastRecord; }
    void setLastRecord(const PageRecord& record) { m_lastRecord = record; }
    ReferenceState reference(MeasKind kind) const override;
    QString promptText() const override;
    Refusal answerPrompt(PromptButton button) override;
    Refusal hardcopy(const QString& description) override;

    // ---- What the sequences see of the controls ---------------------------------------------
    bool skipMessages() const override { return m_controls.skipMessages.checked; }
    bool customAttenuation() const override { return m_controls.customAttnCheck.checked; }
    bool customLimits(MeasKind kind) const override;
    QString entryText(Entry entry) const override;
    bool deviceOptionsEnabled(MeasKind kind) const override;
    void setEntryText(Entry entry, const QString& text) override;
    void clearAndFocus(Entry entry) override;
    void uncheckCustomLimits(MeasKind kind) override;
    void enableAttnControls(bool refEnabled, bool optionsEnabled, bool customEnabled) override;
    void enableReflControls(bool refEnabled, bool othersEnabled) override;
    void enableFrame(MeasKind kind, bool enabled) override;
    void enableStepList(bool enabled) override;
    void enableSkipMessages(bool enabled) override;
    void uncheckSkipMessages() override;
    void focusFirstDevice(MeasKind kind) override;
    void enableStop(bool enabled) override;
    void showBusy(bool busy) override;
    void showProgress(const SweepProgress& progress) override;
    void drawOnGrid(const std::function<void(ResultGrid&)>& draw) override;

signals:
    // The controls changed; whoever draws them reads controls() again.
    void changed();
    void focusWanted(FocusTarget target);
    // Around every run, whoever started it.
    void runStarting();
    // A sweep's progress, for the doors that show more than the text.
    void progressed(const SweepProgress& progress);
    // A print made through hardcopy(), for the history.
    void printed(const PrintRow& page);
    // Stop has just become usable.
    void stopAvailable();
    // A device sweep measured its last point, before its closing message.
    void sweepCompleted(const MeasurementResult& result);
    // The bus thread has done all the work handed to it.
    void settled();

private:
    class Desk;
    class FromBus;

    void frameClicked(MeasKind kind);
    void optionSelected(MeasKind kind, int index);
    void customAttnChanged();
    void customLimitsChanged(int kind);
    void customAttnTextChanged();
    void stepChosen();
    void selectOption(MeasKind kind, int index);
    void touched();
    // Hands work to the bus thread; then runs here after it.
    void onBus(std::function<void()> work, std::function<void()> then);
    void runReturned();
    void runEnded();
    void heard(const OperatorMessage& message);

    BusThread m_bus;
    std::unique_ptr<Desk> m_desk;
    std::unique_ptr<FromBus> m_fromBus;
    InstrumentIO m_io;
    ResultGrid m_grid{6};
    MeasurementEngine m_engine;
    BenchControls m_controls;
    QString m_dutId, m_comment;
    StartedFrom m_origin = StartedFrom::Window;
    bool m_attended = true;
    bool m_running = false;
    std::optional<MeasurementResult> m_lastResult;
    std::optional<PageRecord> m_lastRecord;
    // The references as they were when the run began: the run's own are the bus thread's.
    std::array<ReferenceState, 2> m_referencesBefore{};
    int m_runConnection = 0; // the remote connection whose run is in progress; 0: none
    bool m_abortWanted = false;
};
