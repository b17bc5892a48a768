#pragma once

#include "stats/sqljournal.h"
#include "throttledlog.h"

#include <QList>
#include <QString>

#include <functional>
#include <mutex>

// Statements for the statistics database, handed over by the local listener
// (GUI thread) and by the file recorder (session thread) and taken by the
// statistics thread.
//
// A statement is accepted only once it is written to the journal, so what the
// player was told is kept survives the service being stopped before the
// statement reached the database. Entries stay in the queue until the
// database reports them stored (markApplied). While MAX_SQL_QUEUE entries wait,
// the player's statements are refused and the player keeps them for its next
// pass; the service's own few file records are always taken.
class SqlQueue
{
public:
    static constexpr int MAX_SQL_QUEUE = 10000;
    using Entry = SqlJournal::Record;
    enum class Result {
        Queued,
        Full, // try again later
        NotKept, // the journal could not be written: try again later
        Refused, // no play record: never taken
    };

    explicit SqlQueue(const QString &journalPath = defaultJournalPath());

    static QString defaultJournalPath(); // data/playdata.journal

    // Reads the journal back: its statements past appliedSeq (the last one the
    // database stored; -1 when that is unknown) wait again. Returns how many.
    int open(qint64 appliedSeq);

    // A statement from the player, percent-decoded when it arrived encoded.
    // Only a play record (the player's two statements with sound fields) is
    // taken; anything else is refused, logged once a minute with a count.
    Result add(const QString &statement);
    // A statement of the service itself (file records): not refused for a full
    // queue, only when it cannot be written.
    bool addInternal(const QString &statement);

    // Entries the database will never store: kept in the journal's ".bad"
    // file (up to MAX_SET_ASIDE_BYTES) with the reason, logged once a minute.
    void setAside(const SqlJournal::Record &entry, const QString &why);
    QString setAsidePath() const { return m_journal.path() + QStringLiteral(".bad"); }
    static constexpr qint64 MAX_SET_ASIDE_BYTES = 1024 * 1024;

    // The first max entries, left in the queue.
    QList<Entry> peek(int max) const;
    // Entries up to seq are in the database: drop them and shrink the journal.
    void markApplied(qint64 seq);
    // Pushes the journal to the disk when it grew (statistics thread, each pass).
    void sync();

    int size() const;
    int peakSize() const;
    // Called (outside the lock) each time WAKE_EVERY more plays were added:
    // counted by additions, since the queue's size goes up and down while
    // the statistics thread drains it.
    void setWakeHandler(std::function<void()> handler);
    static constexpr int WAKE_EVERY = 500;

private:
    bool append(const QString &sql);
    void ensureOpen();

    mutable std::mutex m_mutex;
    SqlJournal m_journal;
    QList<Entry> m_queue;
    bool m_opened = false;
    int m_peak = 0;
    int m_addedSinceWake = 0;
    std::function<void()> m_wake;
    // The refusal and set-aside logs and the set-aside file, apart from the
    // queue's lock.
    std::mutex m_logMutex;
    ThrottledLog m_refusals {QStringLiteral("WARN"), QStringLiteral("SQL_REFUSED")};
    ThrottledLog m_setAsideLog {QStringLiteral("WARN"), QStringLiteral("SQL_SET_ASIDE")};
};
