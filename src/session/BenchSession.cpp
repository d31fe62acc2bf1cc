#include "session/BenchSession.h"

#include "base/Clock.h"
#include "gpib/AnalyserCommands.h"
#include "measure/DutText.h"
#include "measure/FrequencyStep.h"
#include "remote/ScpiMessage.h"
#include "report/PrintResultForm.h"
#include "report/PrintResultTextForm.h"

namespace {

const RemoteBench::Refusal Conflict{Scpi::SettingsConflict, {}};

} // namespace

// Every message of the session's sequences passes here on its way to the door's dialogs: the
// one waiting for an answer is known, a run with nobody at the bench takes the defaults, and
// the run's origin hears its errors by their kind. A message from the bus thread is shown on the
// window's thread without a nested event loop, and the sequence waits there for the answer.
class BenchSession::Desk : public OperatorDialogs {
public:
    Desk(BenchSession& session, OperatorDialogs& door) : m_session(session), m_door(door) {}

    MsgResult message(const OperatorMessage& message) override
    {
        OperatorMessage shown = message;
        shown.unattended = message.unattended || !m_session.m_attended;
        if (!m_session.m_bus.onBusThread()) {
            m_session.heard(shown);
            const std::optional<OperatorMessage> outer = std::exchange(m_waiting, shown);
            const MsgResult answer = m_door.message(shown);
            m_waiting = outer;
            return answer;
        }
        // Backs out if the program goes away before anybody answers.
        auto answer = std::make_shared<MsgResult>(shown.backOut());
        m_session.m_bus.awaitHome([this, shown, answer](const BusThread::Finish& finish) {
            m_session.heard(shown);
            m_waiting = shown;
            m_door.show(shown, [this, answer, finish](MsgResult button) {
                m_waiting.reset();
                *answer = button;
                finish();
            });
        });
        return *answer;
    }
    bool choosePrinter(QPrinter& printer) override { return m_door.choosePrinter(printer); }
    bool answerWaiting(MsgResult button) override
    {
        if (!m_waiting || !offers(*m_waiting, button) || !m_door.answerWaiting(button))
            return false;
        // Answered, though its box closes only when the event loop comes round to it: a
        // second answer must not reach the message that follows it.
        m_waiting.reset();
        return true;
    }
    const std::optional<OperatorMessage>& waiting() const { return m_waiting; }

private:
    static bool offers(const OperatorMessage& message, MsgResult button)
    {
        switch (message.buttons) {
        case MsgButtons::Ok:
            return button == MsgResult::Ok;
        case MsgButtons::OkCancel:
            return button == MsgResult::Ok || button == MsgResult::Cancel;
        case MsgButtons::YesNo:
            return button == MsgResult::Yes || button == MsgResult::No;
        case MsgButtons::YesNoCancel:
            break;
        }
        return button != MsgResult::Ok;
    }

    BenchSession& m_session;
    OperatorDialogs& m_door;
    std::optional<OperatorMessage> m_waiting;
};

// The engine's view from the bus thread: every read and change of the controls and the chart
// is made on the window's thread, in order, and the sequence waits for it.
class BenchSession::FromBus : public MeasurementView {
public:
    explicit FromBus(BenchSession& session) : s(session) {}

