#include "gpib/AdapterDriver.h"

#include "base/Clock.h"
#include "gpib/AdapterLink.h"

#include <QRegularExpression>
#include <QThread>

#include <algorithm>

using namespace Ni488;

namespace {

// The longest read time-out, in milliseconds, that every adapter takes; one refused would
// leave its "Unrecognized command" in front of the next answer. Longer waits are the
// driver's own deadlines.
constexpr int LongestAdapterTimeout = 3000;
// A serial adapter on a small board restarts when its port is opened and misses what comes
// meanwhile: the first contact is repeated this often until it answers, for this long.
constexpr double SerialRetry = 1.0;
constexpr double SerialStartLimit = 5.0;
// Between two looks at the service-request line while a wait goes on.
constexpr double ServiceRequestPoll = 0.01;
// A wait for a service request without a time-out still ends, as the simulated bench's does.
constexpr double LongestWait = 1000.0;
// A device on the bus answers a serial poll at once; the scan for listeners waits this long.
constexpr int ScanTimeoutMs = 100;
constexpr quint8 RequestBit = 0x40;

int milliseconds(int tmo)
{
    const double seconds = timeoutSeconds(tmo);
    if (seconds <= 0)
        return LongestAdapterTimeout;
    return std::clamp(int(std::lround(seconds * 1000)), 1, LongestAdapterTimeout);
}

bool isNumber(const QByteArray& line)
{
    bool ok = false;
    line.trimmed().toInt(&ok);
    return ok;
}

} // namespace

std::unique_ptr<AdapterDriver> AdapterDriver::open(const QString& address, Clock& clock,
                                                   QString* error)
{
    std::unique_ptr<AdapterLink> link = AdapterLink::open(address, clock, error);
    return link ? open(std::move(link), error) : nullptr;
}

std::unique_ptr<AdapterDriver> AdapterDriver::open(std::unique_ptr<AdapterLink> link,
                                                   QString* error)
{
    std::unique_ptr<AdapterDriver> driver(new AdapterDriver(std::move(link)));
    if (!driver->setUp(error))
        return nullptr;
    return driver;
}

AdapterDriver::AdapterDriver(std::unique_ptr<AdapterLink> link)
    : m_link(std::move(link)), m_clock(m_link->clock())
{}

AdapterDriver::~AdapterDriver() = default;

QString AdapterDriver::name() const
{
    return QStringLiteral("GPIB adapter ") + m_link->address();
}

bool AdapterDriver::linkLost() const
{
    return !m_link->isUp();
}

QString AdapterDriver::linkAddress() const
{
    return m_link->address();
}

void AdapterDriver::callFrom(QThread* thread)
{
    m_link->moveToThread(thread);
}

bool AdapterDriver::reconnect()
{
    if (m_link->isUp())
        return true;
    std::unique_ptr<AdapterLink> link = AdapterLink::open(m_link->address(), m_clock);
    if (!link)
        return false;
    std::swap(m_link, link);
    // A new adapter, or the same one restarted: nothing it was told before holds.
    m_adapterAddress = -1;
    m_adapterTimeoutMs = -1;
    m_pending.clear();
    m_statusBytes.clear();
    if (setUp(nullptr))
        return true;
    // One that does not answer is as good as gone.
    std::swap(m_link, link);
    return false;
}

int AdapterDriver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos)
{
    if (!m_link->isUp()) {
        linkDown();
        return -1;
    }
    return DescriptorDriver::ibdev(board, pad, sad, tmo, eot, eos);
}

int AdapterDriver::ibpad(int ud, int pad)
{
    return m_link->isUp() ? DescriptorDriver::ibpad(ud, pad) : linkDown();
}

int AdapterDriver::ibtmo(int ud, int tmo)
{
    return m_link->isUp() ? DescriptorDriver::ibtmo(ud, tmo) : linkDown();
}

