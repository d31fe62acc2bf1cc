#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

class QThread;

// The NI-488.2 names the program relies on: status bits, error codes and time-out codes.
namespace Ni488 {

// ibsta bits
inline constexpr int ERR = 0x8000;
inline constexpr int TIMO = 0x4000;
inline constexpr int END = 0x2000;
inline constexpr int SRQI = 0x1000;
inline constexpr int RQS = 0x0800;
inline constexpr int CMPL = 0x0100;

// iberr codes
inline constexpr int EDVR = 0;
inline constexpr int ECIC = 1;
inline constexpr int ENOL = 2;
inline constexpr int EADR = 3;
inline constexpr int EARG = 4;
inline constexpr int ESAC = 5;
inline constexpr int EABO = 6;
inline constexpr int ENEB = 7;
inline constexpr int EOIP = 10;
inline constexpr int ECAP = 11;
inline constexpr int EFSO = 12;
inline constexpr int EBUS = 14;
inline constexpr int ESTB = 15;
inline constexpr int ESRQ = 16;
inline constexpr int ETAB = 20;

// Time-out codes
inline constexpr int TNONE = 0;
inline constexpr int T10us = 1;
inline constexpr int T30us = 2;
inline constexpr int T100us = 3;
inline constexpr int T300us = 4;
inline constexpr int T1ms = 5;
inline constexpr int T3ms = 6;
inline constexpr int T10ms = 7;
inline constexpr int T30ms = 8;
inline constexpr int T100ms = 9;
inline constexpr int T300ms = 10;
inline constexpr int T1s = 11;
inline constexpr int T3s = 12;
inline constexpr int T10s = 13;
inline constexpr int T30s = 14;
inline constexpr int T100s = 15;
inline constexpr int T300s = 16;
inline constexpr int T1000s = 17;

// ibask option that reports a descriptor's time-out code
inline constexpr int IbaTMO = 0x0003;

// End marker of a FindLstn address list
inline constexpr short NOADDR = -1;

// Seconds of a time-out code; 0 for TNONE (no limit) or an unknown code.
double timeoutSeconds(int code);
// The shortest time-out code that waits at least ms (T1000s when none does).
int timeoutCodeFor(double ms);

} // namespace Ni488

// The raw outcome of the last driver call, as wide as the driver reports it.
struct GpibStatus {
    int ibsta = 0;
    int iberr = 0;
    long ibcntl = 0;
};

// One GPIB library behind NI-488.2 semantics: the linux-gpib binding, an adapter binding or
// the simulated bench. Every call returns ibsta and leaves the full outcome in status().
class GpibDriver {
public:
    virtual ~GpibDriver() = default;

    // Short name for messages and the trace ("linux-gpib", "simulated bench", ...).
    virtual QString name() const = 0;

    virtual int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) = 0;
    virtual int ibpad(int ud, int pad) = 0;
    virtual int ibclr(int ud) = 0;
    virtual int ibrsp(int ud, char* statusByte) = 0;
    virtual int ibwrt(int ud, const QByteArray& data) = 0;
    // Reads at most buffer.size() bytes into the front of buffer; the rest keeps its bytes.
    virtual int ibrd(int ud, QByteArray& buffer) = 0;
    virtual int ibtmo(int ud, int tmo) = 0;
    virtual int ibask(int ud, int option, int* value) = 0;
    virtual int ibwait(int ud, int mask) = 0;
    virtual int ibsre(int board, int value) = 0;
    virtual void SendIFC(int board) = 0;
    // addresses ends with Ni488::NOADDR; at most limit results are written.
    virtual void FindLstn(int board, const QVector<short>& addresses, QVector<short>& results,
                          int limit) = 0;

    virtual GpibStatus status() const = 0;

    // A driver that reaches the bus over a link of its own (a USB or Ethernet adapter) may lose
    // it: from then on every call fails at once, until reconnect() opens it again, at the
    // address it was first opened with. False: still gone.
    virtual bool linkLost() const { return false; }
    virtual bool reconnect() { return false; }
    // That address as it was given; empty for a driver without a link.
    virtual QString linkAddress() const { return {}; }

    // Why the bus cannot be used after all, found while it was brought up (a gateway with no
    // link free for an instrument): a title and a text for the operator; empty when nothing.
    struct Refusal {
        QString title;
        QString text;
    };
    virtual Refusal refusal() const { return {}; }

    // A driver that speaks a protocol of its own to reach the bus hands each exchange to line,
    // as one line of text without a line end, from the thread that calls it.
    virtual void traceProtocol(std::function<void(const QByteArray&)> line) { (void)line; }

    // Every call comes from thread from now on; a driver whose link is a Qt object moves it
    // there. Called on the thread that made the calls so far.
    virtual void callFrom(QThread* thread) { (void)thread; }
};
