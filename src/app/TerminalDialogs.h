#pragma once

#include "base/OperatorDialogs.h"

#include <functional>

// The operator's messages of a batch run, on standard error. A message with a choice is asked
// on standard input when somebody is there (interactive); otherwise it takes its first button,
// as an operator in a hurry would. A bus error answers "go on" so that the sequence reaches
// its own end, and tells the run, which stops. After a refused value or a fatal condition
// nothing more is said, and the run ends with status 2.
class TerminalDialogs : public OperatorDialogs {
public:
    // interruptFd becomes readable, and stays so, when the run is to stop: every question is
    // then answered Cancel or No, one being asked at that moment too.
    TerminalDialogs(bool interactive, int interruptFd);

    MsgResult message(const OperatorMessage& message) override;
    bool choosePrinter(QPrinter&) override { return false; }

    // A GPIB error, a read time-out or a lost adapter: the run is over, whatever the sequence
    // does next.
    std::function<void()> busError;
    // Before anything is written: whatever shares the terminal line gives it up.
    std::function<void()> beforeWriting;
    bool busFailed() const { return m_busFailed; }
    // A value was refused or a fatal condition met: the run is over and nothing more is said.
    bool ended() const { return m_ended; }

private:
    MsgResult ask(const OperatorMessage& message);
    bool interrupted() const;

    bool m_interactive;
    int m_interruptFd;
    bool m_busFailed = false;
    bool m_ended = false;
};
