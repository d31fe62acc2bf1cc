#include "gpib/Vxi11Driver.h"

#include "base/Clock.h"
#include "gpib/Vxi11Client.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

#include "vxi11.h"

using namespace Ni488;

namespace {

// VXI-11 error codes the binding tells apart.
enum : long {
    NoError = 0,
    SyntaxError = 1,
    DeviceNotAccessible = 3,
    InvalidLinkIdentifier = 4,
    ParameterError = 5,
    OperationNotSupported = 8,
    OutOfResources = 9,
    DeviceLocked = 11,
    IoTimeout = 15,
    IoError = 17,
    InvalidAddress = 21,
    Abort = 23,
};

// Flags of a write and reasons of a read.
constexpr long EndFlag = 0x08;
constexpr long EndReason = 0x04;
// device_docmd commands: interface clear, remote enable.
constexpr long CommandIfc = 0x020010;
constexpr long CommandRen = 0x020003;
constexpr quint8 RequestBit = 0x40;
// A wait for a service request without a time-out still ends, as the other drivers' do.
constexpr double LongestWait = 1000.0;
constexpr double ServiceRequestPoll = 0.01;

template <typename T> xdrproc_t xdr(bool_t (*routine)(XDR*, T*))
{
    return reinterpret_cast<xdrproc_t>(routine);
}

QByteArray hex(long value)
{
    return "0x" + QByteArray::number(qulonglong(value), 16);
}

// Bytes for the trace: printable ASCII as it is, anything else as \xNN.
QByteArray shown(const char* data, unsigned size)
{
    QByteArray text = "\"";
    for (unsigned i = 0; i < size; ++i) {
        const auto c = uchar(data[i]);
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\')
            text += char(c);
        else
            text += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
    }
    return text + '"';
}

} // namespace

bool Vxi11Driver::isGatewayAddress(const QString& text)
{
    return text.startsWith(QLatin1String("vxi11://"), Qt::CaseInsensitive);
}

