#include "net/offthreadwork.h"

#include <QMetaObject>
#include <QThreadPool>

#include <mutex>

namespace {
// Shared by every pool: a task acquires it before it reads anything of its
// own closure, which a member reached through the closure could not give.
std::atomic<quint64> s_handedOver {0};

SerialPool &workPool()
{
    // One thread: log requests share their archive, so they must not overlap.
    static SerialPool *pool = new SerialPool;
    return *pool;
}
} // namespace

SerialPool::SerialPool()
    : m_pool(new QThreadPool)
{
    m_pool->setMaxThreadCount(1);
    m_pool->setExpiryTimeout(30000);
}

SerialPool::~SerialPool()
{
    m_pool->waitForDone(); // its tasks count on m_finished
}

void SerialPool::start(std::function<void()> task)
{
    std::function<void()> wrapped = [this, task = std::move(task)] {
        s_handedOver.load(std::memory_order_acquire);
        task();
        m_finished.fetch_add(1, std::memory_order_release);
    };
    // Released after the task is built, so the pool thread sees it whole.
    s_handedOver.fetch_add(1, std::memory_order_release);
    m_pool->start(std::move(wrapped));
}

bool SerialPool::waitForDone(int timeoutMs)
{
    const bool done = m_pool->waitForDone(timeoutMs);
    m_finished.load(std::memory_order_acquire);
    return done;
}

// Shared by the owner and its running works: the owner clears it when it goes,
// under the lock, so a work never posts to an object being destroyed.
struct OffThreadWork::Link
{
    std::mutex mutex;
    OffThreadWork *owner = nullptr;
};

OffThreadWork::OffThreadWork(QObject *parent)
    : QObject(parent)
    , m_link(std::make_shared<Link>())
{
    m_link->owner = this;
}

OffThreadWork::~OffThreadWork()
{
    std::lock_guard<std::mutex> lock(m_link->mutex);
    m_link->owner = nullptr;
}

void OffThreadWork::run(Work work, Done done)
{
    ++m_pending;
    std::shared_ptr<Link> link = m_link;
    workPool().start([link, work = std::move(work), done = std::move(done)] {
        const QByteArray result = work();
        std::lock_guard<std::mutex> lock(link->mutex);
        if (!link->owner)
            return;
        // Posted to the owner's thread; dropped by Qt if the owner is
        // destroyed before it is delivered.
        OffThreadWork *owner = link->owner;
        QMetaObject::invokeMethod(
            owner,
            [owner, done, result] {
                --owner->m_pending;
                done(result);
            },
            Qt::QueuedConnection);
    });
}

bool OffThreadWork::waitForIdle(int timeoutMs)
{
    return workPool().waitForDone(timeoutMs);
}
