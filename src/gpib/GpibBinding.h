#pragma once

#include "gpib/GpibDriver.h"

#include <QtGlobal>

// The outcome of the last driver call, narrowed as the instrument routines read it.
struct NiGlobal {
    qint16 ibsta = 0;
    qint16 iberr = 0;
    qint16 ibcnt = 0; // low 16 bits of ibcntl, signed
    qint32 ibcntl = 0;

    bool error() const { return ibsta & Ni488::ERR; }
    bool has(int bit) const { return ibsta & bit; }
};

// The only place that calls the driver: one wrapper per driver function, each refreshing
// the status variables afterwards.
class GpibBinding {
public:
    explicit GpibBinding(GpibDriver& driver) : m_driver(driver) {}

    const NiGlobal& status() const { return m_status; }
    // Lets a routine report a condition the driver does not flag, such as an expired wait.
    void setStatus(const NiGlobal& status) { m_status = status; }

    qint16 ibdev(int board, int pad, int sad, int tmo, int eot, int eos);
    void ibpad(qint16 ud, int pad);
    void ibclr(qint16 ud);
    quint8 ibrsp(qint16 ud);
    void ibwrt(qint16 ud, const QString& text);
    // Reads into buffer, which keeps whatever the driver does not overwrite.
    void ibrd(qint16 ud, QByteArray& buffer);
    void ibtmo(qint16 ud, int tmo);
    qint16 ibask(qint16 ud, int option);
    void ibwait(qint16 ud, int mask);
    void ibsre(int board, int value);
    void SendIFC(int board);
    void FindLstn(int board, const QVector<short>& addresses, QVector<short>& results, int limit);

private:
    void refresh();

    GpibDriver& m_driver;
    NiGlobal m_status;
};