std::optional<Vxi11Driver::Address> Vxi11Driver::parse(const QString& text, QString* error)
{
    // The host is a name or an IPv4 address; the interface a short word such as gpib0.
    static const QRegularExpression form(
        QStringLiteral("^vxi11://([A-Za-z0-9.-]{1,253})(?::([0-9]{1,5}))?"
                       "(?:/([A-Za-z][A-Za-z0-9_]{0,31})(?:,([0-9]{1,2}))?)?/?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(text);
    Address address;
    bool ok = m.hasMatch();
    if (ok) {
        address.host = m.captured(1);
        if (m.hasCaptured(2)) {
            const uint port = m.captured(2).toUInt();
            ok = port >= 1 && port <= 65535;
            address.portmapperPort = quint16(port);
        }
        if (m.hasCaptured(3))
            address.interfaceName = m.captured(3);
        if (m.hasCaptured(4)) {
            address.pad = m.captured(4).toInt();
            ok = ok && address.pad >= 1 && address.pad <= HighestAddress;
        }
    }
    if (!ok) {
        if (error)
            *error = QStringLiteral("%1 is no gateway address: give "
                                    "vxi11://HOST[:PORTMAPPER-PORT][/INTERFACE[,PAD]], such as "
                                    "vxi11://192.168.0.20/gpib0,18.")
                         .arg(text.left(300));
        return std::nullopt;
    }
    return address;
}

std::unique_ptr<Vxi11Driver> Vxi11Driver::open(const QString& text, Clock& clock, QString* error)
{
    QString reason;
    const std::optional<Address> address = parse(text, &reason);
    std::unique_ptr<Vxi11Client> client;
    if (address)
        client = Vxi11Client::connect(address->host, address->portmapperPort, AnswerLimit, &reason);
    if (!client) {
        if (error)
            *error = address ? QStringLiteral("%1: %2.").arg(text, reason) : reason;
        return nullptr;
    }
    return attach(text, std::move(client), clock, error);
}

std::unique_ptr<Vxi11Driver> Vxi11Driver::attach(const QString& text,
                                                 std::unique_ptr<Vxi11Client> client, Clock& clock,
                                                 QString* error)
{
    QString reason;
    const std::optional<Address> address = parse(text, &reason);
    if (address) {
        std::unique_ptr<Vxi11Driver> driver(
            new Vxi11Driver(text, *address, std::move(client), clock));
        long refused = 0;
        const std::optional<Link> interfaceLink =
            driver->createLink(address->interfaceName, &refused);
        if (interfaceLink) {
            driver->m_interfaceLink = interfaceLink->lid;
            return driver;
        }
        reason =
            refused != NoError
                ? QStringLiteral("%1: the gateway refused a link to %2 (VXI-11 error %3).")
                      .arg(text, address->interfaceName)
                      .arg(refused)
                : QStringLiteral("%1: the gateway does not answer on its core channel.").arg(text);
    }
    if (error)
        *error = reason;
    return nullptr;
}

Vxi11Driver::Vxi11Driver(const QString& text, const Address& address,
                         std::unique_ptr<Vxi11Client> client, Clock& clock)
    : m_text(text), m_address(address), m_client(std::move(client)), m_clock(clock)
{}

Vxi11Driver::~Vxi11Driver()
{
    if (m_lost)
        return;
    // Gateways have few links: give them back, but not at the cost of a wait per link on one
    // that no longer answers.
    for (const auto& [pad, link] : m_links) {
        destroyLink(link.lid);
        if (m_lost)
            return;
    }
    if (m_interfaceLink)
        destroyLink(m_interfaceLink);
}

QString Vxi11Driver::name() const
{
    return QStringLiteral("GPIB gateway ") + m_text;
}

bool Vxi11Driver::reconnect()
{
    if (!m_lost)
        return true;
    QString reason;
    std::unique_ptr<Vxi11Client> client =
        Vxi11Client::connect(m_address.host, m_address.portmapperPort, AnswerLimit, &reason);
    if (!client) {
        trace("reconnect: " + reason.toLatin1());
        return false;
    }
    // Links end with the connection they were made on.
    std::swap(m_client, client);
    m_links.clear();
    m_statusBytes.clear();
    m_lost = false;
    long refused = 0;
    const std::optional<Link> interfaceLink = createLink(m_address.interfaceName, &refused);
    if (interfaceLink) {
        m_interfaceLink = interfaceLink->lid;
        return true;
    }
    m_lost = true;
    return false;
}

void Vxi11Driver::noAnswer(bool timedOut, bool searching)
{
    trace(timedOut ? "  no answer in time" : "  connection broken");
    // A silent address may keep the gateway busy past a poll's time-out during the search;
    // anywhere else the gateway has stopped answering.
    if (!timedOut || !searching)
        m_lost = true;
}

unsigned long Vxi11Driver::ioTimeoutMs(int tmo) const
{
    const double seconds = timeoutSeconds(tmo);
    return (unsigned long)std::max(1L, std::lround((seconds > 0 ? seconds : LongestWait) * 1000));
}

std::optional<Vxi11Driver::Link> Vxi11Driver::createLink(const QString& device, long* error,
                                                         bool searching)
{
    *error = NoError;
    const QByteArray name = device.toLatin1();
    Create_LinkParms parms{};
    parms.clientId = 0;
    parms.lockDevice = 0;
    parms.lock_timeout = 0;
    parms.device = const_cast<char*>(name.constData());
    Create_LinkResp resp{};
    const auto outcome = m_client->call(create_link, xdr(xdr_Create_LinkParms), &parms,
                                        xdr(xdr_Create_LinkResp), &resp, AnswerLimit);
    if (outcome != Vxi11Client::Outcome::Answered) {
        noAnswer(outcome == Vxi11Client::Outcome::TimedOut, searching);
        return std::nullopt;
    }
    trace("create_link device=" + name + " -> error=" + QByteArray::number(resp.error) +
          " lid=" + QByteArray::number(resp.lid) +
          " maxRecvSize=" + QByteArray::number(qulonglong(resp.maxRecvSize)));
    Vxi11Client::release(xdr(xdr_Create_LinkResp), &resp);
    if (resp.error != NoError) {
        *error = resp.error;
        return std::nullopt;
    }
    return Link{resp.lid, resp.maxRecvSize};
}

void Vxi11Driver::destroyLink(long lid)
{
    Device_Link link = lid;
    Device_Error resp{};
    const auto outcome = m_client->call(destroy_link, xdr(xdr_Device_Link), &link,
                                        xdr(xdr_Device_Error), &resp, AnswerLimit);
    if (outcome != Vxi11Client::Outcome::Answered) {
        noAnswer(outcome == Vxi11Client::Outcome::TimedOut, false);
        return;
    }
    trace("destroy_link lid=" + QByteArray::number(lid) +
          " -> error=" + QByteArray::number(resp.error));
}

std::optional<Vxi11Driver::Link> Vxi11Driver::linkAt(int pad, long* error)
{
    *error = NoError;
    if (const auto it = m_links.find(pad); it != m_links.end())
        return it->second;
    const std::optional<Link> link =
        createLink(m_address.interfaceName + u',' + QString::number(pad), error);
    if (link)
        m_links[pad] = *link;
    return link;
}

Vxi11Driver::Mapped Vxi11Driver::boardError(Call call, long code)
{
    const bool talking = call == Call::Read || call == Call::Poll;
    switch (code) {
    case IoTimeout:
        return {ERR | TIMO, EABO};
    case DeviceNotAccessible:
    case IoError:
    case InvalidAddress:
        // Nobody there: a board's write or clear finds no listener, its read or poll waits
        // out the time-out.
        if (call == Call::Command)
            return {ERR, EBUS};
        return talking ? Mapped{ERR | TIMO, EABO} : Mapped{ERR, ENOL};
    case Abort:
        return {ERR, EABO};
    case SyntaxError:
    case ParameterError:
        return {ERR, EARG};
    case OperationNotSupported:
        return {ERR, ECAP};
    default: // out of links, locked by another program, and codes no gateway should send
        return {ERR, EDVR};
    }
}

int Vxi11Driver::failed(Call call, long code)
{
    // The gateway no longer knows the link: it restarted, so nothing it was told holds.
    if (code == InvalidLinkIdentifier) {
        m_lost = true;
        return linkDown();
    }
    const Mapped board = boardError(call, code);
    return finish(board.ibsta, board.iberr);
}

int Vxi11Driver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos)
{
    if (m_lost) {
        linkDown();
        return -1;
    }
    return DescriptorDriver::ibdev(board, pad, sad, tmo, eot, eos);
}

int Vxi11Driver::ibpad(int ud, int pad)
{
    return m_lost ? linkDown() : DescriptorDriver::ibpad(ud, pad);
}

int Vxi11Driver::ibtmo(int ud, int tmo)
{
    return m_lost ? linkDown() : DescriptorDriver::ibtmo(ud, tmo);
}

int Vxi11Driver::ibask(int ud, int option, int* value)
{
    return m_lost ? linkDown() : DescriptorDriver::ibask(ud, option, value);
}

const DescriptorDriver::Descriptor* Vxi11Driver::usable(int ud, int* result)
{
    const Descriptor* d = descriptor(ud);
    if (!d)
        *result = finish(ERR, EDVR);
    else if (m_lost)
        *result = linkDown();
    return m_lost ? nullptr : d;
}

std::optional<Vxi11Driver::Link> Vxi11Driver::linkFor(const Descriptor& d, Call call, int* result)
{
    long code = NoError;
    std::optional<Link> link = linkAt(d.pad, &code);
    if (!link)
        *result = m_lost ? linkDown() : failed(call, code);
    return link;
}

int Vxi11Driver::ibwrt(int ud, const QByteArray& data)
{
    int result = 0;
    const Descriptor* d = usable(ud, &result);
    if (!d)
        return result;
    // A new message makes the device drop a request nobody polled.
    m_statusBytes.remove(d->pad);
    const std::optional<Link> link = linkFor(*d, Call::Write, &result);
    if (!link)
        return result;
    const unsigned long io = ioTimeoutMs(d->tmo);
    const qsizetype most = link->maxRecvSize > 0 ? qsizetype(link->maxRecvSize) : data.size();
    long sent = 0;
    // END goes with the last byte only; a message longer than the gateway takes at once goes
    // in pieces.
    do {
        const QByteArray piece = data.mid(sent, std::max<qsizetype>(most, 1));
        const bool last = sent + piece.size() >= data.size();
        Device_WriteParms parms{};
        parms.lid = link->lid;
        parms.io_timeout = io;
        parms.lock_timeout = 0;
        parms.flags = last ? EndFlag : 0;
        parms.data.data_len = u_int(piece.size());
        parms.data.data_val = const_cast<char*>(piece.constData());
        Device_WriteResp resp{};
        const auto outcome =
            m_client->call(device_write, xdr(xdr_Device_WriteParms), &parms,
                           xdr(xdr_Device_WriteResp), &resp, io / 1000.0 + NetworkMargin);
        if (outcome != Vxi11Client::Outcome::Answered) {
            noAnswer(outcome == Vxi11Client::Outcome::TimedOut, false);
            return linkDown();
        }
        trace("device_write lid=" + QByteArray::number(parms.lid) +
              " io_timeout=" + QByteArray::number(qulonglong(io)) + " flags=" + hex(parms.flags) +
              ' ' + shown(piece.constData(), unsigned(piece.size())) +
              " -> error=" + QByteArray::number(resp.error) +
              " size=" + QByteArray::number(qulonglong(resp.size)));
        Vxi11Client::release(xdr(xdr_Device_WriteResp), &resp);
        if (resp.error != NoError) {
            failed(Call::Write, resp.error);
            return finish(status().ibsta, status().iberr, sent);
        }
        sent += long(std::min<qulonglong>(resp.size, qulonglong(piece.size())));
        if (resp.size == 0)
            break; // a gateway that takes nothing would be asked forever
    } while (sent < data.size());
    return finish(CMPL, 0, sent);
}

int Vxi11Driver::ibrd(int ud, QByteArray& buffer)
{
    int result = 0;
    const Descriptor* d = usable(ud, &result);
    if (!d)
        return result;
    const std::optional<Link> link = linkFor(*d, Call::Read, &result);
    if (!link)
        return result;
    const unsigned long io = ioTimeoutMs(d->tmo);
    Device_ReadParms parms{};
    parms.lid = link->lid;
    parms.requestSize = u_long(std::min<qsizetype>(buffer.size(), VXI11_LONGEST_DATA));
    parms.io_timeout = io;
    parms.lock_timeout = 0;
    parms.flags = 0; // no termination character: a message ends with END only
    parms.termChar = 0;
    Device_ReadResp resp{};
    const auto outcome =
        m_client->call(device_read, xdr(xdr_Device_ReadParms), &parms, xdr(xdr_Device_ReadResp),
                       &resp, io / 1000.0 + NetworkMargin);
    if (outcome != Vxi11Client::Outcome::Answered) {
        noAnswer(outcome == Vxi11Client::Outcome::TimedOut, false);
        return linkDown();
    }
    trace("device_read lid=" + QByteArray::number(parms.lid) +
          " requestSize=" + QByteArray::number(qulonglong(parms.requestSize)) + " io_timeout=" +
          QByteArray::number(qulonglong(io)) + " -> error=" + QByteArray::number(resp.error) +
          " reason=" + hex(resp.reason) + ' ' + shown(resp.data.data_val, resp.data.data_len));
    const long error = resp.error;
    const bool end = resp.reason & EndReason;
    // More than was asked for is the gateway's mistake: the buffer keeps its size.
    const qsizetype count = std::min<qsizetype>(qsizetype(resp.data.data_len), buffer.size());
    if (error == NoError && count > 0)
        buffer.replace(0, count, QByteArrayView(resp.data.data_val, count));
    Vxi11Client::release(xdr(xdr_Device_ReadResp), &resp);
    if (error != NoError)
        return failed(Call::Read, error);
    return finish(CMPL | (end ? END : 0), 0, long(count));
}

std::optional<long> Vxi11Driver::readStatusByte(long lid, unsigned long ioTimeoutMs, quint8* stb,
                                                bool searching)
{
    Device_GenericParms parms{};
    parms.lid = lid;
    parms.flags = 0;
    parms.lock_timeout = 0;
    parms.io_timeout = ioTimeoutMs;
    Device_ReadStbResp resp{};
    const auto outcome =
        m_client->call(device_readstb, xdr(xdr_Device_GenericParms), &parms,
                       xdr(xdr_Device_ReadStbResp), &resp, ioTimeoutMs / 1000.0 + NetworkMargin);
    if (outcome != Vxi11Client::Outcome::Answered) {
        noAnswer(outcome == Vxi11Client::Outcome::TimedOut, searching);
        return std::nullopt;
    }
    trace("device_readstb lid=" + QByteArray::number(lid) +
          " io_timeout=" + QByteArray::number(qulonglong(ioTimeoutMs)) +
          " -> error=" + QByteArray::number(resp.error) + " stb=" + hex(resp.stb));
    *stb = quint8(resp.stb);
    return resp.error;
}

int Vxi11Driver::ibrsp(int ud, char* statusByte)
{
    int result = 0;
    const Descriptor* d = usable(ud, &result);
    if (!d)
        return result;
    // A byte polled while waiting for the request is handed out first, as a driver that
    // polls automatically keeps it.
    quint8 polled = 0;
    if (m_statusBytes.contains(d->pad)) {
        polled = m_statusBytes.take(d->pad);
    } else {
        long code = NoError;
        const std::optional<Link> link = linkAt(d->pad, &code);
        if (!link)
            return m_lost ? linkDown() : failed(Call::Poll, code);
        const std::optional<long> error = readStatusByte(link->lid, ioTimeoutMs(d->tmo), &polled);
        if (!error)
            return linkDown();
        if (*error != NoError)
            return failed(Call::Poll, *error);
    }
    if (statusByte)
        *statusByte = char(polled);
    return finish(CMPL, 0, 1);
}

int Vxi11Driver::ibwait(int ud, int mask)
{
    int result = 0;
    const Descriptor* d = usable(ud, &result);
    if (!d)
        return result;
    const int pad = d->pad;
    const auto requesting = [&] { return m_statusBytes.contains(pad); };
    // No I/O runs in the background, so CMPL holds at once.
    if ((mask & CMPL) || !(mask & (RQS | TIMO)) || ((mask & RQS) && requesting()))
        return finish(CMPL | (requesting() ? RQS : 0));
    const double seconds = timeoutSeconds(d->tmo);
    const double limit = m_clock.now() + ((mask & TIMO) && seconds > 0 ? seconds : LongestWait);
    if (!(mask & RQS)) {
        m_clock.waitUntil(limit);
        return finish(CMPL | TIMO);
    }
    long code = NoError;
    const std::optional<Link> link = linkAt(pad, &code);
    if (!link)
        return m_lost ? linkDown() : failed(Call::Poll, code);
    // One poll per wait with a time-out: the caller's loop decides how long it waits in all.
    const unsigned long io = std::max(PollTimeoutMs, ioTimeoutMs(d->tmo));
    for (;;) {
        quint8 polled = 0;
        const std::optional<long> error = readStatusByte(link->lid, io, &polled);
        if (!error)
            return linkDown();
        if (*error == NoError && (polled & RequestBit)) {
            m_statusBytes.insert(pad, polled);
            return finish(CMPL | RQS);
        }
        if (*error != NoError && *error != IoTimeout)
            return failed(Call::Poll, *error);
        if (mask & TIMO)
            return finish(CMPL | TIMO);
        const double now = m_clock.now();
        if (now >= limit)
            return finish(ERR | CMPL, EABO);
        m_clock.waitUntil(std::min(limit, now + ServiceRequestPoll));
    }
}

std::optional<long> Vxi11Driver::docmd(long cmd, const QByteArray& data)
{
    Device_DocmdParms parms{};
    parms.lid = m_interfaceLink;
    parms.flags = 0;
    parms.io_timeout = u_long(AnswerLimit * 1000);
    parms.lock_timeout = 0;
    parms.cmd = cmd;
    parms.network_order = 1;
    parms.datasize = long(data.size());
    parms.data_in.data_in_len = u_int(data.size());
    parms.data_in.data_in_val = const_cast<char*>(data.constData());
    Device_DocmdResp resp{};
    const auto outcome =
        m_client->call(device_docmd, xdr(xdr_Device_DocmdParms), &parms, xdr(xdr_Device_DocmdResp),
                       &resp, AnswerLimit + NetworkMargin);
    if (outcome != Vxi11Client::Outcome::Answered) {
        noAnswer(outcome == Vxi11Client::Outcome::TimedOut, false);
        return std::nullopt;
    }
    trace("device_docmd lid=" + QByteArray::number(parms.lid) + " cmd=" + hex(cmd) + ' ' +
          shown(data.constData(), unsigned(data.size())) +
          " -> error=" + QByteArray::number(resp.error));
    Vxi11Client::release(xdr(xdr_Device_DocmdResp), &resp);
    return resp.error;
}

int Vxi11Driver::ibclr(int ud)
{
    int result = 0;
    const Descriptor* d = usable(ud, &result);
    if (!d)
        return result;
    m_statusBytes.remove(d->pad);
    const std::optional<Link> link = linkFor(*d, Call::Clear, &result);
    if (!link)
        return result;
    Device_GenericParms parms{};
    parms.lid = link->lid;
    parms.flags = 0;
    parms.lock_timeout = 0;
    parms.io_timeout = ioTimeoutMs(d->tmo);
    Device_Error resp{};
    const auto outcome =
        m_client->call(device_clear, xdr(xdr_Device_GenericParms), &parms, xdr(xdr_Device_Error),
                       &resp, parms.io_timeout / 1000.0 + NetworkMargin);
    if (outcome != Vxi11Client::Outcome::Answered) {
        noAnswer(outcome == Vxi11Client::Outcome::TimedOut, false);
        return linkDown();
    }
    trace("device_clear lid=" + QByteArray::number(parms.lid) +
          " -> error=" + QByteArray::number(resp.error));
    return resp.error == NoError ? finish(CMPL) : failed(Call::Clear, resp.error);
}

int Vxi11Driver::ibsre(int board, int value)
{
    if (board != 0)
        return finish(ERR, ENEB);
    if (m_lost)
        return linkDown();
    const std::optional<long> error = docmd(CommandRen, QByteArray("\0", 1) + char(value ? 1 : 0));
    if (!error)
        return linkDown();
    // A gateway that holds remote enable itself need not take the command.
    return *error == NoError || *error == OperationNotSupported ? finish(CMPL)
                                                                : failed(Call::Command, *error);
}

void Vxi11Driver::SendIFC(int board)
{
    if (board != 0) {
        finish(ERR, ENEB);
        return;
    }
    if (m_lost) {
        linkDown();
        return;
    }
    const std::optional<long> error = docmd(CommandIfc, {});
    if (!error)
        linkDown();
    else if (*error == NoError || *error == OperationNotSupported)
        finish(CMPL);
    else
        failed(Call::Command, *error);
}

void Vxi11Driver::FindLstn(int board, const QVector<short>& addresses, QVector<short>& results,
                           int limit)
{
    if (board != 0) {
        finish(ERR, ENEB);
        return;
    }
    if (m_lost) {
        linkDown();
        return;
    }
    QVector<short> found{0}; // the gateway itself, the controller
    for (const short pad : addresses) {
        if (pad == NOADDR)
            break;
        if (pad <= 0 || pad > HighestAddress || (m_address.pad > 0 && pad != m_address.pad))
            continue;
        long code = NoError;
        std::optional<Link> link;
        if (const auto it = m_links.find(pad); it != m_links.end())
            link = it->second;
        else
            link = createLink(m_address.interfaceName + u',' + QString::number(pad), &code, true);
        if (m_lost)
            break;
        if (code == OutOfResources || code == DeviceLocked) {
            const QString why = code == OutOfResources
                                    ? QStringLiteral("no free link")
                                    : QStringLiteral("locked by another program");
            m_refusal = {QStringLiteral("GPIB gateway not reached"),
                         QStringLiteral("The GPIB gateway %1 refused %2,%3: %4.")
                             .arg(m_address.host, m_address.interfaceName)
                             .arg(pad)
                             .arg(why)};
            break;
        }
        if (!link)
            continue;
        quint8 polled = 0;
        const std::optional<long> error = readStatusByte(link->lid, PollTimeoutMs, &polled, true);
        if (m_lost)
            break;
        if (error && *error == NoError) {
            m_links[pad] = *link;
            found.append(pad);
        } else {
            // Gateways have few links: a silent address gives its own back at once.
            m_links.erase(pad);
            destroyLink(link->lid);
            if (m_lost)
                break;
        }
    }
    if (m_lost) {
        linkDown();
        return;
    }
    if (!m_refusal.text.isEmpty()) {
        finish(ERR, EDVR);
        return;
    }
    reportListeners(found, results, limit);
}
