#include "session/BusThread.h"

#include "gpib/GpibDriver.h"

#include <QThread>

#include <condition_variable>
#include <mutex>

struct BusThread::Waits {
    std::mutex mutex;
    std::condition_variable finished;
    bool abandoned = false;
};

BusThread::BusThread(GpibDriver& driver)
    : m_driver(driver), m_thread(std::make_unique<QThread>()),
      m_worker(std::make_unique<QObject>()), m_waits(std::make_shared<Waits>())
{
    m_thread->setObjectName(QStringLiteral("bus"));
    m_worker->moveToThread(m_thread.get());
    m_driver.callFrom(m_thread.get());
    m_thread->start();
}

BusThread::~BusThread()
{
    finish();
}

bool BusThread::onBusThread() const
{
    return QThread::currentThread() == m_thread.get();
}

void BusThread::hand(std::function<void()> work, std::function<void()> done)
{
    ++m_pending;
    QMetaObject::invokeMethod(
        m_worker.get(),
        [this, work = std::move(work), done = std::move(done)] {
            work();
            QMetaObject::invokeMethod(
                &m_window,
                [this, done] {
                    --m_pending;
                    if (done)
                        done();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void BusThread::awaitHome(std::function<void(const Finish& finish)> start)
{
    auto done = std::make_shared<bool>(false);
    {
        const std::lock_guard lock(m_waits->mutex);
        if (m_waits->abandoned)
            return;
    }
    const std::weak_ptr<Waits> waits = m_waits;
    const Finish finish = [waits, done] {
        if (const std::shared_ptr<Waits> w = waits.lock()) {
            {
                const std::lock_guard lock(w->mutex);
                *done = true;
            }
            w->finished.notify_all();
        }
    };
    QMetaObject::invokeMethod(
        &m_window, [start = std::move(start), finish] { start(finish); }, Qt::QueuedConnection);
    std::unique_lock lock(m_waits->mutex);
    m_waits->finished.wait(lock, [&] { return *done || m_waits->abandoned; });
}

void BusThread::abandon()
{
    {
        const std::lock_guard lock(m_waits->mutex);
        m_waits->abandoned = true;
    }
    m_waits->finished.notify_all();
}

void BusThread::finish()
{
    if (!m_thread->isRunning())
        return;
    // After the work handed over: the driver's link comes back to this thread with it.
    QThread* here = QThread::currentThread();
    QMetaObject::invokeMethod(
        m_worker.get(),
        [this, here] {
            m_driver.callFrom(here);
            m_worker->moveToThread(here);
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    m_thread->wait();
}
