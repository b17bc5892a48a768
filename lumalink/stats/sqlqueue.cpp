#include "stats/sqlqueue.h"
#include "datalayout.h"

#include "dailylog.h"
#include "notifyprotocol.h"
#include "setaside.h"
#include "stats/playrecord.h"

namespace {
// The journal is rewritten without the stored records once this many of them
// pile up while the queue never runs empty.
constexpr int COMPACT_AFTER = 5000;
} // namespace

SqlQueue::SqlQueue(const QString &journalPath)
    : m_journal(journalPath)
{ }

QString SqlQueue::defaultJournalPath()
{
    return DataLayout().statsJournal();
}

int SqlQueue::open(qint64 appliedSeq)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    QList<Entry> records;
    const bool writable = m_journal.open(records);
    m_opened = true;
    m_queue.clear();
    for (const Entry &record : qAsConst(records)) {
        if (appliedSeq < 0 || record.seq > appliedSeq)
            m_queue.append(record);
    }
    m_peak = qMax(m_peak, m_queue.size());
    // A journal lost or put back from an older copy numbers behind what the
    // database stored: new plays would count as stored already. Its numbers
    // go on after the database's.
    const qint64 journalSeq = m_journal.lastSeq();
    const bool behind = appliedSeq > journalSeq;
    if (behind) {
        m_journal.raiseNumbering(appliedSeq);
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("STATTHREAD"),
            QStringLiteral("Journal %1 numbered up to %2, the database stored up to %3: numbering "
                           "goes on after %3")
                .arg(m_journal.path())
                .arg(journalSeq)
                .arg(appliedSeq));
    }
    if (!writable)
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("STATTHREAD"),
            QStringLiteral("Open journal %1 fail").arg(m_journal.path()));
    else if (behind || m_queue.size() < records.size())
        m_journal.rewrite(m_queue);
    return m_queue.size();
}

void SqlQueue::ensureOpen()
{
    if (m_opened)
        return;
    QList<Entry> records;
    m_journal.open(records);
    m_opened = true;
    m_queue = records;
}

SqlQueue::Result SqlQueue::add(const QString &statement)
{
    const QString sql = NotifyProtocol::decodeStatement(statement);
    QString why;
    if (!PlayRecord::parse(sql, &why).fromPlayer()) {
        std::lock_guard<std::mutex> logLock(m_logMutex);
        m_refusals.note(QStringLiteral("No play record (%1): %2").arg(why, sql.left(200)));
        return Result::Refused;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    ensureOpen();
    if (m_queue.size() >= MAX_SQL_QUEUE) {
        lock.unlock();
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("SQL_QUE_FULL"), sql);
        return Result::Full;
    }
    if (!append(sql)) {
        lock.unlock();
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("SQL_NOT_KEPT"), sql);
        return Result::NotKept;
    }
    const bool wake = ++m_addedSinceWake >= WAKE_EVERY;
    if (wake)
        m_addedSinceWake = 0;
    const auto handler = m_wake;
    lock.unlock();
    if (wake && handler)
        handler();
    return Result::Queued;
}

bool SqlQueue::addInternal(const QString &statement)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    ensureOpen();
    if (append(statement))
        return true;
    lock.unlock();
    DailyLog::write(QStringLiteral("WARN"), QStringLiteral("SQL_NOT_KEPT"), statement);
    return false;
}

bool SqlQueue::append(const QString &sql)
{
    const qint64 seq = m_journal.append(sql);
    if (seq <= 0)
        return false;
    m_queue.append({seq, sql});
    m_peak = qMax(m_peak, m_queue.size());
    return true;
}

void SqlQueue::setAside(const SqlJournal::Record &entry, const QString &why)
{
    // The reason, then the entry as the journal holds it.
    const QByteArray line = DailyLog::safe(why).toUtf8() + '\t' + SqlJournal::encode(entry);
    // The queue stays free for new plays while the file is written.
    std::lock_guard<std::mutex> logLock(m_logMutex);
    appendSetAside(setAsidePath(), line, MAX_SET_ASIDE_BYTES);
    m_setAsideLog.note(QStringLiteral("Statement %1 set aside in %2 (%3): %4")
                           .arg(entry.seq)
                           .arg(setAsidePath(), why, entry.sql.left(200)));
}

QList<SqlQueue::Entry> SqlQueue::peek(int max) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_queue.mid(0, max);
}

void SqlQueue::markApplied(qint64 seq)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    int done = 0;
    while (done < m_queue.size() && m_queue.at(done).seq <= seq)
        ++done;
    if (done == 0)
        return;
    m_queue.erase(m_queue.begin(), m_queue.begin() + done);
    if (m_queue.isEmpty() || m_journal.recordCount() - m_queue.size() > COMPACT_AFTER)
        m_journal.rewrite(m_queue);
}

void SqlQueue::sync()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_journal.sync();
}

int SqlQueue::size() const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_queue.size();
}

int SqlQueue::peakSize() const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_peak;
}

void SqlQueue::setWakeHandler(std::function<void()> handler)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake = std::move(handler);
}
