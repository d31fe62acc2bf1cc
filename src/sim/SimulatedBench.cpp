#include "sim/SimulatedBench.h"

#include "base/Clock.h"
#include "sim/SimulatedAnalyser.h"

#include <algorithm>

using namespace Ni488;

namespace {

// Any other instrument on the bus: it identifies itself and ignores the rest.
class OtherInstrument : public SimulatedDevice {
public:
    OtherInstrument(int address, QByteArray identification)
        : SimulatedDevice(address), m_identification(std::move(identification))
    {}

protected:
    void execute(const QByteArray& message, double now) override
    {
        for (const QByteArray& part : message.trimmed().split(';')) {
            if (part.trimmed().toUpper() == "ID?")
                queueOutput(m_identification, now);
        }
    }

private:
    QByteArray m_identification;
};

} // namespace

SimulatedBench::SimulatedBench(Clock& clock, BenchScenario scenario)
    : m_clock(clock), m_scenario(std::move(scenario)), m_model(m_scenario.quality),
      m_writeErrorCounts(m_scenario.writeErrors.size(), 0)
{
    if (m_scenario.noListener)
        return;
    const double now = m_clock.now();
    const int address = m_scenario.analyserAddress;
    addDevice(std::make_unique<SimulatedAnalyser>(address, m_scenario, m_model, m_connection, now));
    if (m_scenario.twinAnalysers) {
        const int twin = address < HighestAddress ? address + 1 : address - 1;
        addDevice(
            std::make_unique<SimulatedAnalyser>(twin, m_scenario, m_model, m_connection, now));
    }
    if (m_scenario.othersFirst) {
        addDevice(std::make_unique<OtherInstrument>(std::min(3, address - 2),
                                                    "SIMULATED,COUNTER 5370,V2.10"));
        addDevice(std::make_unique<OtherInstrument>(std::min(5, address - 1),
                                                    "SIMULATED,POWER SUPPLY 6030,V1.3"));
    }
    // Fill the lowest free addresses until the bus holds as many instruments as asked.
    for (int a = 1; a <= HighestAddress && int(m_devices.size()) < m_scenario.listeners; ++a) {
        if (!deviceAt(a))
            addDevice(std::make_unique<OtherInstrument>(
                a, QStringLiteral("SIMULATED,INSTRUMENT %1,V1.0").arg(a).toLatin1()));
    }
}

SimulatedBench::~SimulatedBench() = default;

QString SimulatedBench::name() const
{
    return QStringLiteral("simulated bench");
}

void SimulatedBench::addDevice(std::unique_ptr<SimulatedDevice> device)
{
    const auto at = std::find_if(m_devices.begin(), m_devices.end(),
                                 [&](const auto& d) { return d->address() > device->address(); });
    m_devices.insert(at, std::move(device));
}

SimulatedDevice* SimulatedBench::deviceAt(int pad) const
{
    for (const auto& d : m_devices) {
        if (d->address() == pad && d->onBus())
            return d.get();
    }
    return nullptr;
}

double SimulatedBench::timeoutOf(int tmo) const
{
    const double seconds = timeoutSeconds(tmo);
    return seconds > 0 ? std::min(seconds, LongestWait) : LongestWait;
}

QVector<int> SimulatedBench::instrumentAddresses() const
{
    QVector<int> addresses;
    for (const auto& d : m_devices) {
        if (d->onBus())
            addresses.append(d->address());
    }
    return addresses;
}

double SimulatedBench::modelReturnLoss(const Connection& c, double fMHz) const
{
    return m_model.returnLoss(c, fMHz);
}

double SimulatedBench::modelDeviation(const Connection& c, double fMHz) const
{
    return m_model.deviation(c, fMHz);
}

int SimulatedBench::ibclr(int ud)
{
    const Descriptor* d = descriptor(ud);
    if (!d)
        return finish(ERR, EDVR);
    SimulatedDevice* device = deviceAt(d->pad);
    if (!device)
        return finish(ERR, ENOL);
    device->deviceClear();
    return finish(CMPL);
}

bool SimulatedBench::writeFails(const QByteArray& data)
{
    bool fails = false;
    for (qsizetype i = 0; i < m_scenario.writeErrors.size(); ++i) {
        const BenchScenario::Trigger& t = m_scenario.writeErrors.at(i);
        if (!data.toUpper().startsWith(t.command.toLatin1()))
            continue;
        const int count = ++m_writeErrorCounts[i];
        fails = fails || t.occurrence == 0 || t.occurrence == count;
    }
    return fails;
}

