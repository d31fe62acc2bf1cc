#pragma once

#include "base/OperatorDialogs.h"

#include <QPointer>

class QMessageBox;

// Message boxes and the print dialog of the desktop. The box waiting for an answer can be
// answered from elsewhere (remote control), and a message for a run with nobody at the bench
// takes its default answer without being shown.
class DesktopDialogs : public OperatorDialogs {
public:
    MsgResult message(const OperatorMessage& message) override;
    bool choosePrinter(QPrinter& printer) override;

    bool answerWaiting(MsgResult button) override;

private:
    QPointer<QMessageBox> m_waiting;
};
