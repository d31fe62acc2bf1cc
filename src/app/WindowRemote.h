#pragma once

#include "base/OperatorDialogs.h"
#include "remote/RemoteBench.h"

class DesktopDialogs;
class MainForm;
class OperatorDialogs;
class SweepRecorder;

// Remote control through the window's own controls: every change is the click or the typing
// an operator would do, refused where the operator could not do it, and visible as it
// happens. A run starts with the Run button, from the event loop.
class WindowRemote : public RemoteBench {
    Q_OBJECT
public:
    WindowRemote(MainForm& form, DesktopDialogs& desktop, OperatorDialogs& dialogs,
                 SweepRecorder& recorder, QObject* parent = nullptr);

    QString analyserModel() const override;
    MeasKind kind() const override;
    Refusal setKind(MeasKind kind) override;
    int stepIndex() const override;
    Refusal setStepIndex(int index) override;
    MeasType device() const override;
    Refusal setDevice(MeasType type) override;
    QString customAttenuation() const override;
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
    bool busy() const override;
    std::optional<MeasurementResult> lastResult() const override;
    ReferenceState reference(MeasKind kind) const override;

    QString promptText() const override;
    Refusal answerPrompt(PromptButton button) override;
    Refusal hardcopy(const QString& description) override;

private:
    void startRun();
    void runEnded();
    void heard(const OperatorMessage& message);
    // The operator could not touch the selection now.
    bool locked() const;

    MainForm& m_form;
    DesktopDialogs& m_desktop;
    OperatorDialogs& m_dialogs;
    SweepRecorder& m_recorder;
    QString m_dutId;
    QString m_comment;
    bool m_pending = false; // initiated, not begun
    int m_pendingConnection = 0;
    bool m_pendingPromptsOn = true;
    int m_runConnection = 0; // the connection whose run is in progress; 0: the window's
    bool m_abortWanted = false;
};
