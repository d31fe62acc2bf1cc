#pragma once

#include "history/HistoryRecord.h"

#include <QFile>
#include <QString>

#include <memory>

class Clock;
class GpibDriver;
class OperatorDialogs;
class SimulatedOperator;
class TracingDriver;

// How the program reaches the bus: the simulated bench, a "++" adapter or the GPIB library,
// with the trace when asked for, and the clock every wait goes through.
struct BusChoice {
    bool simulate = false;
    QString scenario; // the simulated bench's words
    QString adapter;  // device, tcp:// or vxi11:// address; empty when not used
    QString gpibLibrary;
    QString tracePath;
};

class BenchConnection {
public:
    // Why the bus could not be opened: a title and a text for the operator.
    struct Refusal {
        QString title;
        QString text;
    };

    BenchConnection();
    ~BenchConnection();

    // Opens the bus; the dialogs are the operator's, wrapped by the simulated bench's hands.
    // Returns false and fills refusal when it cannot.
    bool open(const BusChoice& choice, OperatorDialogs& operatorDialogs, Refusal* refusal);

    Clock& clock() const { return *m_clock; }
    GpibDriver& bus() const { return *m_bus; }
    OperatorDialogs& dialogs() const { return *m_dialogs; }
    BenchInterface interface() const { return m_interface; }
    bool simulated() const { return m_interface == BenchInterface::Simulated; }
    // The GPIB library, the adapter's device or address, or the simulated bench's words.
    QString address() const { return m_address; }

private:
    std::unique_ptr<Clock> m_clock;
    std::unique_ptr<GpibDriver> m_driver;
    std::unique_ptr<SimulatedOperator> m_simulatedOperator;
    QFile m_traceFile;
    std::unique_ptr<TracingDriver> m_tracing;
    GpibDriver* m_bus = nullptr;
    OperatorDialogs* m_dialogs = nullptr;
    BenchInterface m_interface = BenchInterface::Board;
    QString m_address;
};
