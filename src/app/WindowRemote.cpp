#include "app/WindowRemote.h"

#include "app/DesktopDialogs.h"
#include "app/MainForm.h"
#include "app/SweepRecorder.h"
#include "gpib/InstrumentIO.h"
#include "report/PrintResultForm.h"
#include "report/PrintResultTextForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace {

const RemoteBench::Refusal Conflict{-221, {}};

} // namespace

WindowRemote::WindowRemote(MainForm& form, DesktopDialogs& desktop, OperatorDialogs& dialogs,
                           SweepRecorder& recorder, QObject* parent)
    : RemoteBench(parent), m_form(form), m_desktop(desktop), m_dialogs(dialogs),
      m_recorder(recorder)
{
    connect(&form, &MainForm::runFinished, this, &WindowRemote::runEnded);
    connect(&form, &MainForm::stopAvailable, this, [this] {
        if (m_abortWanted) {
            m_abortWanted = false;
            m_form.Command_Stop->click();
        }
    });
    desktop.observer = [this](const OperatorMessage& message) { heard(message); };
}

QString WindowRemote::analyserModel() const
{
    return m_form.State.AnalyserName;
}

bool WindowRemote::locked() const
{
    return busy();
}

MeasKind WindowRemote::kind() const
{
    return kindOf(m_form.Globals.MeasType);
}

RemoteBench::Refusal WindowRemote::setKind(MeasKind kind)
{
    ClickFrame* frame = kind == MeasKind::ReturnLoss ? m_form.Frame_Refl : m_form.Frame_Attn;
    if (locked() || !frame->isEnabled())
        return Conflict;
    emit frame->clicked();
    return {};
}

int WindowRemote::stepIndex() const
{
    return m_form.Combo_FreqStep->currentIndex();
}

RemoteBench::Refusal WindowRemote::setStepIndex(int index)
{
    QComboBox* list = m_form.Combo_FreqStep;
    if (locked() || !list->isEnabled())
        return Conflict;
    list->setCurrentIndex(index);
    emit list->activated(index);
    return {};
}

MeasType WindowRemote::device() const
{
    return m_form.Globals.MeasType;
}

RemoteBench::Refusal WindowRemote::setDevice(MeasType type)
{
    if (locked() || kindOf(type) != kind())
        return Conflict;
    QCheckBox* custom = m_form.Check_CustomAttn;
    if (type == MeasType::CustomAtt) {
        if (custom->isChecked())
            return {};
        if (!custom->isEnabled())
            return Conflict;
        custom->click();
        return {};
    }
    const int index = isReference(type) ? 0 : measInfo(type).optionIndex;
    QRadioButton* option = kindOf(type) == MeasKind::ReturnLoss ? m_form.Option_Refl[size_t(index)]
                                                                : m_form.Option_Attn[size_t(index)];
    if (custom->isChecked()) {
        if (!custom->isEnabled())
            return Conflict;
        custom->click();
    }
    if (!option->isEnabled())
        return Conflict;
    option->click();
    return {};
}

QString WindowRemote::customAttenuation() const
{
    return m_form.Text_CustomAttn->text();
}

RemoteBench::Refusal WindowRemote::setCustomAttenuation(const QString& text)
{
    QLineEdit* box = m_form.Text_CustomAttn;
    if (locked() || box->isHidden() || !box->isEnabled())
        return Conflict;
    box->setText(text);
    return {};
}

bool WindowRemote::customLimitOn() const
{
    return m_form.Check_CustomLimits[size_t(kindIndex(kind()))]->isChecked();
}

QString WindowRemote::customLimitText() const
{
    return m_form.Text_CustomLimits[size_t(kindIndex(kind()))]->text();
}

RemoteBench::Refusal WindowRemote::setCustomLimit(bool on, const QString& text)
{
    const size_t k = size_t(kindIndex(kind()));
    QCheckBox* box = m_form.Check_CustomLimits[k];
    if (locked() || !box->isEnabled())
        return Conflict;
    if (box->isChecked() != on)
        box->click();
    if (on)
        m_form.Text_CustomLimits[k]->setText(text);
    return {};
}

