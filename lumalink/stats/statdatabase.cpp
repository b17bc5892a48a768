#include "stats/statdatabase.h"
#include "datalayout.h"

#include "clock.h"
#include "miscfunc.h"

#include "setaside.h"
#include "stats/playrecord.h"

#include <QAtomicInt>
#include <QFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

namespace {
void warn(const QString &module, const QString &message)
{
    MiscFunc::writeLog(QStringLiteral("WARN"), module, message);
}

// The three tables exactly as every terminal's database has them.
const char *const CREATE_FILE_MGT
    = "CREATE TABLE \"file_mgt\" ( \"name\" text(100) NOT NULL, \"download_time\" text(20), "
      "\"access_time\" text(20), \"res_type\" integer NOT NULL, \"url\" text(255) NOT NULL, "
      "PRIMARY KEY (\"name\") )";
const char *const CREATE_PLAY_DETAIL
    = "CREATE TABLE \"play_detail\" ( \"name\" text(100) NOT NULL, \"play_time\" text(20) NOT "
      "NULL, \"play_type\" integer NOT NULL, \"duration\" integer NOT NULL, \"times\" integer NOT "
      "NULL, \"mtl_type\" text(50), PRIMARY KEY (\"name\", \"play_time\") )";
const char *const CREATE_PLAY_STAT
    = "CREATE TABLE \"play_stat\" ( \"name\" text(100) NOT NULL, \"time_segment\" text(20) NOT "
      "NULL, \"play_type\" integer NOT NULL, \"times\" integer NOT NULL, \"duration\" integer NOT "
      "NULL, \"timestamp\" text(20) NOT NULL, \"mtl_type\" text(50), PRIMARY KEY (\"name\", "
      "\"time_segment\", \"play_type\") )";
// The service's own bookkeeping: the last journal number stored.
const char *const CREATE_SQL_APPLIED = "CREATE TABLE IF NOT EXISTS \"sql_applied\" ( \"seq\" "
                                       "integer NOT NULL )";

QString quoted(const QString &value)
{
    QString text = value;
    return text.replace(QLatin1Char('\''), QStringLiteral("''"));
}

// Statements that would end or nest the transaction the queue runs in.
bool controlsTransaction(const QString &sql)
{
    const QString word = sql.trimmed().section(QLatin1Char(' '), 0, 0).toUpper();
    static const QStringList words {QStringLiteral("BEGIN"), QStringLiteral("COMMIT"),
        QStringLiteral("END"), QStringLiteral("ROLLBACK"), QStringLiteral("SAVEPOINT"),
        QStringLiteral("RELEASE"), QStringLiteral("ATTACH"), QStringLiteral("DETACH"),
        QStringLiteral("VACUUM")};
    return words.contains(word);
}

QString nextConnectionName()
{
    static QAtomicInt serial;
    const int n = serial.fetchAndAddRelaxed(1);
    return n == 0 ? QStringLiteral("playdata") : QStringLiteral("playdata-%1").arg(n);
}
} // namespace

StatDatabase::StatDatabase(const QString &path)
    : m_path(path)
    , m_connection(nextConnectionName())
{ }

StatDatabase::~StatDatabase()
{
    close();
}

QString StatDatabase::defaultPath()
{
    return DataLayout().statsDatabase();
}

namespace {
// SQLite's word that the file itself is damaged.
bool isDamage(int code)
{
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

// A failure of the database rather than of one record.
bool isDatabaseFault(int code)
{
    return isDamage(code) || code == SQLITE_BUSY || code == SQLITE_LOCKED || code == SQLITE_FULL
        || code == SQLITE_IOERR;
}
} // namespace

bool StatDatabase::open()
{
    for (int attempt = 0;; ++attempt) {
        close();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
            db.setDatabaseName(m_path);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BUSY_TIMEOUT_MS));
            m_open = db.open();
        }
        m_open = m_open && guardConnection();
        if (!m_open || attempt > 0 || isSound())
            break;
        setFileAside(QStringLiteral("it fails the quick check"));
    }
    if (m_open)
        m_open = createTables();
    if (!m_open) {
        close();
        if (!m_openFailLogged)
            warn(QStringLiteral("STATTHREAD"), QStringLiteral("Open db %1 fail").arg(m_path));
        m_openFailLogged = true;
        return false;
    }
    m_openFailLogged = false;
    return true;
}

bool StatDatabase::isSound()
{
    const TimeLimit upkeepLimit(*this, MAINTENANCE_LIMIT_MS);
    QSqlQuery check(QSqlDatabase::database(m_connection, false));
    if (check.exec(QStringLiteral("PRAGMA quick_check")) && check.next())
        return check.value(0).toString() == QLatin1String("ok");
    // Busy or out of time is no damage; only SQLite's word for one is.
    return !isDamage(lastErrorCode());
}

