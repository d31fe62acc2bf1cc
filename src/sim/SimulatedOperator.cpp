#include "sim/SimulatedOperator.h"

#include "sim/SimulatedBench.h"

SimulatedOperator::SimulatedOperator(OperatorDialogs& inner, SimulatedBench& bench)
    : m_inner(inner), m_bench(bench)
{}

MsgResult SimulatedOperator::message(const OperatorMessage& message)
{
    const MsgResult result = m_inner.message(message);
    if (result == MsgResult::Ok) {
        if (const std::optional<Connection> c = requestedConnection(message))
            m_bench.connect(*c);
    }
    return result;
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
