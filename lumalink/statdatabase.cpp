#include "statdatabase.h"

#include "miscfunc.h"

#include <QAtomicInt>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

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
    return MiscFunc::dataPath(QStringLiteral("data/playdata.db"));
}

bool StatDatabase::open()
{
    close();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(m_path);
        m_open = db.open();
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

QString StatDatabase::rewriteInsert(const QString &sql)
{
    if (sql.startsWith(QLatin1String("INSERT INTO")))
        return QStringLiteral("REPLACE INTO") + sql.mid(11);
    return sql;
}

int StatDatabase::resType(const QString &name)
{
    if (name.endsWith(QLatin1String(".l")))
        return 1;
    if (name.endsWith(QLatin1String(".z")))
        return 2;
    return 3;
}

QString StatDatabase::fileMgtStatement(const QString &path, const QString &now)
{
    const QString name = path.section(QLatin1Char('/'), -1);
    return QStringLiteral("REPLACE INTO file_mgt(name, download_time, access_time, res_type, "
                          "url) VALUES('%1', '%2', '%3', %4, '%5')")
        .arg(quoted(name), now, now, QString::number(resType(name)), quoted(path));
}

bool StatDatabase::execute(const QString &sql)
{
    const QString statement = rewriteInsert(sql);
    if (m_open && !controlsTransaction(statement)) {
        QSqlQuery query(QSqlDatabase::database(m_connection, false));
        if (query.exec(statement))
            return true;
    }
    warn(QStringLiteral("SQL_FAIL"), statement);
    return false;
}

bool StatDatabase::applyStatements(const QList<SqlJournal::Record> &entries)
{
    if (!m_open || entries.isEmpty())
        return m_open;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    const qint64 applied = appliedSeq();
    if (applied < 0 || !db.transaction())
        return false;
    qint64 last = applied;
    for (const SqlJournal::Record &entry : entries) {
        if (entry.seq <= applied)
            continue; // stored before the service was stopped
        execute(entry.sql);
        last = entry.seq;
    }
    QSqlQuery mark(db);
    mark.prepare(QStringLiteral("UPDATE sql_applied SET seq = ?"));
    mark.addBindValue(last);
    if (mark.exec() && db.commit())
        return true;
    warn(QStringLiteral("SQL_FAIL"),
        QStringLiteral("Commit of %1 statements fail: %2")
            .arg(entries.size())
            .arg(db.lastError().text()));
    db.rollback();
    return false;
}

int StatDatabase::statPlayData(const QString &today, const QString &now)
{
    if (!m_open)
        return -1;
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

QList<DEF_DATA::STAT_LOG> StatDatabase::readStatBatch(int limit)
{
    QList<DEF_DATA::STAT_LOG> batch;
    if (!m_open)
        return batch;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(
        QStringLiteral("SELECT name AS mtl, time_segment, play_type, times AS total, "
                       "duration AS len, timestamp FROM play_stat ORDER BY rowid LIMIT ?"));
    query.addBindValue(limit);
    if (!query.exec())
        return batch;
    while (query.next()) {
        DEF_DATA::STAT_LOG log;
        log.mtl = query.value(0).toString();
        log.time_segment = query.value(1).toString();
        log.play_type = query.value(2).toInt();
        log.total = query.value(3).toInt();
        log.len = query.value(4).toInt();
        log.timestamp = query.value(5).toString();
        batch.append(log);
    }
    return batch;
}

bool StatDatabase::deleteStatLog(const QList<DEF_DATA::STAT_LOG> &batch)
{
    if (!m_open)
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return false;
    for (const DEF_DATA::STAT_LOG &log : batch) {
        QSqlQuery remove(db);
        remove.prepare(QStringLiteral(
            "DELETE FROM play_stat WHERE name = ? AND time_segment = ? AND play_type = ?"));
        remove.addBindValue(log.mtl);
        remove.addBindValue(log.time_segment);
        remove.addBindValue(log.play_type);
        if (!remove.exec()) {
            warn(QStringLiteral("SQL_FAIL"),
                QStringLiteral("DELETE FROM play_stat WHERE name='%1' AND time_segment='%2' AND "
                               "play_type=%3")
                    .arg(quoted(log.mtl), log.time_segment, QString::number(log.play_type)));
            db.rollback();
            return false;
        }
    }
    if (db.commit())
        return true;
    db.rollback();
    return false;
}

QStringList StatDatabase::filesUnusedBefore(const QString &cutoffDate)
{
    QStringList names;
    if (!m_open)
        return names;
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
