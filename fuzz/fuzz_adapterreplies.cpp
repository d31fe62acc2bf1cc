// The "++" adapter binding on arbitrary replies: a scripted adapter answers each of its own
// commands that asks for something with the next part of the input, the parts separated by
// '|' (an empty part is no answer); the input ended, it hangs up.
// The binding is driven through set-up, the listener search, a query read in short chunks,
// a serial poll and a wait for a service request, and must keep its promises throughout.
#include "FuzzSupport.h"

#include "gpib/AdapterDriver.h"
#include "gpib/AdapterLink.h"

#include <QIODevice>

#include <cstdlib>

namespace {

class ScriptedAdapter : public QIODevice {
public:
    ScriptedAdapter(const uint8_t* data, size_t size)
        : m_replies(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('|'))
    {
        open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    // The answer arrives when the link waits for it, as it would over a wire.
    bool waitForReadyRead(int) override
    {
        if (std::exchange(m_hungUp, false)) {
            emit readChannelFinished();
            return false;
        }
        if (m_output.isEmpty())
            return false;
        emit readyRead();
        return true;
    }
    qint64 bytesAvailable() const override { return m_output.size() + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 size) override { return takeFront(m_output, data, size); }
    qint64 writeData(const char* data, qint64 size) override
    {
        // Escaped bytes belong to the device's message, not to the line structure.
        for (qint64 i = 0; i < size; ++i) {
            if (m_escaped) {
                m_escaped = false;
            } else if (data[i] == '\x1b') {
                m_escaped = true;
            } else if (data[i] == '\n') {
                if (asks(m_line))
                    answer();
                m_line.clear();
                continue;
            }
            m_line += data[i];
        }
        return size;
    }

private:
    static bool asks(const QByteArray& line)
    {
        static const QList<QByteArray> questions{"++ver",   "++eot_char", "++read eoi",
                                                 "++spoll", "++srq",      "++findlstn"};
        return questions.contains(line);
    }

    void answer()
    {
        if (m_next >= m_replies.size()) {
            m_hungUp = !std::exchange(m_finished, true);
            return;
        }
        m_output += m_replies[m_next++];
    }

    QList<QByteArray> m_replies;
    qsizetype m_next = 0;
    QByteArray m_output;
    QByteArray m_line;
    bool m_escaped = false;
    bool m_finished = false;
    bool m_hungUp = false; // said at the next wait
};

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// A call never outlasts its time-out, the link's margin and one answer from the adapter.
void requireTimely(const VirtualClock& clock, double since, double seconds)
{
    require(clock.now() - since <=
            seconds + AdapterDriver::LinkMargin + AdapterDriver::AnswerLimit + 0.1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Ni488;
    ensureApplication();
    VirtualClock clock;
    auto device = std::make_unique<ScriptedAdapter>(data, size);
    std::unique_ptr<AdapterDriver> driver = AdapterDriver::open(
        AdapterLink::attach(std::move(device), QStringLiteral("scripted"), clock));
    if (!driver)
        return 0;

    QVector<short> addresses;
    for (short a = 0; a <= AdapterDriver::HighestAddress; ++a)
        addresses << a;
    addresses << NOADDR;
    QVector<short> found(15, -1);
    driver->FindLstn(0, addresses, found, 15);
    const GpibStatus search = driver->status();
    if (!(search.ibsta & ERR) || search.iberr == ETAB) {
        // The controller first, then distinct addresses from the list, never past the limit.
        require(search.ibcntl >= 1 && search.ibcntl <= 15 && found[0] == 0);
        for (long i = 1; i < search.ibcntl; ++i) {
            require(found[i] > 0 && found[i] <= AdapterDriver::HighestAddress);
            require(!found.mid(0, i).contains(found[i]));
        }
    }

    const int ud = driver->ibdev(0, 18, 0, T1s, 1, 0);
    require(ud > 0 || driver->linkLost()); // a descriptor unless the adapter hung up
    driver->ibclr(ud);
    driver->ibwrt(ud, "ID?\r\n++x\x1b");

    // Short reads hand the answer out in order, each within its buffer, END on the last.
    double since = clock.now();
    qsizetype total = 0;
    for (int chunk = 0; chunk < 2 * int(size) + 2; ++chunk) {
        QByteArray buffer(7, '\0');
        const int status = driver->ibrd(ud, buffer);
        const long count = driver->status().ibcntl;
        requireTimely(clock, since, 1);
        require(count >= 0 && count <= buffer.size());
        total += count;
        require(total <= qsizetype(size));
        if ((status & (ERR | END)) != 0)
            break;
        since = clock.now();
    }

    char statusByte = 0;
    since = clock.now();
    driver->ibrsp(ud, &statusByte);
    requireTimely(clock, since, 1);

    since = clock.now();
    const int waited = driver->ibwait(ud, RQS | TIMO);
    // A request seen is kept for the next poll, with its request bit.
    if ((waited & RQS) && !(waited & ERR)) {
        require(driver->ibrsp(ud, &statusByte) & CMPL);
        require(quint8(statusByte) & 0x40);
    }
    return 0;
}
