#pragma once

#include "history/DatabaseTarget.h"
#include "history/HistoryStats.h"
#include "history/HistoryStore.h"

#include <QList>
#include <QObject>

#include <atomic>

// History's side in the worker thread: owns both connections and the records not yet in the
// local file. Only History uses it.
class HistoryWorker : public QObject {
    Q_OBJECT
public:
    HistoryWorker(const DatabaseTarget& target, const QString& localPath);
    ~HistoryWorker() override;

    void start();
    void write(const HistoryRecord& record);
    void writePrint(const QUuid& recordId, const PrintRow& row);
    void retry();
    QVector<RecordSummary> query(const HistoryFilter& filter, QString* note);
    HistoryRecord load(const QUuid& id, QString* error);
    QVector<HistoryStats::Group> stats(const HistoryFilter& filter, QString* error);
    void groupFigures(const HistoryFilter& filter, const HistoryStats::Group& group,
                      int utcOffsetSeconds, HistoryStats::Histogram* histogram,
                      HistoryStats::Trend* trend, QString* error);

signals:
    // recordsAtRisk: this bench's own file cannot be written; records wait in memory.
    void outage(const QString& message, bool recordsAtRisk);
    void restored(const QString& message);
    void retryWanted();

public:
    // From any thread: what is still to come is kept in the bench's own file only, its
    // sending left to the next start.
    void keepLocalOnly() { m_localOnly = true; }
    void lossTold() { m_lossTold = true; }

private:
    struct Pending {
        HistoryRecord record; // a record, or the record id of a print
        PrintRow print;
        bool isPrint = false;
    };
    bool sharedWanted() const { return m_target.isShared() && m_target.valid(); }
    QString queueFor(const HistoryRecord& record) const;
    std::optional<QString> printQueueFor(const QUuid& recordId);
    bool localReady();
    bool setAsideDamaged();
    bool writePending();
    void spillToShared();
    bool sharedReady();
    void sendOutbox();
    // This bench's records for the shared database that have not reached it yet.
    QVector<RecordSummary> waitingFor(HistoryFilter filter);
    void localFailed();
    void localOk();
    void sharedFailed(const QString& message);
    void sharedOk(int sent);
    // Where the figures come from: the lab's database once this bench's waiting records have
    // reached it, else this bench's file; null with error set when neither may give them.
    HistoryStore* figuresStore(QString* error);

    DatabaseTarget m_target;
    QString m_localPath;
    HistoryStore m_local;
    HistoryStore m_shared;
    QList<Pending> m_pending;
    bool m_lossTold = false; // the operator knows what could not be kept
    bool m_localDown = false;
    bool m_sharedDown = false;
    QString m_setAside; // where a damaged file went, until a new one works
    std::atomic<bool> m_localOnly = false;
};
