#include "app/MainForm.h"

#include "app/IntroForm.h"
#include "app/VerdictColour.h"
#include "base/Clock.h"
#include "chart/Chart.h"
#include "gpib/InstrumentIO.h"
#include "measure/FrequencyStep.h"
#include "report/PrintResultForm.h"
#include "session/BenchSession.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

// Sizes come in twips: 15 to a pixel at 96 dpi, scaled with the screen and with the font,
// which is wider on today's desktops than the one the layout was drawn for.
class Twips {
public:
    explicit Twips(const QWidget& widget)
    {
        const double dpiScale = widget.logicalDpiY() / 96.0;
        // The longest caption, "Custom Attenuation", had 95 pixels beside its box.
        const double fontScale =
            widget.fontMetrics().horizontalAdvance(QStringLiteral("Custom Attenuation")) / 95.0;
        m_scale = std::max({1.0, dpiScale, fontScale});
    }
    int operator()(int twips) const { return int(std::lround(twips / 15.0 * m_scale)); }
    QRect rect(int left, int top, int width, int height) const
    {
        return QRect((*this)(left), (*this)(top), (*this)(width), (*this)(height));
    }

private:
    double m_scale = 1.0;
};

namespace {

template <typename T>
T* control(QWidget* parent, const QString& name, const QString& accessibleName = {})
{
    auto* widget = new T(parent);
    widget->setObjectName(name);
    if (!accessibleName.isEmpty())
        widget->setAccessibleName(accessibleName);
    return widget;
}

// The caption of a frame's option, from the measurement it selects.
QString caption(MeasKind kind, int optionIndex)
{
    return QString::fromLatin1(measInfo(optionType(kind, optionIndex)).caption);
}

void setBackground(QLabel* label, const QColor& colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, colour);
    label->setPalette(palette);
}

} // namespace

void ClickFrame::mousePressEvent(QMouseEvent* event)
{
    QGroupBox::mousePressEvent(event);
    emit clicked();
}

MainForm::MainForm(BenchSession& session, OperatorDialogs& dialogs, QWidget* parent)
    : QWidget(parent), MSChart1(new Chart(session.grid(), this)), Globals(session.engine().Globals),
      State(session.engine().State), m_session(session), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("MainForm"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    buildControls();
}

MainForm::~MainForm() = default;

void MainForm::buildControls()
{
    const Twips tw(*this);
    auto* top = new QWidget(this);
    top->setObjectName(QStringLiteral("SelectionPanel"));
    top->setFixedSize(tw(10695), tw(2280));

    // Both frames sit in one container so that a running sequence can lock the selection
    // without touching the enabled state of any single control.
    m_selectionArea = new QWidget(top);
    m_selectionArea->setGeometry(tw.rect(120, 120, 7695, 2055));
    buildAttnFrame(tw);
    buildReflFrame(tw);
    for (QCheckBox* box : Check_CustomLimits)
        box->setText(QStringLiteral("Custom Limits"));
    for (QLabel* label : Label_dB)
        label->setText(QStringLiteral("dB"));
    buildSidePanel(top, tw);

    MSChart1->setObjectName(QStringLiteral("MSChart1"));
    MSChart1->setAccessibleName(QStringLiteral("Results chart"));
    MSChart1->setMinimumSize(tw(10455) * 2 / 3, tw(4335) * 2 / 3);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, tw(120), tw(120));
    layout->setSpacing(0);
    layout->addWidget(top, 0, Qt::AlignLeft | Qt::AlignTop);
    auto* chartRow = new QHBoxLayout;
    chartRow->setContentsMargins(tw(120), 0, 0, 0);
    chartRow->addWidget(MSChart1);
    layout->addLayout(chartRow, 1);
    layout->addWidget(buildStatusLine(tw));
    resize(tw(10695), tw(6855) + tw(360));

    connectControls();
    showSession();
}

