#include "app/MainForm.h"

#include "app/IntroForm.h"
#include "base/Clock.h"
#include "chart/Chart.h"
#include "gpib/AnalyserCommands.h"
#include "gpib/InstrumentIO.h"
#include "measure/FrequencyStep.h"
#include "report/PrintResultForm.h"

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

MainForm::MainForm(InstrumentIO& io, OperatorDialogs& dialogs, QWidget* parent)
    : QWidget(parent), MSChart1(new Chart(6, this)), m_engine(io, dialogs, *MSChart1, *this),
      Globals(m_engine.Globals), State(m_engine.State), m_io(io), m_dialogs(dialogs)
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

    setInitialState();
    connectControls();
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

void MainForm::showVerdict(const QString& text)
{
    Label_Verdict->setText(text);
}

void MainForm::showStatus(const QString& text)
{
    Label_Status->setText(text);
}

// The state the window is created in.
void MainForm::setInitialState()
{
    for (QRadioButton* option : Option_Attn)
        option->setEnabled(false);
    for (QRadioButton* option : Option_Refl)
        option->setEnabled(false);
    Check_CustomAttn->setEnabled(false);
    for (QCheckBox* box : Check_CustomLimits)
        box->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(Check_SkipMsg), static_cast<QWidget*>(Combo_FreqStep),
                       static_cast<QWidget*>(Command_Run), static_cast<QWidget*>(Command_Stop)})
        w->setEnabled(false);
    Text_CustomAttn->hide();
    for (QLineEdit* text : Text_CustomLimits)
        text->hide();
    for (QLabel* label : Label_dB)
        label->hide();
    Label_Busy->hide();
    Command_Print->hide();
}

void MainForm::connectControls()
{
    // An option's Click runs when it becomes selected, from code or by the operator, and
    // again when the operator clicks it while it is selected (Reference then gives the step
    // list back after a completed reference).
    for (int i = 0; i < 6; ++i) {
        connect(Option_Attn[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                Option_Attn_Click(i);
        });
        connect(Option_Attn[i], &QRadioButton::clicked, this, [this, i] { Option_Attn_Click(i); });
    }
    for (int i = 0; i < 3; ++i) {
        connect(Option_Refl[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                Option_Refl_Click(i);
        });
        connect(Option_Refl[i], &QRadioButton::clicked, this, [this, i] { Option_Refl_Click(i); });
    }
    connect(Frame_Attn, &ClickFrame::clicked, this, &MainForm::Frame_Attn_Click);
    connect(Frame_Refl, &ClickFrame::clicked, this, &MainForm::Frame_Refl_Click);
    connect(Check_CustomAttn, &QCheckBox::toggled, this, &MainForm::Check_CustomAttn_Click);
    for (int i = 0; i < 2; ++i)
        connect(Check_CustomLimits[i], &QCheckBox::toggled, this,
                [this, i] { Check_CustomLimits_Click(i); });
    connect(Text_CustomAttn, &QLineEdit::textChanged, this, &MainForm::Text_CustomAttn_Change);
    Text_CustomAttn->installEventFilter(this);
    for (QLineEdit* text : Text_CustomLimits)
        text->installEventFilter(this);
    connect(Combo_FreqStep, &QComboBox::activated, this, &MainForm::Combo_FreqStep_Click);
    connect(Command_Run, &QPushButton::clicked, this, &MainForm::Command_Run_Click);
    connect(Command_Stop, &QPushButton::clicked, this, &MainForm::Command_Stop_Click);
    connect(Command_Print, &QPushButton::clicked, this, &MainForm::Command_Print_Click);
    connect(Command_History, &QPushButton::clicked, this, [this] {
        if (!running())
            emit historyRequested();
    });
}