int AdapterDriver::ibask(int ud, int option, int* value)
{
    return m_link->isUp() ? DescriptorDriver::ibask(ud, option, value) : linkDown();
}

bool AdapterDriver::setUp(QString* error)
{
    const double limit = m_clock.now() + (m_link->isSerial() ? SerialStartLimit : AnswerLimit);
    std::optional<QByteArray> version;
    while (!version && m_link->isUp() && m_clock.now() < limit) {
        command("++ver");
        const double retry = m_link->isSerial() ? m_clock.now() + SerialRetry : limit;
        version = m_link->readLine(std::min(retry, limit));
    }
    if (!version) {
        if (error)
            *error = m_link->isUp()
                         ? QStringLiteral("%1: the GPIB adapter does not answer (no reply to "
                                          "++ver within %2 s).")
                               .arg(m_link->address())
                               .arg(m_link->isSerial() ? SerialStartLimit : AnswerLimit)
                         : QStringLiteral("%1: the connection closed before the GPIB adapter "
                                          "answered.")
                               .arg(m_link->address());
        return false;
    }
    // Every setting it needs, whatever the adapter starts with or was left with: controller
    // mode; reads only on request; EOI on the last byte written and nothing appended, so
    // messages go out exactly as composed; the end mark after every EOI read; the time-out of
    // the program's reads. Saving comes first so that none of this wears the adapter's
    // configuration memory.
    for (const char* setting :
         {"++savecfg 0", "++mode 1", "++auto 0", "++eoi 1", "++eos 3", "++eot_enable 1"})
        command(setting);
    const QByteArray endMark = QByteArray::number(int(EndMark));
    command("++eot_char " + endMark);
    readTimeout(milliseconds(T3s));
    // Asking the setting back also tells that everything before has been taken: a restarted
    // adapter may greet, or answer an earlier ++ver, late.
    command("++eot_char");
    const double settled = m_clock.now() + AnswerLimit;
    for (;;) {
        const std::optional<QByteArray> line = m_link->readLine(settled);
        if (!line || line->trimmed() == endMark)
            break;
    }
    if (!m_link->isUp() && error)
        *error = QStringLiteral("%1: the connection closed while the GPIB adapter was set up.")
                     .arg(m_link->address());
    return m_link->isUp();
}

bool AdapterDriver::command(const QByteArray& text)
{
    return m_link->send(text + '\n');
}

bool AdapterDriver::address(int pad)
{
    if (pad == m_adapterAddress)
        return m_link->isUp();
    m_adapterAddress = pad;
    return command("++addr " + QByteArray::number(pad));
}

bool AdapterDriver::readTimeout(int milliseconds)
{
    if (milliseconds == m_adapterTimeoutMs)
        return m_link->isUp();
    m_adapterTimeoutMs = milliseconds;
    return command("++read_tmo_ms " + QByteArray::number(milliseconds));
}

double AdapterDriver::deadline(int tmo) const
{
    return m_clock.now() + milliseconds(tmo) / 1000.0 + LinkMargin;
}

int AdapterDriver::ibclr(int ud)
{
    const Descriptor* d = descriptor(ud);
    if (!d)
        return finish(ERR, EDVR);
    if (!address(d->pad) || !command("++clr"))
        return linkDown();
    m_pending.remove(d->pad);
    return finish(CMPL);
}

int AdapterDriver::ibwrt(int ud, const QByteArray& data)
{
    const Descriptor* d = descriptor(ud);
    if (!d)
        return finish(ERR, EDVR);
    // A new message makes the device drop an answer nobody read.
    m_pending.remove(d->pad);
    // CR and LF would end the line, ESC and "+" would be taken as the adapter's own.
    QByteArray line;
    line.reserve(data.size() + 8);
    for (const char c : data) {
        if (c == '\r' || c == '\n' || c == '\x1b' || c == '+')
            line.append('\x1b');
        line.append(c);
    }
    if (!address(d->pad) || !m_link->send(line + '\n'))
        return linkDown();
    return finish(CMPL, 0, long(data.size()));
}

