#include "base/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QTimer>

#include <cmath>

struct SteadyClock::Private {
    QElapsedTimer elapsed;
    int nextId = 1;
    QHash<int, QTimer*> timers;
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
    if (now() >= deadline)
        return;
    // Sleep in a local event loop until the deadline; any event that arrives first is
    // handled and the loop goes back to sleep.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    for (;;) {
        const double left = deadline - now();
        if (left <= 0)
            break;
        timer.start(std::max(1, int(std::ceil(left * 1000.0))));
        loop.exec();
    }
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
    ++m_waitDepth;
    QCoreApplication::processEvents();
    runDue(deadline);
    if (m_now < deadline)
        m_now = deadline;
    --m_waitDepth;
    if (!m_actions.empty())
        armIdleAdvance();
}

void VirtualClock::runDue(double deadline)
{
    while (!m_actions.empty() && m_actions.begin()->first.first <= deadline) {
        auto node = m_actions.extract(m_actions.begin());
        m_now = std::max(m_now, node.key().first);
        node.mapped()();
        QCoreApplication::processEvents();
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
    // A zero timer fires when the event loop has handled what was pending: nobody is
    // waiting on the clock, so jump to the next due action.
    QTimer::singleShot(0, this, [this] {
        m_idleArmed = false;
        // Inside a wait, time moves only as far as that wait's deadline.
        if (m_actions.empty() || m_waitDepth > 0 || !idleAdvance || !idleAdvance())
            return;
        const double due = m_actions.begin()->first.first;
        runDue(due);
        if (!m_actions.empty())
            armIdleAdvance();
    });
}
