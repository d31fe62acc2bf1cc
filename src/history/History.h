#pragma once

#include "history/DatabaseTarget.h"
#include "history/HistoryRecord.h"
#include "history/HistoryStats.h"

#include <QObject>
#include <QThread>

#include <functional>

class Clock;
class HistoryWorker;

// The measurement history as the window sees it: records and prints are handed over and
// written in a worker thread that owns every connection, so neither the window nor a sweep
// ever waits for a disk or a network. Everything goes to the bench's SQLite file first; what
// is meant for a lab's shared database waits there in an outbox until that database answers,
// retried on the program's clock and at start-up.
class History : public QObject {
    Q_OBJECT
public:
    static constexpr double RetrySeconds = 30;

    History(Clock& clock, const DatabaseTarget& target,
            const QString& localPath = DatabaseTarget::localPath(), QObject* parent = nullptr);
    // Finishes what was handed over (local writes are quick; a shared database gets no more
    // than its connect time-out) and stops the worker.
    ~History() override;

    const DatabaseTarget& target() const { return m_target; }

    // A completed device sweep; returns its id at once, null for a reference or a run with no
    // measured point (those are no records).
    QUuid record(const MeasurementResult& result, const RunContext& context);
    // A print of a record: the last completed sweep, or one loaded from the history.
    void appendPrint(const QUuid& recordId, PrintRow row);

    // Reads for the history window. The answer arrives in context's thread; it is dropped when
    // context is gone by then. note: why the list is this bench's file only, or empty.
    using QueryAnswer =
        std::function<void(const QVector<RecordSummary>& records, const QString& note)>;
    void query(const HistoryFilter& filter, QObject* context, QueryAnswer answer);
    // A full record with its prints; a null id and the reason when it cannot be had.
    using LoadAnswer = std::function<void(const HistoryRecord& record, const QString& error)>;
    void load(const QUuid& id, QObject* context, LoadAnswer answer);

    // Yield and margin figures of the filter's records; error: why there are none (a shared
    // database that does not answer, or records for it still waiting here).
    using StatsAnswer =
        std::function<void(const QVector<HistoryStats::Group>& groups, const QString& error)>;
    void stats(const HistoryFilter& filter, QObject* context, StatsAnswer answer);
    // One group's histogram and trend; utcOffsetSeconds decides where a local day begins.
    using GroupAnswer = std::function<void(const HistoryStats::Histogram& histogram,
                                           const HistoryStats::Trend& trend, const QString& error)>;
    void groupFigures(const HistoryFilter& filter, const HistoryStats::Group& group,
                      int utcOffsetSeconds, QObject* context, GroupAnswer answer);

    // Blocks until the worker has done all that was handed over so far. For shutdown and
    // tests; the window never calls it.
    void drain();
    // The program is ending after a fatal condition: what was handed over is written to the
    // bench's own file (outbox included) and nothing more waits for a shared database.
    void keepLocalOnly();
    // The operator has been told which records could not be kept: no warning for them at exit.
    void lossTold();

signals:
    // A database cannot be written or reached: one message per outage, for the status line.
    // recordsAtRisk: this bench's own file cannot be written, so records wait in memory.
    void outage(const QString& message, bool recordsAtRisk);
    // It works again.
    void restored(const QString& message);

private:
    void retryWanted();

    Clock& m_clock;
    DatabaseTarget m_target;
    QThread m_thread;
    HistoryWorker* m_worker;
    int m_retryId = 0;
};
