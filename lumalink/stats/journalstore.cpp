// StatDatabase: storing the journaled play records, with a record that fails
// tried again at later passes and a failure of the database waiting whole.
#include "stats/statdatabase.h"

#include "dailylog.h"
#include "stats/playrecord.h"

#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

namespace {
// A statement that failed.
void warn(const QString &message)
{
    DailyLog::write(QStringLiteral("WARN"), QStringLiteral("SQL_FAIL"), message);
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

} // namespace

// A failure of the database rather than of one record.
bool StatDatabase::isDatabaseFault(int code)
{
    return isDamage(code) || code == SQLITE_BUSY || code == SQLITE_LOCKED || code == SQLITE_FULL
        || code == SQLITE_IOERR;
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
    warn(sql);
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
            warn(QStringLiteral("Commit of %1 statements fail: %2")
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
    warn(QStringLiteral("%1: %2").arg(*why, record.name.left(200)));
    return false;
}
