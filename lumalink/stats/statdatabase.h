#pragma once

#include "stats/playstattable.h"
#include "stats/sqljournal.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// The statistics database data/playdata.db: the player's play records
// (play_detail), the stored files with their last use (file_mgt) and the
// hourly totals waiting for upload (play_stat).
//
// A connection belongs to the thread that opened it: the statistics thread
// opens it in its loop and is its only user (tests drive it from their own
// thread). Values that come from stored rows are bound, never pasted into SQL.
// The connection cannot attach other files, and every statement the service
// runs has a time limit.
//
// This file's code opens, checks and sets aside the database file; storing
// the journal's records is in journalstore.cpp, the hourly totals in
// PlayStatTable and the stored files in FileMgtTable.
struct PlayRecord;

class StatDatabase
{
public:
    // Time limits of one record and of one upkeep step (aggregation, upload
    // batch, cleanup).
    static constexpr int RECORD_LIMIT_MS = 2000;
    static constexpr int MAINTENANCE_LIMIT_MS = 30000;
    // A record that fails this many passes is set aside.
    static constexpr int MAX_TRIES = 3;

    explicit StatDatabase(const QString &path = defaultPath());
    ~StatDatabase();
    StatDatabase(const StatDatabase &) = delete;
    StatDatabase &operator=(const StatDatabase &) = delete;

    static QString defaultPath(); // data/playdata.db

    // Opens (creating the file and its tables when needed) on the calling
    // thread. Logs "Open db %1 fail" once per failure streak. A file that
    // fails SQLite's quick check, or is no database, is set aside (with the
    // time in its name) and a new one created; the journal then fills it.
    bool open();
    // SQLite said the file is damaged (CORRUPT, NOTADB) while in use: set it
    // aside and open a new one. True when that was needed and done.
    bool recoverIfDamaged();
    // A wait for a lock held by another process is this long at most.
    static constexpr int BUSY_TIMEOUT_MS = 1000;
    void close();
    bool isOpen() const { return m_open; }
    QString path() const { return m_path; }

    // The journal number of the last queued statement stored; -1 when closed.
    qint64 appliedSeq();
    struct SetAside
    {
        SqlJournal::Record entry;
        QString why;
    };
    struct Applied
    {
        bool committed = false; // false: nothing of the batch is stored
        qint64 lastSeq = -1; // the last entry dealt with (stored or set aside)
        bool waiting = false; // an entry failed and waits for the next pass
        QList<SetAside> setAside;
    };
    // Stores the journaled records in order in one transaction, skipping those
    // stored before, and records the last number with them. Each runs as its
    // fixed statement with bound values (see PlayRecord); anything else is
    // set aside unrun. A record that fails (logged as "SQL_FAIL") ends the
    // batch there and is tried again at the next pass; after MAX_TRIES it is
    // set aside, so it never holds back the records after it. A failure of
    // the database rather than the record (busy, locked, full, I/O, damaged)
    // stores nothing and counts against no record: the batch waits whole.
    Applied applyStatements(const QList<SqlJournal::Record> &entries);
    // Runs one statement as it stands, for setting up and checking a database
    // (logged as "SQL_FAIL" on failure). Never fed what a peer sent.
    bool execute(const QString &sql);
    void setRecordLimitMs(int ms) { m_recordLimitMs = ms; }

    // Adds the plays of days before `today` to their hour's play_stat row
    // (creating it, or adding to one already there) and deletes them, all in
    // one transaction. Returns the number of hour rows touched, -1 on failure
    // (then nothing changed).
    int statPlayData(const QString &today, const QString &now);

    QList<PlayStatRow> readStatBatch(int limit);
    // Removes the uploaded rows (by the row read, else by name, hour and play
    // type); the number removed, or -1 when the database refused.
    int deleteStatLog(const QList<PlayStatRow> &batch);

    // Stored files whose last use (their download, when never used) lies
    // before the cutoff date "yyyy-MM-dd".
    QStringList filesUnusedBefore(const QString &cutoffDate);
    bool forgetFiles(const QStringList &names);

private:
    // While one lives, statements past `ms` are interrupted.
    class TimeLimit
    {
    public:
        TimeLimit(StatDatabase &db, int ms);
        ~TimeLimit();
        bool passed() const;

    private:
        StatDatabase &m_db;
    };
    static constexpr int PROGRESS_STEPS = 1000;
    static int progress(void *self);
    bool guardConnection();
    bool createTables();
    // code gets SQLite's result code when it fails.
    bool storeRecord(const PlayRecord &record, QString *why, int *code);
    bool isSound();
    void setFileAside(const QString &why);
    // The primary result code of the connection's last failure.
    int lastErrorCode() const;
    // SQLite's word that the file itself is damaged.
    static bool isDamage(int code);
    // A failure of the database rather than of one record.
    static bool isDatabaseFault(int code);

    void *m_handle = nullptr; // the connection's sqlite3
    bool m_damaged = false;

    QString m_path;
    QString m_connection;
    bool m_open = false;
    bool m_openFailLogged = false;
    int m_recordLimitMs = RECORD_LIMIT_MS;
    int m_limitMs = 0; // 0: no limit running
    QElapsedTimer m_limitTimer;
    QHash<qint64, int> m_failures; // journal number -> failed passes
};