int AdapterDriver::ibrd(int ud, QByteArray& buffer)
{
    const Descriptor* d = descriptor(ud);
    if (!d)
        return finish(ERR, EDVR);
    if (!m_link->isUp())
        return linkDown();
    const int pad = d->pad;
    if (!m_pending.contains(pad)) {
        m_link->discardInput();
        if (!readTimeout(milliseconds(d->tmo)) || !address(pad) || !command("++read eoi"))
            return linkDown();
        const std::optional<QByteArray> answer = m_link->readUntil(EndMark, deadline(d->tmo));
        if (!answer)
            return m_link->isUp() ? finish(ERR | TIMO, EABO) : linkDown();
        m_pending.insert(pad, {*answer, true});
    }
    Pending& pending = m_pending[pad];
    const QByteArray chunk = pending.data.left(buffer.size());
    pending.data.remove(0, chunk.size());
    buffer.replace(0, chunk.size(), chunk);
    const bool end = pending.data.isEmpty() && pending.end;
    if (pending.data.isEmpty())
        m_pending.remove(pad);
    return finish(CMPL | (end ? END : 0), 0, long(chunk.size()));
}

std::optional<quint8> AdapterDriver::serialPoll(int pad, int tmo)
{
    m_link->discardInput();
    if (!readTimeout(milliseconds(tmo)) || !address(pad) || !command("++spoll"))
        return std::nullopt;
    const std::optional<QByteArray> line = m_link->readLine(deadline(tmo));
    bool ok = false;
    const int value = line ? line->trimmed().toInt(&ok) : -1;
    if (!ok || value < 0 || value > 255)
        return std::nullopt;
    return quint8(value);
}

int AdapterDriver::ibrsp(int ud, char* statusByte)
{
    const Descriptor* d = descriptor(ud);
    if (!d)
        return finish(ERR, EDVR);
    if (!m_link->isUp())
        return linkDown();
    // A byte polled while waiting for the request is handed out first, as a driver that
    // polls automatically keeps it.
    QList<quint8>& kept = m_statusBytes[d->pad];
    std::optional<quint8> polled;
    if (!kept.isEmpty())
        polled = kept.takeFirst();
    else
        polled = serialPoll(d->pad, d->tmo);
    if (!polled)
        return m_link->isUp() ? finish(ERR | TIMO, EABO) : linkDown();
    if (statusByte)
        *statusByte = char(*polled);
    return finish(CMPL, 0, 1);
}

int AdapterDriver::ibwait(int ud, int mask)
{
    const Descriptor* d = descriptor(ud);
    if (!d)
        return finish(ERR, EDVR);
    const int pad = d->pad;
    const int tmo = d->tmo;
    const auto requesting = [&] { return !m_statusBytes.value(pad).isEmpty(); };
    const auto current = [&] { return CMPL | (requesting() ? RQS : 0); };

    // A wait answers from what is kept, but not over a lost link.
    if (!m_link->isUp())
        return linkDown();
    // No I/O runs in the background, so CMPL holds at once.
    if ((mask & CMPL) || !(mask & (RQS | TIMO)) || ((mask & RQS) && requesting()))
        return finish(current());

    const double seconds = timeoutSeconds(tmo);
    const double limit = m_clock.now() + ((mask & TIMO) && seconds > 0 ? seconds : LongestWait);
    if (!(mask & RQS)) {
        m_clock.waitUntil(limit);
        return finish(current() | TIMO);
    }
    for (;;) {
        m_link->discardInput();
        if (!command("++srq"))
            return linkDown();
        const std::optional<QByteArray> line = m_link->readLine(m_clock.now() + AnswerLimit);
        if (!line)
            return m_link->isUp() ? finish(ERR, EABO) : linkDown();
        // The line is shared: only a poll tells whether this device is the one asking.
        if (line->trimmed() == "1") {
            const std::optional<quint8> polled = serialPoll(pad, std::max(tmo, int(T1s)));
            if (!polled)
                return m_link->isUp() ? finish(ERR, EABO) : linkDown();
            if (*polled & RequestBit) {
                m_statusBytes[pad].append(*polled);
                return finish(current());
            }
        }
        const double now = m_clock.now();
        if (now >= limit)
            break;
        m_clock.waitUntil(std::min(limit, now + ServiceRequestPoll));
    }
    if (mask & TIMO)
        return finish(current() | TIMO);
    return finish(ERR | current(), EABO);
}

