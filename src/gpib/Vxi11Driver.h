#pragma once

#include "gpib/DescriptorDriver.h"

#include <QHash>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class Clock;
class Vxi11Client;

// A LAN/GPIB gateway that speaks VXI-11, behind NI-488.2 semantics: one link per instrument
// address, made when the program first talks there; bus-wide calls go to the interface's own
// link. Every call waits at most its descriptor's time-out plus a margin for the network. The
// interrupt channel is not used, so the gateway never has to connect back. A connection that
// breaks, or a gateway that stops answering, fails every later call at once with ENOL until
// reconnect() opens it again.
class Vxi11Driver : public DescriptorDriver {
public:
    static constexpr quint16 DefaultPortmapperPort = 111;
    // Longest wait for the portmapper, a link's creation or its end.
    static constexpr double AnswerLimit = 3.0;
    // Added to a call's io_timeout: the gateway starts counting only when the call arrives.
    static constexpr double NetworkMargin = 1.0;
    // The listener search's serial poll, and the shortest one a service-request wait makes.
    static constexpr unsigned long PollTimeoutMs = 1000;

    // What --adapter vxi11://HOST[:PORTMAPPER-PORT][/INTERFACE[,PAD]] says.
    struct Address {
        QString host;
        quint16 portmapperPort = DefaultPortmapperPort;
        QString interfaceName = QStringLiteral("gpib0");
        int pad = -1; // the only address to search; -1: all
    };
    static bool isGatewayAddress(const QString& text);
    static std::optional<Address> parse(const QString& text, QString* error = nullptr);

    // Reaches the gateway and opens its interface link. On failure returns nullptr and, if
    // error is given, says why.
    static std::unique_ptr<Vxi11Driver> open(const QString& address, Clock& clock,
                                             QString* error = nullptr);
    // Likewise over a channel already open, such as a scripted gateway; address is used for
    // its interface, its PAD and messages.
    static std::unique_ptr<Vxi11Driver> attach(const QString& address,
                                               std::unique_ptr<Vxi11Client> client, Clock& clock,
                                               QString* error = nullptr);
    ~Vxi11Driver() override;

    QString name() const override;
    bool linkLost() const override { return m_lost; }
    bool reconnect() override;
    QString linkAddress() const override { return m_text; }
    Refusal refusal() const override { return m_refusal; }
    void traceProtocol(std::function<void(const QByteArray&)> line) override
    {
        m_trace = std::move(line);
    }

    int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override;
    int ibpad(int ud, int pad) override;
    int ibtmo(int ud, int tmo) override;
    int ibask(int ud, int option, int* value) override;
    int ibclr(int ud) override;
    int ibrsp(int ud, char* statusByte) override;
    int ibwrt(int ud, const QByteArray& data) override;
    int ibrd(int ud, QByteArray& buffer) override;
    int ibwait(int ud, int mask) override;
    int ibsre(int board, int value) override;
    void SendIFC(int board) override;
    // A serial poll of each address through its own link; a silent one loses its link at once.
    void FindLstn(int board, const QVector<short>& addresses, QVector<short>& results,
                  int limit) override;

    // The board's ibsta and iberr for a VXI-11 error code answered to a call.
    enum class Call { Write, Read, Poll, Clear, Command };
    struct Mapped {
        int ibsta;
        int iberr;
    };
    static Mapped boardError(Call call, long code);

private:
    struct Link {
        long lid = 0;
        unsigned long maxRecvSize = 0;
    };
    // A call answered with a VXI-11 error code; nothing when the link or the gateway failed.
    struct Answer {
        long error = 0;
    };

    Vxi11Driver(const QString& text, const Address& address, std::unique_ptr<Vxi11Client> client,
                Clock& clock);
    int linkDown() { return finish(Ni488::ERR, Ni488::ENOL); }
    // The outcome of a call that did not end with an answer: the gateway is lost (broken, or
    // not answering outside the listener search).
    void noAnswer(bool timedOut, bool searching);
    std::optional<Link> createLink(const QString& device, long* error, bool searching = false);
    void destroyLink(long lid);
    // The link of the instrument at pad, made now if need be; nothing with *error set when the
    // gateway refused it, nothing with *error 0 when the gateway is lost.
    std::optional<Link> linkAt(int pad, long* error);
    // ud's descriptor while the gateway is there; null, with the call's result, otherwise.
    const Descriptor* usable(int ud, int* result);
    // The link of d's instrument, made if need be; nothing, with the call's result, otherwise.
    std::optional<Link> linkFor(const Descriptor& d, Call call, int* result);
    std::optional<long> readStatusByte(long lid, unsigned long ioTimeoutMs, quint8* stb,
                                       bool searching = false);
    std::optional<long> docmd(long cmd, const QByteArray& data);
    int failed(Call call, long code);
    unsigned long ioTimeoutMs(int tmo) const;
    void trace(const QByteArray& line) const
    {
        if (m_trace)
            m_trace("vxi11 " + line);
    }

    QString m_text;
    Address m_address;
    std::unique_ptr<Vxi11Client> m_client;
    Clock& m_clock;
    long m_interfaceLink = 0;
    std::map<int, Link> m_links;      // by instrument address
    QHash<int, quint8> m_statusBytes; // polled while waiting for a request, by address
    std::atomic<bool> m_lost = false; // read from other threads by linkLost()
    Refusal m_refusal;
    std::function<void(const QByteArray&)> m_trace;
};
