#include "remote/RemoteServer.h"

#include "remote/RemoteConnection.h"

#include <QPointer>
#include <QTcpSocket>

namespace {

QString hostPort(const QHostAddress& address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + address.toString() + u']'
                             : address.toString();
    return host + u':' + QString::number(port);
}

} // namespace

RemoteServer::RemoteServer(RemoteBench& bench, QObject* parent) : QObject(parent), m_bench(bench)
{
    connect(&m_server, &QTcpServer::newConnection, this, &RemoteServer::takeConnections);
    connect(&bench, &RemoteBench::runFinished, this, &RemoteServer::runEnded);
    connect(&bench, &RemoteBench::connectionError, this,
            [this](int connection, int code, const QString& text) {
                if (RemoteConnection* c = m_connections.value(connection))
                    c->pushError(code, text);
            });
    connect(&bench, &RemoteBench::systemError, this, [this](const QString& text) {
        for (RemoteConnection* c : std::as_const(m_connections))
            c->pushError(Scpi::SystemError, text);
    });
}

RemoteServer::~RemoteServer()
{
    const QList<RemoteConnection*> connections = m_connections.values();
    m_connections.clear();
    qDeleteAll(connections);
}

bool RemoteServer::listen(const QHostAddress& address, quint16 port, QString* error)
{
    if (m_server.listen(address, port))
        return true;
    if (error)
        *error = QStringLiteral("remote control cannot listen on %1: %2")
                     .arg(hostPort(address, port), m_server.errorString());
    return false;
}

QString RemoteServer::listeningLine() const
{
    return QStringLiteral("remote control on ") +
           hostPort(m_server.serverAddress(), m_server.serverPort());
}

QString RemoteServer::exposureWarning() const
{
    if (m_server.serverAddress().isLoopback())
        return {};
    return QStringLiteral("Remote control on %1 has no authentication: anyone who can reach "
                          "it can run the bench.")
        .arg(hostPort(m_server.serverAddress(), m_server.serverPort()));
}

RemoteBench::Refusal RemoteServer::initiate(int connection, bool promptsOn)
{
    RemoteBench::Refusal refusal = m_bench.initiate(connection, promptsOn);
    m_runInProgress = !refusal.refused();
    return refusal;
}

void RemoteServer::takeConnections()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_connections.size() >= MaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        addConnection(socket);
    }
}

void RemoteServer::addConnection(QIODevice* device)
{
    const int id = m_nextId++;
    auto* connection = new RemoteConnection(id, device, *this);
    m_connections.insert(id, connection);
    connect(connection, &RemoteConnection::closed, this, &RemoteServer::forget);
    connection->serve();
}

void RemoteServer::runEnded()
{
    m_runInProgress = false;
    // Now, before any client can start the next run.
    for (RemoteConnection* connection : std::as_const(m_connections))
        connection->runEnded();
    // Later, from the event loop: every other door hears of the end first, and the next line
    // of a waiting client may well start another run.
    QMetaObject::invokeMethod(this, &RemoteServer::resumeWaiting, Qt::QueuedConnection);
}

void RemoteServer::resumeWaiting()
{
    // Connections waiting in *OPC? or *WAI go on; serving one may close another.
    QList<QPointer<RemoteConnection>> waiting;
    for (RemoteConnection* connection : std::as_const(m_connections))
        waiting << connection;
    for (const QPointer<RemoteConnection>& connection : std::as_const(waiting)) {
        if (connection)
            connection->serve();
    }
}

void RemoteServer::forget(RemoteConnection* connection)
{
    m_connections.remove(connection->id());
    // Later: it may be deep inside its own handler.
    connection->deleteLater();
}
