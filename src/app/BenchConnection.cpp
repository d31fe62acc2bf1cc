#include "app/BenchConnection.h"

#include "base/Clock.h"
#include "gpib/AdapterDriver.h"
#include "gpib/LinuxGpibDriver.h"
#include "gpib/TracingDriver.h"
#include "gpib/Vxi11Driver.h"
#include "sim/BenchScenario.h"
#include "sim/SimulatedBench.h"
#include "sim/SimulatedOperator.h"

#include <QApplication>

BenchConnection::BenchConnection() = default;
BenchConnection::~BenchConnection() = default;

bool BenchConnection::open(const BusChoice& choice, OperatorDialogs& operatorDialogs,
                           Refusal* refusal)
{
    m_dialogs = &operatorDialogs;
    if (choice.simulate) {
        const std::optional<BenchScenario> scenario = BenchScenario::parse(choice.scenario);
        if (!scenario) {
            *refusal = {QStringLiteral("Simulated bench"),
                        QStringLiteral("Unknown simulated bench scenario: %1\n\nKnown words:\n%2")
                            .arg(choice.scenario, BenchScenario::help())};
            return false;
        }
        if (scenario->instant) {
            // Virtual time: it moves on when somebody waits, and a modal window that waits on
            // its own timer (the intro) is carried forward by the idle event loop.
            auto clock = std::make_unique<VirtualClock>();
            clock->idleAdvance = [] { return QApplication::activeModalWidget() != nullptr; };
            m_clock = std::move(clock);
        } else {
            m_clock = std::make_unique<SteadyClock>();
        }
        auto bench = std::make_unique<SimulatedBench>(*m_clock, *scenario);
        m_simulatedOperator = std::make_unique<SimulatedOperator>(operatorDialogs, *bench);
        m_dialogs = m_simulatedOperator.get();
        m_driver = std::move(bench);
        m_interface = BenchInterface::Simulated;
        m_address = choice.scenario;
    } else if (Vxi11Driver::isGatewayAddress(choice.adapter)) {
        m_clock = std::make_unique<SteadyClock>();
        QString error;
        m_driver = Vxi11Driver::open(choice.adapter, *m_clock, &error);
        if (!m_driver) {
            *refusal = {QStringLiteral("GPIB gateway not reached"),
                        QStringLiteral("The GPIB gateway could not be used.\n%1\n\nCheck the "
                                       "address, that the gateway is powered and that the "
                                       "network lets through TCP port 111 (or the portmapper "
                                       "port given) and the gateway's VXI-11 core port. "
                                       "velmora-bench --vxi11 serves a simulated bench as a "
                                       "gateway to try this without hardware.")
                            .arg(error)};
            return false;
        }
        m_interface = BenchInterface::Adapter;
        m_address = choice.adapter;
    } else if (!choice.adapter.isEmpty()) {
        m_clock = std::make_unique<SteadyClock>();
        QString error;
        m_driver = AdapterDriver::open(choice.adapter, *m_clock, &error);
        if (!m_driver) {
            *refusal = {QStringLiteral("GPIB adapter not reached"),
                        QStringLiteral("The GPIB adapter could not be used.\n%1\n\nCheck the "
                                       "device or address and that the adapter is powered. "
                                       "velmora-bench serves a simulated bench as an adapter "
                                       "to try this without hardware.")
                            .arg(error)};
            return false;
        }
        m_interface = BenchInterface::Adapter;
        m_address = choice.adapter;
    } else {
        m_clock = std::make_unique<SteadyClock>();
        QString error;
        m_driver = LinuxGpibDriver::load(choice.gpibLibrary, &error);
        const QString library = choice.gpibLibrary.isEmpty()
                                    ? QLatin1String(LinuxGpibDriver::defaultLibrary)
                                    : choice.gpibLibrary;
        if (!m_driver) {
            *refusal = {QStringLiteral("GPIB library not found"),
                        QStringLiteral("The GPIB library %1 could not be loaded.\n%2\n\n"
                                       "The library is provided by linux-gpib. To try the "
                                       "program without a GPIB board, start it with --simulate: "
                                       "that runs the built-in simulated bench.")
                            .arg(library, error)};
            return false;
        }
        m_address = library;
    }

    m_bus = m_driver.get();
    if (!choice.tracePath.isEmpty()) {
        m_traceFile.setFileName(choice.tracePath);
        if (!m_traceFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            *refusal = {QStringLiteral("Trace"),
                        QStringLiteral("The trace file %1 cannot be written: %2")
                            .arg(m_traceFile.fileName(), m_traceFile.errorString())};
            return false;
        }
        m_tracing = std::make_unique<TracingDriver>(*m_driver, *m_clock, m_traceFile);
        m_bus = m_tracing.get();
    }
    return true;
}