    int stepIndex() const override
    {
        return s.m_bus.home([this] { return s.stepIndex(); });
    }
    bool skipMessages() const override
    {
        return s.m_bus.home([this] { return s.skipMessages(); });
    }
    bool customAttenuation() const override
    {
        return s.m_bus.home([this] { return s.customAttenuation(); });
    }
    bool customLimits(MeasKind kind) const override
    {
        return s.m_bus.home([this, kind] { return s.customLimits(kind); });
    }
    QString entryText(Entry entry) const override
    {
        return s.m_bus.home([this, entry] { return s.entryText(entry); });
    }
    bool deviceOptionsEnabled(MeasKind kind) const override
    {
        return s.m_bus.home([this, kind] { return s.deviceOptionsEnabled(kind); });
    }
    void setEntryText(Entry entry, const QString& text) override
    {
        s.m_bus.home([this, entry, text] { s.setEntryText(entry, text); });
    }
    void clearAndFocus(Entry entry) override
    {
        s.m_bus.home([this, entry] { s.clearAndFocus(entry); });
    }
    void uncheckCustomLimits(MeasKind kind) override
    {
        s.m_bus.home([this, kind] { s.uncheckCustomLimits(kind); });
    }
    void enableAttnControls(bool refEnabled, bool optionsEnabled, bool customEnabled) override
    {
        s.m_bus.home(
            [=, this] { s.enableAttnControls(refEnabled, optionsEnabled, customEnabled); });
    }
    void enableReflControls(bool refEnabled, bool othersEnabled) override
    {
        s.m_bus.home([=, this] { s.enableReflControls(refEnabled, othersEnabled); });
    }
    void enableFrame(MeasKind kind, bool enabled) override
    {
        s.m_bus.home([=, this] { s.enableFrame(kind, enabled); });
    }
    void enableStepList(bool enabled) override
    {
        s.m_bus.home([=, this] { s.enableStepList(enabled); });
    }
    void enableSkipMessages(bool enabled) override
    {
        s.m_bus.home([=, this] { s.enableSkipMessages(enabled); });
    }
    void uncheckSkipMessages() override
    {
        s.m_bus.home([this] { s.uncheckSkipMessages(); });
    }
    void focusFirstDevice(MeasKind kind) override
    {
        s.m_bus.home([=, this] { s.focusFirstDevice(kind); });
    }
    void enableStop(bool enabled) override
    {
        s.m_bus.home([=, this] { s.enableStop(enabled); });
    }
    void showBusy(bool busy) override
    {
        s.m_bus.home([=, this] { s.showBusy(busy); });
    }
    void showProgress(const SweepProgress& progress) override
    {
        s.m_bus.home([this, progress] { s.showProgress(progress); });
    }
    void drawOnGrid(const std::function<void(ResultGrid&)>& draw) override
    {
        s.m_bus.home([this, &draw] { s.drawOnGrid(draw); });
    }

private:
    BenchSession& s;
};

BenchSession::BenchSession(GpibDriver& bus, Clock& clock, OperatorDialogs& dialogs, QObject* parent)
    : RemoteBench(parent), m_bus(bus), m_desk(std::make_unique<Desk>(*this, dialogs)),
      m_fromBus(std::make_unique<FromBus>(*this)), m_io(bus, clock, *m_desk),
      m_engine(m_io, *m_desk, *m_fromBus)
{
    // From the bus thread, heard here before the sweep's closing message.
    connect(
        &m_engine, &MeasurementEngine::sweepCompleted, this,
        [this](const MeasurementResult& result) {
            m_bus.home([this, &result] {
                m_lastResult = result;
                emit sweepCompleted(result);
            });
        },
        Qt::DirectConnection);
}

BenchSession::~BenchSession()
{
    // Whatever still runs on the bus thread winds down with nobody on this side to answer.
    if (working()) {
        m_engine.requestClose();
        m_bus.abandon();
        m_io.clock().abandonWaits();
    }
    m_bus.finish();
}

void BenchSession::onBus(std::function<void()> work, std::function<void()> then)
{
    m_bus.hand(std::move(work), [this, then = std::move(then)] {
        if (then)
            then();
        if (!working())
            emit settled();
    });
}

void BenchSession::touched()
{
    emit changed();
}

// ---- Start-up -----------------------------------------------------------------------------

void BenchSession::load(std::function<void()> then)
{
    onBus([this] { m_engine.FindAnalyser(); },
          [this, then = std::move(then)] {
              m_controls.stepIndex = FrequencyStep::DefaultIndex;
              m_engine.State.RefStep = {2, 2};
              touched();
              if (then)
                  then();
          });
}

void BenchSession::checkTrackingGenerator(std::function<void()> then)
{
    onBus([this] { m_engine.CheckTrackingGenerator(); }, std::move(then));
}

// ---- Selection rules ------------------------------------------------------------------------

void BenchSession::frameClicked(MeasKind kind)
{
    BenchControls& c = m_controls;
    if (kind == MeasKind::Attenuation) {
        if (c.usable(kind, c.attnOptions[0]) || c.customAttnCheck.checked)
            return;
        enableReflControls(false, false);
        enableAttnControls(true, false, false);
    } else {
        if (c.usable(kind, c.reflOptions[0]))
            return;
        enableAttnControls(false, false, false);
        enableReflControls(true, false);
    }
    // Selecting an option already selected changes nothing: its own rule runs all the same.
    if (c.option(kind, 0).checked)
        optionSelected(kind, 0);
    else
        selectOption(kind, 0);
    m_engine.Globals.MeasType = referenceOf(kind);
    c.run.enabled = true;
    c.skipMessages = {false, false, true};
    c.infoShown = false;
    touched();
}