// A control's accessible name is its caption; only the "dB" boxes, which have none of their
// own, are named here.
void MainForm::buildAttnFrame(const Twips& tw)
{
    Frame_Attn = control<ClickFrame>(m_selectionArea, "Frame_Attn");
    Frame_Attn->setTitle(QStringLiteral("Attenuation"));
    Frame_Attn->setGeometry(tw.rect(0, 0, 7695, 1095));
    const int left[] = {180, 1320, 1980, 2640, 3420, 4080};
    const int width[] = {1095, 615, 555, 735, 615, 735};
    for (int i = 0; i < 6; ++i) {
        Option_Attn[i] =
            control<QRadioButton>(Frame_Attn, QStringLiteral("Option_Attn(%1)").arg(i));
        Option_Attn[i]->setText(caption(MeasKind::Attenuation, i));
        Option_Attn[i]->setGeometry(tw.rect(left[i], 420, width[i], 375));
    }
    Check_CustomAttn = control<QCheckBox>(Frame_Attn, "Check_CustomAttn");
    Check_CustomAttn->setText(QStringLiteral("Custom Attenuation"));
    Check_CustomAttn->setGeometry(tw.rect(5100, 270, 1695, 255));
    Text_CustomAttn = control<QLineEdit>(Frame_Attn, "Text_CustomAttn", "Custom Attenuation dB");
    Text_CustomAttn->setGeometry(tw.rect(6840, 240, 495, 285));
    Label_dB[2] = control<QLabel>(Frame_Attn, "Label_dB(2)");
    Label_dB[2]->setGeometry(tw.rect(7380, 300, 195, 195));
    Check_CustomLimits[0] = control<QCheckBox>(Frame_Attn, "Check_CustomLimits(0)");
    Check_CustomLimits[0]->setGeometry(tw.rect(5100, 660, 1635, 255));
    Text_CustomLimits[0] =
        control<QLineEdit>(Frame_Attn, "Text_CustomLimits(0)", "Custom Limits dB");
    Text_CustomLimits[0]->setGeometry(tw.rect(6840, 660, 495, 285));
    Label_dB[0] = control<QLabel>(Frame_Attn, "Label_dB(0)");
    Label_dB[0]->setGeometry(tw.rect(7380, 720, 195, 195));
}

void MainForm::buildReflFrame(const Twips& tw)
{
    Frame_Refl = control<ClickFrame>(m_selectionArea, "Frame_Refl");
    Frame_Refl->setTitle(QStringLiteral("Return Loss"));
    Frame_Refl->setGeometry(tw.rect(0, 1200, 7695, 855));
    const int left[] = {180, 1320, 2640};
    const int width[] = {1095, 1155, 1035};
    for (int i = 0; i < 3; ++i) {
        Option_Refl[i] =
            control<QRadioButton>(Frame_Refl, QStringLiteral("Option_Refl(%1)").arg(i));
        Option_Refl[i]->setText(caption(MeasKind::ReturnLoss, i));
        Option_Refl[i]->setGeometry(tw.rect(left[i], 360, width[i], 255));
    }
    Check_CustomLimits[1] = control<QCheckBox>(Frame_Refl, "Check_CustomLimits(1)");
    Check_CustomLimits[1]->setGeometry(tw.rect(5100, 360, 1635, 255));
    Text_CustomLimits[1] =
        control<QLineEdit>(Frame_Refl, "Text_CustomLimits(1)", "Custom Limits dB");
    Text_CustomLimits[1]->setGeometry(tw.rect(6840, 360, 495, 285));
    Label_dB[1] = control<QLabel>(Frame_Refl, "Label_dB(1)");
    Label_dB[1]->setGeometry(tw.rect(7380, 420, 195, 195));
}

void MainForm::buildSidePanel(QWidget* top, const Twips& tw)
{
    Label_Info = control<QLabel>(top, "Label_Info");
    Label_Info->setText(QStringLiteral("Click inside one of the frames"));
    Label_Info->setAlignment(Qt::AlignCenter);
    Label_Info->setAutoFillBackground(true);
    setBackground(Label_Info, Qt::white);
    Label_Info->setGeometry(tw.rect(7980, 240, 2625, 255));

    Label_Busy = control<QLabel>(top, "Label_Busy");
    Label_Busy->setText(QStringLiteral("BUSY, Please Wait"));
    Label_Busy->setAlignment(Qt::AlignCenter);
    Label_Busy->setAutoFillBackground(true);
    QFont busyFont = Label_Busy->font();
    busyFont.setBold(true);
    busyFont.setPointSize(12);
    Label_Busy->setFont(busyFont);
    QPalette busyPalette = Label_Busy->palette();
    busyPalette.setColor(QPalette::Window, Qt::red);
    busyPalette.setColor(QPalette::WindowText, Qt::white);
    Label_Busy->setPalette(busyPalette);
    Label_Busy->setGeometry(tw.rect(7980, 660, 2625, 375));

    Command_Print = control<QPushButton>(top, "Command_Print");
    Command_Print->setText(QStringLiteral("Print"));
    Command_Print->setGeometry(tw.rect(9900, 690, 675, 315));
    Command_Stop = control<QPushButton>(top, "Command_Stop");
    Command_Stop->setText(QStringLiteral("Stop"));
    Command_Stop->setGeometry(tw.rect(9900, 1200, 675, 315));
    Check_SkipMsg = control<QCheckBox>(top, "Check_SkipMsg");
    Check_SkipMsg->setText(QStringLiteral("Skip Messages"));
    Check_SkipMsg->setGeometry(tw.rect(7980, 1260, 1815, 255));
    Label1 = control<QLabel>(top, "Label1");
    Label1->setText(QStringLiteral("Freq Step"));
    Label1->setGeometry(tw.rect(7980, 1620, 1155, 195));
    Combo_FreqStep = control<QComboBox>(top, "Combo_FreqStep");
    Combo_FreqStep->setGeometry(tw.rect(7980, 1860, 1155, 315));
    Label1->setBuddy(Combo_FreqStep);
    Command_Run = control<QPushButton>(top, "Command_Run");
    Command_Run->setText(QStringLiteral("Run"));
    Command_Run->setGeometry(tw.rect(9240, 1800, 1335, 375));
}

