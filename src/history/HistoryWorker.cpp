#include "history/HistoryWorker.h"

#include <QDateTime>
#include <QFile>

namespace {

const QString KeptInMemory = QStringLiteral(
    " Until then records are kept in memory; they are lost if the program ends first.");
const QString KeptOnBench =
    QStringLiteral(" Records are kept on this bench and sent when it answers again.");

} // namespace

HistoryWorker::HistoryWorker(const DatabaseTarget& target, const QString& localPath)
    : m_target(target), m_localPath(localPath)
{}

HistoryWorker::~HistoryWorker()
{
    // One last try for what is still only in memory.
    writePending();
    if (!m_pending.isEmpty() && !m_lossTold) {
        qWarning("velmora: %lld history %s could not be written: %s", qlonglong(m_pending.size()),
                 m_pending.size() == 1 ? "entry" : "entries", qPrintable(m_local.lastError()));
    }
}

void HistoryWorker::start()
{
    if (m_target.isShared() && !m_target.valid()) {
        m_shared.openShared(m_target);
        emit outage(m_shared.lastError() +
                        QStringLiteral(" Records are kept in this bench's history file only."),
                    false);
    }
    if (localReady())
        sendOutbox();
}

void HistoryWorker::write(const HistoryRecord& record)
{
    m_pending.append({record, {}, false});
    if (writePending())
        sendOutbox();
}

void HistoryWorker::writePrint(const QUuid& recordId, const PrintRow& row)
{
    HistoryRecord owner;
    owner.id = recordId;
    m_pending.append({owner, row, true});
    if (writePending())
        sendOutbox();
}

void HistoryWorker::retry()
{
    if (writePending())
        sendOutbox();
}

QString HistoryWorker::queueFor(const HistoryRecord& record) const
{
    // A simulated bench's records reach a lab's database only when this run named it.
    if (!sharedWanted() || (record.simulated() && !m_target.fromCommandLine))
        return {};
    return m_target.url;
}

std::optional<QString> HistoryWorker::printQueueFor(const QUuid& recordId)
{
    // A print follows its record; one of another bench's records, known only to the shared
    // database, goes there.
    std::optional<QString> queued = m_local.outboxTargetOf(recordId);
    if (!queued || !queued->isEmpty())
        return queued;
    const std::optional<bool> here = m_local.hasRecord(recordId);
    if (!here)
        return std::nullopt;
    return *here || !sharedWanted() ? QString() : m_target.url;
}

bool HistoryWorker::localReady()
{
    if (m_local.isOpen())
        return true;
    if (m_local.openLocal(m_localPath))
        return true;
    if (m_local.lastProblem() == HistoryStore::Problem::Damaged && setAsideDamaged())
        return true;
    localFailed();
    return false;
}

bool HistoryWorker::setAsideDamaged()
{
    // Kept, not deleted: whoever looks into it later may still recover records from it.
    m_local.close();
    const QString aside =
        m_localPath + QStringLiteral(".damaged-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss"));
    const QString problem = m_local.lastError();
    if (!QFile::rename(m_localPath, aside))
        return false;
    for (const char* suffix : {"-wal", "-shm"})
        QFile::rename(m_localPath + QLatin1String(suffix), aside + QLatin1String(suffix));
    if (!m_local.openLocal(m_localPath))
        return false;
    if (!m_localDown)
        emit outage(problem, false);
    m_localDown = true;
    m_setAside = aside;
    return true;
}

bool HistoryWorker::writePending()
{
    if (m_pending.isEmpty())
        return true;
    bool damagedOnce = false;
    while (!m_pending.isEmpty()) {
        if (!localReady()) {
            spillToShared();
            return false;
        }
        const Pending& next = m_pending.first();
        bool written = false;
        if (next.isPrint) {
            const std::optional<QString> queue = printQueueFor(next.record.id);
            written = queue && m_local.writePrint(next.record.id, next.print, *queue);
        } else {
            written = m_local.writeRecord(next.record, queueFor(next.record));
        }
        if (written) {
            m_pending.removeFirst();
            continue;
        }
        if (m_local.lastProblem() == HistoryStore::Problem::Damaged && !damagedOnce) {
            damagedOnce = true;
            if (setAsideDamaged())
                continue;
        }
        m_local.close();
        localFailed();
        spillToShared();
        return false;
    }
    localOk();
    return true;
}

