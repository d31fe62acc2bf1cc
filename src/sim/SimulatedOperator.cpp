#include "sim/SimulatedOperator.h"

#include "sim/SimulatedBench.h"

SimulatedOperator::SimulatedOperator(OperatorDialogs& inner, SimulatedBench& bench)
    : m_inner(inner), m_bench(bench)
{}

MsgResult SimulatedOperator::message(const OperatorMessage& message)
{
    const MsgResult result = m_inner.message(message);
    heard(message, result);
    return result;
}

void SimulatedOperator::show(const OperatorMessage& message,
                             std::function<void(MsgResult)> answered)
{
    m_inner.show(message, [this, message, answered = std::move(answered)](MsgResult result) {
        heard(message, result);
        answered(result);
    });
}

void SimulatedOperator::heard(const OperatorMessage& message, MsgResult result)
{
    if (result == MsgResult::Ok) {
        if (const std::optional<Connection> c = requestedConnection(message))
            m_bench.connect(*c);
    }
}

bool SimulatedOperator::choosePrinter(QPrinter& printer)
{
    return m_inner.choosePrinter(printer);
}

std::optional<Connection> SimulatedOperator::requestedConnection(const OperatorMessage& message)
{
    if (message.kind != MsgKind::ConnectionPrompt)
        return std::nullopt;
    using Setup = Hookup::Setup;
    switch (message.hookup.setup) {
    case Setup::None:
        break;
    case Setup::Through:
        return Connection::through();
    case Setup::BridgeOpen:
        return Connection::bridgeOpen();
    case Setup::TerminationOnBridge:
        return Connection::bridgeDut(Connection::Dut::Termination);
    case Setup::AttenuatorOnBridge:
        return Connection::bridgeDut(Connection::Dut::Attenuator);
    case Setup::InLine:
        return Connection::attenuatorDut(message.hookup.nominalDb);
    }
    return std::nullopt;
}