int SimulatedBench::ibwrt(int ud, const QByteArray& data)
{
    const Descriptor* d = descriptor(ud);
    if (!d)
        return finish(ERR, EDVR);
    SimulatedDevice* device = deviceAt(d->pad);
    if (!device || writeFails(data))
        return finish(ERR, ENOL, 0);
    if (device->isAnalyser())
        m_received.append(QString::fromLatin1(data));
    device->receive(data, m_clock.now());
    return finish(CMPL, 0, long(data.size()));
}

int SimulatedBench::ibrd(int ud, QByteArray& buffer)
{
    const Descriptor* d = descriptor(ud);
    if (!d)
        return finish(ERR, EDVR);
    const int pad = d->pad;
    const double deadline = m_clock.now() + timeoutOf(d->tmo);
    const SimulatedDevice* device = deviceAt(pad);
    if (device && device->hasOutput() && device->outputReadyAt() <= deadline) {
        // The answer of a query that came during a sweep follows the sweep.
        m_clock.waitUntil(device->outputReadyAt());
        // Events ran while waiting: look the device up again.
        if (SimulatedDevice* ready = deviceAt(pad); ready && ready->hasOutput()) {
            bool end = false;
            const QByteArray chunk = ready->readOutput(buffer.size(), &end);
            buffer.replace(0, chunk.size(), chunk);
            return finish(CMPL | (end ? END : 0), 0, long(chunk.size()));
        }
    }
    m_clock.waitUntil(deadline);
    return finish(ERR | TIMO, EABO, 0);
}

int SimulatedBench::ibrsp(int ud, char* statusByte)
{
    const Descriptor* d = descriptor(ud);
    if (!d)
        return finish(ERR, EDVR);
    const int pad = d->pad;
    const double limit = timeoutOf(d->tmo);
    if (SimulatedDevice* device = deviceAt(pad)) {
        const quint8 polled = device->serialPoll(m_clock.now());
        if (statusByte)
            *statusByte = char(polled);
        return finish(CMPL, 0, 1);
    }
    // Nobody answers the poll: the board waits out the time-out.
    m_clock.wait(limit);
    return finish(ERR | TIMO, EABO, 0);
}

int SimulatedBench::ibwait(int ud, int mask)
{
    const Descriptor* d = descriptor(ud);
    if (!d)
        return finish(ERR, EDVR);
    const int pad = d->pad;
    const double start = m_clock.now();
    const auto requesting = [&] {
        const SimulatedDevice* device = deviceAt(pad);
        return device && device->requestingService(m_clock.now());
    };
    const auto current = [&] { return CMPL | (requesting() ? RQS : 0); };

    // No asynchronous I/O is ever pending, so CMPL holds at once.
    if ((mask & CMPL) || !(mask & (RQS | TIMO)) || ((mask & RQS) && requesting()))
        return finish(current());

    const double timeout = start + ((mask & TIMO) ? timeoutOf(d->tmo) : LongestWait);
    for (;;) {
        if ((mask & RQS) && requesting())
            return finish(current());
        if (m_clock.now() >= timeout)
            break;
        double until = timeout;
        if (const SimulatedDevice* device = deviceAt(pad); device && (mask & RQS)) {
            if (const std::optional<double> srq = device->nextServiceRequest())
                until = std::min(until, *srq);
        }
        m_clock.waitUntil(until);
    }
    if (mask & TIMO)
        return finish(current() | TIMO);
    return finish(ERR | current(), EABO);
}

int SimulatedBench::ibsre(int board, int value)
{
    Q_UNUSED(value);
    if (!boardPresent(board))
        return finish(ERR, missingBoardError(false));
    return finish(CMPL);
}

void SimulatedBench::SendIFC(int board)
{
    if (!boardPresent(board)) {
        finish(ERR, missingBoardError(false));
        return;
    }
    finish(CMPL);
}

void SimulatedBench::FindLstn(int board, const QVector<short>& addresses, QVector<short>& results,
                              int limit)
{
    if (!boardPresent(board)) {
        finish(ERR, missingBoardError(false));
        return;
    }
    // The controller always listens; it comes first.
    QVector<short> found{0};
    for (const short a : addresses) {
        if (a == NOADDR)
            break;
        if (a != 0 && deviceAt(a))
            found.append(a);
    }
    reportListeners(found, results, limit);
}

int SimulatedBench::missingBoardError(bool opening) const
{
    // As linux-gpib answers: without a configuration file the bus calls fail with EARG and
    // opening a device with EDVR; with one but no board device, everything fails with EDVR.
    if (m_scenario.board == BenchScenario::Board::NoConfiguration && !opening)
        return EARG;
    return EDVR;
}