void HistoryWorker::spillToShared()
{
    // With no local file, what is meant for the shared database goes there directly.
    if (!sharedWanted())
        return;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        const bool wanted = it->isPrint || !queueFor(it->record).isEmpty();
        if (!wanted) {
            ++it;
            continue;
        }
        if (!sharedReady())
            return;
        const bool sent = it->isPrint ? m_shared.writePrint(it->record.id, it->print)
                                      : m_shared.writeRecord(it->record);
        if (!sent)
            return;
        it = m_pending.erase(it);
    }
}

void HistoryWorker::localFailed()
{
    emit retryWanted();
    if (m_localDown)
        return;
    m_localDown = true;
    emit outage(m_local.lastError() + KeptInMemory, true);
}

void HistoryWorker::localOk()
{
    if (!m_localDown)
        return;
    m_localDown = false;
    if (!m_setAside.isEmpty()) {
        emit restored(QStringLiteral("A new history file %1 was started; the damaged one is kept "
                                     "as %2.")
                          .arg(m_localPath, m_setAside));
        m_setAside.clear();
        return;
    }
    emit restored(QStringLiteral("The history file %1 is written again.").arg(m_localPath));
}

bool HistoryWorker::sharedReady()
{
    if (m_shared.isOpen())
        return true;
    if (m_shared.openShared(m_target))
        return true;
    sharedFailed(m_shared.lastError());
    return false;
}

void HistoryWorker::sendOutbox()
{
    if (!sharedWanted() || !m_local.isOpen() || m_localOnly)
        return;
    const std::optional<QStringList> targets = m_local.outboxTargetsFor(m_target);
    const auto items = targets ? m_local.pendingOutbox(*targets) : std::nullopt;
    if (!items) {
        localFailed();
        return;
    }
    // With nothing to send, a known outage is still probed so that its end is announced.
    if (items->isEmpty() && !m_sharedDown)
        return;
    const bool wasOpen = m_shared.isOpen();
    if (!sharedReady())
        return;
    int sent = 0;
    bool reconnected = !wasOpen;
    for (const HistoryStore::OutboxItem& item : *items) {
        HistoryStore::Handover done;
        for (;;) {
            done = m_local.handOver(item, m_shared);
            // A connection kept from before may have died with a server restart: one fresh
            // connection before calling it an outage.
            if (done != HistoryStore::Handover::SharedFailed || reconnected ||
                m_shared.lastProblem() != HistoryStore::Problem::Unreachable)
                break;
            reconnected = true;
            if (!sharedReady())
                return;
        }
        if (done == HistoryStore::Handover::LocalFailed) {
            localFailed();
            return;
        }
        if (done == HistoryStore::Handover::SharedFailed) {
            sharedFailed(m_shared.lastError());
            return;
        }
        // Sent but not marked (a local failure now) is sent again later; the shared database
        // keeps the first.
        if (!m_local.markSent(item.seq)) {
            localFailed();
            return;
        }
        ++sent;
    }
    sharedOk(sent);
}

void HistoryWorker::sharedFailed(const QString& message)
{
    emit retryWanted();
    if (m_sharedDown)
        return;
    m_sharedDown = true;
    emit outage(message + KeptOnBench, false);
}

void HistoryWorker::sharedOk(int sent)
{
    if (!m_sharedDown)
        return;
    m_sharedDown = false;
    const QString back =
        QStringLiteral("The shared history database %1 answers again.").arg(m_target.shown);
    emit restored(sent == 0   ? back
                  : sent == 1 ? back + QStringLiteral(" 1 waiting entry was sent.")
                              : back + QStringLiteral(" %1 waiting entries were sent.").arg(sent));
}

