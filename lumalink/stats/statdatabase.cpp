#include "stats/statdatabase.h"
#include "datalayout.h"

#include "clock.h"
#include "dailylog.h"

#include "setaside.h"
#include "stats/filemgttable.h"
#include "stats/playrecord.h"
#include "stats/playstattable.h"

#include <QAtomicInt>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

namespace {
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

// SQLite's word that the file itself is damaged.
bool StatDatabase::isDamage(int code)
{
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

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
            DailyLog::write(QStringLiteral("WARN"), QStringLiteral("STATTHREAD"),
                QStringLiteral("Open db %1 fail").arg(m_path));
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
    DailyLog::write(QStringLiteral("ERROR"), QStringLiteral("STAT_DB_DAMAGED"),
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

int StatDatabase::statPlayData(const QString &today, const QString &now)
{
    if (!m_open)
        return -1;
    const TimeLimit upkeepLimit(*this, MAINTENANCE_LIMIT_MS);
    return PlayStatTable::aggregate(QSqlDatabase::database(m_connection, false), today, now);
}

QList<PlayStatRow> StatDatabase::readStatBatch(int limit)
{
    if (!m_open)
        return {};
    const TimeLimit upkeepLimit(*this, MAINTENANCE_LIMIT_MS);
    return PlayStatTable::readBatch(QSqlDatabase::database(m_connection, false), limit);
}

int StatDatabase::deleteStatLog(const QList<PlayStatRow> &batch)
{
    if (!m_open)
        return -1;
    const TimeLimit upkeepLimit(*this, MAINTENANCE_LIMIT_MS);
    return PlayStatTable::remove(QSqlDatabase::database(m_connection, false), batch);
}

QStringList StatDatabase::filesUnusedBefore(const QString &cutoffDate)
{
    if (!m_open)
        return {};
    const TimeLimit upkeepLimit(*this, MAINTENANCE_LIMIT_MS);
    return FileMgtTable::unusedBefore(QSqlDatabase::database(m_connection, false), cutoffDate);
}

bool StatDatabase::forgetFiles(const QStringList &names)
{
    if (!m_open)
        return false;
    const TimeLimit upkeepLimit(*this, MAINTENANCE_LIMIT_MS);
    return FileMgtTable::forget(QSqlDatabase::database(m_connection, false), names);
}