void StatDatabase::setFileAside(const QString &why)
{
    close();
    // The rollback journal and write-ahead log belong to the file they go with.
    const QString aside = moveAsideStamped(m_path, Clock::now(),
        {QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")});
    MiscFunc::writeLog(QStringLiteral("ERROR"), QStringLiteral("STAT_DB_DAMAGED"),
        QStringLiteral("%1 is damaged (%2): moved to %3, a new database is made and the "
                       "journal's plays are stored in it")
            .arg(m_path, why, aside));
    m_failures.clear();
}

bool StatDatabase::recoverIfDamaged()
{
    if (!m_damaged)
        return false;
    m_damaged = false;
    setFileAside(QStringLiteral("SQLite reported it while in use"));
    return open();
}

int StatDatabase::lastErrorCode() const
{
    return m_handle ? sqlite3_errcode(static_cast<sqlite3 *>(m_handle)) & 0xff : SQLITE_OK;
}

int StatDatabase::progress(void *self)
{
    // Non-zero interrupts the statement: it then fails as "interrupted".
    const auto *db = static_cast<const StatDatabase *>(self);
    return db->m_limitMs > 0 && db->m_limitTimer.elapsed() > db->m_limitMs ? 1 : 0;
}

bool StatDatabase::guardConnection()
{
    const QVariant handle = QSqlDatabase::database(m_connection, false).driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3 *sqlite = *static_cast<sqlite3 *const *>(handle.constData());
    if (!sqlite)
        return false;
    // No other database file can be opened through this connection, the
    // schema cannot be written behind SQLite's back, and no statement runs
    // past its time limit.
    sqlite3_limit(sqlite, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_db_config(sqlite, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_progress_handler(sqlite, PROGRESS_STEPS, &StatDatabase::progress, this);
    m_handle = sqlite;
    return true;
}

StatDatabase::TimeLimit::TimeLimit(StatDatabase &db, int ms)
    : m_db(db)
{
    m_db.m_limitTimer.start();
    m_db.m_limitMs = ms;
}

StatDatabase::TimeLimit::~TimeLimit()
{
    m_db.m_limitMs = 0;
}

bool StatDatabase::TimeLimit::passed() const
{
    return m_db.m_limitTimer.elapsed() > m_db.m_limitMs;
}

bool StatDatabase::createTables()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    // A new file gets the three tables; an existing file that lacks one (an
    // empty file left by a failed start) gets it as well.
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'")))
        return false;
    QStringList present;
    while (query.next())
        present << query.value(0).toString();
    query.finish();
    const QList<QPair<QString, const char *>> tables {{QStringLiteral("file_mgt"), CREATE_FILE_MGT},
        {QStringLiteral("play_detail"), CREATE_PLAY_DETAIL},
        {QStringLiteral("play_stat"), CREATE_PLAY_STAT}};
    for (const auto &table : tables) {
        if (!present.contains(table.first))
            query.exec(QString::fromLatin1(table.second));
    }
    if (!query.exec(QString::fromLatin1(CREATE_SQL_APPLIED)))
        return false;
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM sql_applied")) || !query.next())
        return false;
    const bool empty = query.value(0).toInt() == 0;
    query.finish();
    return !empty || query.exec(QStringLiteral("INSERT INTO sql_applied(seq) VALUES(0)"));
}

void StatDatabase::close()
{
    if (!QSqlDatabase::contains(m_connection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
    m_open = false;
    m_handle = nullptr;
}

qint64 StatDatabase::appliedSeq()
{
    if (!m_open)
        return -1;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.exec(QStringLiteral("SELECT MAX(seq) FROM sql_applied")) || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

bool StatDatabase::execute(const QString &sql)
{
    if (m_open && !controlsTransaction(sql)) {
        QSqlQuery query(QSqlDatabase::database(m_connection, false));
        if (query.exec(sql))
            return true;
    }
    warn(QStringLiteral("SQL_FAIL"), sql);
    return false;
}

StatDatabase::Applied StatDatabase::applyStatements(const QList<SqlJournal::Record> &entries)
{
    Applied result;
    if (!m_open || entries.isEmpty()) {
        result.committed = m_open;
        return result;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    const qint64 applied = appliedSeq();
    if (applied < 0)
        return result;
    // A failed record may have taken the whole transaction with it (an
    // interrupted statement does): the batch is then run again without it,
    // stopping before it while it has tries left. Each round either stops
    // earlier or skips one more, so this ends.
    QSet<qint64> skipped;
    int stopAt = entries.size();
    for (;;) {
        if (!db.transaction())
            return Applied();
        qint64 last = applied;
        int failed = -1;
        QString why;
        for (int i = 0; i < stopAt && failed < 0; ++i) {
            const SqlJournal::Record &entry = entries.at(i);
            if (entry.seq <= applied)
                continue; // stored before the service was stopped
            if (!skipped.contains(entry.seq)) {
                const PlayRecord record = PlayRecord::parse(entry.sql, &why);
                if (record.kind == PlayRecord::Kind::None) {
                    // A hand edit or a damaged journal: never run, kept for a look.
                    skipped.insert(entry.seq);
                    result.setAside.append({entry, why});
                } else if (int code = SQLITE_OK; !storeRecord(record, &why, &code)) {
                    if (isDatabaseFault(code)) {
                        // The database, not the record: the whole batch waits.
                        m_damaged = isDamage(code);
                        db.rollback();
                        return Applied();
                    }
                    failed = i;
                    break;
                }
            }
            m_failures.remove(entry.seq);
            last = entry.seq;
        }
        if (failed < 0) {
            QSqlQuery mark(db);
            mark.prepare(QStringLiteral("UPDATE sql_applied SET seq = ?"));
            mark.addBindValue(last);
            if (mark.exec() && db.commit()) {
                result.committed = true;
                result.lastSeq = last;
                return result;
            }
            warn(QStringLiteral("SQL_FAIL"),
                QStringLiteral("Commit of %1 statements fail: %2")
                    .arg(entries.size())
                    .arg(db.lastError().text()));
            m_damaged = isDamage(lastErrorCode());
            db.rollback();
            return Applied();
        }
        db.rollback();
        const SqlJournal::Record &entry = entries.at(failed);
        if (++m_failures[entry.seq] < MAX_TRIES) {
            // Tried again at the next pass, with everything after it.
            stopAt = failed;
            result.waiting = true;
        } else {
            m_failures.remove(entry.seq);
            skipped.insert(entry.seq);
            result.setAside.append({entry, why});
        }
    }
}

bool StatDatabase::storeRecord(const PlayRecord &record, QString *why, int *code)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    const TimeLimit limit(*this, m_recordLimitMs);
    if (query.prepare(record.preparedStatement())) {
        for (const QVariant &value : record.values())
            query.addBindValue(value);
        if (query.exec())
            return true;
    }
    // Read while the failed statement is still there to say it.
    *code = lastErrorCode();
    *why = query.lastError().text();
    if (limit.passed())
        *why = QStringLiteral("stopped after %1 ms").arg(m_recordLimitMs);
    warn(QStringLiteral("SQL_FAIL"), QStringLiteral("%1: %2").arg(*why, record.name.left(200)));
    return false;
}

int StatDatabase::statPlayData(const QString &today, const QString &now)
{
    if (!m_open)
        return -1;
    const TimeLimit upkeepLimit(*this, MAINTENANCE_LIMIT_MS);
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    struct Hour
    {
        QString name, segment, mtlType;
        int playType, times, duration;
    };
    QList<Hour> hours;
    {
        // One row per name, hour and play type: the key of play_stat. An hour
        // that holds two material types keeps the first one's name.
        QSqlQuery select(db);
        select.prepare(QStringLiteral(
            "SELECT name, substr(play_time, 1, 13) AS timeSegment, play_type, SUM(times), "
            "SUM(duration), MIN(mtl_type) FROM play_detail WHERE play_time < ? "
            "GROUP BY name, timeSegment, play_type"));
        select.addBindValue(today);
        if (!select.exec()) {
            warn(QStringLiteral("SQLFAIL"), select.lastQuery());
            return -1;
        }
        while (select.next())
            hours.append(
                {select.value(0).toString(), select.value(1).toString(), select.value(5).toString(),
                    select.value(2).toInt(), select.value(3).toInt(), select.value(4).toInt()});
    }
    if (hours.isEmpty())
        return 0;

    if (!db.transaction())
        return -1;
    bool ok = true;
    for (const Hour &hour : qAsConst(hours)) {
        QSqlQuery add(db);
        add.prepare(QStringLiteral("UPDATE play_stat SET times = times + ?, duration = duration + "
                                   "?, timestamp = ? WHERE name = ? AND time_segment = ? AND "
                                   "play_type = ?"));
        add.addBindValue(hour.times);
        add.addBindValue(hour.duration);
        add.addBindValue(now);
        add.addBindValue(hour.name);
        add.addBindValue(hour.segment);
        add.addBindValue(hour.playType);
        ok = add.exec();
        if (ok && add.numRowsAffected() == 0) {
            QSqlQuery insert(db);
            insert.prepare(QStringLiteral(
                "INSERT INTO play_stat(name, time_segment, play_type, times, duration, "
                "timestamp, mtl_type) VALUES(?, ?, ?, ?, ?, ?, ?)"));
            insert.addBindValue(hour.name);
            insert.addBindValue(hour.segment);
            insert.addBindValue(hour.playType);
            insert.addBindValue(hour.times);
            insert.addBindValue(hour.duration);
            insert.addBindValue(now);
            insert.addBindValue(hour.mtlType);
            ok = insert.exec();
        }
        if (!ok) {
            warn(QStringLiteral("SQLFAIL"),
                QStringLiteral("Aggregate %1 %2 fail: %3")
                    .arg(hour.name, hour.segment, db.lastError().text()));
            break;
        }
    }
    if (ok) {
        QSqlQuery remove(db);
        remove.prepare(QStringLiteral("DELETE FROM play_detail WHERE play_time < ?"));
        remove.addBindValue(today);
        ok = remove.exec();
        if (!ok)
            warn(QStringLiteral("SQLFAIL"),
                QStringLiteral("DELETE FROM play_detail WHERE play_time < '%1'").arg(today));
    }
    if (ok && db.commit())
        return hours.size();
    db.rollback();
    return -1;
}

QList<PlayStatRow> StatDatabase::readStatBatch(int limit)
{
    QList<PlayStatRow> batch;
    if (!m_open)
        return batch;
    const TimeLimit upkeepLimit(*this, MAINTENANCE_LIMIT_MS);
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(
        QStringLiteral("SELECT name AS mtl, time_segment, play_type, times AS total, "
                       "duration AS len, timestamp, rowid FROM play_stat ORDER BY rowid LIMIT ?"));
    query.addBindValue(limit);
    if (!query.exec())
        return batch;
    while (query.next()) {
        PlayStatRow log;
        log.mtl = query.value(0).toString();
        log.time_segment = query.value(1).toString();
        log.play_type = query.value(2).toInt();
        log.total = query.value(3).toInt();
        log.len = query.value(4).toInt();
        log.timestamp = query.value(5).toString();
        log.rowid = query.value(6).toLongLong();
        batch.append(log);
    }
    return batch;
}

int StatDatabase::deleteStatLog(const QList<PlayStatRow> &batch)
{
    if (!m_open)
        return -1;
    const TimeLimit upkeepLimit(*this, MAINTENANCE_LIMIT_MS);
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return -1;
    int removed = 0;
    for (const PlayStatRow &log : batch) {
        // By the row read: a name, hour or type the comparison cannot match
        // (a NULL, a number stored as text) would leave the row for ever.
        QSqlQuery remove(db);
        if (log.rowid >= 0) {
            remove.prepare(QStringLiteral("DELETE FROM play_stat WHERE rowid = ?"));
            remove.addBindValue(log.rowid);
        } else {
            remove.prepare(QStringLiteral(
                "DELETE FROM play_stat WHERE name = ? AND time_segment = ? AND play_type = ?"));
            remove.addBindValue(log.mtl);
            remove.addBindValue(log.time_segment);
            remove.addBindValue(log.play_type);
        }
        if (!remove.exec()) {
            warn(QStringLiteral("SQL_FAIL"),
                QStringLiteral("DELETE FROM play_stat WHERE name='%1' AND time_segment='%2' AND "
                               "play_type=%3")
                    .arg(quoted(log.mtl), log.time_segment, QString::number(log.play_type)));
            db.rollback();
            return -1;
        }
        removed += qMax(0, remove.numRowsAffected());
    }
    if (db.commit())
        return removed;
    db.rollback();
    return -1;
}

QStringList StatDatabase::filesUnusedBefore(const QString &cutoffDate)
{
    QStringList names;
    if (!m_open)
        return names;
    const TimeLimit upkeepLimit(*this, MAINTENANCE_LIMIT_MS);
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("SELECT name FROM file_mgt WHERE "
                                 "COALESCE(access_time, download_time, '') < ?"));
    query.addBindValue(cutoffDate);
    if (!query.exec())
        return names;
    while (query.next())
        names << query.value(0).toString();
    return names;
}

bool StatDatabase::forgetFiles(const QStringList &names)
{
    if (!m_open)
        return false;
    const TimeLimit upkeepLimit(*this, MAINTENANCE_LIMIT_MS);
    if (names.isEmpty())
        return true;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return false;
    for (const QString &name : names) {
        QSqlQuery remove(db);
        remove.prepare(QStringLiteral("DELETE FROM file_mgt WHERE name = ?"));
        remove.addBindValue(name);
        if (!remove.exec()) {
            db.rollback();
            return false;
        }
    }
    if (db.commit())
        return true;
    db.rollback();
    return false;
}
