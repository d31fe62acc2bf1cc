#include "sim/GatewayServer.h"

#include "gpib/AnalyserCommands.h"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QtEndian>

#include <rpc/rpc.h>

#include "vxi11.h"

using namespace Ni488;

namespace {

constexpr unsigned long PortmapperProgram = 100000;
constexpr unsigned long PortmapperVersion = 2;
constexpr unsigned long GetPort = 3;
constexpr unsigned long TcpProtocol = 6;
// Accept states of a reply.
constexpr quint32 Success = 0;
constexpr quint32 ProgramUnavailable = 1;
constexpr quint32 ProcedureUnavailable = 3;
constexpr quint32 GarbageArguments = 4;
// VXI-11 error codes the gateway answers with.
constexpr long NoError = 0;
constexpr long InvalidLink = 4;
constexpr long NotSupported = 8;
constexpr long IoTimeout = 15;
constexpr long IoError = 17;
constexpr long InvalidAddress = 21;
constexpr long EndFlag = 0x08;
constexpr long RequestCountReason = 0x01;
constexpr long EndReason = 0x04;
constexpr long CommandIfc = 0x020010;
constexpr long CommandRen = 0x020003;
// Larger messages come in pieces; larger records are no VXI-11 client's.
constexpr unsigned long MaxReceiveSize = 4096;
constexpr qsizetype LongestRecord = 1 << 20;
constexpr unsigned long LongestRead = 65536;

template <typename T> xdrproc_t xdr(bool_t (*routine)(XDR*, T*))
{
    return reinterpret_cast<xdrproc_t>(routine);
}

template <typename T> bool decode(const QByteArray& bytes, bool_t (*routine)(XDR*, T*), T* value)
{
    XDR x;
    xdrmem_create(&x, const_cast<char*>(bytes.constData()), u_int(bytes.size()), XDR_DECODE);
    const bool ok = routine(&x, value);
    xdr_destroy(&x);
    return ok;
}

template <typename T> QByteArray encode(bool_t (*routine)(XDR*, T*), const T& value)
{
    QByteArray bytes(int(LongestRead + 1024), '\0');
    XDR x;
    xdrmem_create(&x, bytes.data(), u_int(bytes.size()), XDR_ENCODE);
    const bool ok = routine(&x, const_cast<T*>(&value));
    bytes.truncate(ok ? int(xdr_getpos(&x)) : 0);
    xdr_destroy(&x);
    return bytes;
}

void put(QByteArray& bytes, quint32 value)
{
    bytes += char(value >> 24);
    bytes += char(value >> 16);
    bytes += char(value >> 8);
    bytes += char(value);
}

quint32 get(const QByteArray& bytes, qsizetype at)
{
    return qFromBigEndian<quint32>(bytes.constData() + at);
}

Device_Error deviceError(long code)
{
    return Device_Error{code};
}

} // namespace

std::optional<GatewayServer::Scenario> GatewayServer::parse(const QString& words)
{
    Scenario s;
    QStringList benchWords;
    for (const QString& raw : words.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString word = raw.trimmed().toLower();
        bool ok = true;
        if (word == u"mute") {
            s.faults.mute = true;
        } else if (word == u"slow-absent") {
            s.faults.slowAbsent = true;
        } else if (word.startsWith(QLatin1String("drop="))) {
            s.faults.dropAt = word.mid(5).toInt(&ok);
            ok = ok && s.faults.dropAt >= 1;
        } else if (word.startsWith(QLatin1String("refuse-links="))) {
            s.faults.refuseLinks = word.mid(13).toLong(&ok);
            ok = ok && s.faults.refuseLinks >= 1;
        } else {
            benchWords << raw;
        }
        if (!ok)
            return std::nullopt;
    }
    const std::optional<BenchScenario> bench = BenchScenario::parse(benchWords.join(u','));
    if (!bench)
        return std::nullopt;
    s.bench = *bench;
    return s;
}

QString GatewayServer::help()
{
    return QStringLiteral(
        "drop=N               the gateway goes off when the Nth MAMPL? query comes\n"
        "mute                 the gateway takes connections and never answers\n"
        "slow-absent          a read or serial poll at an empty address waits out its "
        "io_timeout\n"
        "refuse-links=N       every link to an instrument is refused with VXI-11 error N\n"
        "                     (9: out of links, 11: locked by another program)\n");
}

