#pragma once

#include "history/DatabaseTarget.h"
#include "history/HistoryRecord.h"

#include <QSqlDatabase>
#include <QString>
#include <QUuid>
#include <QVector>

#include <optional>

class QSqlError;
class QSqlQuery;

// One connection to a history database, used from one thread only: the bench's SQLite file or
// a lab's PostgreSQL database. Every write is one transaction: a record is there whole or not
// at all. Records are only ever inserted; a print is a new row.
class HistoryStore {
public:
    enum class Access { ReadWrite, ReadOnly };
    enum class Problem {
        None,
        Unreachable, // no answer, or the link broke: try again later
        Refused,     // wrong password, unknown user or database
        Permission,  // may not create or write the tables
        Newer,       // the schema is of a newer program
        Full,        // no room left on the disk
        ReadOnly,    // the file or its folder cannot be written
        Damaged,     // not a database, or a corrupt one
        Other,
    };
    static constexpr int SchemaVersion = 1;

    HistoryStore();
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Opens the file (made with its folder when writing) and brings its schema up to date.
    bool openLocal(const QString& path, Access access = Access::ReadWrite);
    // Opens a lab's database; the schema is made on first use, one bench at a time.
    bool openShared(const DatabaseTarget& target, Access access = Access::ReadWrite);
    void close();
    bool isOpen() const { return m_db.isOpen(); }
    bool isShared() const { return m_shared; }
    // False when a read-only open found no history tables yet: every query is then empty.
    bool hasSchema() const { return m_hasSchema; }

    // The bench's file keeps running totals of every group and DUT, which the yield figures
    // read rather than the records where a filter lets them. False for a lab's database,
    // and for a file opened read-only that an older program made.
    bool hasTotals() const { return m_hasTotals; }
    // The SQL of the median of an expression in a GROUP BY: the middle value, or the mean of
    // the two middle ones.
    QString medianOf(const QString& expression) const;

    // What went wrong last, as one message for the operator: the problem and what to do.
    QString lastError() const { return m_error; }
    Problem lastProblem() const { return m_problem; }

    // outboxTarget: the shared database the record still has to reach (local file only).
    bool writeRecord(const HistoryRecord& record, const QString& outboxTarget = {});
    bool writePrint(const QUuid& recordId, const PrintRow& row, const QString& outboxTarget = {});

    std::optional<QVector<RecordSummary>> query(const HistoryFilter& filter);
    // The record with its prints; nullopt on failure, a null id when there is none.
    std::optional<HistoryRecord> load(const QUuid& id);
    std::optional<int> recordCount();

    // The local outbox: what still has to reach a shared database, oldest first.
    struct OutboxItem {
        qint64 seq = 0;
        QUuid item;
        QUuid recordId;
        bool isPrint = false;
    };
    std::optional<QVector<OutboxItem>> pendingOutbox(const QStringList& targets);
    bool markSent(qint64 seq);
    // The outbox's targets naming target's database, however written.
    std::optional<QStringList> outboxTargetsFor(const DatabaseTarget& target);
    // Copies an item of this file's outbox to shared, without marking it sent. An item gone
    // from this file counts as copied.
    enum class Handover { Done, LocalFailed, SharedFailed };
    Handover handOver(const OutboxItem& item, HistoryStore& shared);
    // Where a record was queued for, empty when nowhere; nullopt on failure.
    std::optional<QString> outboxTargetOf(const QUuid& recordId);
    std::optional<bool> hasRecord(const QUuid& id);
    std::optional<PrintRow> loadPrint(const QUuid& printId);

    // The rows of a read-only statement, each column in order; nullopt on failure. Empty
    // when the database has no history tables yet.
    std::optional<QVector<QVariantList>> rows(const QString& text, const QVariantList& values);

    QSqlDatabase connection() const { return m_db; }
    // The file, or the URL.
    QString where() const { return m_where; }

private:
    bool open(const QString& driver);
    bool useWriteAheadLog();
    bool prepareSchema(Access access);
    bool lockSchema();
    // The columns and indexes added since the version, made when writing; what a read-only
    // open finds missing is read as absent.
    bool addMissing(Access access);
    std::optional<bool> has(const char* table, const char* name, bool isIndex);
    // Whether the running totals are there, or need not be.
    std::optional<bool> totalsKept();
    // Makes the totals of the records so far and the trigger that adds each new one.
    bool keepTotals();
    bool addMedian();
    std::optional<int> schemaVersion();
    bool migrate();
    bool begin();
    bool commit();
    void rollback();
    // Puts a written record or print in the outbox, for the shared database target.
    bool queueOutbox(const QUuid& itemId, const QUuid& recordId, bool isPrint,
                     const QString& target);
    bool exec(QSqlQuery& query, const char* text);
    bool fail(const QSqlError& error);
    bool failWith(Problem problem, const QString& message);
    QString sql(QString text) const;

    QSqlDatabase m_db;
    QString m_name;
    QString m_where;
    QString m_user;
    bool m_shared = false;
    bool m_hasSchema = false;
    bool m_hasTotals = false;
    QStringList m_absentColumns; // read as NULL: a read-only open does not add them
    bool m_inTransaction = false;
    QString m_error;
    Problem m_problem = Problem::None;
};

// A filter as SQL over the records r: " WHERE ..." (empty for none) and its values in order.
struct FilterClause {
    QString sql;
    QVariantList values;
};
FilterClause filterClause(const HistoryFilter& filter);

// A sweep's points as stored: little-endian float32 pairs, frequency in MHz and value in dB.
// The grid's frequencies (multiples of 12.5 MHz) are exact in float32, and two records of the
// largest sweep fit in a page.
QByteArray encodePoints(const QVector<MeasuredPoint>& points);
QVector<MeasuredPoint> decodePoints(const QByteArray& bytes);
