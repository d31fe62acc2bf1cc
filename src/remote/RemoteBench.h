#pragma once

#include "measure/MeasType.h"
#include "measure/MeasurementResult.h"

#include <QObject>
#include <QString>

#include <optional>

// What remote control may see and do at the bench: the operator's controls, one call each.
// A change is refused exactly when the operator could not use that control at that moment,
// so a remote client can never reach a state the window cannot. Everything runs on the
// window's thread; no call may start a run or show a message box.
class RemoteBench : public QObject {
    Q_OBJECT
public:
    // Why a change was refused, as an SCPI error number (Scpi::Error): NoError, or
    // SettingsConflict, DataOutOfRange, IllegalParameterValue, DataStale, ExecutionError.
    struct Refusal {
        int code = 0;
        QString text; // what the operator would have been told, if anything; may hold LFs
        bool refused() const { return code != 0; }
    };
    enum class PromptButton { Ok, Cancel, Yes, No };
    struct ReferenceState {
        bool valid = false;
        double stepMHz = 25; // the step the reference table was taken at
    };

    using QObject::QObject;

    virtual QString analyserModel() const = 0; // "2710", "2711" or "2712"

    // The active frame; setting it is a click inside that frame.
    virtual MeasKind kind() const = 0;
    virtual Refusal setKind(MeasKind kind) = 0;
    // The frequency step list: 0..3 = 12.5, 25, 50, 100 MHz.
    virtual int stepIndex() const = 0;
    virtual Refusal setStepIndex(int index) = 0;
    // The selected option of the active frame, or the custom attenuation when it is checked.
    virtual MeasType device() const = 0;
    virtual Refusal setDevice(MeasType type) = 0;
    // Texts as typed into the boxes; the value check comes at Run, as for the operator.
    virtual QString customAttenuationText() const = 0;
    virtual Refusal setCustomAttenuation(const QString& text) = 0;
    // "Custom Limits" of the active frame: its check box and its text.
    virtual bool customLimitOn() const = 0;
    virtual QString customLimitText() const = 0;
    virtual Refusal setCustomLimit(bool on, const QString& text) = 0;
    // The report's identifier and comment lines, as received: the bench cleans them (control
    // characters to blanks, ';' to '-', the ID trimmed) and refuses one too long (DataOutOfRange).
    virtual QString dutId() const = 0;
    virtual Refusal setDutId(const QString& id) = 0;
    virtual QString comment() const = 0;
    virtual Refusal setComment(const QString& text) = 0;

    // Run. Returns at once, the run going on on the bus thread; busy() holds from the return
    // until runFinished. Errors of the run go to connection (connectionError).
    // With promptsOn false every message box of the run takes its default.
    virtual Refusal initiate(int connection, bool promptsOn) = 0;
    // Stop, as soon as the run in progress offers it.
    virtual void abort() = 0;
    // A run is in progress, whether started here or from the window.
    virtual bool busy() const = 0;
    // The last completed device sweep; empty from the start of a new run.
    virtual std::optional<MeasurementResult> lastResult() const = 0;
    virtual ReferenceState reference(MeasKind kind) const = 0;

    // The text of the message box waiting for an answer, or empty.
    virtual QString promptText() const = 0;
    // Presses that button of the waiting box; SettingsConflict when no waiting box has it.
    virtual Refusal answerPrompt(PromptButton button) = 0;

    // Prints the report of the last completed sweep with that description line.
    virtual Refusal hardcopy(const QString& description) = 0;

signals:
    // Every run's end, however it ended: completed, stopped, cancelled, refused by its value
    // check or stopped before it began. busy() is false by then.
    void runFinished();
    // An error of a run started by initiate(connection, ..): HardwareError with the GPIB
    // dialog's text, DataOutOfRange with the value check's message.
    void connectionError(int connection, int code, const QString& text);
    // A fault every client should hear about (SystemError), e.g. the shared database out of reach.
    void systemError(const QString& text);
};
