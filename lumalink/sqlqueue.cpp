#include "sqlqueue.h"

#include "miscfunc.h"

#include "notifyprotocol.h"

bool SqlQueue::add(const QString &statement)
{
    const QString sql = NotifyProtocol::decodeStatement(statement);
    QMutexLocker lock(&m_mutex);
    if (m_queue.size() >= MAX_SQL_QUEUE) {
        lock.unlock();
        MiscFunc::writeLog(QStringLiteral("WARN"), QStringLiteral("StatThread"),
            QStringLiteral("SQL queue full, statement dropped: ") + sql);
        return false;
    }
    m_queue.enqueue(sql);
    return true;
}

bool SqlQueue::take(QString &statement)
{
    QMutexLocker lock(&m_mutex);
    if (m_queue.isEmpty())
        return false;
    statement = m_queue.dequeue();
    return true;
}

QStringList SqlQueue::takeAll()
{
    QMutexLocker lock(&m_mutex);
    QStringList all(m_queue.begin(), m_queue.end());
    m_queue.clear();
    return all;
}

int SqlQueue::size() const
{
    QMutexLocker lock(&m_mutex);
    return m_queue.size();
}
