#include "offthreadwork.h"

#include <QMetaObject>
#include <QMutex>
#include <QThreadPool>

QThreadPool *makeSerialPool()
{
    auto *pool = new QThreadPool;
    pool->setMaxThreadCount(1);
    pool->setExpiryTimeout(30000);
    return pool;
}

namespace {
QThreadPool &workPool()
{
    // One thread: log requests share their archive, so they must not overlap.
    static QThreadPool *pool = makeSerialPool();
    return *pool;
}
} // namespace

// Shared by the owner and its running works: the owner clears it when it goes,
// under the lock, so a work never posts to an object being destroyed.
struct OffThreadWork::Link
{
    QMutex mutex;
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
    QMutexLocker lock(&m_link->mutex);
    m_link->owner = nullptr;
}

void OffThreadWork::run(Work work, Done done)
{
    ++m_pending;
    std::shared_ptr<Link> link = m_link;
    workPool().start([link, work = std::move(work), done = std::move(done)] {
        const QByteArray result = work();
        QMutexLocker lock(&link->mutex);
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
