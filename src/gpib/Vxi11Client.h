#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include <rpc/rpc.h>

// The RPC channel to a LAN/GPIB gateway's VXI-11 core program over TCP: the program's port is
// asked of the gateway's portmapper (version 2, as gateways offer), then every call goes out
// with libtirpc and waits at most the time it is given. Not thread-safe: one caller at a time.
class Vxi11Client {
public:
    static constexpr unsigned long CoreProgram = 0x0607AF;
    static constexpr unsigned long CoreVersion = 1;

    // How a call ended on the wire: answered, not answered in time, or the connection is gone.
    enum class Outcome { Answered, TimedOut, Broken };

    // Connects to the core program at host, whose portmapper listens on portmapperPort; each
    // step waits at most limit seconds. On failure returns nullptr and says why in error.
    static std::unique_ptr<Vxi11Client> connect(const QString& host, quint16 portmapperPort,
                                                double limit, QString* error);
    // Over a stream already connected to a core channel, such as one end of a socket pair;
    // owns fd from now on.
    static std::unique_ptr<Vxi11Client> attach(int fd, QString* error);
    ~Vxi11Client();
    Vxi11Client(const Vxi11Client&) = delete;
    Vxi11Client& operator=(const Vxi11Client&) = delete;

    quint16 corePort() const { return m_corePort; }

    // One call of the core program; result is decoded with out and must be freed with
    // release() when the outcome is Answered.
    Outcome call(unsigned long procedure, xdrproc_t in, const void* arguments, xdrproc_t out,
                 void* result, double seconds);
    static void release(xdrproc_t out, void* result);
    // The transaction id of the next call; each later call takes the one below. A reply that
    // names another id is skipped.
    void setNextXid(quint32 xid);

private:
    Vxi11Client(CLIENT* client, quint16 corePort) : m_client(client), m_corePort(corePort) {}

    CLIENT* m_client;
    quint16 m_corePort;
};