void BenchSession::selectOption(MeasKind kind, int index)
{
    ControlState* options = kind == MeasKind::ReturnLoss ? m_controls.reflOptions.data()
                                                         : m_controls.attnOptions.data();
    const int count = kind == MeasKind::ReturnLoss ? 3 : 6;
    const bool wasChecked = options[index].checked;
    for (int i = 0; i < count; ++i)
        options[i].checked = i == index;
    if (!wasChecked)
        optionSelected(kind, index);
}

void BenchSession::optionSelected(MeasKind kind, int index)
{
    m_engine.Globals.MeasType = optionType(kind, index);
    if (kind == MeasKind::Attenuation)
        m_controls.printShown = false;
    m_controls.stepList.enabled = index == 0;
    touched();
}

void BenchSession::customAttnChanged()
{
    BenchControls& c = m_controls;
    if (c.customAttnCheck.checked) {
        m_engine.Globals.MeasType = MeasType::CustomAtt;
        enableAttnControls(false, false, true);
        c.customAttnBox.shown = true;
        if (!c.customLimitsCheck[0].checked) {
            c.customLimitsCheck[0].checked = true;
            customLimitsChanged(0);
        }
        c.dbLabels[2].shown = true;
        c.run.enabled = false;
        if (!c.customAttnText.isEmpty()) {
            c.customAttnText.clear();
            customAttnTextChanged();
        }
        c.printShown = false;
        touched();
        emit focusWanted(FocusTarget::CustomAttn);
        return;
    } else {
        enableAttnControls(true, true, true);
        for (int i = 0; i < 6; ++i) {
            if (c.attnOptions[size_t(i)].checked) {
                m_engine.Globals.MeasType = optionType(MeasKind::Attenuation, i);
                break;
            }
        }
        if (c.customLimitsCheck[0].checked) {
            c.customLimitsCheck[0].checked = false;
            customLimitsChanged(0);
        }
        c.customAttnBox.shown = false;
        c.dbLabels[2].shown = false;
        c.run.enabled = true;
    }
    touched();
}

void BenchSession::customLimitsChanged(int kind)
{
    BenchControls& c = m_controls;
    const size_t k = size_t(kind);
    c.customLimitsBox[k].shown = c.dbLabels[k].shown = c.customLimitsCheck[k].checked;
    if (c.customLimitsCheck[k].checked)
        c.customLimitsText[k].clear();
    touched();
    // Once the box is drawn: a hidden box takes no focus.
    if (c.customLimitsCheck[k].checked)
        emit focusWanted(kind == AttenuationKind ? FocusTarget::CustomLimitsAtt
                                                 : FocusTarget::CustomLimitsRl);
}

void BenchSession::customAttnTextChanged()
{
    m_controls.run.enabled = !m_controls.customAttnText.isEmpty();
    touched();
}

void BenchSession::stepChosen()
{
    // A new step wants a new reference of the selected kind.
    const MeasKind kind = kindOf(m_engine.Globals.MeasType);
    if (kind == MeasKind::ReturnLoss)
        enableReflControls(true, false);
    else
        enableAttnControls(true, false, false);
    m_engine.State.RefValid[size_t(kindIndex(kind))] = false;
    touched();
}

// ---- The operator's calls -------------------------------------------------------------------

RemoteBench::Refusal BenchSession::setKind(MeasKind kind)
{
    if (busy() || !m_controls.frameEnabled[size_t(kindIndex(kind))] || m_controls.selectionLocked)
        return Conflict;
    frameClicked(kind);
    return {};
}

RemoteBench::Refusal BenchSession::chooseOption(MeasKind kind, int index)
{
    if (busy() || !m_controls.usable(kind, m_controls.option(kind, index)))
        return Conflict;
    selectOption(kind, index);
    optionSelected(kind, index);
    return {};
}

RemoteBench::Refusal BenchSession::setCustomAttenuationChecked(bool on)
{
    if (busy() || !m_controls.usable(MeasKind::Attenuation, m_controls.customAttnCheck))
        return Conflict;
    if (m_controls.customAttnCheck.checked != on) {
        m_controls.customAttnCheck.checked = on;
        customAttnChanged();
    }
    return {};
}

RemoteBench::Refusal BenchSession::setCustomLimitsChecked(MeasKind kind, bool on)
{
    const int k = kindIndex(kind);
    if (busy() || !m_controls.usable(kind, m_controls.customLimitsCheck[size_t(k)]))
        return Conflict;
    if (m_controls.customLimitsCheck[size_t(k)].checked != on) {
        m_controls.customLimitsCheck[size_t(k)].checked = on;
        customLimitsChanged(k);
    }
    return {};
}