GatewayServer::GatewayServer(Clock& clock, const Scenario& scenario)
    : m_faults(scenario.faults), m_bench(clock, scenario.bench),
      m_hands(clock, m_bench, BenchProtocol::Settings{}, BenchProtocol::Options{})
{
    connect(&m_portmapper, &QTcpServer::newConnection, this, [this] { take(m_portmapper, false); });
    connect(&m_core, &QTcpServer::newConnection, this, [this] { take(m_core, true); });
}

GatewayServer::~GatewayServer()
{
    for (const QPointer<QTcpSocket>& client : std::as_const(m_clients)) {
        if (client)
            client->abort();
    }
}

bool GatewayServer::listen(quint16 portmapperPort, QString* error)
{
    for (auto [server, port] : {std::pair{&m_portmapper, portmapperPort}, {&m_core, quint16(0)}}) {
        if (!server->listen(QHostAddress::LocalHost, port)) {
            if (error)
                *error = QStringLiteral("port %1: %2").arg(port).arg(server->errorString());
            m_portmapper.close();
            return false;
        }
    }
    return true;
}

QString GatewayServer::address() const
{
    return QStringLiteral("vxi11://127.0.0.1:%1").arg(portmapperPort());
}

void GatewayServer::take(QTcpServer& server, bool core)
{
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        if (m_dropped) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_clients.append(socket);
        connect(socket, &QTcpSocket::readyRead, this,
                [this, socket, core] { receive(socket, core); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_input.remove(socket);
            socket->deleteLater();
        });
    }
}

void GatewayServer::receive(QTcpSocket* socket, bool core)
{
    QByteArray& input = m_input[socket];
    input += socket->readAll();
    if (m_faults.mute) {
        input.clear();
        return;
    }
    // Record marking: each fragment has a 4-byte length, its top bit set on the last one.
    QByteArray message;
    qsizetype at = 0;
    while (input.size() - at >= 4) {
        const quint32 mark = get(input, at);
        const qsizetype length = qsizetype(mark & 0x7fffffffu);
        if (length > LongestRecord || message.size() + length > LongestRecord) {
            socket->abort();
            return;
        }
        if (input.size() - at - 4 < length)
            break;
        message += input.mid(at + 4, length);
        at += 4 + length;
        if (!(mark & 0x80000000u))
            continue;
        input.remove(0, at);
        at = 0;
        const QByteArray reply = answer(std::exchange(message, {}), core);
        if (m_dropped)
            return;
        if (!reply.isEmpty())
            socket->write(reply);
    }
}

QByteArray GatewayServer::answer(const QByteArray& message, bool core)
{
    // xid, CALL, RPC version 2, program, version, procedure, credentials, verifier.
    if (message.size() < 24 || get(message, 4) != 0 || get(message, 8) != 2)
        return {};
    const quint32 xid = get(message, 0);
    const unsigned long program = get(message, 12);
    const unsigned long version = get(message, 16);
    const unsigned long procedure = get(message, 20);
    qsizetype at = 24;
    for (int opaque = 0; opaque < 2; ++opaque) {
        if (message.size() - at < 8)
            return {};
        const quint32 length = get(message, at + 4);
        if (length > 400 || message.size() - at - 8 < qsizetype((length + 3) & ~3u))
            return {};
        at += 8 + ((length + 3) & ~3u);
    }
    const QByteArray arguments = message.mid(at);

    bool known = false;
    bool garbage = false;
    QByteArray results;
    quint32 state = ProgramUnavailable;
    if (!core && program == PortmapperProgram && version == PortmapperVersion) {
        results = portmapperCall(procedure, arguments, &known);
        state = known ? Success : ProcedureUnavailable;
    } else if (core && program == DEVICE_CORE && version == DEVICE_CORE_VERSION) {
        m_calls.append({procedure, arguments});
        results = coreCall(procedure, arguments, &known, &garbage);
        if (m_dropped)
            return {};
        state = garbage ? GarbageArguments : known ? Success : ProcedureUnavailable;
    }
    QByteArray reply;
    // xid, REPLY, MSG_ACCEPTED, a null verifier, the accept state, then the results.
    for (const quint32 word : {xid, 1u, 0u, 0u, 0u, state})
        put(reply, word);
    if (state == Success)
        reply += results;
    QByteArray record;
    put(record, 0x80000000u | quint32(reply.size()));
    return record + reply;
}

