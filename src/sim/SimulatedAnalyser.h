#pragma once

#include "sim/BenchModel.h"
#include "sim/BenchScenario.h"
#include "sim/SimulatedDevice.h"

#include <QHash>
#include <QString>
#include <QStringList>

// The spectrum analyser with its tracking generator: the command set the program sends,
// and marker readings taken from the bench model.
class SimulatedAnalyser : public SimulatedDevice {
public:
    // Status bytes without the request bit 0x40.
    static constexpr quint8 SweepDone = 0x02;
    static constexpr quint8 CommandError = 0x21;
    // A single sweep of the settings the program uses.
    static constexpr double SweepSeconds = 0.3;

    SimulatedAnalyser(int address, const BenchScenario& scenario, const BenchModel& model,
                      const Connection& connection, double now);

    bool isAnalyser() const override { return true; }
    // The identification without its header.
    QString identification() const;

protected:
    void execute(const QByteArray& message, double now) override;
    void polled(quint8 statusByte, double now) override;

private:
    // What a sweep saw: single sweeps hold their trace, free run follows the bench.
    struct Acquisition {
        Connection connection;
        bool tgOn;
        double tgDbm;
    };

    void reset();
    // False for a command the analyser does not know or cannot take.
    bool apply(const QString& header, const QString& argument, double now);
    bool answer(const QString& query);
    void startSweep(double now);
    Acquisition acquisition() const;
    double markerLevel();
    // Uniform in [-halfWidth, halfWidth], from a fixed seed so every run reads the same.
    double noise(double halfWidth);
    QByteArray framed(const QStringList& answers) const;
    void queueStaleRequests(double now);

    BenchScenario m_scenario;
    const BenchModel& m_model;
    const Connection& m_connection;

    bool m_headers = true;
    double m_refLevel = -20;
    double m_rfAtt = 0;
    bool m_tgOn = false;
    double m_tgDbm = 0;
    double m_markerHz = 500e6;
    std::optional<Acquisition> m_held;
    double m_busyUntil = 0;

    QStringList m_answers; // of the message being executed
    bool m_gone = false;   // left the bus in the middle of a message
    QHash<QString, int> m_queryCounts;
    int m_markerQueries = 0;
    quint64 m_seed;
};