RemoteBench::Refusal BenchSession::setCustomLimitsText(MeasKind kind, const QString& text)
{
    const size_t k = size_t(kindIndex(kind));
    if (busy() || !m_controls.customLimitsBox[k].shown ||
        !m_controls.usable(kind, m_controls.customLimitsBox[k]))
        return Conflict;
    m_controls.customLimitsText[k] = text;
    touched();
    return {};
}

RemoteBench::Refusal BenchSession::setSkipMessages(bool on)
{
    if (busy() || !m_controls.skipMessages.enabled)
        return Conflict;
    m_controls.skipMessages.checked = on;
    touched();
    return {};
}

RemoteBench::Refusal BenchSession::setStepIndex(int index)
{
    if (busy() || !m_controls.stepList.enabled || index < 0 || index >= FrequencyStep::Count)
        return Conflict;
    m_controls.stepIndex = index;
    stepChosen();
    return {};
}

RemoteBench::Refusal BenchSession::setDevice(MeasType type)
{
    if (busy() || kindOf(type) != kind())
        return Conflict;
    const BenchControls& c = m_controls;
    if (type == MeasType::CustomAtt)
        return setCustomAttenuationChecked(true);
    if (c.customAttnCheck.checked) {
        if (Refusal r = setCustomAttenuationChecked(false); r.refused())
            return r;
    }
    return chooseOption(kindOf(type), isReference(type) ? 0 : measInfo(type).optionIndex);
}

RemoteBench::Refusal BenchSession::setCustomAttenuation(const QString& text)
{
    const BenchControls& c = m_controls;
    if (busy() || !c.customAttnBox.shown || !c.usable(MeasKind::Attenuation, c.customAttnBox))
        return Conflict;
    if (c.customAttnText != text) {
        m_controls.customAttnText = text;
        customAttnTextChanged();
    }
    return {};
}

bool BenchSession::customLimitOn() const
{
    return m_controls.customLimitsCheck[size_t(kindIndex(kind()))].checked;
}

QString BenchSession::customLimitText() const
{
    return m_controls.customLimitsText[size_t(kindIndex(kind()))];
}

RemoteBench::Refusal BenchSession::setCustomLimit(bool on, const QString& text)
{
    const MeasKind k = kind();
    if (Refusal r = setCustomLimitsChecked(k, on); r.refused())
        return r;
    return on ? setCustomLimitsText(k, text) : Refusal{};
}

RemoteBench::Refusal BenchSession::setDutId(const QString& id)
{
    if (busy())
        return Conflict;
    const QString cleaned = DutText::cleanId(id);
    if (const QString refusal = DutText::idRefusal(cleaned); !refusal.isEmpty())
        return {Scpi::DataOutOfRange, refusal};
    m_dutId = cleaned;
    return {};
}

RemoteBench::Refusal BenchSession::setComment(const QString& text)
{
    if (busy())
        return Conflict;
    const QString cleaned = DutText::cleanComments(text);
    if (const QString refusal = DutText::commentsRefusal(cleaned); !refusal.isEmpty())
        return {Scpi::DataOutOfRange, refusal};
    m_comment = cleaned;
    return {};
}

QString BenchSession::analyserModel() const
{
    return m_engine.State.AnalyserName;
}

MeasKind BenchSession::kind() const
{
    return kindOf(m_engine.Globals.MeasType);
}

RemoteBench::ReferenceState BenchSession::reference(MeasKind kind) const
{
    const size_t k = size_t(kindIndex(kind));
    if (m_running)
        return m_referencesBefore[k];
    return {m_engine.State.RefValid[k], GridStepMHz * m_engine.State.RefStep[k]};
}

// ---- Run, Stop and leaving ------------------------------------------------------------------

RemoteBench::Refusal BenchSession::runNow(StartedFrom origin, bool attended)
{
    if (m_running || !m_controls.run.enabled || programEnded())
        return Conflict;
    m_origin = origin;
    m_attended = attended;
    m_referencesBefore = {reference(MeasKind::Attenuation), reference(MeasKind::ReturnLoss)};
    m_running = true;
    m_lastResult.reset();
    m_lastRecord.reset();
    BenchControls& c = m_controls;
    c.stepList.enabled = false;
    c.run.enabled = false;
    c.printShown = false;
    // The selection stays as it is while the sequence runs: it holds MeasType.
    c.selectionLocked = true;
    touched();
    emit runStarting();
    onBus([this] { m_engine.run(); }, [this] { runReturned(); });
    return {};
}

