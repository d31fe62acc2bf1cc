#pragma once

#include "base/OperatorDialogs.h"

// Message boxes and the print dialog of the desktop.
class DesktopDialogs : public OperatorDialogs {
public:
    MsgResult message(MsgIcon icon, const QString& title, const QString& text,
                      MsgButtons buttons) override;
    bool choosePrinter(QPrinter& printer) override;
};
