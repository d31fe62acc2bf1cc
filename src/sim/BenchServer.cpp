#include "sim/BenchServer.h"

#include "gpib/AnalyserCommands.h"

#include <QSocketNotifier>
#include <QTcpSocket>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Split answers leave a few bytes at a time, far enough apart to arrive as packets of their own.
constexpr int TrickleBytes = 3;
constexpr int TrickleMs = 5;

} // namespace

std::optional<BenchServer::Scenario> BenchServer::parse(const QString& words)
{
    Scenario s;
    QStringList benchWords;
    for (const QString& raw : words.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString word = raw.trimmed().toLower();
        if (word == u"mute") {
            s.link.mute = true;
        } else if (word == u"split") {
            s.link.split = true;
        } else if (word == u"no-findlstn") {
            s.link.noFindLstn = true;
        } else if (word == u"bridge-attenuator") {
            s.link.bridgeAttenuator = true;
        } else if (word == u"reconfigured") {
            s.link.reconfigured = true;
        } else if (word.startsWith(QLatin1String("drop="))) {
            bool ok = false;
            s.link.dropAt = word.mid(5).toInt(&ok);
            if (!ok || s.link.dropAt < 1)
                return std::nullopt;
        } else {
            benchWords << raw;
        }
    }
    const std::optional<BenchScenario> bench = BenchScenario::parse(benchWords.join(u','));
    if (!bench)
        return std::nullopt;
    s.bench = *bench;
    return s;
}

QString BenchServer::help()
{
    return QStringLiteral(
               "drop=N               the link drops when the Nth MAMPL? query comes\n"
               "mute                 the adapter takes the connection and never answers\n"
               "split                answers arrive a few bytes at a time\n"
               "no-findlstn          the adapter has no ++findlstn: listeners are found by "
               "polling\n"
               "bridge-attenuator    return loss is measured on an attenuator ended by a "
               "termination\n"
               "reconfigured         the adapter starts as another program left it:\n"
               "                     ") +
           BenchProtocol::describe(BenchProtocol::reconfigured()) + u'\n';
}

BenchServer::BenchServer(Clock& clock, const Scenario& scenario)
    : m_link(scenario.link), m_bench(clock, scenario.bench),
      m_protocol(clock, m_bench,
                 scenario.link.reconfigured ? BenchProtocol::reconfigured()
                                            : BenchProtocol::Settings{},
                 {!scenario.link.noFindLstn, scenario.link.bridgeAttenuator})
{
    m_protocol.output = [this](const QByteArray& bytes) { send(bytes); };
    m_protocol.beforeMessage = [this](const QByteArray& message) {
        if (message == AnalyserCommands::MarkerAmplitude.toLatin1() && m_link.dropAt > 0 &&
            ++m_markerQueries == m_link.dropAt)
            drop();
    };
    m_trickle.setInterval(TrickleMs);
    connect(&m_trickle, &QTimer::timeout, this, &BenchServer::trickle);
    connect(&m_server, &QTcpServer::newConnection, this, &BenchServer::takeConnection);
}

BenchServer::~BenchServer()
{
    if (m_client)
        m_client->abort();
    delete m_terminal;
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

bool BenchServer::listen(quint16 port, QString* error)
{
    if (!m_server.listen(QHostAddress::LocalHost, port)) {
        if (error)
            *error = QStringLiteral("port %1: %2").arg(port).arg(m_server.errorString());
        return false;
    }
    m_address = QStringLiteral("tcp://127.0.0.1:%1").arg(m_server.serverPort());
    return true;
}

bool BenchServer::openTerminal(QString* error)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    const char* path =
        master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
    const int slave = path ? ::open(path, O_RDWR | O_NOCTTY) : -1;
    termios raw{};
    // Raw, so that nothing is echoed back and every byte passes as it is.
    if (slave < 0 || tcgetattr(slave, &raw) != 0 || (cfmakeraw(&raw), false) ||
        tcsetattr(slave, TCSANOW, &raw) != 0) {
        if (error)
            *error =
                QStringLiteral("pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
        return false;
    }
    m_master = master;
    m_slave = slave;
    m_address = QString::fromLocal8Bit(path);
    m_terminal = new QSocketNotifier(m_master, QSocketNotifier::Read);
    connect(m_terminal, &QSocketNotifier::activated, this, &BenchServer::readTerminal);
    return true;
}

void BenchServer::takeConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_dropped) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // One program at a time: the newest connection takes the adapter over.
        if (m_client) {
            m_client->abort();
            m_client->deleteLater();
        }
        m_client = socket;
        m_protocol.discardInput();
        m_output.clear();
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (socket != m_client)
                return;
            receive(socket->readAll());
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void BenchServer::readTerminal()
{
    char bytes[4096];
    const ssize_t n = ::read(m_master, bytes, sizeof bytes);
    if (n > 0)
        receive(QByteArray(bytes, n));
}

void BenchServer::receive(const QByteArray& bytes)
{
    // A mute adapter takes the bytes and does nothing with them.
    if (!m_link.mute && !m_dropped)
        m_protocol.receive(bytes);
}

void BenchServer::send(const QByteArray& bytes)
{
    if (!m_link.split && m_output.isEmpty()) {
        writeOut(bytes);
        return;
    }
    m_output += bytes;
    if (!m_trickle.isActive())
        m_trickle.start();
}

void BenchServer::trickle()
{
    writeOut(m_output.left(TrickleBytes));
    m_output.remove(0, TrickleBytes);
    if (m_output.isEmpty())
        m_trickle.stop();
}

void BenchServer::writeOut(const QByteArray& bytes)
{
    if (m_client) {
        m_client->write(bytes);
        m_client->flush();
    } else if (m_master >= 0) {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::write(m_master, bytes.constData() + done, bytes.size() - done);
            if (n < 0 && errno != EINTR)
                break;
            done += std::max<ssize_t>(n, 0);
        }
    }
}

void BenchServer::drop()
{
    // As an adapter that loses power: the connection goes, and no other is taken.
    m_dropped = true;
    m_protocol.close();
    m_output.clear();
    m_trickle.stop();
    m_server.close();
    if (m_client) {
        m_client->abort();
        m_client->deleteLater();
    }
    delete m_terminal;
    m_terminal = nullptr;
    for (int* fd : {&m_master, &m_slave}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}
