#pragma once

#include <QObject>

#include <functional>
#include <memory>

class GpibDriver;
class QThread;

// The one thread every driver call runs on. The sequences run there as plain sequential code:
// a bus call, a wait or a message blocks this thread, never the window's, whose event loop is
// never nested. Work handed over runs in order, one piece at a time; what the sequences need of
// the window's side (the controls, the chart, a message) is handed back with home().
class BusThread {
public:
    explicit BusThread(GpibDriver& driver);
    ~BusThread();
    BusThread(const BusThread&) = delete;
    BusThread& operator=(const BusThread&) = delete;

    // Runs work on the bus thread after everything handed over before it, then done on the
    // thread that handed it over (the window's), unless the bus thread is gone by then.
    void hand(std::function<void()> work, std::function<void()> done = {});
    // Work handed over and not yet done (its done included).
    int pending() const { return m_pending; }
    bool onBusThread() const;

    // From the bus thread: runs call on the window's thread, after what was handed there before
    // it, and waits for its result; on the window's thread, runs it at once. Once the program is
    // going away (abandon()) nothing is handed back any more and the result is the default.
    template <typename Call> auto home(Call call) -> decltype(call())
    {
        using Result = decltype(call());
        if (!onBusThread())
            return call();
        if constexpr (std::is_void_v<Result>) {
            awaitHome([call](const Finish& finish) {
                call();
                finish();
            });
        } else {
            auto result = std::make_shared<Result>();
            awaitHome([call, result](const Finish& finish) {
                *result = call();
                finish();
            });
            return *result;
        }
    }
    // From the bus thread: starts something on the window's thread (a message box) and waits
    // until it calls finish, which may be later, from that thread's event loop.
    using Finish = std::function<void()>;
    void awaitHome(std::function<void(const Finish& finish)> start);
    // The program is going away: the bus thread's calls home return at once from now on.
    void abandon();
    // Ends the bus thread once the work handed over is done; the driver comes back here.
    void finish();

private:
    struct Waits;

    GpibDriver& m_driver;
    std::unique_ptr<QThread> m_thread;
    std::unique_ptr<QObject> m_worker; // lives on the bus thread
    QObject m_window;                  // lives on the window's thread
    int m_pending = 0;
    // Shared with every finish handed out: a box may be answered after this is gone.
    std::shared_ptr<Waits> m_waits;
};
