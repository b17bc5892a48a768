#pragma once

#include "sqljournal.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace DEF_DATA {
// One play_stat row on its way to the statistics server.
struct STAT_LOG
{
    QString mtl; // the row's name
    QString time_segment; // "yyyy-MM-dd HH"
    qint32 play_type = 0;
    qint32 total = 0; // plays in that hour
    qint32 len = 0; // summed durations
    QString timestamp; // when the hour was aggregated
};
} // namespace DEF_DATA

// The statistics database data/playdata.db: the player's play records
// (play_detail), the stored files with their last use (file_mgt) and the
// hourly totals waiting for upload (play_stat).
//
// A connection belongs to the thread that opened it: the statistics thread
// opens it in its loop and is its only user (tests drive it from their own
// thread). Values that come from stored rows are bound, never pasted into SQL.
class StatDatabase
{
public:
    explicit StatDatabase(const QString &path = defaultPath());
    ~StatDatabase();
    StatDatabase(const StatDatabase &) = delete;
    StatDatabase &operator=(const StatDatabase &) = delete;

    static QString defaultPath(); // data/playdata.db

    // Opens (creating the file and its tables when needed) on the calling
    // thread. Logs "Open db %1 fail" once per failure streak.
    bool open();
    void close();
    bool isOpen() const { return m_open; }
    QString path() const { return m_path; }

    // The journal number of the last queued statement stored; -1 when closed.
    qint64 appliedSeq();
    // Runs the statements in order in one transaction, skipping those stored
    // before, and records the last number with them. A statement that fails is
    // logged as "SQL_FAIL" and dropped. False when the transaction could not be
    // committed: nothing of it is stored and the entries are tried again.
    bool applyStatements(const QList<SqlJournal::Record> &entries);
    // Runs one statement at once (logged as "SQL_FAIL" on failure).
    bool execute(const QString &sql);

    // "INSERT INTO" at the start becomes "REPLACE INTO", so a play record sent
    // twice overwrites its row instead of failing.
    static QString rewriteInsert(const QString &sql);
    // 1 for a template list (".l"), 2 for a zone (".z"), 3 for anything else.
    static int resType(const QString &name);
    // The file record of a stored list, zone or downloaded file, used now.
    static QString fileMgtStatement(const QString &path, const QString &now);

    // Adds the plays of days before `today` to their hour's play_stat row
    // (creating it, or adding to one already there) and deletes them, all in
    // one transaction. Returns the number of hour rows touched, -1 on failure
    // (then nothing changed).
    int statPlayData(const QString &today, const QString &now);

    QList<DEF_DATA::STAT_LOG> readStatBatch(int limit);
    // Deletes exactly the rows of the batch, by key, in one transaction.
    bool deleteStatLog(const QList<DEF_DATA::STAT_LOG> &batch);

    // Stored files whose last use (their download, when never used) lies
    // before the cutoff date "yyyy-MM-dd".
    QStringList filesUnusedBefore(const QString &cutoffDate);
    bool forgetFiles(const QStringList &names);

private:
    bool createTables();

    QString m_path;
    QString m_connection;
    bool m_open = false;
    bool m_openFailLogged = false;
};