// Under everything else, so that no control above moves.
QWidget* MainForm::buildStatusLine(const Twips& tw)
{
    auto* line = new QWidget(this);
    line->setObjectName(QStringLiteral("StatusLine"));
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(tw(120), tw(60), 0, 0);
    Label_Verdict = control<QLabel>(line, "Label_Verdict");
    QFont bold = Label_Verdict->font();
    bold.setBold(true);
    Label_Verdict->setFont(bold);
    Label_Status = control<QLabel>(line, "Label_Status");
    Label_Status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Command_History = control<QPushButton>(line, "Command_History");
    Command_History->setText(QStringLiteral("&History..."));
    row->addWidget(Label_Verdict);
    row->addWidget(Label_Status, 1);
    row->addWidget(Command_History);
    return line;
}

void MainForm::showVerdict(const std::optional<Verdict>& verdict)
{
    const QString text = verdict ? verdict->text() : QString();
    // The text says PASS or FAIL itself; the colour only helps the eye find it.
    QPalette colours = palette();
    if (verdict && verdict->outcome != Verdict::Outcome::None)
        colours.setColor(QPalette::WindowText, verdictColour(verdict->outcome));
    Label_Verdict->setPalette(colours);
    Label_Verdict->setText(text);
    // A screen reader hears the change of name.
    Label_Verdict->setAccessibleName(text.isEmpty() ? QString()
                                                    : QStringLiteral("Verdict ") + text);
    Label_Verdict->setAccessibleDescription(text);
}

void MainForm::showStatus(const QString& text)
{
    Label_Status->setText(text);
}

