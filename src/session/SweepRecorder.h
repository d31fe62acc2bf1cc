#pragma once

#include "history/HistoryRecord.h"

#include <QObject>
#include <QUuid>

class BenchSession;
class History;

// Hands every completed device sweep of the session to the history, with what the sweep does
// not know itself: the bench, who started it and how, and the DUT when it was given before.
class SweepRecorder : public QObject {
    Q_OBJECT
public:
    SweepRecorder(History& history, BenchSession& session, BenchInterface interface,
                  const QString& address, QObject* parent = nullptr);

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
    BenchSession& m_session;
    BenchInterface m_interface;
    QString m_address;
    QUuid m_lastRecord;
};
