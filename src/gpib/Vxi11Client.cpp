#include "gpib/Vxi11Client.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <rpc/pmap_prot.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

timeval interval(double seconds)
{
    const double whole = std::floor(std::max(seconds, 0.0));
    return {time_t(whole), suseconds_t((std::max(seconds, 0.0) - whole) * 1e6)};
}

// A TCP connection to address that is made, refused or given up within limit seconds: a
// blocking connect to a host that drops packets would wait minutes. -1 and a reason on failure.
int connectWithin(const sockaddr_in& address, double limit, QString* error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (result != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, int(std::lround(limit * 1000)));
        int failure = 0;
        socklen_t size = sizeof failure;
        if (ready == 0) {
            *error = QStringLiteral("no answer to the connection request within %1 s").arg(limit);
            ::close(fd);
            return -1;
        }
        if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size) != 0)
            failure = errno;
        errno = failure;
        result = failure == 0 ? 0 : -1;
    }
    if (result != 0) {
        *error = errno == ECONNREFUSED ? QStringLiteral("the connection was refused")
                                       : QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return -1;
    }
    // libtirpc reads and writes the socket blocking, bounded by each call's time-out.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// An RPC client of program over a new connection to address, or nullptr and a reason.
CLIENT* clientAt(sockaddr_in address, unsigned long program, unsigned long version, double limit,
                 QString* error)
{
    int fd = connectWithin(address, limit, error);
    if (fd < 0)
        return nullptr;
    CLIENT* client = clnttcp_create(&address, program, version, &fd, 0, 0);
    if (!client) {
        *error =
            QStringLiteral("no RPC client: %1").arg(QString::fromLocal8Bit(clnt_spcreateerror("")));
        ::close(fd);
        return nullptr;
    }
    clnt_control(client, CLSET_FD_CLOSE, nullptr);
    return client;
}

} // namespace

std::unique_ptr<Vxi11Client> Vxi11Client::connect(const QString& host, quint16 portmapperPort,
                                                  double limit, QString* error)
{
    // A gateway that closes its end makes the next write raise SIGPIPE, which would end the
    // program instead of failing the call.
    std::signal(SIGPIPE, SIG_IGN);

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int lookup = ::getaddrinfo(host.toLatin1().constData(), nullptr, &hints, &found);
    if (lookup != 0 || !found) {
        *error = QStringLiteral("the host %1 is not known (%2)")
                     .arg(host, QString::fromLocal8Bit(gai_strerror(lookup)));
        return nullptr;
    }
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    ::freeaddrinfo(found);

    address.sin_port = htons(portmapperPort);
    QString reason;
    CLIENT* portmapper = clientAt(address, PMAPPROG, PMAPVERS, limit, &reason);
    if (!portmapper) {
        *error = QStringLiteral("portmapper on port %1: %2").arg(portmapperPort).arg(reason);
        return nullptr;
    }
    pmap query{CoreProgram, CoreVersion, IPPROTO_TCP, 0};
    u_long port = 0;
    const clnt_stat asked = clnt_call(portmapper, PMAPPROC_GETPORT, xdrproc_t(xdr_pmap),
                                      reinterpret_cast<char*>(&query), xdrproc_t(xdr_u_long),
                                      reinterpret_cast<char*>(&port), interval(limit));
    clnt_destroy(portmapper);
    if (asked != RPC_SUCCESS) {
        *error = asked == RPC_TIMEDOUT
                     ? QStringLiteral("the gateway does not answer (no reply from its portmapper "
                                      "on port %1 within %2 s)")
                           .arg(portmapperPort)
                           .arg(limit)
                     : QStringLiteral("portmapper on port %1: %2")
                           .arg(portmapperPort)
                           .arg(QString::fromLocal8Bit(clnt_sperrno(asked)));
        return nullptr;
    }
    if (port == 0 || port > 65535) {
        *error = QStringLiteral("the portmapper on port %1 knows no VXI-11 core program over TCP "
                                "(not a VXI-11 gateway?)")
                     .arg(portmapperPort);
        return nullptr;
    }
    address.sin_port = htons(quint16(port));
    CLIENT* core = clientAt(address, CoreProgram, CoreVersion, limit, &reason);
    if (!core) {
        *error = QStringLiteral("core channel on port %1: %2").arg(port).arg(reason);
        return nullptr;
    }
    return std::unique_ptr<Vxi11Client>(new Vxi11Client(core, quint16(port)));
}

std::unique_ptr<Vxi11Client> Vxi11Client::attach(int fd, QString* error)
{
    std::signal(SIGPIPE, SIG_IGN);
    // The peer's address, whose port keeps libtirpc from asking a portmapper for one.
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size);
    if (peer.sin_port == 0)
        peer.sin_port = htons(1);
    CLIENT* client = clnttcp_create(&peer, CoreProgram, CoreVersion, &fd, 0, 0);
    if (!client) {
        *error = QString::fromLocal8Bit(clnt_spcreateerror("no RPC client"));
        ::close(fd);
        return nullptr;
    }
    clnt_control(client, CLSET_FD_CLOSE, nullptr);
    return std::unique_ptr<Vxi11Client>(new Vxi11Client(client, 0));
}

void Vxi11Client::setNextXid(quint32 xid)
{
    u_int32_t next = xid;
    clnt_control(m_client, CLSET_XID, reinterpret_cast<char*>(&next));
}

Vxi11Client::~Vxi11Client()
{
    clnt_destroy(m_client);
}

Vxi11Client::Outcome Vxi11Client::call(unsigned long procedure, xdrproc_t in, const void* arguments,
                                       xdrproc_t out, void* result, double seconds)
{
    const clnt_stat status =
        clnt_call(m_client, procedure, in, static_cast<char*>(const_cast<void*>(arguments)), out,
                  static_cast<char*>(result), interval(seconds));
    if (status == RPC_SUCCESS)
        return Outcome::Answered;
    return status == RPC_TIMEDOUT ? Outcome::TimedOut : Outcome::Broken;
}

void Vxi11Client::release(xdrproc_t out, void* result)
{
    xdr_free(out, static_cast<char*>(result));
}
