#include "sim/SimulatedDevice.h"

#include <algorithm>

void SimulatedDevice::receive(const QByteArray& message, double now)
{
    m_output.clear();
    execute(message, now);
}

QByteArray SimulatedDevice::readOutput(qsizetype max, bool* end)
{
    QByteArray chunk = m_output.left(std::max<qsizetype>(0, max));
    m_output.remove(0, chunk.size());
    if (end)
        *end = m_output.isEmpty();
    return chunk;
}

bool SimulatedDevice::requestingService(double now) const
{
    return !m_requests.isEmpty() && m_requests.first().at <= now;
}

std::optional<double> SimulatedDevice::nextServiceRequest() const
{
    if (m_requests.isEmpty())
        return std::nullopt;
    return m_requests.first().at;
}

quint8 SimulatedDevice::serialPoll(double now)
{
    if (!requestingService(now))
        return 0;
    const quint8 statusByte = m_requests.takeFirst().statusByte | 0x40;
    polled(statusByte, now);
    return statusByte;
}

void SimulatedDevice::queueOutput(const QByteArray& answer, double readyAt)
{
    m_output = answer;
    m_outputAt = readyAt;
}

void SimulatedDevice::requestService(quint8 statusByte, double at)
{
    const auto later = std::find_if(m_requests.begin(), m_requests.end(),
                                    [at](const Request& r) { return r.at > at; });
    m_requests.insert(later, Request{statusByte, at});
}
