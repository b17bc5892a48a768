#include "stats/playstattable.h"

#include "dailylog.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {
QString quoted(const QString &value)
{
    QString text = value;
    return text.replace(QLatin1Char('\''), QStringLiteral("''"));
}
} // namespace

int PlayStatTable::aggregate(QSqlDatabase db, const QString &today, const QString &now)
{
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
            DailyLog::write(QStringLiteral("WARN"), QStringLiteral("SQLFAIL"), select.lastQuery());
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
            DailyLog::write(QStringLiteral("WARN"), QStringLiteral("SQLFAIL"),
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
            DailyLog::write(QStringLiteral("WARN"), QStringLiteral("SQLFAIL"),
                QStringLiteral("DELETE FROM play_detail WHERE play_time < '%1'").arg(today));
    }
    if (ok && db.commit())
        return hours.size();
    db.rollback();
    return -1;
}

QList<PlayStatRow> PlayStatTable::readBatch(QSqlDatabase db, int limit)
{
    QList<PlayStatRow> batch;
    QSqlQuery query(db);
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

int PlayStatTable::remove(QSqlDatabase db, const QList<PlayStatRow> &batch)
{
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
            DailyLog::write(QStringLiteral("WARN"), QStringLiteral("SQL_FAIL"),
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
