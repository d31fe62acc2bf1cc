#pragma once

#include "base/OperatorDialogs.h"
#include "sim/BenchModel.h"

#include <optional>

class SimulatedBench;

// The operator's hands at the simulated bench: every dialog goes to the operator behind
// it, and a connection prompt answered Ok gets its connection made on the bench.
class SimulatedOperator : public OperatorDialogs {
public:
    SimulatedOperator(OperatorDialogs& inner, SimulatedBench& bench);

    MsgResult message(const OperatorMessage& message) override;
    void show(const OperatorMessage& message, std::function<void(MsgResult)> answered) override;
    bool choosePrinter(QPrinter& printer) override;
    bool answerWaiting(MsgResult button) override { return m_inner.answerWaiting(button); }

    // The connection a prompt asks for; nothing when the message is no connection prompt.
    static std::optional<Connection> requestedConnection(const OperatorMessage& message);

private:
    // The bench is changed while the sequence still waits for the answer.
    void heard(const OperatorMessage& message, MsgResult result);

    OperatorDialogs& m_inner;
    SimulatedBench& m_bench;
};
