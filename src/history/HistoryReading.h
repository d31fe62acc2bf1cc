#pragma once

#include "history/DatabaseTarget.h"
#include "history/HistoryStore.h"

// The history as a command without a window reads it: this bench's file, or a lab's database
// together with this bench's records still on their way there. What waits in the outbox for
// that database is sent first; a database that does not answer leaves this bench's copy of
// the records meant for it. Reading never makes a file: a bench that never recorded has an
// empty history.
class HistoryReading {
public:
    enum class Source { Local, Shared, BenchCopy };

    // database: the --database value, empty when not given.
    explicit HistoryReading(const QString& database);

    // False, with error(), when the history cannot be read at all.
    bool open();
    Source source() const { return m_source; }
    const DatabaseTarget& target() const { return m_target; }
    // Why the last step failed, for the reader.
    QString error() const { return m_error; }
    // With this bench's copy only: the line that says so.
    QString notice() const;
    // This bench's outbox items for the shared database that are still not there.
    int waiting() const { return m_waiting; }
    // The database read whole: the shared one, or this bench's file; null when there is none or
    // only this bench's copy of a lab's records.
    HistoryStore* store();

    std::optional<QVector<RecordSummary>> query(const HistoryFilter& filter);
    // The record with its prints; a null id when there is none.
    std::optional<HistoryRecord> load(const QUuid& id);
    // The record whose sweep ended last among those with this DUT ID, own or printed.
    std::optional<QUuid> latestFor(const QString& dutId);

private:
    bool openLocal(HistoryStore::Access access);
    void send(const QVector<HistoryStore::OutboxItem>& items);
    std::optional<QVector<RecordSummary>> fromBench(HistoryFilter filter, bool waitingOnly);
    bool queuedHere(const QUuid& id);
    bool failed(const HistoryStore& store);

    DatabaseTarget m_target;
    Source m_source = Source::Local;
    HistoryStore m_local;    // closed when the bench has no file
    HistoryStore m_shared;   // open with Source::Shared
    QStringList m_queuedFor; // the outbox's names of the shared database
    int m_waiting = 0;
    QString m_error;
};