// Operator input becomes session calls; only the signals of the operator's own actions are
// heard, so that drawing the session's state never calls back into it.
void MainForm::connectControls()
{
    for (int i = 0; i < 6; ++i)
        connect(Option_Attn[i], &QRadioButton::clicked, this,
                [this, i] { m_session.chooseOption(MeasKind::Attenuation, i); });
    for (int i = 0; i < 3; ++i)
        connect(Option_Refl[i], &QRadioButton::clicked, this,
                [this, i] { m_session.chooseOption(MeasKind::ReturnLoss, i); });
    connect(Frame_Attn, &ClickFrame::clicked, this,
            [this] { m_session.setKind(MeasKind::Attenuation); });
    connect(Frame_Refl, &ClickFrame::clicked, this,
            [this] { m_session.setKind(MeasKind::ReturnLoss); });
    connect(Check_CustomAttn, &QCheckBox::clicked, this,
            [this](bool on) { m_session.setCustomAttenuationChecked(on); });
    for (int i = 0; i < 2; ++i) {
        const MeasKind kind = MeasKind(i);
        connect(Check_CustomLimits[i], &QCheckBox::clicked, this,
                [this, kind](bool on) { m_session.setCustomLimitsChecked(kind, on); });
        connect(Text_CustomLimits[i], &QLineEdit::textEdited, this,
                [this, kind](const QString& text) { m_session.setCustomLimitsText(kind, text); });
        Text_CustomLimits[i]->installEventFilter(this);
    }
    connect(Text_CustomAttn, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_session.setCustomAttenuation(text); });
    Text_CustomAttn->installEventFilter(this);
    connect(Check_SkipMsg, &QCheckBox::clicked, this,
            [this](bool on) { m_session.setSkipMessages(on); });
    connect(Combo_FreqStep, &QComboBox::activated, this,
            [this](int index) { m_session.setStepIndex(index); });
    connect(Command_Run, &QPushButton::clicked, this, &MainForm::Command_Run_Click);
    connect(Command_Stop, &QPushButton::clicked, this, [this] { m_session.stop(); });
    connect(Command_Print, &QPushButton::clicked, this, &MainForm::Command_Print_Click);
    connect(Command_History, &QPushButton::clicked, this, [this] {
        if (!running())
            emit historyRequested();
    });

    connect(&m_session, &BenchSession::changed, this, &MainForm::showSession);
    connect(&m_session, &BenchSession::focusWanted, this, [this](FocusTarget target) {
        switch (target) {
        case FocusTarget::CustomAttn:
            return giveFocus(Text_CustomAttn);
        case FocusTarget::CustomLimitsAtt:
            return giveFocus(Text_CustomLimits[AttenuationKind]);
        case FocusTarget::CustomLimitsRl:
            return giveFocus(Text_CustomLimits[ReturnLossKind]);
        case FocusTarget::FirstAttnDevice:
            return giveFocus(Option_Attn[1]);
        case FocusTarget::FirstReflDevice:
            return giveFocus(Option_Refl[1]);
        }
    });
    // Whoever started the run: the window follows it as if its own buttons had been used.
    connect(&m_session, &BenchSession::runStarting, this, [this] {
        Command_History->setEnabled(false);
        showVerdict(std::nullopt);
        emit runStarting();
    });
    connect(&m_session, &RemoteBench::runFinished, this, &MainForm::runEnded);
    connect(&m_session, &BenchSession::sweepCompleted, this,
            [this](const MeasurementResult& result) { showVerdict(Verdict::of(result)); });
}

void MainForm::showSession()
{
    const BenchControls& c = m_session.controls();
    const auto show = [](QWidget* widget, const ControlState& state) {
        widget->setEnabled(state.enabled);
        widget->setVisible(state.shown);
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            button->setChecked(state.checked);
    };
    const auto showOptions = [](auto& options, const auto& states) {
        for (size_t i = 0; i < options.size(); ++i) {
            QRadioButton* option = options[i];
            option->setEnabled(states[i].enabled);
            // Checked exactly as the session says, none at all included, which an exclusive
            // group would not allow.
            option->setAutoExclusive(false);
            option->setChecked(states[i].checked);
            option->setAutoExclusive(true);
        }
    };
    m_selectionArea->setEnabled(!c.selectionLocked);
    Frame_Attn->setEnabled(c.frameEnabled[AttenuationKind]);
    Frame_Refl->setEnabled(c.frameEnabled[ReturnLossKind]);
    showOptions(Option_Attn, c.attnOptions);
    showOptions(Option_Refl, c.reflOptions);
    show(Check_CustomAttn, c.customAttnCheck);
    show(Text_CustomAttn, c.customAttnBox);
    if (Text_CustomAttn->text() != c.customAttnText)
        Text_CustomAttn->setText(c.customAttnText);
    for (size_t k = 0; k < 2; ++k) {
        show(Check_CustomLimits[k], c.customLimitsCheck[k]);
        show(Text_CustomLimits[k], c.customLimitsBox[k]);
        if (Text_CustomLimits[k]->text() != c.customLimitsText[k])
            Text_CustomLimits[k]->setText(c.customLimitsText[k]);
    }
    for (size_t k = 0; k < 3; ++k)
        show(Label_dB[k], c.dbLabels[k]);
    if (Combo_FreqStep->count() > 0)
        Combo_FreqStep->setCurrentIndex(c.stepIndex);
    Combo_FreqStep->setEnabled(c.stepList.enabled);
    show(Check_SkipMsg, c.skipMessages);
    Command_Run->setEnabled(c.run.enabled);
    Command_Stop->setEnabled(c.stop.enabled);
    Command_Print->setVisible(c.printShown);
    Label_Busy->setVisible(c.busyShown);
    Label_Info->setVisible(c.infoShown);
    Label_Info->setText(c.info);
}

