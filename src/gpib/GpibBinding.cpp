#include "gpib/GpibBinding.h"

void GpibBinding::refresh()
{
    const GpibStatus raw = m_driver.status();
    m_status.ibsta = qint16(raw.ibsta);
    m_status.iberr = qint16(raw.iberr);
    m_status.ibcntl = qint32(raw.ibcntl);
    m_status.ibcnt = qint16(raw.ibcntl);
}

qint16 GpibBinding::ibdev(int board, int pad, int sad, int tmo, int eot, int eos)
{
    const int ud = m_driver.ibdev(board, pad, sad, tmo, eot, eos);
    refresh();
    return qint16(ud);
}

void GpibBinding::ibpad(qint16 ud, int pad)
{
    m_driver.ibpad(ud, pad);
    refresh();
}

void GpibBinding::ibclr(qint16 ud)
{
    m_driver.ibclr(ud);
    refresh();
}

quint8 GpibBinding::ibrsp(qint16 ud)
{
    char statusByte = 0;
    m_driver.ibrsp(ud, &statusByte);
    refresh();
    return quint8(statusByte);
}

void GpibBinding::ibwrt(qint16 ud, const QString& text)
{
    m_driver.ibwrt(ud, text.toLatin1());
    refresh();
}

void GpibBinding::ibrd(qint16 ud, QByteArray& buffer)
{
    m_driver.ibrd(ud, buffer);
    refresh();
}

void GpibBinding::ibtmo(qint16 ud, int tmo)
{
    m_driver.ibtmo(ud, tmo);
    refresh();
}

qint16 GpibBinding::ibask(qint16 ud, int option)
{
    int value = 0;
    m_driver.ibask(ud, option, &value);
    refresh();
    return qint16(value);
}

void GpibBinding::ibwait(qint16 ud, int mask)
{
    m_driver.ibwait(ud, mask);
    refresh();
}

void GpibBinding::ibsre(int board, int value)
{
    m_driver.ibsre(board, value);
    refresh();
}

void GpibBinding::SendIFC(int board)
{
    m_driver.SendIFC(board);
    refresh();
}

void GpibBinding::FindLstn(int board, const QVector<short>& addresses, QVector<short>& results,
                           int limit)
{
    m_driver.FindLstn(board, addresses, results, limit);
    refresh();
}
