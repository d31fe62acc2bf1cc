#pragma once

#include <QDialog>

class Clock;
class QLabel;

// The short title card shown once at start-up; it closes by itself or at a click.
class IntroForm : public QDialog {
    Q_OBJECT
public:
    IntroForm(Clock& clock, QWidget* parent = nullptr);
    ~IntroForm() override;

    QLabel* Label1 = nullptr;
    int Timer1Interval = 0; // milliseconds

    void Label1_Click();

protected:
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Activate();
    void Timer1_Timer();

    Clock& m_clock;
    int m_timer = 0; // 0 while Timer1 is disabled
};
