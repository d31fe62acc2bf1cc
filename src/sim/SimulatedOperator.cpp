#include "sim/SimulatedOperator.h"

#include "sim/SimulatedBench.h"

#include <QRegularExpression>

SimulatedOperator::SimulatedOperator(OperatorDialogs& inner, SimulatedBench& bench)
    : m_inner(inner), m_bench(bench)
{}

MsgResult SimulatedOperator::message(MsgIcon icon, const QString& title, const QString& text,
                                     MsgButtons buttons)
{
    const MsgResult result = m_inner.message(icon, title, text, buttons);
    if (result == MsgResult::Ok) {
        if (const std::optional<Connection> c = requestedConnection(text))
            m_bench.connect(*c);
    }
    return result;
}

bool SimulatedOperator::choosePrinter(QPrinter& printer)
{
    return m_inner.choosePrinter(printer);
}

std::optional<Connection> SimulatedOperator::requestedConnection(const QString& text)
{
    const QString t = text.trimmed();
    const auto starts = [&t](const char* prefix) { return t.startsWith(QLatin1String(prefix)); };
    if (starts("Connect the Impedance Bridge between the Tracking Generator output"))
        return Connection::bridgeOpen();
    if (starts("Connect the Tracking Generator output to the "))
        return Connection::through();
    if (starts("Connect the Termination to be measured to the DUT connector"))
        return Connection::bridgeDut(Connection::Dut::Termination);
    if (starts("Connect the Attenuator to be measured to the DUT connector"))
        return Connection::bridgeDut(Connection::Dut::Attenuator);
    if (starts("Connect the Cable to be measured between"))
        return Connection::attenuatorDut(0);
    // "2X (6 dB)", "10X (20 dB)" or a custom "12.5 dB"
    static const QRegularExpression attenuator(
        QStringLiteral("^Connect the (?:[0-9.]+X \\()?([0-9]+(?:\\.[0-9]+)?) dB\\)? "
                       "Attenuator to be measured between"));
    const QRegularExpressionMatch m = attenuator.match(t);
    if (m.hasMatch())
        return Connection::attenuatorDut(m.captured(1).toDouble());
    return std::nullopt;
}
