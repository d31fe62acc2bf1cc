#pragma once

#include "gpib/GpibDriver.h"

class Clock;
class QIODevice;

// Passes every call on to another driver and writes one line per call to a device:
//   <seconds> <operation> ud=<descriptor> [<argument>] ["<data>"] ibsta=0x.. iberr=.. ibcnt=..
// A driver with a protocol of its own adds a line per exchange, "<seconds> vxi11 ...", before
// the call's line. Seconds count from construction. Each line is flushed at once so a program that
// ends abruptly still leaves a complete trace. Owns nothing: the inner driver, the clock and the
// device must outlive the TracingDriver.
class TracingDriver : public GpibDriver {
public:
    TracingDriver(GpibDriver& inner, Clock& clock, QIODevice& out);
    ~TracingDriver() override;

    // The inner driver's name: tracing does not change which library talks to the bus.
    QString name() const override;

    int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override;
    int ibpad(int ud, int pad) override;
    int ibclr(int ud) override;
    int ibrsp(int ud, char* statusByte) override;
    int ibwrt(int ud, const QByteArray& data) override;
    int ibrd(int ud, QByteArray& buffer) override;
    int ibtmo(int ud, int tmo) override;
    int ibask(int ud, int option, int* value) override;
    int ibwait(int ud, int mask) override;
    int ibsre(int board, int value) override;
    void SendIFC(int board) override;
    void FindLstn(int board, const QVector<short>& addresses, QVector<short>& results,
                  int limit) override;

    GpibStatus status() const override;
    bool linkLost() const override;
    bool reconnect() override;
    QString linkAddress() const override;
    Refusal refusal() const override { return m_inner.refusal(); }
    void callFrom(QThread* thread) override { m_inner.callFrom(thread); }

    // Bytes as C-escaped text: \r \n \t \" \\ and \xNN for anything else not printable.
    static QByteArray escaped(const QByteArray& bytes);

private:
    // One line, after the seconds since construction.
    void write(const QByteArray& text);
    void trace(const char* operation, int ud, const QByteArray& argument,
               const QByteArray* data = nullptr);

    GpibDriver& m_inner;
    Clock& m_clock;
    QIODevice& m_out;
    double m_start;
};
