#include "gpib/AdapterLink.h"

#include "base/Clock.h"

#include <QSerialPort>
#include <QTcpSocket>
#include <QUrl>

#include <cmath>

namespace {

// A device that cannot wait for input (it reports no error either) is looked at this often.
constexpr double Slice = 0.001;
// A host that neither accepts nor refuses within this long is taken as unreachable.
constexpr double ConnectLimit = 5.0;

} // namespace

std::unique_ptr<AdapterLink> AdapterLink::open(const QString& address, Clock& clock, QString* error)
{
    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        return nullptr;
    };
    if (address.contains(QLatin1String("://"))) {
        const QUrl url(address, QUrl::StrictMode);
        if (!url.isValid() || url.scheme() != u"tcp" || url.host().isEmpty() ||
            !(url.path().isEmpty() || url.path() == u"/"))
            return fail(QStringLiteral("%1 is no adapter address: give tcp://HOST[:PORT] or a "
                                       "serial device such as /dev/ttyUSB0.")
                            .arg(address));
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(url.host(), quint16(url.port(DefaultPort)));
        socket->waitForConnected(int(ConnectLimit * 1000));
        if (socket->state() != QAbstractSocket::ConnectedState)
            return fail(socket->state() == QAbstractSocket::UnconnectedState
                            ? QStringLiteral("%1: %2").arg(address, socket->errorString())
                            : QStringLiteral("%1: no answer to the connection request within "
                                             "%2 s.")
                                  .arg(address)
                                  .arg(ConnectLimit));
        // Commands are short lines sent one at a time; each should leave at once.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QTcpSocket* raw = socket.get();
        std::unique_ptr<AdapterLink> link(
            new AdapterLink(std::move(socket), address, false, clock));
        connect(raw, &QAbstractSocket::disconnected, link.get(), &AdapterLink::goDown);
        // A wait for input that times out reports an error too; it is no fault of the link.
        connect(raw, &QAbstractSocket::errorOccurred, link.get(), [l = link.get()](auto e) {
            if (e != QAbstractSocket::SocketTimeoutError)
                l->goDown();
        });
        return link;
    }

    auto port = std::make_unique<QSerialPort>();
    port->setPortName(address);
    port->setBaudRate(SerialBaudRate);
    if (!port->open(QIODevice::ReadWrite))
        return fail(QStringLiteral("%1: %2").arg(address, port->errorString()));
    QSerialPort* raw = port.get();
    std::unique_ptr<AdapterLink> link(new AdapterLink(std::move(port), address, true, clock));
    // A device unplugged from USB (or a terminal whose other end closed) reports an error
    // here; a time-out is no fault of the link.
    connect(raw, &QSerialPort::errorOccurred, link.get(), [l = link.get()](auto e) {
        if (e != QSerialPort::NoError && e != QSerialPort::TimeoutError)
            l->goDown();
    });
    return link;
}

std::unique_ptr<AdapterLink> AdapterLink::attach(std::unique_ptr<QIODevice> device,
                                                 const QString& address, Clock& clock)
{
    QIODevice* raw = device.get();
    std::unique_ptr<AdapterLink> link(new AdapterLink(std::move(device), address, false, clock));
    connect(raw, &QIODevice::readChannelFinished, link.get(), &AdapterLink::goDown);
    return link;
}

AdapterLink::AdapterLink(std::unique_ptr<QIODevice> device, const QString& address, bool serial,
                         Clock& clock)
    : m_device(device.release()), m_address(address), m_serial(serial), m_clock(clock)
{
    // A child, so that it moves to the bus thread with the link.
    m_device->setParent(this);
    connect(m_device, &QIODevice::readyRead, this, [this] { m_input += m_device->readAll(); });
}

AdapterLink::~AdapterLink()
{
    m_device->disconnect(this);
}

void AdapterLink::goDown()
{
    if (!m_up)
        return;
    m_up = false;
    // What came before the link went down is still an answer. Closed later, as this may run
    // inside the device's own signal; a hung-up terminal would otherwise keep signalling.
    if (m_device->isOpen())
        m_input += m_device->readAll();
    QMetaObject::invokeMethod(
        this, [this] { m_device->close(); }, Qt::QueuedConnection);
}

bool AdapterLink::send(const QByteArray& bytes)
{
    if (!m_up)
        return false;
    if (m_device->write(bytes) != bytes.size()) {
        goDown();
        return false;
    }
    // No event loop runs under a bus call: the bytes leave within the call.
    if (m_device->bytesToWrite() > 0)
        m_device->waitForBytesWritten(int(ConnectLimit * 1000));
    return m_up;
}

void AdapterLink::discardInput()
{
    if (m_up)
        m_input += m_device->readAll();
    m_input.clear();
}

template <typename Found> bool AdapterLink::waitFor(Found found, double deadline)
{
    for (;;) {
        if (found())
            return true;
        const double now = m_clock.now();
        if (!m_up || now >= deadline)
            return false;
        // The device's own wait takes in its input (readyRead) without an event loop.
        if (!m_device->waitForReadyRead(std::max(1, int(std::ceil((deadline - now) * 1000)))) &&
            m_up)
            m_clock.waitUntil(std::min(deadline, m_clock.now() + Slice));
    }
}

std::optional<QByteArray> AdapterLink::readLine(double deadline)
{
    qsizetype end = -1;
    if (!waitFor([&] { return (end = m_input.indexOf('\n')) >= 0; }, deadline))
        return std::nullopt;
    QByteArray line = m_input.left(end);
    m_input.remove(0, end + 1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

std::optional<QByteArray> AdapterLink::readUntil(char end, double deadline)
{
    qsizetype at = -1;
    if (!waitFor([&] { return (at = m_input.indexOf(end)) >= 0; }, deadline))
        return std::nullopt;
    const QByteArray data = m_input.left(at);
    m_input.remove(0, at + 1);
    return data;
}
