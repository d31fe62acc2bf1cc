#pragma once

#include "sim/BenchProtocol.h"
#include "sim/BenchScenario.h"
#include "sim/SimulatedBench.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

#include <optional>

class Clock;
class QSocketNotifier;
class QTcpSocket;

// The transport of velmora-bench: the simulated bench behind the "++" protocol (see
// BenchProtocol), served on a TCP port of the loopback interface or on a pseudo-terminal,
// so the adapter binding can be tried without hardware. The link's own faults live here:
// answers that trickle out, a link that drops, an adapter that never answers.
class BenchServer : public QObject {
    Q_OBJECT
public:
    // What the served adapter does beyond the bench's scenario.
    struct LinkScenario {
        int dropAt = 0;     // the link drops when the Nth MAMPL? query comes; 0: never
        bool mute = false;  // takes the connection and never answers
        bool split = false; // answers trickle out a few bytes at a time
        bool noFindLstn = false;
        bool bridgeAttenuator = false; // a return-loss device is an attenuator, terminated
        bool reconfigured = false;     // starts with BenchProtocol::reconfigured()
    };
    struct Scenario {
        BenchScenario bench;
        LinkScenario link;
    };

    // The bench's words and the link's, comma-separated; nothing on an unknown word.
    static std::optional<Scenario> parse(const QString& words);
    // The link's words, one a line, as BenchScenario::help() gives the bench's.
    static QString help();

    BenchServer(Clock& clock, const Scenario& scenario);
    ~BenchServer() override;

    // 127.0.0.1 only; port 0 picks a free one.
    bool listen(quint16 port, QString* error = nullptr);
    bool openTerminal(QString* error = nullptr);
    // What the program's --adapter takes: tcp://127.0.0.1:PORT or the terminal's path.
    QString address() const { return m_address; }

    SimulatedBench& bench() { return m_bench; }
    BenchProtocol& protocol() { return m_protocol; }

private:
    void takeConnection();
    void readTerminal();
    void receive(const QByteArray& bytes);
    void send(const QByteArray& bytes);
    void writeOut(const QByteArray& bytes);
    void trickle();
    void drop();

    LinkScenario m_link;
    SimulatedBench m_bench;
    BenchProtocol m_protocol;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    int m_master = -1;
    int m_slave = -1; // held open so the terminal stays usable between programs
    QSocketNotifier* m_terminal = nullptr;
    QString m_address;

    QByteArray m_output; // waiting to trickle out
    QTimer m_trickle;
    bool m_dropped = false;
    int m_markerQueries = 0;
};