void BenchSession::runReturned()
{
    m_running = false;
    if (programEnded()) {
        // The doors end the program once the run has told them it is over.
        runEnded();
        return;
    }
    BenchControls& c = m_controls;
    c.selectionLocked = false;
    // Print only after a device sweep that ran to its end: anything else would offer a
    // report of a measurement that never happened.
    c.printShown = m_engine.sweptToEnd();
    c.run.enabled = true;
    touched();
    runEnded();
}

void BenchSession::runEnded()
{
    m_origin = StartedFrom::Window;
    m_attended = true;
    m_runConnection = 0;
    // An abort lapses with the run it was meant for.
    m_abortWanted = false;
    emit runFinished();
}

void BenchSession::stop()
{
    m_engine.requestStop();
    showBusy(false);
    // Run comes back only when the interrupted sequence has returned.
    if (!m_running)
        m_controls.run.enabled = true;
    touched();
}

void BenchSession::cutShort()
{
    m_engine.requestStop();
    m_io.cutShort();
}

void BenchSession::requestClose()
{
    m_engine.requestClose();
    showBusy(false);
}

BenchSession::Leaving BenchSession::leave(std::function<void()> afterReset)
{
    if (programEnded())
        return Leaving::Now;
    const MsgResult answer =
        m_desk->message({MsgKind::CloseQuestion, MsgIcon::None, QStringLiteral("Terminate Program"),
                         "Do you want to initialize the " + m_engine.State.AnalyserName + " ?",
                         MsgButtons::YesNoCancel});
    if (answer == MsgResult::Cancel)
        return Leaving::Cancelled;
    if (answer == MsgResult::No)
        return Leaving::Now;
    onBus([this] { m_io.GpibWrite(m_engine.State.AnalyserDevice, AnalyserCommands::Reset); },
          std::move(afterReset));
    return Leaving::AfterReset;
}

RemoteBench::Refusal BenchSession::initiate(int connection, bool promptsOn)
{
    if (busy() || !m_controls.run.enabled)
        return Conflict;
    Refusal refused = runNow(StartedFrom::Remote, promptsOn);
    if (!refused.refused())
        m_runConnection = connection;
    return refused;
}

void BenchSession::abort()
{
    if (!m_running)
        return;
    if (m_controls.stop.enabled)
        stop();
    else
        m_abortWanted = true;
}

QString BenchSession::promptText() const
{
    const std::optional<OperatorMessage>& waiting = m_desk->waiting();
    return waiting ? waiting->text : QString();
}

RemoteBench::Refusal BenchSession::answerPrompt(PromptButton button)
{
    static const MsgResult results[] = {MsgResult::Ok, MsgResult::Cancel, MsgResult::Yes,
                                        MsgResult::No};
    return m_desk->answerWaiting(results[int(button)]) ? Refusal{} : Conflict;
}

RemoteBench::Refusal BenchSession::hardcopy(const QString& description)
{
    const std::optional<MeasurementResult>& result = m_lastResult;
    if (busy())
        return Conflict;
    if (!result)
        return {Scpi::DataStale, {}};
    // The details dialog's preset, where it has one; an attenuator's return loss has none.
    if (description.isEmpty() && result->type == MeasType::AttenuatorRl)
        return Conflict;
    const QString text =
        description.isEmpty()
            ? PrintResultTextForm::DescriptionFor(result->type, result->customAttnText)
            : description;
    QString failure;
    const ReportSource source{m_grid,
                              m_controls.stepIndex,
                              QLatin1String(FrequencyStep::at(m_controls.stepIndex).text),
                              m_engine.Globals,
                              m_controls.customAttnText,
                              {},
                              m_lastRecord};
    const std::optional<PrintRow> page = PrintResultForm::PrintPreset(
        source, {text, m_dutId, m_comment, {}, false, true}, *m_desk, nullptr, &failure);
    if (!page)
        return {Scpi::ExecutionError, failure};
    emit printed(*page);
    return {};
}

void BenchSession::heard(const OperatorMessage& message)
{
    if (m_runConnection == 0)
        return;
    switch (message.kind) {
    case MsgKind::BusError:
    case MsgKind::ReadTimeout:
    case MsgKind::AdapterLost:
        emit connectionError(m_runConnection, Scpi::HardwareError, message.text);
        break;
    case MsgKind::RefusedValue:
        emit connectionError(m_runConnection, Scpi::DataOutOfRange, message.text);
        break;
    default:
        break;
    }
}