bool MainForm::eventFilter(QObject* watched, QEvent* event)
{
    // Filters see the events of a disabled box too, which the operator cannot double-click.
    if (event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QWidget*>(watched)->isEnabled()) {
        if (watched == Text_CustomAttn) {
            Text_CustomAttn->clear();
            return true;
        }
        for (QLineEdit* text : Text_CustomLimits) {
            if (watched == text) {
                text->clear();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Start-up and shut-down -------------------------------------------------------------

void MainForm::Form_Load()
{
    setWindowTitle(AppTitle + ", v" + AppVersion + " - " + AppDate + " / " + AppTag);
    m_engine.FindAnalyser();

    Combo_FreqStep->addItems(FrequencyStep::texts());
    Combo_FreqStep->setCurrentIndex(FrequencyStep::DefaultIndex);
    Combo_FreqStep_Click();
    State.RefStep = {2, 2};
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
    if (m_activated)
        return;
    QCoreApplication::processEvents();
    Intro(2);
    m_activated = true;

    m_engine.CheckTrackingGenerator();
    if (leaveIfEnded())
        return;
    // Draw the operator's eye to the hint.
    for (int blink = 0; blink < 4; ++blink) {
        setBackground(Label_Info, Qt::red);
        m_io.Delay(0.15f);
        setBackground(Label_Info, Qt::white);
        m_io.Delay(0.15f);
    }
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

    IntroForm intro(m_io.clock(), this);
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
    if (m_engine.programEnded()) {
        event->accept();
        return;
    }
    if (running()) {
        // The sequence runs inside the Run handler below this call: wind it down first,
        // then ask the question once it has returned.
        m_engine.requestClose();
        ShowBusy(false);
        event->ignore();
        return;
    }
    bool cancel = false;
    Form_QueryUnload(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
    leaveIfEnded();
}

void MainForm::Form_QueryUnload(bool& cancel)
{
    const MsgResult answer = m_dialogs.message(
        {MsgKind::CloseQuestion, MsgIcon::None, QStringLiteral("Terminate Program"),
         "Do you want to initialize the " + State.AnalyserName + " ?", MsgButtons::YesNoCancel});
    if (answer == MsgResult::Cancel)
        cancel = true;
    else if (answer == MsgResult::Yes)
        m_io.GpibWrite(State.AnalyserDevice, AnalyserCommands::Reset);
}

// ---- Selection controls -----------------------------------------------------------------

void MainForm::EnableAttnControls(bool refEnabled, bool optionsEnabled, bool customEnabled)
{
    for (int i = 1; i <= 5; ++i)
        Option_Attn[i]->setEnabled(optionsEnabled);
    Option_Attn[0]->setEnabled(refEnabled);
    for (QWidget* w :
         {static_cast<QWidget*>(Check_CustomLimits[0]), static_cast<QWidget*>(Text_CustomLimits[0]),
          static_cast<QWidget*>(Check_CustomAttn), static_cast<QWidget*>(Text_CustomAttn),
          static_cast<QWidget*>(Label_dB[0]), static_cast<QWidget*>(Label_dB[2])})
        w->setEnabled(customEnabled);
    letEventsRun();
}

void MainForm::EnableReflControls(bool refEnabled, bool othersEnabled)
{
    Option_Refl[0]->setEnabled(refEnabled);
    Option_Refl[1]->setEnabled(othersEnabled);
    Option_Refl[2]->setEnabled(othersEnabled);
    Check_CustomLimits[1]->setEnabled(othersEnabled);
    Text_CustomLimits[1]->setEnabled(othersEnabled);
    Label_dB[1]->setEnabled(othersEnabled);
    letEventsRun();
}

void MainForm::Frame_Attn_Click()
{
    if (Option_Attn[0]->isEnabled() || Check_CustomAttn->isChecked())
        return;
    EnableReflControls(false, false);
    EnableAttnControls(true, false, false);
    if (Option_Attn[0]->isChecked())
        Option_Attn_Click(0);
    else
        Option_Attn[0]->setChecked(true);
    Globals.MeasType = MeasType::AttReference;
    Command_Run->setEnabled(true);
    Check_SkipMsg->setChecked(false);
    Check_SkipMsg->setEnabled(false);
    Label_Info->hide();
}

void MainForm::Frame_Refl_Click()
{
    if (Option_Refl[0]->isEnabled())
        return;
    EnableAttnControls(false, false, false);
    EnableReflControls(true, false);
    if (Option_Refl[0]->isChecked())
        Option_Refl_Click(0);
    else
        Option_Refl[0]->setChecked(true);
    Globals.MeasType = MeasType::RlReference;
    Command_Run->setEnabled(true);
    Check_SkipMsg->setChecked(false);
    Check_SkipMsg->setEnabled(false);
    Label_Info->hide();
}

void MainForm::Option_Attn_Click(int index)
{
    Globals.MeasType = optionType(MeasKind::Attenuation, index);
    Command_Print->hide();
    Combo_FreqStep->setEnabled(index == 0);
}

void MainForm::Option_Refl_Click(int index)
{
    Globals.MeasType = optionType(MeasKind::ReturnLoss, index);
    Combo_FreqStep->setEnabled(index == 0);
}

void MainForm::Check_CustomAttn_Click()
{
    if (Check_CustomAttn->isChecked()) {
        Globals.MeasType = MeasType::CustomAtt;
        EnableAttnControls(false, false, true);
        Text_CustomAttn->show();
        Check_CustomLimits[0]->setChecked(true);
        Label_dB[2]->show();
        Command_Run->setEnabled(false);
        Text_CustomAttn->clear();
        Command_Print->hide();
        giveFocus(Text_CustomAttn);
    } else {
        EnableAttnControls(true, true, true);
        for (int i = 0; i < 6; ++i) {
            if (Option_Attn[i]->isChecked()) {
                Globals.MeasType = optionType(MeasKind::Attenuation, i);
                break;
            }
        }
        Check_CustomLimits[0]->setChecked(false);
        Text_CustomAttn->hide();
        Label_dB[2]->hide();
        Command_Run->setEnabled(true);
    }
}

void MainForm::Check_CustomLimits_Click(int index)
{
    if (Check_CustomLimits[index]->isChecked()) {
        Text_CustomLimits[index]->clear();
        Text_CustomLimits[index]->show();
        Label_dB[index]->show();
        giveFocus(Text_CustomLimits[index]);
    } else {
        Text_CustomLimits[index]->hide();
        Label_dB[index]->hide();
    }
}

void MainForm::Text_CustomAttn_Change()
{
    Command_Run->setEnabled(!Text_CustomAttn->text().isEmpty());
}

void MainForm::Combo_FreqStep_Click()
{
    if (!m_firstClickDone) {
        m_firstClickDone = true;
        return;
    }
    if (kindOf(Globals.MeasType) == MeasKind::ReturnLoss) {
        EnableReflControls(true, false);
        State.RefValid[ReturnLossKind] = false;
    } else {
        EnableAttnControls(true, false, false);
        State.RefValid[AttenuationKind] = false;
    }
}

// ---- Busy indicator, Stop and Run -------------------------------------------------------

void MainForm::ShowBusy(bool busy)
{
    if (busy) {
        Label_Busy->show();
        Label_Info->setText(QString());
        Label_Info->show();
    } else {
        Label_Busy->hide();
        Label_Info->hide();
    }
}

void MainForm::Command_Stop_Click()
{
    m_engine.requestStop();
    ShowBusy(false);
    // Run comes back only when the interrupted sequence has returned: a Run pressed in
    // between would start a second sequence inside the first.
    if (!running())
        Command_Run->setEnabled(true);
}

void MainForm::Command_Run_Click()
{
    if (running())
        return;
    Combo_FreqStep->setEnabled(false);
    Command_Run->setEnabled(false);
    Command_Print->hide();

    // The selection stays as it is while the sequence runs: it holds MeasType.
    m_selectionArea->setEnabled(false);
    Command_History->setEnabled(false);
    Label_Verdict->clear();
    emit runStarting();
    m_engine.run();
    if (leaveIfEnded())
        return;
    m_selectionArea->setEnabled(true);
    Command_History->setEnabled(true);
    if (m_pendingFocus) {
        m_pendingFocus->setFocus();
        m_pendingFocus.clear();
    }

    // Print only after a device sweep that ran to its end: anything else would offer a
    // report of a measurement that never happened.
    if (m_engine.sweptToEnd())
        Command_Print->show();
    Command_Run->setEnabled(true);

    emit runFinished();
    if (m_engine.closeRequested()) {
        m_engine.clearCloseRequest();
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

ReportSource MainForm::reportSource() const
{
    return {*MSChart1, Combo_FreqStep->currentIndex(), Combo_FreqStep->currentText(),
            Globals,   Text_CustomAttn->text(),        pos()};
}

void MainForm::Command_Print_Click()
{
    if (const std::optional<PrintRow> page =
            PrintResultForm::Command_Print_Click(reportSource(), m_dialogs, this))
        emit reportPrinted(*page);
}

// ---- What the sequences see -------------------------------------------------------------

int MainForm::stepIndex() const
{
    return Combo_FreqStep->currentIndex();
}

bool MainForm::skipMessages() const
{
    return Check_SkipMsg->isChecked();
}

bool MainForm::customAttenuation() const
{
    return Check_CustomAttn->isChecked();
}

bool MainForm::customLimits(MeasKind kind) const
{
    return Check_CustomLimits[kindIndex(kind)]->isChecked();
}

QLineEdit* MainForm::entry(Entry which) const
{
    switch (which) {
    case Entry::CustomAttn:
        return Text_CustomAttn;
    case Entry::CustomLimitsAtt:
        return Text_CustomLimits[AttenuationKind];
    case Entry::CustomLimitsRl:
        break;
    }
    return Text_CustomLimits[ReturnLossKind];
}

QString MainForm::entryText(Entry which) const
{
    return entry(which)->text();
}

bool MainForm::deviceOptionsEnabled(MeasKind kind) const
{
    // The option's own flag: while a run locks the selection area every option reads as
    // disabled through its parent.
    const QWidget* first =
        kind == MeasKind::ReturnLoss ? static_cast<QWidget*>(Option_Refl[1]) : Option_Attn[1];
    return !first->testAttribute(Qt::WA_ForceDisabled);
}

void MainForm::setEntryText(Entry which, const QString& text)
{
    entry(which)->setText(text);
}

void MainForm::clearAndFocus(Entry which)
{
    entry(which)->clear();
    giveFocus(entry(which));
}

void MainForm::uncheckCustomLimits(MeasKind kind)
{
    Check_CustomLimits[kindIndex(kind)]->setChecked(false);
}

void MainForm::enableFrame(MeasKind kind, bool enabled)
{
    (kind == MeasKind::ReturnLoss ? Frame_Refl : Frame_Attn)->setEnabled(enabled);
}

void MainForm::enableStepList(bool enabled)
{
    Combo_FreqStep->setEnabled(enabled);
}

void MainForm::enableSkipMessages(bool enabled)
{
    Check_SkipMsg->setEnabled(enabled);
}

void MainForm::uncheckSkipMessages()
{
    Check_SkipMsg->setChecked(false);
}

void MainForm::focusFirstDevice(MeasKind kind)
{
    giveFocus(kind == MeasKind::ReturnLoss ? static_cast<QWidget*>(Option_Refl[1])
                                           : Option_Attn[1]);
}

void MainForm::enableStop(bool enabled)
{
    Command_Stop->setEnabled(enabled);
    if (enabled)
        emit stopAvailable();
}

void MainForm::showProgress(const QString& text)
{
    Label_Info->setText(text);
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
    if (!m_engine.programEnded())
        return false;
    // Every handler on the stack returns at once from here; main() exits.
    QCoreApplication::exit(1);
    return true;
}

void MainForm::letEventsRun()
{
    QCoreApplication::processEvents();
}
