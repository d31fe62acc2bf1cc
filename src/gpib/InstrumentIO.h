#pragma once

#include "gpib/GpibBinding.h"

#include <QString>

#include <array>
#include <atomic>

class Clock;
class OperatorDialogs;

// Everything the measurement code uses to talk to an instrument, and the one place that
// turns a failed bus operation into words for the operator.
class InstrumentIO {
public:
    InstrumentIO(GpibDriver& driver, Clock& clock, OperatorDialogs& dialogs);

    void GpibWrite(qint16 device, const QString& command);
    QString GpibRead(qint16 device);
    QString GpibQuery(qint16 device, const QString& command);
    // A negative device waits without polling off stale requests first.
    void GpibWaitSrq(qint16 device);
    void Delay(float seconds);
    void DeviceNotConfigured();
    void GpibCheckError();

    // mode 1: every failure is fatal; -1: an empty bus is not reported; else report, go on.
    void GpibInit(qint16 mode);
    // Leading "!" on the query: no device clear; trailing "!": a miss lets the program go
    // on. Leading "!" on the response: silent; then leading "?": wait before the query;
    // trailing "!": exact match. Both strings lose their modifiers.
    qint16 FindDevice(QString& query, QString& expected);

    // A USB or Ethernet adapter that stopped answering: every bus call fails at once until
    // reconnect() has it back (false: still gone). Never for a GPIB board.
    bool linkLost() const { return m_driver.linkLost(); }
    bool reconnect() { return m_driver.reconnect(); }
    // The operator's message for a lost adapter, shown with an exclamation icon and OK.
    QString adapterLostText() const;
    // While a run is in progress a lost adapter is told once, as itself, instead of a GPIB
    // error dialog for every call that fails after it.
    void beginRun();
    void endRun() { m_inRun = false; }
    void tellAdapterLost();

    // Where the program ends (a fatal condition, Cancel in the GPIB error dialog) this is
    // called after the message: from then on no call goes over the bus, no wait waits and no
    // message is shown, so that every routine returns at once up to main(), which exits.
    void endProgram() { m_programEnded = true; }
    bool programEnded() const { return m_programEnded; }

    // The run in progress is to end at once (a signal, from any thread): the wait in progress
    // returns now and every later one at once. Bus calls still go out.
    void cutShort();
    bool cutShortAsked() const { return m_cutShort; }

    const NiGlobal& status() const { return m_bus.status(); }
    Clock& clock() { return m_clock; }

    bool IoErrorFlag = false;
    std::array<qint16, 15> Listeners{};
    std::array<qint16, 15> FreeListeners{};
    qint16 DefaultTimeout = 0;
    struct {
        bool reuse = false;
        qint16 descriptor = 0;
    } ProbeDevice;

    // Longest wait for a service request; an analyser that never asks must not hang us.
    static constexpr double ServiceRequestLimit = 30.0;

private:
    // What the modifiers of a FindDevice search ask for.
    struct SearchModifiers {
        bool noClear = false;
        bool mayContinue = false;
        bool silent = false;
        bool settle = false;
        bool exact = false;
    };
    // The answer of the instrument at address to the query, through the probe descriptor.
    QString probeAnswer(qint16 probe, qint16 address, const QString& query,
                        const SearchModifiers& how);
    void reportMissingDevice(const QString& query, const QString& expected, const QString& received,
                             bool mayContinue);
    void waitForServiceRequest(qint16 device);

    bool m_inRun = false;
    std::atomic<bool> m_cutShort = false;
    bool m_programEnded = false;
    bool m_lostTold = false;

    GpibDriver& m_driver;
    GpibBinding m_bus;
    Clock& m_clock;
    OperatorDialogs& m_dialogs;
};

// The text for a driver error code.
QString GpibErrorText(int iberr);
