#pragma once

#include "sim/BenchProtocol.h"
#include "sim/BenchScenario.h"
#include "sim/SimulatedBench.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

#include <map>
#include <optional>

class Clock;
class QTcpSocket;

// velmora-bench's LAN/GPIB gateway: the simulated bench behind interface gpib0, reached over
// VXI-11 (ONC RPC over TCP) on 127.0.0.1, with the gateway's own portmapper (version 2) that
// tells the core channel's port. A link to an address with no instrument is made as a real
// gateway makes it; the first write there fails with error 17, a read or poll with 15. The
// abort and interrupt channels are not served.
class GatewayServer : public QObject {
    Q_OBJECT
public:
    // What the served gateway does beyond the bench's scenario.
    struct Faults {
        int dropAt = 0;          // the gateway goes off when the Nth MAMPL? query comes; 0: never
        bool mute = false;       // takes connections and never answers
        bool slowAbsent = false; // a read or poll at an empty address waits out its io_timeout
        long refuseLinks = 0;    // the error every instrument link is refused with; 0: none
    };
    struct Scenario {
        BenchScenario bench;
        Faults faults;
    };
    static constexpr quint16 DefaultPortmapperPort = 111;

    // The bench's words and the gateway's, comma-separated; nothing on an unknown word.
    static std::optional<Scenario> parse(const QString& words);
    static QString help();

    GatewayServer(Clock& clock, const Scenario& scenario);
    ~GatewayServer() override;

    // The portmapper on portmapperPort (0: any free one), the core channel on a free port.
    bool listen(quint16 portmapperPort, QString* error = nullptr);
    // What the program's --adapter takes: vxi11://127.0.0.1:PORTMAPPER-PORT.
    QString address() const;
    quint16 portmapperPort() const { return m_portmapper.serverPort(); }
    quint16 corePort() const { return m_core.serverPort(); }

    SimulatedBench& bench() { return m_bench; }
    // Every core call that came, as its procedure number and its argument bytes.
    struct Call {
        unsigned long procedure;
        QByteArray arguments;
    };
    QList<Call> calls() const { return m_calls; }

private:
    struct Link {
        int pad = -1;       // -1: the interface
        QByteArray unended; // a message written without END so far
    };
    void take(QTcpServer& server, bool core);
    void receive(QTcpSocket* socket, bool core);
    // The reply's bytes (record mark included) to one call message; empty when none is due.
    QByteArray answer(const QByteArray& message, bool core);
    QByteArray portmapperCall(unsigned long procedure, const QByteArray& arguments, bool* known);
    QByteArray coreCall(unsigned long procedure, const QByteArray& arguments, bool* known,
                        bool* garbage);
    int descriptorAt(int pad, unsigned long ioTimeoutMs);
    bool present(int pad) const;
    void drop();

    Faults m_faults;
    SimulatedBench m_bench;
    BenchProtocol m_hands; // only its operator, who connects what each message asks for
    QTcpServer m_portmapper;
    QTcpServer m_core;
    QList<QPointer<QTcpSocket>> m_clients;
    QHash<QTcpSocket*, QByteArray> m_input;
    std::map<long, Link> m_links; // by link id
    long m_nextLink = 1;
    std::map<int, int> m_descriptors; // by address
    QList<Call> m_calls;
    int m_markerQueries = 0;
    bool m_dropped = false;
};
