#include "gpib/TracingDriver.h"

#include "base/Clock.h"

#include <QFileDevice>

namespace {

QByteArray hex(unsigned value)
{
    return "0x" + QByteArray::number(value, 16);
}

} // namespace

TracingDriver::TracingDriver(GpibDriver& inner, Clock& clock, QIODevice& out)
    : m_inner(inner), m_clock(clock), m_out(out), m_start(clock.now())
{
    // The protocol's own exchanges go in between, each before the call it belongs to.
    m_inner.traceProtocol([this](const QByteArray& line) { write(line); });
}

TracingDriver::~TracingDriver()
{
    m_inner.traceProtocol({});
}

void TracingDriver::write(const QByteArray& text)
{
    m_out.write(QByteArray::number(m_clock.now() - m_start, 'f', 3) + ' ' + text + '\n');
    if (auto* file = qobject_cast<QFileDevice*>(&m_out))
        file->flush();
}

QString TracingDriver::name() const
{
    return m_inner.name();
}

GpibStatus TracingDriver::status() const
{
    return m_inner.status();
}

bool TracingDriver::linkLost() const
{
    return m_inner.linkLost();
}

bool TracingDriver::reconnect()
{
    const bool back = m_inner.reconnect();
    trace("reconnect", 0, back ? "ok" : "gone");
    return back;
}

QString TracingDriver::linkAddress() const
{
    return m_inner.linkAddress();
}

QByteArray TracingDriver::escaped(const QByteArray& bytes)
{
    QByteArray text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        switch (c) {
        case '\r':
            text += "\\r";
            break;
        case '\n':
            text += "\\n";
            break;
        case '\t':
            text += "\\t";
            break;
        case '"':
            text += "\\\"";
            break;
        case '\\':
            text += "\\\\";
            break;
        default:
            if (c >= 0x20 && c < 0x7f)
                text += c;
            else
                text += "\\x" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
        }
    }
    return text;
}

void TracingDriver::trace(const char* operation, int ud, const QByteArray& argument,
                          const QByteArray* data)
{
    const GpibStatus s = m_inner.status();
    QByteArray line = operation + QByteArray(" ud=") + QByteArray::number(ud);
    if (!argument.isEmpty())
        line += ' ' + argument;
    if (data)
        line += " \"" + escaped(*data) + '"';
    line += " ibsta=" + hex(unsigned(s.ibsta)) + " iberr=" + QByteArray::number(s.iberr) +
            " ibcnt=" + QByteArray::number(qint64(s.ibcntl));
    write(line);
}

int TracingDriver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos)
{
    const int ud = m_inner.ibdev(board, pad, sad, tmo, eot, eos);
    trace("ibdev", ud, "pad=" + QByteArray::number(pad) + " tmo=" + QByteArray::number(tmo));
    return ud;
}

int TracingDriver::ibpad(int ud, int pad)
{
    const int sta = m_inner.ibpad(ud, pad);
    trace("ibpad", ud, "pad=" + QByteArray::number(pad));
    return sta;
}

int TracingDriver::ibclr(int ud)
{
    const int sta = m_inner.ibclr(ud);
    trace("ibclr", ud, {});
    return sta;
}

int TracingDriver::ibrsp(int ud, char* statusByte)
{
    const int sta = m_inner.ibrsp(ud, statusByte);
    trace("ibrsp", ud, statusByte ? "spr=" + hex(uchar(*statusByte)) : QByteArray());
    return sta;
}

int TracingDriver::ibwrt(int ud, const QByteArray& data)
{
    const int sta = m_inner.ibwrt(ud, data);
    trace("ibwrt", ud, {}, &data);
    return sta;
}

int TracingDriver::ibrd(int ud, QByteArray& buffer)
{
    const int sta = m_inner.ibrd(ud, buffer);
    const qsizetype count = qBound(qsizetype(0), qsizetype(m_inner.status().ibcntl), buffer.size());
    const QByteArray read = buffer.left(count);
    trace("ibrd", ud, {}, &read);
    return sta;
}

int TracingDriver::ibtmo(int ud, int tmo)
{
    const int sta = m_inner.ibtmo(ud, tmo);
    trace("ibtmo", ud, "tmo=" + QByteArray::number(tmo));
    return sta;
}

int TracingDriver::ibask(int ud, int option, int* value)
{
    const int sta = m_inner.ibask(ud, option, value);
    QByteArray argument = "option=" + QByteArray::number(option);
    if (value)
        argument += " value=" + QByteArray::number(*value);
    trace("ibask", ud, argument);
    return sta;
}

int TracingDriver::ibwait(int ud, int mask)
{
    const int sta = m_inner.ibwait(ud, mask);
    trace("ibwait", ud, "mask=" + hex(unsigned(mask)));
    return sta;
}

int TracingDriver::ibsre(int board, int value)
{
    const int sta = m_inner.ibsre(board, value);
    trace("ibsre", board, "v=" + QByteArray::number(value));
    return sta;
}

void TracingDriver::SendIFC(int board)
{
    m_inner.SendIFC(board);
    trace("SendIFC", board, {});
}

void TracingDriver::FindLstn(int board, const QVector<short>& addresses, QVector<short>& results,
                             int limit)
{
    m_inner.FindLstn(board, addresses, results, limit);
    QByteArrayList found;
    for (const short address : std::as_const(results))
        found += QByteArray::number(address);
    trace("FindLstn", board, "found=" + found.join(','));
}