int AdapterDriver::ibsre(int board, int value)
{
    // The adapter holds remote enable itself as long as it is the controller.
    Q_UNUSED(value);
    if (board != 0)
        return finish(ERR, ENEB);
    return m_link->isUp() ? finish(CMPL) : linkDown();
}

void AdapterDriver::SendIFC(int board)
{
    if (board != 0) {
        finish(ERR, ENEB);
        return;
    }
    if (!command("++ifc")) {
        linkDown();
        return;
    }
    finish(CMPL);
}

std::optional<QVector<short>> AdapterDriver::adapterListeners()
{
    m_link->discardInput();
    if (!command("++findlstn"))
        return std::nullopt;
    const std::optional<QByteArray> line = m_link->readLine(m_clock.now() + AnswerLimit);
    // "3,5:1,18": primary addresses, a secondary one after a colon. An adapter without the
    // command says so in words, or says nothing.
    static const QRegularExpression addresses(QStringLiteral("^[0-9:,; \\t]*$"));
    if (!line || !addresses.match(QString::fromLatin1(*line)).hasMatch())
        return std::nullopt;
    QVector<short> found;
    static const QRegularExpression separators(QStringLiteral("[,; \\t]+"));
    for (const QString& entry : QString::fromLatin1(*line).split(separators, Qt::SkipEmptyParts)) {
        const short pad = short(entry.section(u':', 0, 0).toInt());
        if (!found.contains(pad))
            found.append(pad);
    }
    return found;
}

QVector<short> AdapterDriver::polledListeners(const QVector<short>& addresses)
{
    QVector<short> found;
    for (const short pad : addresses) {
        m_link->discardInput();
        // The version line follows the poll's answer, if there is one: it tells when the
        // adapter has given up on a silent address without waiting out a deadline.
        if (!readTimeout(ScanTimeoutMs) || !address(pad) || !command("++spoll") ||
            !command("++ver"))
            break;
        const double limit = m_clock.now() + ScanTimeoutMs / 1000.0 + AnswerLimit;
        bool answered = false;
        bool synced = false;
        while (const std::optional<QByteArray> line = m_link->readLine(limit)) {
            synced = !isNumber(*line);
            if (synced)
                break;
            answered = true;
        }
        if (answered)
            found.append(pad);
        // An adapter that stopped answering would cost the full wait at every address.
        if (!synced)
            break;
    }
    return found;
}

void AdapterDriver::FindLstn(int board, const QVector<short>& addresses, QVector<short>& results,
                             int limit)
{
    if (board != 0) {
        finish(ERR, ENEB);
        return;
    }
    QVector<short> wanted;
    for (const short a : addresses) {
        if (a == NOADDR)
            break;
        if (a > 0 && a <= HighestAddress)
            wanted.append(a);
    }
    QVector<short> found{0}; // the adapter itself, the controller
    if (const std::optional<QVector<short>> listeners = adapterListeners()) {
        for (const short a : wanted) {
            if (listeners->contains(a))
                found.append(a);
        }
    } else {
        found += polledListeners(wanted);
    }
    if (!m_link->isUp()) {
        linkDown();
        return;
    }
    reportListeners(found, results, limit);
}