QByteArray GatewayServer::portmapperCall(unsigned long procedure, const QByteArray& arguments,
                                         bool* known)
{
    *known = procedure == 0 || procedure == GetPort;
    if (procedure != GetPort || arguments.size() < 16)
        return {};
    // Only the core channel is served, over TCP.
    const bool core = get(arguments, 0) == DEVICE_CORE && get(arguments, 4) == 1 &&
                      get(arguments, 8) == TcpProtocol;
    QByteArray port;
    put(port, core ? corePort() : 0);
    return port;
}

bool GatewayServer::present(int pad) const
{
    return m_bench.instrumentAddresses().contains(pad);
}

int GatewayServer::descriptorAt(int pad, unsigned long ioTimeoutMs)
{
    const int tmo = timeoutCodeFor(double(ioTimeoutMs)); // the call's io_timeout
    auto it = m_descriptors.find(pad);
    if (it == m_descriptors.end())
        it = m_descriptors.emplace(pad, m_bench.ibdev(0, pad, 0, tmo, 1, 0)).first;
    m_bench.ibtmo(it->second, tmo);
    return it->second;
}

QByteArray GatewayServer::coreCall(unsigned long procedure, const QByteArray& arguments,
                                   bool* known, bool* garbage)
{
    *known = true;
    // The link a call names, or nothing when the gateway does not know it.
    const auto linkOf = [this](long lid) -> Link* {
        const auto it = m_links.find(lid);
        return it == m_links.end() ? nullptr : &it->second;
    };
    switch (procedure) {
    case create_link: {
        Create_LinkParms parms{};
        if (!decode(arguments, xdr_Create_LinkParms, &parms)) {
            *garbage = true;
            return {};
        }
        static const QRegularExpression instrument(
            QStringLiteral("^gpib0,([0-9]{1,2})(?:,([0-9]{1,3}))?$"));
        const QString device = QString::fromLatin1(parms.device);
        xdr_free(xdr(xdr_Create_LinkParms), reinterpret_cast<char*>(&parms));
        const QRegularExpressionMatch m = instrument.match(device);
        Create_LinkResp resp{};
        resp.maxRecvSize = MaxReceiveSize;
        if (device == u"gpib0") {
            resp.lid = m_nextLink++;
            m_links[resp.lid] = Link{};
        } else if (m.hasMatch() && m.captured(1).toInt() <= 30) {
            if (m_faults.refuseLinks) {
                resp.error = m_faults.refuseLinks;
            } else {
                resp.lid = m_nextLink++;
                m_links[resp.lid] = Link{m.captured(1).toInt(), {}};
            }
        } else {
            resp.error = InvalidAddress;
        }
        return encode(xdr_Create_LinkResp, resp);
    }
    case device_write: {
        Device_WriteParms parms{};
        if (!decode(arguments, xdr_Device_WriteParms, &parms)) {
            *garbage = true;
            return {};
        }
        const QByteArray data(parms.data.data_val, qsizetype(parms.data.data_len));
        const long lid = parms.lid;
        const bool end = parms.flags & EndFlag;
        const unsigned long io = parms.io_timeout;
        xdr_free(xdr(xdr_Device_WriteParms), reinterpret_cast<char*>(&parms));
        Device_WriteResp resp{};
        Link* link = linkOf(lid);
        if (!link) {
            resp.error = InvalidLink;
        } else if (link->pad < 0) {
            resp.error = NotSupported;
        } else {
            link->unended += data;
            resp.size = u_long(data.size());
            if (end) {
                const QByteArray whole = std::exchange(link->unended, {});
                if (whole == AnalyserCommands::MarkerAmplitude.toLatin1() && m_faults.dropAt > 0 &&
                    ++m_markerQueries == m_faults.dropAt) {
                    drop();
                    return {};
                }
                QByteArray text = whole;
                while (text.endsWith('\n') || text.endsWith('\r'))
                    text.chop(1);
                m_hands.connectWhatIsAsked(text);
                const int ibsta = m_bench.ibwrt(descriptorAt(link->pad, io), whole);
                if (ibsta & ERR) {
                    resp.error = (ibsta & TIMO) ? IoTimeout : IoError;
                    resp.size = 0;
                }
            }
        }
        return encode(xdr_Device_WriteResp, resp);
    }
    case device_read: {
        Device_ReadParms parms{};
        if (!decode(arguments, xdr_Device_ReadParms, &parms)) {
            *garbage = true;
            return {};
        }
        Device_ReadResp resp{};
        QByteArray data;
        Link* link = linkOf(parms.lid);
        if (!link) {
            resp.error = InvalidLink;
        } else if (link->pad < 0) {
            resp.error = NotSupported;
        } else if (!present(link->pad) && !m_faults.slowAbsent) {
            resp.error = IoTimeout;
        } else {
            data = QByteArray(qsizetype(std::min(parms.requestSize, LongestRead)), ' ');
            const int ibsta = m_bench.ibrd(descriptorAt(link->pad, parms.io_timeout), data);
            if (ibsta & ERR) {
                resp.error = IoTimeout;
                data.clear();
            } else {
                data.truncate(qsizetype(m_bench.status().ibcntl));
                resp.reason = (ibsta & END)                                 ? EndReason
                              : data.size() == qsizetype(parms.requestSize) ? RequestCountReason
                                                                            : 0;
            }
        }
        resp.data.data_len = u_int(data.size());
        resp.data.data_val = data.data();
        return encode(xdr_Device_ReadResp, resp);
    }
    case device_readstb:
    case device_clear:
    case device_trigger:
    case device_remote:
    case device_local: {
        Device_GenericParms parms{};
        if (!decode(arguments, xdr_Device_GenericParms, &parms)) {
            *garbage = true;
            return {};
        }
        Link* link = linkOf(parms.lid);
        long error = link ? NoError : InvalidLink;
        char statusByte = 0;
        // The interface, and an analyser without trigger or front panel, take none of the rest.
        const bool served =
            link && link->pad >= 0 && (procedure == device_readstb || procedure == device_clear);
        if (link && !served) {
            error = NotSupported;
        } else if (served && procedure == device_readstb) {
            const bool answers = present(link->pad) || m_faults.slowAbsent;
            if (!answers ||
                (m_bench.ibrsp(descriptorAt(link->pad, parms.io_timeout), &statusByte) & ERR))
                error = IoTimeout;
        } else if (served) {
            link->unended.clear();
            if (m_bench.ibclr(descriptorAt(link->pad, parms.io_timeout)) & ERR)
                error = IoError;
        }
        if (procedure != device_readstb)
            return encode(xdr_Device_Error, deviceError(error));
        Device_ReadStbResp resp{};
        resp.error = error;
        resp.stb = u_char(statusByte);
        return encode(xdr_Device_ReadStbResp, resp);
    }
    case device_docmd: {
        Device_DocmdParms parms{};
        if (!decode(arguments, xdr_Device_DocmdParms, &parms)) {
            *garbage = true;
            return {};
        }
        const long lid = parms.lid;
        const long cmd = parms.cmd;
        xdr_free(xdr(xdr_Device_DocmdParms), reinterpret_cast<char*>(&parms));
        Device_DocmdResp resp{};
        Link* link = linkOf(lid);
        if (!link)
            resp.error = InvalidLink;
        else if (link->pad >= 0 || (cmd != CommandIfc && cmd != CommandRen))
            resp.error = NotSupported;
        else if (cmd == CommandIfc)
            m_bench.SendIFC(0);
        else
            m_bench.ibsre(0, 1);
        return encode(xdr_Device_DocmdResp, resp);
    }
    case destroy_link: {
        Device_Link lid = 0;
        if (!decode(arguments, xdr_Device_Link, &lid)) {
            *garbage = true;
            return {};
        }
        return encode(xdr_Device_Error, deviceError(m_links.erase(lid) ? NoError : InvalidLink));
    }
    case device_lock:
    case device_unlock:
    case device_enable_srq:
    case create_intr_chan:
    case destroy_intr_chan:
        return encode(xdr_Device_Error, deviceError(NotSupported));
    default:
        *known = false;
        return {};
    }
}

void GatewayServer::drop()
{
    // As a gateway that loses power: every connection goes, and no other is taken.
    m_dropped = true;
    m_portmapper.close();
    m_core.close();
    for (const QPointer<QTcpSocket>& client : std::as_const(m_clients)) {
        if (client)
            client->abort();
    }
}
