#pragma once

#include "remote/RemoteBench.h"

// The bench reduced to what the server relies on: refusals where the operator's controls are
// disabled, and a run that shows its first prompt at once and ends later from the event loop.
class FakeBench : public RemoteBench {
    Q_OBJECT
public:
    // Faults a test may switch on.
    bool gpibFault = false;  // every run ends in the GPIB error dialog
    bool printFails = false; // the printer refuses the job

    QString analyserModel() const override { return QStringLiteral("2712"); }
    MeasKind kind() const override { return m_kind; }
    Refusal setKind(MeasKind kind) override;
    int stepIndex() const override { return m_step; }
    Refusal setStepIndex(int index) override;
    MeasType device() const override { return m_device; }
    Refusal setDevice(MeasType type) override;
    QString customAttenuation() const override { return m_customAttn; }
    Refusal setCustomAttenuation(const QString& text) override { return set(m_customAttn, text); }
    bool customLimitOn() const override { return m_limitOn; }
    QString customLimitText() const override { return m_limitText; }
    Refusal setCustomLimit(bool on, const QString& text) override;
    QString dutId() const override { return m_dutId; }
    Refusal setDutId(const QString& id) override { return set(m_dutId, id); }
    QString comment() const override { return m_comment; }
    Refusal setComment(const QString& text) override { return set(m_comment, text); }

    Refusal initiate(int connection, bool promptsOn) override;
    void abort() override;
    bool busy() const override { return m_busy; }
    std::optional<MeasurementResult> lastResult() const override { return m_result; }
    ReferenceState reference(MeasKind kind) const override { return m_reference[int(kind)]; }
    QString promptText() const override { return m_prompt; }
    Refusal answerPrompt(PromptButton button) override;
    Refusal hardcopy(const QString& description) override;

private:
    enum class End { Completed, Stopped, ValueRefused };
    Refusal set(QString& field, const QString& text);
    void endLater(End end);
    void end(End end);

    MeasKind m_kind = MeasKind::Attenuation;
    int m_step = 1;
    MeasType m_device = MeasType::AttReference;
    QString m_customAttn, m_limitText, m_dutId, m_comment;
    bool m_limitOn = false;
    bool m_busy = false;
    int m_connection = 0;
    QString m_prompt;
    std::optional<MeasurementResult> m_result;
    ReferenceState m_reference[2];
};
