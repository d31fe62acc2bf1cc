#pragma once

#include <QObject>

#include <functional>
#include <map>
#include <memory>

// The one clock behind every wait of the program and of the simulated bench. Waits let
// pending window events run and sleep in the event loop; they never spin.
class Clock {
public:
    virtual ~Clock() = default;

    // Seconds on a monotonic scale; only differences mean anything.
    virtual double now() const = 0;

    // Returns once now() >= deadline. If that already holds, returns at once without
    // processing events; otherwise window events run while it waits.
    virtual void waitUntil(double deadline) = 0;

    // Runs action once, seconds from now, from the event loop. The id cancels it.
    virtual int schedule(double seconds, std::function<void()> action) = 0;
    virtual void cancel(int id) = 0;

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

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Time that advances only when somebody waits: tests run a 15 s set-up in no wall time. A
// window that waits on a scheduled action in an event loop of its own (a modal window with
// a timer) has nobody to wait for it, so while idleAdvance() says so, an idle event loop
// jumps to the next due action.
class VirtualClock : public QObject, public Clock {
    Q_OBJECT
public:
    explicit VirtualClock(double start = 0.0);
    double now() const override { return m_now; }
    void waitUntil(double deadline) override;
    int schedule(double seconds, std::function<void()> action) override;
    void cancel(int id) override;

    // Moves time forward, running every action due on the way (as waitUntil does).
    void advance(double seconds) { waitUntil(m_now + seconds); }
    std::function<bool()> idleAdvance;

private:
    void runDue(double deadline);
    void armIdleAdvance();

    double m_now;
    int m_nextId = 1;
    // (due time, id) -> action; ids keep equal times in scheduling order
    std::map<std::pair<double, int>, std::function<void()>> m_actions;
    bool m_idleArmed = false;
    int m_waitDepth = 0;
};
