#include "history/History.h"

#include "base/Clock.h"
#include "history/HistoryWorker.h"

#include <QCoreApplication>
#include <QPointer>

History::History(Clock& clock, const DatabaseTarget& target, const QString& localPath,
                 QObject* parent)
    : QObject(parent), m_clock(clock), m_target(target),
      m_worker(new HistoryWorker(target, localPath))
{
    m_thread.setObjectName(QStringLiteral("history"));
    m_worker->moveToThread(&m_thread);
    connect(m_worker, &HistoryWorker::outage, this, &History::outage);
    connect(m_worker, &HistoryWorker::restored, this, &History::restored);
    connect(m_worker, &HistoryWorker::retryWanted, this, &History::retryWanted);
    m_thread.start();
    QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->start(); });
}

History::~History()
{
    if (m_retryId)
        m_clock.cancel(m_retryId);
    // The worker's connections belong to its thread: it is deleted there.
    QMetaObject::invokeMethod(
        m_worker, [w = m_worker] { delete w; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

QUuid History::record(const MeasurementResult& result, const RunContext& context)
{
    HistoryRecord record = HistoryRecord::make(result, context);
    if (!record.id.isNull())
        QMetaObject::invokeMethod(m_worker, [w = m_worker, record] { w->write(record); });
    return record.id;
}

void History::appendPrint(const QUuid& recordId, PrintRow row)
{
    if (row.id.isNull())
        row.id = QUuid::createUuid();
    if (!row.printed.isValid())
        row.printed = QDateTime::currentDateTimeUtc();
    QMetaObject::invokeMethod(m_worker,
                              [w = m_worker, recordId, row] { w->writePrint(recordId, row); });
}

void History::query(const HistoryFilter& filter, QObject* context, QueryAnswer answer)
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker, filter, to = QPointer<QObject>(context),
                                         answer = std::move(answer)] {
        QString note;
        const QVector<RecordSummary> list = w->query(filter, &note);
        if (to)
            QMetaObject::invokeMethod(to, [list, note, answer] { answer(list, note); });
    });
}

void History::load(const QUuid& id, QObject* context, LoadAnswer answer)
{
    QMetaObject::invokeMethod(
        m_worker, [w = m_worker, id, to = QPointer<QObject>(context), answer = std::move(answer)] {
            QString error;
            const HistoryRecord record = w->load(id, &error);
            if (to)
                QMetaObject::invokeMethod(to, [record, error, answer] { answer(record, error); });
        });
}

void History::stats(const HistoryFilter& filter, QObject* context, StatsAnswer answer)
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker, filter, to = QPointer<QObject>(context),
                                         answer = std::move(answer)] {
        QString error;
        const QVector<HistoryStats::Group> groups = w->stats(filter, &error);
        if (to)
            QMetaObject::invokeMethod(to, [groups, error, answer] { answer(groups, error); });
    });
}

void History::groupFigures(const HistoryFilter& filter, const HistoryStats::Group& group,
                           int utcOffsetSeconds, QObject* context, GroupAnswer answer)
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker, filter, group, utcOffsetSeconds,
                                         to = QPointer<QObject>(context),
                                         answer = std::move(answer)] {
        QString error;
        HistoryStats::Histogram histogram;
        HistoryStats::Trend trend;
        w->groupFigures(filter, group, utcOffsetSeconds, &histogram, &trend, &error);
        if (to)
            QMetaObject::invokeMethod(
                to, [histogram, trend, error, answer] { answer(histogram, trend, error); });
    });
}

void History::keepLocalOnly()
{
    m_worker->keepLocalOnly();
}

void History::lossTold()
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->lossTold(); });
}

void History::drain()
{
    QMetaObject::invokeMethod(
        m_worker, [] {}, Qt::BlockingQueuedConnection);
    // What the worker announced on the way is delivered before this returns.
    QCoreApplication::sendPostedEvents(this);
}

void History::retryWanted()
{
    if (m_retryId)
        return;
    m_retryId = m_clock.schedule(RetrySeconds, [this] {
        m_retryId = 0;
        QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->retry(); });
    });
}