bool MainForm::eventFilter(QObject* watched, QEvent* event)
{
    // Filters see the events of a disabled box too, which the operator cannot double-click.
    if (event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QWidget*>(watched)->isEnabled()) {
        if (watched == Text_CustomAttn) {
            m_session.setCustomAttenuation(QString());
            return true;
        }
        for (int k = 0; k < 2; ++k) {
            if (watched == Text_CustomLimits[size_t(k)]) {
                m_session.setCustomLimitsText(MeasKind(k), QString());
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Start-up and shut-down -------------------------------------------------------------

void MainForm::Form_Load(std::function<void()> loaded)
{
    setWindowTitle(AppTitle + ", v" + AppVersion + " - " + AppDate + " / " + AppTag);
    Combo_FreqStep->addItems(FrequencyStep::texts());
    m_session.load(std::move(loaded));
}

void MainForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_activationPosted) {
        m_activationPosted = true;
        QTimer::singleShot(0, this, &MainForm::Form_Activate);
    }
}

void MainForm::Form_Activate()
{
    Intro(2);
    m_session.checkTrackingGenerator([this] {
        m_activated = true;
        if (!leaveIfEnded())
            blinkInfo(8);
    });
}

void MainForm::blinkInfo(int changesLeft)
{
    // Draws the operator's eye to the hint: red and white, 0.15 s each.
    setBackground(Label_Info, changesLeft % 2 == 0 ? Qt::red : Qt::white);
    if (changesLeft > 1)
        m_session.io().clock().schedule(0.15, [this, changesLeft] { blinkInfo(changesLeft - 1); });
}

void MainForm::Intro(int seconds)
{
    if (seconds <= 0 || AppTitle.isEmpty())
        return;
    QString text = AppTitle;
    if (!AppVersion.isEmpty())
        text += ", v" + AppVersion;
    if (!AppDate.isEmpty())
        text += " / " + AppDate;
    if (!AppTag.isEmpty())
        text += " - " + AppTag;

    IntroForm intro(m_session.io().clock(), this);
    intro.Timer1Interval = qint16(seconds * 1000);
    intro.Label1->setText(text);
    intro.Label1->adjustSize();
    const Twips tw(*this);
    intro.Label1->move(tw(240), tw(240));
    intro.setFixedSize(intro.Label1->width() + tw(600),
                       std::max(tw(810), intro.Label1->height() + tw(480)));
    intro.exec();
}

void MainForm::closeEvent(QCloseEvent* event)
{
    // After a fatal end nothing more is asked or sent.
    if (m_session.programEnded()) {
        event->accept();
        return;
    }
    if (m_left) {
        event->accept();
        return;
    }
    event->ignore();
    if (running()) {
        // Wind the sequence down first, then ask the question once it has returned.
        m_session.requestClose();
        return;
    }
    if (m_leaving)
        return; // the analyser is being reset
    const auto left = [this] {
        m_leaving = false;
        m_left = true;
        if (!leaveIfEnded())
            close();
    };
    switch (m_session.leave(left)) {
    case BenchSession::Leaving::Cancelled:
        return;
    case BenchSession::Leaving::Now:
        m_left = true;
        event->accept();
        return;
    case BenchSession::Leaving::AfterReset:
        m_leaving = true;
        return;
    }
}

// ---- Run and Print ----------------------------------------------------------------------

void MainForm::Command_Run_Click()
{
    m_session.runNow(StartedFrom::Window);
}

void MainForm::runEnded()
{
    if (leaveIfEnded())
        return;
    Command_History->setEnabled(true);
    if (m_pendingFocus) {
        m_pendingFocus->setFocus();
        m_pendingFocus.clear();
    }
    emit runFinished();
    if (m_session.closeRequested()) {
        m_session.clearCloseRequest();
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

ReportSource MainForm::reportSource() const
{
    return {m_session.grid(),
            Combo_FreqStep->currentIndex(),
            Combo_FreqStep->currentText(),
            Globals,
            Text_CustomAttn->text(),
            pos(),
            m_session.lastRecord()};
}

void MainForm::Command_Print_Click()
{
    if (const std::optional<PrintRow> page =
            PrintResultForm::Command_Print_Click(reportSource(), m_dialogs, this))
        emit reportPrinted(*page);
}

void MainForm::giveFocus(QWidget* widget)
{
    if (running() && !widget->isEnabled()) {
        m_pendingFocus = widget;
        return;
    }
    widget->setFocus();
}

bool MainForm::leaveIfEnded()
{
    if (!m_session.programEnded())
        return false;
    // Every handler on the stack returns at once from here; main() exits.
    QCoreApplication::exit(1);
    return true;
}
