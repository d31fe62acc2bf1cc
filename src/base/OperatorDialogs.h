#pragma once

#include <QString>

#include <functional>

class QPrinter;

enum class MsgIcon { None, Critical, Exclamation, Information, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgResult { Ok, Cancel, Yes, No };

// What a message is for. Code decides by the kind, never by a message's text, title or icon:
// those are for the operator and may be reworded.
enum class MsgKind {
    ConnectionPrompt, // make the connection named by the hookup, then OK; Cancel abandons
    ReferenceReuse,   // reuse the reference table taken before?
    Done,             // a sequence has completed
    StopNotice,       // a sequence ended at the operator's Stop
    RefusedValue,     // an entered value was refused; its box is cleared and focused
    BusError,         // the GPIB error dialog: OK goes on, Cancel ends the program
    ReadTimeout,      // a read from an instrument failed
    AdapterLost,      // a USB or network adapter stopped answering
    Fatal,            // the program ends after it
    CloseQuestion,    // leaving: reset the analyser?
    Notice,           // anything else the operator is told or asked outside a sequence
};

// What a connection prompt asks the operator to connect at the bench.
struct Hookup {
    enum class Setup {
        None,
        Through,             // tracking generator output straight to the analyser input
        BridgeOpen,          // the impedance bridge in place, nothing at its DUT port
        TerminationOnBridge, // a termination at the bridge's DUT port
        AttenuatorOnBridge,  // an attenuator closed by a good termination there
        InLine,              // an attenuator (or a cable) between generator and analyser
    };
    Setup setup = Setup::None;
    double nominalDb = 0; // InLine: the attenuation the prompt names
};

struct OperatorMessage {
    MsgKind kind = MsgKind::Notice;
    MsgIcon icon = MsgIcon::None;
    QString title;
    QString text; // line breaks are single LFs
    MsgButtons buttons = MsgButtons::Ok;
    Hookup hookup{};   // connection prompts only
    QString details{}; // long particulars, behind the box's "Show Details..."
    // Nobody is at the bench for this run: the box takes its first button without being shown.
    bool unattended = false;

    // The answer a box takes when nobody presses a button: the first one.
    MsgResult firstButton() const
    {
        return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? MsgResult::Yes
                                                                                  : MsgResult::Ok;
    }
    // The answer that backs out: Cancel, or No where there is no Cancel.
    MsgResult backOut() const
    {
        if (buttons == MsgButtons::Ok)
            return MsgResult::Ok;
        return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Cancel;
    }
};

// The one place where the program shows an operator message or the print dialog, so that a
// test can answer them and check exactly what the operator would have seen.
class OperatorDialogs {
public:
    virtual ~OperatorDialogs() = default;

    // Modal; returns the button pressed. Only outside a run: a modal box nests an event loop.
    virtual MsgResult message(const OperatorMessage& message) = 0;

    // Shows the message and returns; answered runs once, on this thread, with the button
    // pressed. A door that answers without showing (a terminal, a script) may answer at once.
    virtual void show(const OperatorMessage& message, std::function<void(MsgResult)> answered)
    {
        answered(this->message(message));
    }

    // Modal printer choice; fills printer and returns true, or false when cancelled.
    virtual bool choosePrinter(QPrinter& printer) = 0;

    // Presses that button of the message waiting for an answer, from elsewhere than the box
    // (remote control); false when none is waiting or it has no such button.
    virtual bool answerWaiting(MsgResult) { return false; }
};

// Every message answered with its first button, as an operator in a hurry would, and no
// printer chosen: for runs with nobody at the bench.
class FirstButtonDialogs : public OperatorDialogs {
public:
    MsgResult message(const OperatorMessage& message) override { return message.firstButton(); }
    bool choosePrinter(QPrinter&) override { return false; }
};
