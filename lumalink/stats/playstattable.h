#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>

// One play_stat row on its way to the statistics server.
struct PlayStatRow
{
    QString mtl; // the row's name
    QString time_segment; // "yyyy-MM-dd HH"
    qint32 play_type = 0;
    qint32 total = 0; // plays in that hour
    qint32 len = 0; // summed durations
    QString timestamp; // when the hour was aggregated
    qint64 rowid = -1; // the row read, so exactly it is removed once uploaded
};

// The hourly totals of plays (play_stat): made from the play records
// (play_detail), read in batches for the upload and removed once uploaded.
// Runs on an open connection of StatDatabase, within its time limit.
namespace PlayStatTable {
// Adds the plays of days before `today` to their hour's row and deletes them,
// in one transaction; the number of hour rows touched, -1 on failure.
int aggregate(QSqlDatabase db, const QString &today, const QString &now);
QList<PlayStatRow> readBatch(QSqlDatabase db, int limit);
// The number of rows removed, -1 when the database refused.
int remove(QSqlDatabase db, const QList<PlayStatRow> &batch);
} // namespace PlayStatTable