// ---- What the sequences see of the controls ---------------------------------------------

bool BenchSession::customLimits(MeasKind kind) const
{
    return m_controls.customLimitsCheck[size_t(kindIndex(kind))].checked;
}

QString BenchSession::entryText(Entry entry) const
{
    switch (entry) {
    case Entry::CustomAttn:
        return m_controls.customAttnText;
    case Entry::CustomLimitsAtt:
        return m_controls.customLimitsText[AttenuationKind];
    case Entry::CustomLimitsRl:
        break;
    }
    return m_controls.customLimitsText[ReturnLossKind];
}

bool BenchSession::deviceOptionsEnabled(MeasKind kind) const
{
    return m_controls.option(kind, 1).enabled;
}

void BenchSession::setEntryText(Entry entry, const QString& text)
{
    switch (entry) {
    case Entry::CustomAttn:
        if (m_controls.customAttnText != text) {
            m_controls.customAttnText = text;
            customAttnTextChanged();
        }
        return;
    case Entry::CustomLimitsAtt:
        m_controls.customLimitsText[AttenuationKind] = text;
        break;
    case Entry::CustomLimitsRl:
        m_controls.customLimitsText[ReturnLossKind] = text;
        break;
    }
    touched();
}

void BenchSession::clearAndFocus(Entry entry)
{
    setEntryText(entry, QString());
    static const FocusTarget targets[] = {FocusTarget::CustomAttn, FocusTarget::CustomLimitsAtt,
                                          FocusTarget::CustomLimitsRl};
    emit focusWanted(targets[int(entry)]);
}

void BenchSession::uncheckCustomLimits(MeasKind kind)
{
    const int k = kindIndex(kind);
    if (m_controls.customLimitsCheck[size_t(k)].checked) {
        m_controls.customLimitsCheck[size_t(k)].checked = false;
        customLimitsChanged(k);
    }
}

void BenchSession::enableAttnControls(bool refEnabled, bool optionsEnabled, bool customEnabled)
{
    BenchControls& c = m_controls;
    for (int i = 1; i <= 5; ++i)
        c.attnOptions[size_t(i)].enabled = optionsEnabled;
    c.attnOptions[0].enabled = refEnabled;
    for (ControlState* s : {&c.customLimitsCheck[0], &c.customLimitsBox[0], &c.customAttnCheck,
                            &c.customAttnBox, &c.dbLabels[0], &c.dbLabels[2]})
        s->enabled = customEnabled;
    touched();
}

void BenchSession::enableReflControls(bool refEnabled, bool othersEnabled)
{
    BenchControls& c = m_controls;
    c.reflOptions[0].enabled = refEnabled;
    c.reflOptions[1].enabled = c.reflOptions[2].enabled = othersEnabled;
    c.customLimitsCheck[1].enabled = c.customLimitsBox[1].enabled = othersEnabled;
    c.dbLabels[1].enabled = othersEnabled;
    touched();
}

void BenchSession::enableFrame(MeasKind kind, bool enabled)
{
    m_controls.frameEnabled[size_t(kindIndex(kind))] = enabled;
    touched();
}

void BenchSession::enableStepList(bool enabled)
{
    m_controls.stepList.enabled = enabled;
    touched();
}

void BenchSession::enableSkipMessages(bool enabled)
{
    m_controls.skipMessages.enabled = enabled;
    touched();
}

void BenchSession::uncheckSkipMessages()
{
    m_controls.skipMessages.checked = false;
    touched();
}

void BenchSession::focusFirstDevice(MeasKind kind)
{
    emit focusWanted(kind == MeasKind::ReturnLoss ? FocusTarget::FirstReflDevice
                                                  : FocusTarget::FirstAttnDevice);
}

void BenchSession::enableStop(bool enabled)
{
    m_controls.stop.enabled = enabled;
    touched();
    if (!enabled)
        return;
    emit stopAvailable();
    if (std::exchange(m_abortWanted, false))
        stop();
}

void BenchSession::showBusy(bool busy)
{
    BenchControls& c = m_controls;
    c.busyShown = busy;
    c.infoShown = busy;
    if (busy)
        c.info.clear();
    touched();
}

void BenchSession::showProgress(const SweepProgress& progress)
{
    m_controls.info = progress.text;
    touched();
    emit progressed(progress);
}

void BenchSession::drawOnGrid(const std::function<void(ResultGrid&)>& draw)
{
    draw(m_grid);
}
