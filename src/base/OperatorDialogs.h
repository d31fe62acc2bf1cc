#pragma once

#include <QString>

class QPrinter;
class QWidget;

enum class MsgIcon { None, Critical, Exclamation, Information, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgResult { Ok, Cancel, Yes, No };

// The one place where the program shows an operator message or the print dialog, so that a
// test can answer them and check exactly what the operator would have seen.
class OperatorDialogs {
public:
    virtual ~OperatorDialogs() = default;

    // Modal; returns the button pressed. Line breaks in text are single LFs.
    virtual MsgResult message(MsgIcon icon, const QString& title, const QString& text,
                              MsgButtons buttons) = 0;

    // Modal printer choice; fills printer and returns true, or false when cancelled.
    virtual bool choosePrinter(QPrinter& printer) = 0;
};

// Every message answered with its first button, as an operator in a hurry would, and no
// printer chosen: for runs with nobody at the bench.
class FirstButtonDialogs : public OperatorDialogs {
public:
    static MsgResult firstButton(MsgButtons buttons)
    {
        return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? MsgResult::Yes
                                                                                  : MsgResult::Ok;
    }
    MsgResult message(MsgIcon, const QString&, const QString&, MsgButtons buttons) override
    {
        return firstButton(buttons);
    }
    bool choosePrinter(QPrinter&) override { return false; }
};