RemoteBench::Refusal WindowRemote::setDutId(const QString& id)
{
    if (locked())
        return Conflict;
    m_dutId = id;
    return {};
}

RemoteBench::Refusal WindowRemote::setComment(const QString& text)
{
    if (locked())
        return Conflict;
    m_comment = text;
    return {};
}

RemoteBench::Refusal WindowRemote::initiate(int connection, bool promptsOn)
{
    if (busy() || !m_form.Command_Run->isEnabled())
        return Conflict;
    m_pending = true;
    m_pendingConnection = connection;
    m_pendingPromptsOn = promptsOn;
    // Never inside the server's handler: the run waits in the event loop for its whole length.
    QTimer::singleShot(0, this, &WindowRemote::startRun);
    return {};
}

void WindowRemote::startRun()
{
    if (!m_pending)
        return; // aborted before it began
    m_pending = false;
    m_runConnection = m_pendingConnection;
    m_desktop.setUnattended(!m_pendingPromptsOn);
    m_recorder.setRun(StartedFrom::Remote, !m_pendingPromptsOn, m_dutId, m_comment);
    m_form.Command_Run->click();
}

void WindowRemote::runEnded()
{
    m_desktop.setUnattended(false);
    m_recorder.setRun(StartedFrom::Window, false);
    m_runConnection = 0;
    // An abort lapses with the run it was meant for.
    m_abortWanted = false;
    emit runFinished();
}

void WindowRemote::abort()
{
    if (m_pending) {
        m_pending = false;
        emit runFinished();
        return;
    }
    if (!m_form.running())
        return;
    if (m_form.Command_Stop->isEnabled())
        m_form.Command_Stop->click();
    else
        m_abortWanted = true;
}

bool WindowRemote::busy() const
{
    return m_pending || m_form.running();
}

std::optional<MeasurementResult> WindowRemote::lastResult() const
{
    return m_form.engine().lastResult();
}

RemoteBench::ReferenceState WindowRemote::reference(MeasKind kind) const
{
    const int k = kindIndex(kind);
    return {m_form.State.RefValid[size_t(k)], 12.5 * m_form.State.RefStep[size_t(k)]};
}

QString WindowRemote::promptText() const
{
    return m_desktop.waitingText();
}

RemoteBench::Refusal WindowRemote::answerPrompt(PromptButton button)
{
    static const MsgResult results[] = {MsgResult::Ok, MsgResult::Cancel, MsgResult::Yes,
                                        MsgResult::No};
    return m_desktop.press(results[int(button)]) ? Refusal{} : Conflict;
}

RemoteBench::Refusal WindowRemote::hardcopy(const QString& description)
{
    const std::optional<MeasurementResult>& result = m_form.engine().lastResult();
    if (busy())
        return Conflict;
    if (!result)
        return {-230, {}};
    // The details dialog's preset, where it has one; an attenuator's return loss has none.
    const QString text =
        description.isEmpty()
            ? PrintResultTextForm::DescriptionFor(result->type, result->customAttnText)
            : description;
    if (description.isEmpty() && result->type == MeasType::AttenuatorRl)
        return Conflict;
    QString failure;
    const std::optional<PrintRow> page = PrintResultForm::PrintPreset(
        m_form.reportSource(), {text, m_dutId, m_comment, {}, false, true}, m_dialogs, &m_form,
        &failure);
    if (!page)
        return {-200, failure};
    m_recorder.recordPrint(*page);
    return {};
}

void WindowRemote::heard(const OperatorMessage& message)
{
    if (m_runConnection == 0)
        return;
    switch (message.kind) {
    case MsgKind::BusError:
    case MsgKind::ReadTimeout:
    case MsgKind::AdapterLost:
        emit connectionError(m_runConnection, -240, message.text);
        break;
    case MsgKind::RefusedValue:
        emit connectionError(m_runConnection, -222, message.text);
        break;
    default:
        break;
    }
}
