#include "base/Clock.h"

#include <QElapsedTimer>
#include <QHash>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cmath>

struct SteadyClock::Private {
    QElapsedTimer elapsed;
    int nextId = 1;
    QHash<int, QTimer*> timers;
    std::mutex mutex;
    std::condition_variable abandoned;
    bool gone = false;
    int cuts = 0; // waits in progress when this changes return
};

SteadyClock::SteadyClock() : d(std::make_unique<Private>())
{
    d->elapsed.start();
}

SteadyClock::~SteadyClock()
{
    qDeleteAll(d->timers);
}

double SteadyClock::now() const
{
    return double(d->elapsed.nsecsElapsed()) / 1e9;
}

void SteadyClock::waitUntil(double deadline)
{
    const double left = deadline - now();
    if (left <= 0)
        return;
    // The thread sleeps; only the program going away or a run cut short wakes it early.
    std::unique_lock lock(d->mutex);
    const int cuts = d->cuts;
    d->abandoned.wait_for(lock, std::chrono::duration<double>(left),
                          [this, cuts] { return d->gone || d->cuts != cuts; });
}

void SteadyClock::cutWaitsShort()
{
    {
        const std::lock_guard lock(d->mutex);
        ++d->cuts;
    }
    d->abandoned.notify_all();
}

void SteadyClock::abandonWaits()
{
    {
        const std::lock_guard lock(d->mutex);
        d->gone = true;
    }
    d->abandoned.notify_all();
}

int SteadyClock::schedule(double seconds, std::function<void()> action)
{
    const int id = d->nextId++;
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, [this, id, action = std::move(action)] {
        if (QTimer* t = d->timers.take(id))
            t->deleteLater();
        action();
    });
    d->timers.insert(id, timer);
    timer->start(std::max(0, int(std::lround(seconds * 1000.0))));
    return id;
}

void SteadyClock::cancel(int id)
{
    if (QTimer* t = d->timers.take(id)) {
        t->stop();
        t->deleteLater();
    }
}

VirtualClock::VirtualClock(double start) : m_now(start) {}

void VirtualClock::waitUntil(double deadline)
{
    if (m_now >= deadline)
        return;
    if (QThread::currentThread() == thread()) {
        runDue(deadline);
        if (m_now < deadline)
            m_now = deadline;
        if (!m_actions.empty())
            armIdleAdvance();
        return;
    }
    // A foreign waiter: the clock's own thread moves time, in order with what it was handed.
    auto done = std::make_shared<bool>(false);
    ++m_foreignWaits;
    QMetaObject::invokeMethod(
        this,
        [this, deadline, done] {
            waitUntil(deadline);
            --m_foreignWaits;
            {
                const std::lock_guard lock(m_mutex);
                *done = true;
            }
            m_advanced.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    m_advanced.wait(lock, [&] { return *done || m_abandoned; });
}

void VirtualClock::abandonWaits()
{
    {
        const std::lock_guard lock(m_mutex);
        m_abandoned = true;
    }
    m_advanced.notify_all();
}

void VirtualClock::runDue(double deadline)
{
    while (!m_actions.empty() && m_actions.begin()->first.first <= deadline) {
        auto node = m_actions.extract(m_actions.begin());
        m_now = std::max(m_now.load(), node.key().first);
        node.mapped()();
    }
}

int VirtualClock::schedule(double seconds, std::function<void()> action)
{
    const int id = m_nextId++;
    m_actions.emplace(std::make_pair(m_now + std::max(0.0, seconds), id), std::move(action));
    armIdleAdvance();
    return id;
}

void VirtualClock::cancel(int id)
{
    std::erase_if(m_actions, [id](const auto& entry) { return entry.first.second == id; });
}

void VirtualClock::armIdleAdvance()
{
    if (m_idleArmed)
        return;
    m_idleArmed = true;
    // A zero timer fires when the event loop has handled what was pending: if nobody is
    // waiting on the clock, jump to the next due action.
    QTimer::singleShot(0, this, [this] {
        m_idleArmed = false;
        // A waiter on another thread moves time only as far as its own deadline.
        if (m_actions.empty() || m_foreignWaits > 0 || !idleAdvance || !idleAdvance())
            return;
        const double due = m_actions.begin()->first.first;
        runDue(due);
        if (!m_actions.empty())
            armIdleAdvance();
    });
}
