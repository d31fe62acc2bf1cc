#include "gpib/InstrumentIO.h"

#include "base/Clock.h"
#include "base/OperatorDialogs.h"

using namespace Ni488;

namespace {

constexpr int ReadChunk = 512;
constexpr int ProbeChunk = 256;
constexpr int ReadTimeout = T3s;
// How often the service-request line is looked at: each look is a short bus call.
constexpr double ServiceRequestPoll = 0.02;

QString trimBlanks(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

bool isLineEnd(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r');
}

} // namespace

QString GpibErrorText(int iberr)
{
    switch (iberr) {
    case EDVR:
        return QStringLiteral("Operating system error.");
    case ECIC:
        return QStringLiteral("Function requires GPIB board to be CIC.");
    case ENOL:
        return QStringLiteral("No listener on write function.");
    case EADR:
        return QStringLiteral("GPIB board not addressed correctly.");
    case EARG:
        return QStringLiteral("Invalid argument to function call.");
    case ESAC:
        return QStringLiteral("GPIB board not system controller as required.");
    case EABO:
        return QStringLiteral("I/O operation aborted - timeout.");
    case ENEB:
        return QStringLiteral("Non-existent GPIB board.");
    case EOIP:
        return QStringLiteral("Asynchronous I/O in progress.");
    case ECAP:
        return QStringLiteral("No capability for operation.");
    case EFSO:
        return QStringLiteral("File system error.");
    case EBUS:
        return QStringLiteral("GPIB bus eror.");
    case ESTB:
        return QStringLiteral("Serial poll status queue owerflow.");
    case ESRQ:
        return QStringLiteral("SRQ stuck in on position.");
    case ETAB:
        return QStringLiteral("Table problem.");
    default:
        return QStringLiteral("Unknown error.");
    }
}

InstrumentIO::InstrumentIO(GpibDriver& driver, Clock& clock, OperatorDialogs& dialogs)
    : m_driver(driver), m_bus(driver), m_clock(clock), m_dialogs(dialogs)
{}

QString InstrumentIO::adapterLostText() const
{
    return QStringLiteral("The GPIB adapter ") + m_driver.linkAddress() +
           QStringLiteral(" does not answer any more.\n\nReconnect it, then press Run again.");
}

void InstrumentIO::beginRun()
{
    m_inRun = true;
    m_lostTold = false;
}

void InstrumentIO::cutShort()
{
    m_cutShort = true;
    m_clock.cutWaitsShort();
}

void InstrumentIO::tellAdapterLost()
{
    if (m_lostTold)
        return;
    m_lostTold = true;
    if (!m_programEnded)
        m_dialogs.message({MsgKind::AdapterLost, MsgIcon::Exclamation,
                           QStringLiteral("GPIB Adapter Lost"), adapterLostText(), MsgButtons::Ok});
}

void InstrumentIO::GpibWrite(qint16 device, const QString& command)
{
    IoErrorFlag = false;
    if (m_programEnded)
        return;
    if (device == 0)
        return DeviceNotConfigured();
    m_bus.ibwrt(device, command);
    GpibCheckError();
}

QString InstrumentIO::GpibRead(qint16 device)
{
    if (m_programEnded)
        return {};
    if (device == 0) {
        DeviceNotConfigured();
        return {};
    }
    const qint16 previousTimeout = m_bus.ibask(device, IbaTMO);
    if (previousTimeout != ReadTimeout)
        m_bus.ibtmo(device, ReadTimeout);

    QString answer;
    bool failed = false;
    QByteArray buffer;
    for (;;) {
        buffer.fill(' ', ReadChunk);
        m_bus.ibwait(device, TIMO | CMPL);
        m_bus.ibrd(device, buffer);
        const NiGlobal& s = m_bus.status();
        // A driver error that is neither a time-out nor the end of the message would
        // otherwise never end the loop.
        if (s.has(TIMO) || (s.error() && !s.has(END))) {
            failed = true;
            break;
        }
        answer += trimBlanks(QString::fromLatin1(buffer));
        if (s.has(END))
            break;
    }
    const NiGlobal outcome = m_bus.status();
    m_bus.ibtmo(device, previousTimeout);
    m_bus.setStatus(outcome);

    if (failed && m_inRun && linkLost()) {
        tellAdapterLost();
        return {};
    }
    if (failed) {
        m_dialogs.message({MsgKind::ReadTimeout, MsgIcon::Exclamation, QStringLiteral("I/O Error"),
                           QStringLiteral("Read cycle failed\nOperation aborted."),
                           MsgButtons::Ok});
        return {};
    }
    if (answer.size() >= 2 && isLineEnd(answer.at(answer.size() - 2)))
        answer.chop(1);
    for (int i = 0; i < 2 && !answer.isEmpty() && isLineEnd(answer.back()); ++i)
        answer.chop(1);
    return answer;
}

QString InstrumentIO::GpibQuery(qint16 device, const QString& command)
{
    if (m_programEnded)
        return {};
    if (device == 0) {
        DeviceNotConfigured();
        return {};
    }
    GpibWrite(device, command);
    Delay(0.1f);
    return IoErrorFlag ? QString() : GpibRead(device);
}

void InstrumentIO::GpibWaitSrq(qint16 device)
{
    if (m_programEnded)
        return;
    if (device == 0)
        return DeviceNotConfigured();
    if (device < 0) {
        waitForServiceRequest(qint16(-device));
        GpibCheckError();
        return;
    }
    // Serial polls discard service requests left over from earlier commands. A failed
    // poll reads no byte, so polling goes on.
    for (int polls = 0; polls < 20; ++polls) {
        const quint8 statusByte = m_bus.ibrsp(device);
        const bool failed = m_bus.status().error();
        GpibCheckError();
        if (m_programEnded)
            return;
        if (!failed && statusByte == 0)
            break;
    }
    waitForServiceRequest(device);
    GpibCheckError();
}

void InstrumentIO::waitForServiceRequest(qint16 device)
{
    // Look at the request in short slices and give up after a bounded time: a driver wait
    // without time-out never returns when the analyser does not ask for service.
    const qint16 previousTimeout = m_bus.ibask(device, IbaTMO);
    m_bus.ibtmo(device, T1ms);
    const double deadline = m_clock.now() + ServiceRequestLimit;
    NiGlobal outcome;
    for (;;) {
        m_bus.ibwait(device, RQS | TIMO);
        outcome = m_bus.status();
        if (outcome.has(RQS) || outcome.error() || m_cutShort)
            break;
        if (m_clock.now() >= deadline) {
            outcome.ibsta = qint16(outcome.ibsta | ERR | TIMO);
            outcome.iberr = EABO;
            break;
        }
        m_clock.waitUntil(std::min(deadline, m_clock.now() + ServiceRequestPoll));
    }
    m_bus.ibtmo(device, previousTimeout);
    m_bus.setStatus(outcome);
}

void InstrumentIO::Delay(float seconds)
{
    if (m_programEnded || m_cutShort)
        return;
    m_clock.waitUntil(m_clock.now() + double(seconds));
}

void InstrumentIO::DeviceNotConfigured()
{
    m_dialogs.message({MsgKind::Fatal, MsgIcon::Critical, QStringLiteral("Device Error"),
                       QStringLiteral("Device not configured.\n\nCorrect problem and restart."),
                       MsgButtons::Ok});
    endProgram();
}

void InstrumentIO::GpibCheckError()
{
    const NiGlobal& s = m_bus.status();
    if (!s.error() || m_programEnded)
        return;
    if (m_inRun && linkLost()) {
        tellAdapterLost();
        IoErrorFlag = true;
        return;
    }
    const QString text = GpibErrorText(s.iberr) +
                         QStringLiteral("\nSelect OK to continue or Cancel to terminate program.");
    const QString title = QStringLiteral("GPIB ERROR # %1").arg(s.iberr);
    if (m_dialogs.message({MsgKind::BusError, MsgIcon::Exclamation, title, text,
                           MsgButtons::OkCancel}) == MsgResult::Cancel)
        endProgram();
    IoErrorFlag = true;
}

void InstrumentIO::GpibInit(qint16 mode)
{
    if (m_programEnded)
        return;
    Listeners.fill(0);
    FreeListeners.fill(0);
    QVector<short> addresses;
    for (short address = 0; address <= 30; ++address)
        addresses << address;
    addresses << NOADDR;

    m_bus.SendIFC(0);
    m_bus.ibsre(0, 1);
    QVector<short> found(int(Listeners.size()), 0);
    m_bus.FindLstn(0, addresses, found, int(Listeners.size()));
    // A bus found unusable while it was searched (a gateway with no link to spare) ends the
    // program as one that could not be reached at all.
    const GpibDriver::Refusal refusal = m_driver.refusal();
    if (!refusal.text.isEmpty()) {
        m_dialogs.message(
            {MsgKind::Fatal, MsgIcon::Critical, refusal.title, refusal.text, MsgButtons::Ok});
        endProgram();
        return;
    }

    const NiGlobal& s = m_bus.status();
    if (!s.error()) {
        // Address 0 is the board itself. Instruments and their count are kept apart so
        // that a library which does not report address 0 loses no instrument.
        QVector<qint16> instruments;
        const int reported = std::clamp(int(s.ibcntl), 0, int(found.size()));
        for (int i = 0; i < reported; ++i) {
            if (found[i] > 0)
                instruments << found[i];
        }
        if (instruments.size() <= 14) {
            for (int i = 0; i < instruments.size(); ++i)
                Listeners[i + 1] = FreeListeners[i + 1] = instruments[i];
            Listeners[0] = FreeListeners[0] = qint16(instruments.size());
            return;
        }
        NiGlobal tooMany = s;
        tooMany.ibsta = qint16(tooMany.ibsta | ERR);
        tooMany.iberr = ETAB;
        m_bus.setStatus(tooMany);
    }

    QString text;
    if (s.iberr == EBUS) {
        if (mode == -1)
            return;
        text = QStringLiteral("No listeners found.");
    } else if (s.iberr == ETAB) {
        text = QStringLiteral("Too many listeners found.\nMax 14 listeners allowed.");
    }
    if (mode == 1 || s.iberr != EBUS)
        text += QStringLiteral("\n\nCorrect problem and restart.");
    if (!text.isEmpty())
        m_dialogs.message({mode == 1 ? MsgKind::Fatal : MsgKind::Notice, MsgIcon::Critical,
                           QStringLiteral("Initialization Error %1").arg(s.iberr), text,
                           MsgButtons::Ok});
    if (mode == 1)
        endProgram();
}

namespace {

// A leading or trailing "!" (or "?") on a search string, taken off where it stands.
bool takePrefix(QString& text, QChar mark)
{
    if (!text.startsWith(mark))
        return false;
    text.remove(0, 1);
    return true;
}

bool takeSuffix(QString& text, QChar mark)
{
    if (!text.endsWith(mark))
        return false;
    text.chop(1);
    return true;
}

} // namespace

qint16 InstrumentIO::FindDevice(QString& query, QString& expected)
{
    if (m_programEnded)
        return 0;
    if (!ProbeDevice.reuse)
        ProbeDevice.descriptor = m_bus.ibdev(0, 1, 0, T1s, 1, 0);

    SearchModifiers how;
    how.noClear = takePrefix(query, u'!');
    how.mayContinue = takeSuffix(query, u'!');
    how.silent = takePrefix(expected, u'!');
    how.settle = takePrefix(expected, u'?');
    how.exact = takeSuffix(expected, u'!');

    if (FreeListeners[0] == 0) {
        // The probe just opened waits for the next search rather than being lost.
        ProbeDevice.reuse = true;
        if (how.silent)
            return 0;
        m_dialogs.message({MsgKind::Fatal, MsgIcon::Critical,
                           QStringLiteral("Not enough devices on the bus"),
                           QStringLiteral("Can't find more than %1 device(s).\n\nCorrect "
                                          "problem and restart.")
                               .arg(Listeners[0]),
                           MsgButtons::Ok});
        endProgram();
        return 0;
    }

    const qint16 probe = ProbeDevice.descriptor;
    QString received;
    for (int i = 1; i <= Listeners[0]; ++i) {
        if (FreeListeners[i] <= 0)
            continue;
        const QString answer = probeAnswer(probe, FreeListeners[i], query, how);
        const bool match =
            how.exact ? answer == expected : answer.toUpper().contains(expected.toUpper());
        if (match) {
            FreeListeners[i] = 0;
            --FreeListeners[0];
            m_bus.ibtmo(probe, DefaultTimeout);
            ProbeDevice.reuse = false;
            return probe;
        }
        if (m_bus.status().error())
            m_bus.ibclr(probe);
        received.prepend(answer + QLatin1Char('\n'));
    }

    ProbeDevice.reuse = true;
    if (!how.silent)
        reportMissingDevice(query, expected, received, how.mayContinue);
    return 0;
}

QString InstrumentIO::probeAnswer(qint16 probe, qint16 address, const QString& query,
                                  const SearchModifiers& how)
{
    m_bus.ibpad(probe, address);
    if (!how.noClear)
        m_bus.ibclr(probe);
    m_bus.ibrsp(probe);
    if (how.settle)
        Delay(0.1f);
    m_bus.ibwrt(probe, query);

    QByteArray buffer(ProbeChunk, ' ');
    m_bus.ibrd(probe, buffer);
    QString answer = trimBlanks(QString::fromLatin1(buffer));
    if (answer.endsWith(QLatin1Char('\n')))
        answer.chop(1);
    if (answer.endsWith(QLatin1Char('\r')))
        answer.chop(1);
    return answer;
}

void InstrumentIO::reportMissingDevice(const QString& query, const QString& expected,
                                       const QString& received, bool mayContinue)
{
    const QString text = QStringLiteral("ID Query: ") + query +
                         QStringLiteral("\n\nExpected Response: ") + expected +
                         QStringLiteral("\n\nReceived Response(s):\n") + received +
                         QStringLiteral("\nCorrect the problem and re") +
                         (mayContinue ? QStringLiteral("try. Program will continue.")
                                      : QStringLiteral("start. Program will end."));
    m_dialogs.message({mayContinue ? MsgKind::Notice : MsgKind::Fatal, MsgIcon::Critical,
                       QStringLiteral("Expected Id-response from device not found") +
                           QString(40, QLatin1Char(' ')),
                       text, MsgButtons::Ok});
    if (!mayContinue)
        endProgram();
}
