#include "history/HistoryReading.h"

#include <QFile>

HistoryReading::HistoryReading(const QString& database) : m_target(DatabaseTarget::choose(database))
{}

bool HistoryReading::openLocal(HistoryStore::Access access)
{
    m_local.close();
    return m_local.openLocal(DatabaseTarget::localPath(), access) || failed(m_local);
}

bool HistoryReading::failed(const HistoryStore& store)
{
    m_error = store.lastError();
    return false;
}

bool HistoryReading::open()
{
    const bool benchHasFile = QFile::exists(DatabaseTarget::localPath());
    if (!m_target.isShared())
        return !benchHasFile || openLocal(HistoryStore::Access::ReadOnly);
    if (!m_target.valid())
        return m_shared.openShared(m_target) || failed(m_shared);

    QVector<HistoryStore::OutboxItem> pending;
    if (benchHasFile) {
        if (!openLocal(HistoryStore::Access::ReadOnly))
            return false;
        const std::optional<QStringList> names = m_local.outboxTargetsFor(m_target);
        const auto items = names ? m_local.pendingOutbox(*names) : std::nullopt;
        if (!items)
            return failed(m_local);
        m_queuedFor = *names;
        pending = *items;
        // Sending marks what was sent.
        if (!pending.isEmpty() && !openLocal(HistoryStore::Access::ReadWrite))
            return false;
    }
    m_waiting = int(pending.size());
    const auto access =
        pending.isEmpty() ? HistoryStore::Access::ReadOnly : HistoryStore::Access::ReadWrite;
    if (!m_shared.openShared(m_target, access)) {
        if (m_shared.lastProblem() != HistoryStore::Problem::Unreachable)
            return failed(m_shared);
        m_source = Source::BenchCopy;
        return true;
    }
    m_source = Source::Shared;
    send(pending);
    return true;
}

void HistoryReading::send(const QVector<HistoryStore::OutboxItem>& items)
{
    // What cannot be sent now stays for the next try; the reader still sees it listed.
    for (const HistoryStore::OutboxItem& item : items) {
        if (m_local.handOver(item, m_shared) != HistoryStore::Handover::Done ||
            !m_local.markSent(item.seq))
            return;
        --m_waiting;
    }
}

HistoryStore* HistoryReading::store()
{
    switch (m_source) {
    case Source::Shared:
        return &m_shared;
    case Source::Local:
        return m_local.isOpen() ? &m_local : nullptr;
    case Source::BenchCopy:
        break;
    }
    return nullptr;
}

QString HistoryReading::notice() const
{
    return QStringLiteral("%1 did not answer in %2 s; listing this bench's copy only")
        .arg(m_target.shown)
        .arg(m_target.connectTimeout);
}

std::optional<QVector<RecordSummary>> HistoryReading::fromBench(HistoryFilter filter,
                                                                bool waitingOnly)
{
    // An empty list of names would lift the restriction, not narrow it to nothing.
    if (!m_local.isOpen() || m_queuedFor.isEmpty())
        return QVector<RecordSummary>();
    filter.queuedFor = m_queuedFor;
    filter.waiting = waitingOnly;
    auto list = m_local.query(filter);
    if (!list)
        failed(m_local);
    return list;
}

std::optional<QVector<RecordSummary>> HistoryReading::query(const HistoryFilter& filter)
{
    switch (m_source) {
    case Source::Local: {
        if (!m_local.isOpen())
            return QVector<RecordSummary>();
        auto list = m_local.query(filter);
        if (!list)
            failed(m_local);
        return list;
    }
    case Source::BenchCopy:
        return fromBench(filter, false);
    case Source::Shared:
        break;
    }
    const auto shared = m_shared.query(filter);
    if (!shared) {
        failed(m_shared);
        return std::nullopt;
    }
    const auto mine = fromBench(filter, true);
    if (!mine)
        return std::nullopt;
    return filter.merged(*shared, *mine);
}

bool HistoryReading::queuedHere(const QUuid& id)
{
    const std::optional<QString> target = m_local.outboxTargetOf(id);
    return target && m_queuedFor.contains(*target);
}

std::optional<HistoryRecord> HistoryReading::load(const QUuid& id)
{
    if (m_source == Source::Shared) {
        auto record = m_shared.load(id);
        if (!record) {
            failed(m_shared);
            return std::nullopt;
        }
        if (!record->id.isNull())
            return record;
    }
    // The reader of a shared database sees of this bench's file only what was meant for it.
    if (!m_local.isOpen() || (m_source != Source::Local && !queuedHere(id)))
        return HistoryRecord();
    auto record = m_local.load(id);
    if (!record)
        failed(m_local);
    return record;
}

std::optional<QUuid> HistoryReading::latestFor(const QString& dutId)
{
    HistoryFilter filter;
    filter.dutId = dutId;
    filter.limit = 1;
    const auto list = query(filter);
    if (!list)
        return std::nullopt;
    return list->isEmpty() ? QUuid() : list->first().id;
}
