#pragma once

#include "base/OperatorDialogs.h"

#include <QPointer>

class QMessageBox;

// Message boxes and the print dialog of the desktop. A run's messages are window-modal boxes
// that answer when pressed, so no event loop is nested while a run waits for them. The box
// waiting for an answer can be answered from elsewhere (remote control), and a message for a
// run with nobody at the bench takes its default answer without being shown.
class DesktopDialogs : public OperatorDialogs {
public:
    MsgResult message(const OperatorMessage& message) override;
    void show(const OperatorMessage& message, std::function<void(MsgResult)> answered) override;
    bool choosePrinter(QPrinter& printer) override;

    bool answerWaiting(MsgResult button) override;

private:
    // The box for the message, parented to the active window, with its icon and buttons.
    static QMessageBox* boxFor(const OperatorMessage& message);
    static MsgResult resultOf(int button, const OperatorMessage& message);

    QPointer<QMessageBox> m_waiting;
};
