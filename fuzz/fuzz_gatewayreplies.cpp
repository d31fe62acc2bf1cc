// The VXI-11 gateway binding on arbitrary replies: a scripted gateway answers each call with
// the next part of the input as the call's results, the parts separated by '|', behind a
// well-formed RPC reply header; the input ended, it hangs up. The binding is driven through
// its set-up, the listener search, a query, a serial poll, a wait for a service request and
// the bus-wide calls, and must keep its promises throughout without waiting.
#include "FuzzSupport.h"

#include "gpib/Vxi11Client.h"
#include "gpib/Vxi11Driver.h"

#include <QElapsedTimer>
#include <QtEndian>

#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void put(QByteArray& bytes, quint32 value)
{
    for (const int shift : {24, 16, 8, 0})
        bytes += char(value >> shift);
}

bool connectedPair(int ends[2])
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    ends[0] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = listener >= 0 && ends[0] >= 0 && ::bind(listener, raw, size) == 0 &&
                           ::listen(listener, 1) == 0 && ::getsockname(listener, raw, &size) == 0 &&
                           ::connect(ends[0], raw, size) == 0;
    ends[1] = connected ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    if (listener >= 0)
        ::close(listener);
    if (ends[1] >= 0)
        return true;
    if (ends[0] >= 0)
        ::close(ends[0]);
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Ni488;
    ensureApplication();
    // A TCP connection over loopback, as libtirpc's TCP client takes no other kind of stream.
    int ends[2];
    if (!connectedPair(ends))
        return 0;
    // Every reply is written before the first call, each with the id of the call it answers:
    // libtirpc keeps the next id in wire order and counts it down there.
    constexpr quint32 FirstXid = 0x10000;
    quint32 wire = qToBigEndian(FirstXid + 1);
    QByteArray replies;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QByteArray& results : input.split('|')) {
        QByteArray reply;
        for (const quint32 word : {qFromBigEndian(--wire), 1u, 0u, 0u, 0u, 0u})
            put(reply, word);
        reply += results;
        put(replies, 0x80000000u | quint32(reply.size()));
        replies += reply;
    }
    const bool written =
        ::write(ends[1], replies.constData(), size_t(replies.size())) == ssize_t(replies.size());
    ::shutdown(ends[1], SHUT_WR);
    QString error;
    std::unique_ptr<Vxi11Client> client = Vxi11Client::attach(ends[0], &error);
    if (!written || !client) {
        ::close(ends[1]);
        return 0;
    }
    client->setNextXid(FirstXid);

    SteadyClock clock;
    QElapsedTimer took;
    took.start();
    {
        std::unique_ptr<Vxi11Driver> driver = Vxi11Driver::attach(
            QStringLiteral("vxi11://scripted/gpib0"), std::move(client), clock, &error);
        if (driver) {
            QVector<short> found(15, -1);
            driver->FindLstn(0, {0, 5, 18, NOADDR}, found, 15);
            const GpibStatus search = driver->status();
            if (!(search.ibsta & ERR))
                require(search.ibcntl >= 2 && search.ibcntl <= 3 && found[0] == 0);

            const int ud = driver->ibdev(0, 18, 0, T1s, 1, 0);
            require(ud > 0 || driver->linkLost());
            driver->ibwrt(ud, "ID?");
            // A read keeps its buffer's size and says no more than it holds.
            QByteArray buffer(16, ' ');
            const int read = driver->ibrd(ud, buffer);
            require(buffer.size() == 16);
            require(driver->status().ibcntl >= 0 && driver->status().ibcntl <= 16);
            require(!(read & ERR) || !(read & END));
            char statusByte = 0;
            driver->ibrsp(ud, &statusByte);
            driver->ibtmo(ud, T1ms);
            driver->ibwait(ud, RQS | TIMO);
            driver->ibclr(ud);
            driver->SendIFC(0);
            driver->ibsre(0, 1);
            // A lost gateway fails every call at once, with no listener.
            if (driver->linkLost()) {
                require(driver->ibwrt(ud, "X") == ERR && driver->status().iberr == ENOL);
            }
        }
    }
    // Nothing waited: every reply was there, or the gateway had hung up.
    require(took.elapsed() < 2000);
    ::close(ends[1]);
    return 0;
}
