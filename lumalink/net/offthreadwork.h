#pragma once

#include <QByteArray>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

class QThreadPool;

// Runs tasks one after another on one thread, for work that must keep its
// order. The service keeps its pools for the whole run (never destroyed), so a
// task still running at exit does not hold the program up; a pool that is
// destroyed waits for its tasks first. What the caller wrote before start() is
// visible to the task, and what finished tasks wrote is visible after
// waitForDone(), through atomics of its own: the pool's internal locking
// gives the same order, but a race checker cannot see inside Qt.
class SerialPool
{
public:
    SerialPool();
    ~SerialPool();
    SerialPool(const SerialPool &) = delete;
    SerialPool &operator=(const SerialPool &) = delete;

    void start(std::function<void()> task);
    // False when tasks still run after timeoutMs.
    bool waitForDone(int timeoutMs);

private:
    std::unique_ptr<QThreadPool> m_pool;
    std::atomic<quint64> m_finished {0};
};

// Runs slow work (packing and uploading logs) away from the owner's thread, so
// that thread keeps reading frames and sending heartbeats meanwhile. Each
// result comes back to the owner's thread as a queued call; the work itself
// must touch nothing of the owner. Works run one after another, in order. Once
// the owner is gone, results of work still running are dropped.
class OffThreadWork : public QObject
{
    Q_OBJECT
public:
    using Work = std::function<QByteArray()>;
    using Done = std::function<void(const QByteArray &)>;

    explicit OffThreadWork(QObject *parent = nullptr);
    ~OffThreadWork() override;

    // done runs on this object's thread with what work returned.
    void run(Work work, Done done);
    // Works handed over whose result has not come back yet.
    int pending() const { return m_pending; }

    // Waits until no work runs (tests, shutdown); false on timeout.
    static bool waitForIdle(int timeoutMs);

private:
    struct Link;
    std::shared_ptr<Link> m_link;
    int m_pending = 0;
};
