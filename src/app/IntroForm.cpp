#include "app/IntroForm.h"

#include "base/Clock.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

IntroForm::IntroForm(Clock& clock, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_clock(clock)
{
    setObjectName(QStringLiteral("IntroForm"));
    setModal(true);
    setAutoFillBackground(true);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont font(QStringLiteral("Times New Roman"));
    font.setPointSizeF(14.25);
    Label1->setFont(font);
    QPalette palette = Label1->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    Label1->setPalette(palette);
    Label1->installEventFilter(this);
}

IntroForm::~IntroForm()
{
    if (m_timer)
        m_clock.cancel(m_timer);
}

void IntroForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    // Activation comes once the window is up; the timer starts only then.
    QTimer::singleShot(0, this, &IntroForm::Form_Activate);
}

void IntroForm::Form_Activate()
{
    if (!m_timer && isVisible())
        m_timer = m_clock.schedule(Timer1Interval / 1000.0, [this] { Timer1_Timer(); });
}

void IntroForm::Timer1_Timer()
{
    m_timer = 0;
    Label1_Click();
}

void IntroForm::mousePressEvent(QMouseEvent*)
{
    Label1_Click();
}

bool IntroForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Label1 && event->type() == QEvent::MouseButtonPress) {
        Label1_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void IntroForm::Label1_Click()
{
    if (m_timer) {
        m_clock.cancel(m_timer);
        m_timer = 0;
    }
    // Disabled for good: a close that is already under way must not re-arm it.
    Timer1Interval = 0;
    accept();
}
