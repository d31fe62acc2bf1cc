#include "sim/BenchServer.h"

#include "gpib/AnalyserCommands.h"
#include "base/Clock.h"
#include "base/NumberText.h"

#include <QSocketNotifier>
#include <QTcpSocket>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

using namespace Ni488;

namespace {

constexpr int HighestAddress = 30;
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
        "no-findlstn          the adapter has no ++findlstn: listeners are found by polling\n"
        "bridge-attenuator    return loss is measured on an attenuator ended by a termination\n");
}

BenchServer::BenchServer(Clock& clock, const Scenario& scenario)
    : m_clock(clock), m_link(scenario.link), m_bench(clock, scenario.bench)
{
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
        m_input.clear();
        m_output.clear();
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (socket != m_client)
                return;
            m_input += socket->readAll();
            serve();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void BenchServer::readTerminal()
{
    char bytes[4096];
    const ssize_t n = ::read(m_master, bytes, sizeof bytes);
    if (n > 0) {
        m_input.append(bytes, n);
        serve();
    }
}

void BenchServer::serve()
{
    // The bench waits for sweeps in the event loop, so more input may come meanwhile: it
    // queues up here and is taken in order by the outer call.
    if (m_serving)
        return;
    m_serving = true;
    while (!m_dropped) {
        if (m_link.mute) {
            m_input.clear();
            break;
        }
        QByteArray line;
        bool literalStart = false;
        bool complete = false;
        qsizetype i = 0;
        for (; i < m_input.size(); ++i) {
            const char c = m_input.at(i);
            if (c == '\x1b') {
                if (i + 1 >= m_input.size())
                    break;
                literalStart = literalStart || line.size() < 2;
                line.append(m_input.at(++i));
            } else if (c == '\r' || c == '\n') {
                complete = true;
                break;
            } else {
                line.append(c);
            }
        }
        if (!complete)
            break;
        m_input.remove(0, i + 1);
        if (line.isEmpty())
            continue;
        if (!literalStart && line.startsWith("++"))
            command(line.mid(2));
        else
            message(line);
    }
    m_serving = false;
}

int BenchServer::descriptorAt(int pad)
{
    // The adapter's read time-out, as the nearest time-out code that is not shorter.
    const int ms = m_settings.value("read_tmo_ms");
    int tmo = T10us;
    while (tmo < T1000s && timeoutSeconds(tmo) * 1000 < ms)
        ++tmo;
    auto it = m_descriptors.find(pad);
    if (it == m_descriptors.end())
        it = m_descriptors.emplace(pad, m_bench.ibdev(0, pad, 0, tmo, 1, 0)).first;
    m_bench.ibtmo(it->second, tmo);
    return it->second;
}

void BenchServer::command(const QByteArray& line)
{
    const qsizetype blank = line.indexOf(' ');
    const QByteArray name = (blank < 0 ? line : line.left(blank)).toLower();
    const QByteArray argument = blank < 0 ? QByteArray() : line.mid(blank + 1).trimmed();
    bool numeric = false;
    const int value = argument.toInt(&numeric);
    if (name == "ver") {
        reply("Velmora bench GPIB adapter, version " VELMORA_VERSION);
    } else if (name == "addr") {
        if (argument.isEmpty())
            reply(QByteArray::number(m_pad));
        else if (numeric && value >= 0 && value <= HighestAddress)
            m_pad = value;
    } else if (name == "read") {
        readAnswer();
    } else if (name == "spoll") {
        char statusByte = 0;
        const int pad = numeric ? value : m_pad;
        // A device that does not answer leaves the adapter silent.
        if (!(m_bench.ibrsp(descriptorAt(pad), &statusByte) & ERR))
            reply(QByteArray::number(quint8(statusByte)));
    } else if (name == "srq") {
        reply(serviceRequested() ? "1" : "0");
    } else if (name == "clr") {
        m_bench.ibclr(descriptorAt(m_pad));
    } else if (name == "ifc") {
        m_bench.SendIFC(0);
    } else if (name == "findlstn" && !m_link.noFindLstn) {
        reply(listeners());
    } else if (m_settings.contains(name) && (argument.isEmpty() || numeric)) {
        if (argument.isEmpty())
            reply(QByteArray::number(m_settings.value(name)));
        else
            m_settings[name] = value;
    } else {
        reply("Unrecognized command");
    }
}

void BenchServer::message(const QByteArray& line)
{
    if (line == AnalyserCommands::MarkerAmplitude.toLatin1() && m_link.dropAt > 0 &&
        ++m_markerQueries == m_link.dropAt) {
        drop();
        return;
    }
    connectWhatIsAsked(line);
    m_bench.ibwrt(descriptorAt(m_pad), line);
}

void BenchServer::readAnswer()
{
    const int ud = descriptorAt(m_pad);
    QByteArray answer;
    bool end = false;
    while (!end) {
        QByteArray buffer(512, '\0');
        const int ibsta = m_bench.ibrd(ud, buffer);
        answer += buffer.left(m_bench.status().ibcntl);
        if (ibsta & ERR)
            break;
        end = ibsta & END;
    }
    // On a time-out the adapter passes on what came and adds no end mark.
    if (end && m_settings.value("eot_enable"))
        answer += char(m_settings.value("eot_char"));
    if (!answer.isEmpty())
        send(answer);
}

bool BenchServer::serviceRequested()
{
    for (const int pad : m_bench.instrumentAddresses()) {
        // Without a wait condition the bench reports the request at once.
        if (m_bench.ibwait(descriptorAt(pad), 0) & RQS)
            return true;
    }
    return false;
}

QByteArray BenchServer::listeners()
{
    QVector<short> addresses;
    for (short a = 1; a <= HighestAddress; ++a)
        addresses << a;
    addresses << NOADDR;
    QVector<short> found;
    m_bench.FindLstn(0, addresses, found, HighestAddress + 1);
    QByteArrayList list;
    if (!(m_bench.status().ibsta & ERR)) {
        for (qsizetype i = 0; i < qsizetype(m_bench.status().ibcntl); ++i) {
            if (found.at(i) != 0)
                list << QByteArray::number(found.at(i));
        }
    }
    return list.join(',');
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

void BenchServer::connectWhatIsAsked(const QByteArray& message)
{
    using namespace AnalyserCommands;
    const QString text = QString::fromLatin1(message);
    for (const QString& part : text.split(u';')) {
        if (part.trimmed().startsWith(QLatin1String("REFLVL ")))
            m_level = LeadingNumber(part.trimmed().mid(7));
    }
    if (text == Reset) {
        m_kind = Kind::None;
    } else if (text == ReturnLossSetup || text == AttenuationSetup) {
        m_kind = text == ReturnLossSetup ? Kind::ReturnLoss : Kind::Attenuation;
        m_referenceNext = true;
    } else if (text == Signal && m_kind != Kind::None) {
        // Each prompt is answered before the sweep that needs its connection.
        const bool reference = std::exchange(m_referenceNext, false);
        if (m_kind == Kind::ReturnLoss) {
            m_bench.connect(reference ? Connection::bridgeOpen()
                                      : Connection::bridgeDut(m_link.bridgeAttenuator
                                                                  ? Connection::Dut::Attenuator
                                                                  : Connection::Dut::Termination));
        } else if (reference) {
            m_referenceLevel = m_level;
            m_bench.connect(Connection::through());
        } else {
            // The program lowers the reference level by the nominal attenuation.
            m_bench.connect(Connection::attenuatorDut(m_referenceLevel - m_level));
        }
    }
}
