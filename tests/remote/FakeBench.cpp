#include "FakeBench.h"

#include <QTimer>

namespace {

const float ReturnLoss[] = {21.37f, 30.5f, 28.25f, 35, 40.125f, 33, 29.75f, 26, 24.5f, 22};
const float Deviation[] = {0.05f, -0.125f, 0.2f, -0.25f, 0.1f, 0, -0.05f, 0.15f, 0.3125f, -0.2f};

} // namespace

RemoteBench::Refusal FakeBench::set(QString& field, const QString& text)
{
    if (m_busy)
        return {-221, {}};
    field = text;
    return {};
}

RemoteBench::Refusal FakeBench::setKind(MeasKind kind)
{
    if (m_busy)
        return {-221, {}};
    m_kind = kind;
    m_device = referenceOf(kind);
    return {};
}

RemoteBench::Refusal FakeBench::setStepIndex(int index)
{
    // The step list is enabled only with a Reference selected.
    if (m_busy || !isReference(m_device))
        return {-221, {}};
    m_step = index;
    m_reference[int(m_kind)].valid = false;
    return {};
}

RemoteBench::Refusal FakeBench::setDevice(MeasType type)
{
    if (m_busy || (!isReference(type) && !m_reference[int(kindOf(type))].valid))
        return {-221, {}};
    m_device = type;
    return {};
}

RemoteBench::Refusal FakeBench::setCustomLimit(bool on, const QString& text)
{
    if (m_busy)
        return {-221, {}};
    m_limitOn = on;
    m_limitText = text;
    return {};
}

RemoteBench::Refusal FakeBench::initiate(int connection, bool promptsOn)
{
    if (m_busy)
        return {-221, {}};
    m_busy = true;
    m_connection = connection;
    m_result.reset();
    if (m_device == MeasType::CustomAtt && m_customAttn.toDouble() > 25)
        endLater(End::ValueRefused);
    else if (!promptsOn)
        endLater(End::Completed);
    else if (isReference(m_device))
        m_prompt = QStringLiteral("Connect the bridge, nothing on its \"DUT\" port.\n\nClick OK "
                                  "when done.");
    else
        m_prompt = QStringLiteral("Connect the %1.\n\nClick OK when done.")
                       .arg(QLatin1String(measInfo(m_device).promptText));
    return {};
}

void FakeBench::abort()
{
    if (m_busy)
        endLater(End::Stopped);
}

RemoteBench::Refusal FakeBench::answerPrompt(PromptButton button)
{
    if (m_prompt.isEmpty() || (button != PromptButton::Ok && button != PromptButton::Cancel))
        return {-221, {}};
    m_prompt.clear();
    endLater(button == PromptButton::Ok ? End::Completed : End::Stopped);
    return {};
}

RemoteBench::Refusal FakeBench::hardcopy(const QString& description)
{
    if (m_result->type == MeasType::AttenuatorRl && description.isEmpty())
        return {-221, QStringLiteral("Describe the attenuator.")};
    if (printFails)
        return {-200, QStringLiteral("The printer did not accept the job.")};
    return {};
}

void FakeBench::endLater(End how)
{
    QTimer::singleShot(0, this, [this, how] { end(how); });
}

void FakeBench::end(End how)
{
    if (!m_busy)
        return;
    m_prompt.clear();
    m_busy = false;
    if (how == End::ValueRefused) {
        emit connectionError(m_connection, -222,
                             QStringLiteral("Custom Attenuation must be less than or equal to 25 "
                                            "dB."));
    } else if (how == End::Completed && gpibFault) {
        emit connectionError(m_connection, -240,
                             QStringLiteral("No listener on write function.\nibsta = &H8100"));
    } else if (how == End::Completed && isReference(m_device)) {
        m_reference[int(m_kind)] = {true, 12.5 * (1 << m_step)};
    } else if (how == End::Completed) {
        MeasurementResult r;
        const MeasInfo& info = measInfo(m_device);
        r.type = m_device;
        r.stepIndex = m_step;
        r.stepMult = 1 << m_step;
        r.limitsShown = m_limitOn || info.limits != LimitSet::None;
        r.limitDb = m_limitOn ? m_limitText.toFloat() : info.limitDb;
        const float* values = m_kind == MeasKind::ReturnLoss ? ReturnLoss : Deviation;
        for (int i = r.stepMult, k = 0; i <= 80; i += r.stepMult, ++k)
            r.points << MeasuredPoint{i * 12.5, values[k % 10]};
        m_result = r;
    }
    emit runFinished();
}
