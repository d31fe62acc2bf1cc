#pragma once

#include "remote/RemoteBench.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

class RemoteConnection;

// Answers SCPI over TCP for the bench: one message a line, each connection with its own input
// order and error queue. The protocol has no authentication, so it listens on loopback unless
// told otherwise.
class RemoteServer : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 DefaultPort = 5025;
    // More connections than this are closed as they come.
    static constexpr int MaxConnections = 100;

    explicit RemoteServer(RemoteBench& bench, QObject* parent = nullptr);
    ~RemoteServer() override;

    // Port 0 picks a free one. The error names the address and says why.
    bool listen(const QHostAddress& address, quint16 port, QString* error = nullptr);
    // The line for stdout once listening: "remote control on 127.0.0.1:5025".
    QString listeningLine() const;
    // For the status line when others than this machine can connect; empty on loopback.
    QString exposureWarning() const;
    quint16 port() const { return m_server.serverPort(); }
    int connectionCount() const { return int(m_connections.size()); }

    // For the connections: a run is in progress from an accepted INITiate until the bench
    // reports its end, and while the bench runs one of its own.
    RemoteBench& bench() { return m_bench; }
    bool busy() const { return m_runInProgress || m_bench.busy(); }
    RemoteBench::Refusal initiate(int connection, bool promptsOn);

    // Serves a client on an open stream, which it takes over: each accepted socket, or a
    // client's bytes from elsewhere.
    void addConnection(QIODevice* device);

private:
    void takeConnections();
    void runEnded();
    void resumeWaiting();
    void forget(RemoteConnection* connection);

    RemoteBench& m_bench;
    QTcpServer m_server;
    QHash<int, RemoteConnection*> m_connections;
    int m_nextId = 1;
    bool m_runInProgress = false;
};
