#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

// The one clock behind every wait of the program and of the simulated bench. A wait blocks the
// thread that waits (the bus thread, where the sequences run) and never runs an event loop of
// its own; scheduled actions run from the event loop of the clock's own thread.
class Clock {
public:
    virtual ~Clock() = default;

    // Seconds on a monotonic scale; only differences mean anything.
    virtual double now() const = 0;

    // Returns once now() >= deadline, or at once after abandonWaits().
    virtual void waitUntil(double deadline) = 0;

    // Runs action once, seconds from now, from the event loop. The id cancels it.
    virtual int schedule(double seconds, std::function<void()> action) = 0;
    virtual void cancel(int id) = 0;

    // The program is going away: every wait, now and later, returns at once.
    virtual void abandonWaits() = 0;
    // The waits in progress return now (a run cut short); later ones wait as usual.
    virtual void cutWaitsShort() = 0;

    void wait(double seconds) { waitUntil(now() + seconds); }
};

// Wall time from the system's monotonic clock.
class SteadyClock : public Clock {
public:
    SteadyClock();
    ~SteadyClock() override;
    double now() const override;
    void waitUntil(double deadline) override;
    int schedule(double seconds, std::function<void()> action) override;
    void cancel(int id) override;
    void abandonWaits() override;
    void cutWaitsShort() override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Time that advances only when somebody waits: tests run a 15 s set-up in no wall time. Actions
// belong to the clock's own thread: a wait from another thread hands its advance to that
// thread's event loop, which first handles what was posted before it, then runs every action
// due on the way, and only then lets the waiter go on. A window that waits on a scheduled action
// with nobody waiting on the clock (a modal window with a timer) is carried forward while
// idleAdvance() says so: an idle event loop jumps to the next due action.
class VirtualClock : public QObject, public Clock {
    Q_OBJECT
public:
    explicit VirtualClock(double start = 0.0);
    double now() const override { return m_now; }
    void waitUntil(double deadline) override;
    int schedule(double seconds, std::function<void()> action) override;
    void cancel(int id) override;
    void abandonWaits() override;
    // Its waits take no wall time: there is nothing to cut short.
    void cutWaitsShort() override {}

    // Moves time forward, running every action due on the way (as waitUntil does).
    void advance(double seconds) { waitUntil(m_now + seconds); }
    std::function<bool()> idleAdvance;

private:
    void runDue(double deadline);
    void armIdleAdvance();

    std::atomic<double> m_now;
    int m_nextId = 1;
    // (due time, id) -> action; ids keep equal times in scheduling order
    std::map<std::pair<double, int>, std::function<void()>> m_actions;
    bool m_idleArmed = false;
    // Waits of other threads that this thread has not yet carried forward.
    std::atomic<int> m_foreignWaits = 0;
    std::mutex m_mutex;
    std::condition_variable m_advanced;
    bool m_abandoned = false;
};
