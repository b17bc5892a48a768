#include "stats/statthread.h"

#include "clock.h"
#include "clocktext.h"
#include "dailylog.h"
#include "net/httpclient.h"
#include "settings/servicesettings.h"
#include "settings/terminalstatus.h"
#include "stats/playrecord.h"
#include "stats/statupload.h"
#include "upkeep/filecleanup.h"
#include "upkeep/logfile.h"
#include "upkeep/playerwatchdog.h"

#include <QElapsedTimer>

StatThread::StatThread(ServiceSettings &settings, QObject *parent)
    : LoopThread(parent)
    , m_settings(settings)
    , m_queue(settings.dataLayout().statsJournal())
    , m_db(settings.dataLayout().statsDatabase())
    , m_watchdog(settings)
{
    m_queue.setWakeHandler([this] { wake(); });
}

StatThread::~StatThread()
{
    stop();
    m_queue.setWakeHandler(nullptr);
}

bool StatThread::connectToDb()
{
    const bool ok = m_db.open();
    m_queue.open(ok ? m_db.appliedSeq() : -1);
    // The loop opens its own connection on its thread.
    m_db.close();
    return ok;
}

bool StatThread::ensureDatabase()
{
    return m_db.isOpen() || m_db.open();
}

SqlQueue::Result StatThread::addPlayRecord(const QString &sql)
{
    return m_queue.add(sql);
}

void StatThread::insertFileMgt(const QString &path)
{
    // Through the queue, so the caller never waits for the database and the
    // record is journaled like a play.
    m_queue.addInternal(PlayRecord::fileStoredStatement(path, ClockText::dateTime()));
}

bool StatThread::insertDatabase(const QString &sql)
{
    ensureDatabase();
    return m_db.execute(sql);
}

bool StatThread::drainQueue()
{
    if (!ensureDatabase())
        return false;
    QElapsedTimer timer;
    timer.start();
    int stored = 0;
    bool ok = true;
    while (!stopRequested()) {
        const QList<SqlQueue::Entry> entries = m_queue.peek(DRAIN_BATCH);
        if (entries.isEmpty())
            break;
        const StatDatabase::Applied applied = m_db.applyStatements(entries);
        ok = applied.committed;
        if (!ok) {
            // A damaged file is replaced at once; the plays wait in the
            // queue and go into the new one at the next pass.
            m_db.recoverIfDamaged();
            break;
        }
        for (const StatDatabase::SetAside &aside : applied.setAside)
            m_queue.setAside(aside.entry, aside.why);
        m_queue.markApplied(applied.lastSeq);
        stored += entries.size();
        if (applied.waiting)
            break; // the failed record is tried again at the next pass
    }
    // A burst is worth a line: how fast it went in and how long the queue got.
    if (stored >= SqlQueue::WAKE_EVERY)
        DailyLog::write(QStringLiteral("INFO"), QStringLiteral("STATTHREAD"),
            QStringLiteral("Stored %1 statements in %2 ms, queue peak %3")
                .arg(stored)
                .arg(timer.elapsed())
                .arg(m_queue.peakSize()));
    return ok;
}

void StatThread::statAndSendPlayData()
{
    statPlayData();
    sendPlayerData();
}

int StatThread::statPlayData()
{
    if (!ensureDatabase())
        return -1;
    return m_db.statPlayData(ClockText::date(), ClockText::dateTime());
}

void StatThread::sendPlayerData()
{
    if (m_settings.logUrl.isEmpty() || !ensureDatabase())
        return;
    // The database is not held while a batch is on its way; only this thread
    // changes play_stat, so the rows read are the rows deleted.
    while (!stopRequested()) {
        const QList<PlayStatRow> batch = m_db.readStatBatch(StatUpload::BATCH_SIZE);
        if (batch.isEmpty())
            return;
        const bool ok = postStatLog(batch);
        // Uploaded rows that are not removed would be read and sent again
        // and again: the loop ends, and the next pass tries once more.
        if (ok && deleteStatLog(batch) <= 0) {
            DailyLog::write(QStringLiteral("WARN"), QStringLiteral("STATTHREAD"),
                QStringLiteral("Uploaded play statistics could not be removed"));
            return;
        }
        if (!ok || batch.size() < StatUpload::BATCH_SIZE)
            return;
    }
}

bool StatThread::postStatLog(const QList<PlayStatRow> &batch)
{
    const QString url = StatUpload::url(m_settings.logUrl);
    const QString reply
        = HttpClient::post(url, StatUpload::body(batch, m_settings.terminalId, Clock::nowMs()));
    const bool ok = HttpClient::succeedPostResult(reply);
    if (!ok)
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("STATTHREAD"),
            QStringLiteral("Send play statistics to %1 fail: %2").arg(url, reply));
    return ok;
}

int StatThread::deleteStatLog(const QList<PlayStatRow> &batch)
{
    return ensureDatabase() ? m_db.deleteStatLog(batch) : -1;
}

void StatThread::checkPlayerRunning()
{
    m_watchdog.checkPlayerRunning();
}

void StatThread::clearLogAndUnusedFile()
{
    LogFile::clearLogFileBefore(ClockText::date(-7));
    int days = 0;
    if (FileCleanup::keepDaysFor(getClearType(), days))
        clearUnusedFileKeepDays(days);
}

int StatThread::getClearType() const
{
    return TerminalStatus(QString(), m_settings).getClearType();
}

void StatThread::clearUnusedFileKeepDays(int days)
{
    if (!ensureDatabase())
        return;
    const QString cutoff = FileCleanup::cutoffDate(Clock::now().date(), days);
    const QStringList unused = m_db.filesUnusedBefore(cutoff);
    if (unused.isEmpty())
        return;
    const QSet<QString> referenced = FileCleanup::referencedFiles();
    QStringList removed;
    for (const QString &name : unused) {
        if (referenced.contains(name.section(QLatin1Char('/'), -1)))
            continue; // still part of what the player plays today
        if (deleteFileByName(name))
            removed << name;
    }
    m_db.forgetFiles(removed);
}

bool StatThread::deleteFileByName(const QString &name)
{
    return FileCleanup::deleteFileByName(name);
}

void StatThread::runPass()
{
    assertOnLoopThread();
    drainQueue();
    m_queue.sync();
    const qint64 monotonic = Clock::monotonicMs();
    const qint64 jump = m_schedule.noteWallClock(Clock::nowMs(), monotonic);
    if (jump > 0)
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("STATTHREAD"),
            QStringLiteral("The clock jumped forward by %1 hours: the next cleanup of logs and "
                           "unused files is skipped")
                .arg(jump / 3600000));
    const UpkeepSchedule::Due due = m_schedule.due(monotonic);
    if (due.stats)
        statAndSendPlayData();
    if (due.cleanup)
        clearLogAndUnusedFile();
    if (due.cleanupSkipped)
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("STATTHREAD"),
            QStringLiteral("Cleanup of logs and unused files skipped after the clock jump"));
    if (due.watchdog)
        checkPlayerRunning();
}

void StatThread::loop()
{
    // A connection opened by another thread is not used here.
    m_db.close();
    ensureDatabase();
    m_schedule.restart(Clock::monotonicMs());
    drainQueue();
    while (sleepFor(m_passSleepMs.load()))
        runPass();
    m_queue.sync();
    m_db.close();
}
