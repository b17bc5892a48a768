#include "stats/filemgttable.h"

#include <QSqlQuery>
#include <QVariant>

QStringList FileMgtTable::unusedBefore(QSqlDatabase db, const QString &cutoffDate)
{
    QStringList names;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT name FROM file_mgt WHERE "
                                 "COALESCE(access_time, download_time, '') < ?"));
    query.addBindValue(cutoffDate);
    if (!query.exec())
        return names;
    while (query.next())
        names << query.value(0).toString();
    return names;
}

bool FileMgtTable::forget(QSqlDatabase db, const QStringList &names)
{
    if (names.isEmpty())
        return true;
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
