#pragma once

#include "gpib/DescriptorDriver.h"
#include "sim/BenchModel.h"
#include "sim/BenchScenario.h"

#include <QStringList>

#include <map>
#include <memory>
#include <vector>

class Clock;
class SimulatedDevice;

// The analyser, its tracking generator and the parts under test behind the driver interface:
// board 0 with the controller at address 0 and the scenario's instruments on the bus. Every
// wait goes through the clock it was given.
class SimulatedBench : public DescriptorDriver {
public:
    SimulatedBench(Clock& clock, BenchScenario scenario);
    ~SimulatedBench() override;

    QString name() const override;
    int ibclr(int ud) override;
    int ibrsp(int ud, char* statusByte) override;
    int ibwrt(int ud, const QByteArray& data) override;
    int ibrd(int ud, QByteArray& buffer) override;
    int ibwait(int ud, int mask) override;
    int ibsre(int board, int value) override;
    void SendIFC(int board) override;
    void FindLstn(int board, const QVector<short>& addresses, QVector<short>& results,
                  int limit) override;

    // What the operator has connected between generator and analyser.
    void connect(const Connection& connection) { m_connection = connection; }
    Connection connection() const { return m_connection; }

    // The model's values, without reading noise, for what is connected or for c.
    double modelReturnLoss(double fMHz) const { return modelReturnLoss(m_connection, fMHz); }
    double modelReturnLoss(const Connection& c, double fMHz) const;
    double modelDeviation(double fMHz) const { return modelDeviation(m_connection, fMHz); }
    double modelDeviation(const Connection& c, double fMHz) const;

    const BenchScenario& scenario() const { return m_scenario; }
    // Addresses of the instruments still on the bus, lowest first.
    QVector<int> instrumentAddresses() const;

    // Every message an analyser took, in order, exactly as written.
    QStringList received() const { return m_received; }
    void clearReceived() { m_received.clear(); }

    // Longest any wait of the bench lasts when nothing else bounds it.
    static constexpr double LongestWait = 1000.0;

private:
    SimulatedDevice* deviceAt(int pad) const;
    double timeoutOf(int tmo) const;
    bool boardPresent(int board) const override
    {
        return board == 0 && m_scenario.board == BenchScenario::Board::Present;
    }
    int missingBoardError(bool opening) const override;
    void addDevice(std::unique_ptr<SimulatedDevice> device);
    bool writeFails(const QByteArray& data);

    Clock& m_clock;
    BenchScenario m_scenario;
    BenchModel m_model;
    Connection m_connection;
    std::vector<std::unique_ptr<SimulatedDevice>> m_devices; // by address
    std::vector<int> m_writeErrorCounts;                     // per scenario write-error trigger
    QStringList m_received;
};
