#pragma once

#include "base/OperatorDialogs.h"

#include <QPointer>

#include <functional>

class QMessageBox;

// Message boxes and the print dialog of the desktop. The box waiting for an answer can be
// read and answered from elsewhere (remote control), and while nobody is at the bench every
// box takes its default answer without being shown.
class DesktopDialogs : public OperatorDialogs {
public:
    MsgResult message(const OperatorMessage& message) override;
    bool choosePrinter(QPrinter& printer) override;

    // The text of the box waiting for an answer; empty when none is.
    QString waitingText() const;
    // Presses that button of the waiting box; false when no waiting box has it.
    bool press(MsgResult button);

    void setUnattended(bool unattended) { m_unattended = unattended; }
    bool unattended() const { return m_unattended; }
    // Hears every message, shown or answered by default, before it is answered.
    std::function<void(const OperatorMessage&)> observer;

private:
    QPointer<QMessageBox> m_waiting;
    bool m_unattended = false;
};
