#pragma once

#include "loopthread.h"
#include "stats/sqlqueue.h"
#include "stats/statdatabase.h"
#include "upkeep/playerwatchdog.h"
#include "upkeep/upkeepschedule.h"

struct ServiceSettings;

#include <atomic>

// The service's statistics and upkeep thread. It owns the statistics database
// (opened on this thread; no other thread touches it) and drains the SQL
// queue that the local listener and the file recorder fill. Its loop also runs
// the timed upkeep: hourly aggregation and upload of plays, removal of old logs
// and unused content, and the player watchdog.
//
// Everything but connectToDb, addSqlQueue, insertFileMgt and stop runs on
// this thread while it runs (tests call the steps directly instead of
// starting it).
class StatThread : public LoopThread
{
    Q_OBJECT
public:
    static constexpr int PASS_SLEEP_MS = 3000;
    // Statements stored per transaction while draining the queue.
    static constexpr int DRAIN_BATCH = 500;

    explicit StatThread(ServiceSettings &settings, QObject *parent = nullptr);
    ~StatThread() override;

    // Start-up, before start(): creates the database when needed and reads
    // the journal back, so statements accepted before the last stop are
    // stored again. False when the database cannot be opened (it is tried
    // again by the loop).
    bool connectToDb();

    // From the local listener: false when the statement could not be kept
    // (queue full, journal not writable: the player sends it again) or is no
    // play record (see addPlayRecord for which).
    bool addSqlQueue(const QString &sql) { return addPlayRecord(sql) == SqlQueue::Result::Queued; }
    SqlQueue::Result addPlayRecord(const QString &sql);
    // Records a stored template list or zone id, or a downloaded file, as
    // present and used now. Any thread; never waits for the database.
    void insertFileMgt(const QString &path);

    // --- steps of the loop (this thread) ---
    bool insertDatabase(const QString &sql);
    // Stores what waits in the queue; false when the database is not open or
    // a transaction failed (the rest waits for the next pass).
    bool drainQueue();
    void statAndSendPlayData();
    int statPlayData();
    void sendPlayerData();
    bool postStatLog(const QList<PlayStatRow> &batch);
    int deleteStatLog(const QList<PlayStatRow> &batch); // rows removed, -1: refused
    void checkPlayerRunning();
    void clearLogAndUnusedFile();
    int getClearType() const;
    void clearUnusedFileKeepDays(int days);
    static bool deleteFileByName(const QString &name);
    // One pass of the loop after its sleep: drain, then what is due.
    void runPass();

    SqlQueue &sqlQueue() { return m_queue; }
    StatDatabase &database() { return m_db; }
    UpkeepSchedule &schedule() { return m_schedule; }
    // Test hook: a shorter sleep between passes.
    void setPassSleepMs(int ms) { m_passSleepMs = ms; }

protected:
    void loop() override;

private:
    bool ensureDatabase();

    ServiceSettings &m_settings;
    SqlQueue m_queue;
    StatDatabase m_db;
    UpkeepSchedule m_schedule;
    PlayerWatchdog m_watchdog; // on this thread only
    std::atomic<int> m_passSleepMs {PASS_SLEEP_MS};
};