QVector<RecordSummary> HistoryWorker::query(const HistoryFilter& filter, QString* note)
{
    if (sharedWanted() && sharedReady()) {
        if (const auto list = m_shared.query(filter)) {
            QVector<RecordSummary> all = filter.merged(*list, waitingFor(filter));
            if (m_sharedDown)
                sendOutbox();
            return all;
        }
        sharedFailed(m_shared.lastError());
    }
    if (sharedWanted())
        *note = QStringLiteral("Only this bench's records: ") + m_shared.lastError();
    if (!localReady()) {
        *note = m_local.lastError();
        return {};
    }
    const auto list = m_local.query(filter);
    if (!list)
        *note = m_local.lastError();
    return list.value_or(QVector<RecordSummary>());
}

QVector<RecordSummary> HistoryWorker::waitingFor(HistoryFilter filter)
{
    // Measured here and on its way: the lab's list must not lack it.
    if (!localReady())
        return {};
    const std::optional<QStringList> targets = m_local.outboxTargetsFor(m_target);
    if (!targets || targets->isEmpty())
        return {};
    filter.queuedFor = *targets;
    filter.waiting = true;
    return m_local.query(filter).value_or(QVector<RecordSummary>());
}

HistoryRecord HistoryWorker::load(const QUuid& id, QString* error)
{
    // The shared database has every bench's prints of a record; this bench's file has what
    // has not been sent yet.
    if (sharedWanted() && sharedReady()) {
        const auto record = m_shared.load(id);
        if (record && !record->id.isNull())
            return *record;
        if (!record)
            sharedFailed(m_shared.lastError());
    }
    if (!localReady()) {
        *error = m_local.lastError();
        return {};
    }
    const auto record = m_local.load(id);
    // A record missing while the file cannot be written is missing for that reason.
    if (!record || (record->id.isNull() && m_localDown))
        *error = m_local.lastError();
    else if (record->id.isNull())
        *error = QStringLiteral("There is no record %1.").arg(id.toString(QUuid::WithoutBraces));
    return record.value_or(HistoryRecord());
}

HistoryStore* HistoryWorker::figuresStore(QString* error)
{
    if (!localReady() && !sharedWanted()) {
        *error = m_local.lastError();
        return nullptr;
    }
    if (!sharedWanted())
        return &m_local;
    // The window sends what waits first; only what is still left after that refuses.
    sendOutbox();
    if (!sharedReady()) {
        *error = m_shared.lastError();
        return nullptr;
    }
    const std::optional<QStringList> names =
        m_local.isOpen() ? m_local.outboxTargetsFor(m_target) : QStringList();
    const auto waiting = names ? m_local.pendingOutbox(*names) : std::nullopt;
    if (!waiting) {
        *error = m_local.lastError();
        return nullptr;
    }
    if (const std::optional<QString> why =
            HistoryStats::notTheLabsFigures(m_target, waiting->size())) {
        *error = *why;
        return nullptr;
    }
    return &m_shared;
}

QVector<HistoryStats::Group> HistoryWorker::stats(const HistoryFilter& filter, QString* error)
{
    HistoryStore* store = figuresStore(error);
    if (!store)
        return {};
    const auto groups = HistoryStats::groups(*store, filter);
    if (!groups)
        *error = store->lastError();
    return groups.value_or(QVector<HistoryStats::Group>());
}

void HistoryWorker::groupFigures(const HistoryFilter& filter, const HistoryStats::Group& group,
                                 int utcOffsetSeconds, HistoryStats::Histogram* histogram,
                                 HistoryStats::Trend* trend, QString* error)
{
    HistoryStore* store = figuresStore(error);
    if (!store)
        return;
    const auto bins = HistoryStats::histogram(*store, filter, group);
    const auto points =
        bins ? HistoryStats::trend(*store, filter, group, utcOffsetSeconds) : std::nullopt;
    if (!bins || !points) {
        *error = store->lastError();
        return;
    }
    *histogram = *bins;
    *trend = *points;
}
