#pragma once

#include "history/HistoryRecord.h"

#include <QObject>
#include <QUuid>

class BenchConnection;
class History;
class MeasurementEngine;

// Hands every completed device sweep of the engine to the history, with what the sweep does
// not know itself: the bench, who started it and how, and the DUT when known before.
class SweepRecorder : public QObject {
    Q_OBJECT
public:
    SweepRecorder(History& history, MeasurementEngine& engine, const BenchConnection& connection,
                  StartedFrom startedFrom, QObject* parent = nullptr);

    // What the coming sweeps are; a window's sweeps are attended and know no DUT beforehand.
    void setRun(StartedFrom startedFrom, bool unattended, const QString& dutId = {},
                const QString& comments = {});
    // The record of the last completed sweep, for the prints of it; null before one.
    QUuid lastRecord() const { return m_lastRecord; }
    History& history() const { return m_history; }
    // A print of the last completed sweep.
    void recordPrint(const PrintRow& page);

signals:
    // After each recorded sweep: the verdict in its one text.
    void recorded(const Verdict& verdict);

private:
    void record(const MeasurementResult& result);

    History& m_history;
    MeasurementEngine& m_engine;
    const BenchConnection& m_connection;
    RunContext m_context;
    bool m_unattended = false;
    QUuid m_lastRecord;
};
