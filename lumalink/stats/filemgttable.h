#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The stored files with their download and last use (file_mgt), on an open
// connection of StatDatabase, within its time limit.
namespace FileMgtTable {
// Names whose last use (their download, when never used) lies before the
// cutoff date "yyyy-MM-dd".
QStringList unusedBefore(QSqlDatabase db, const QString &cutoffDate);
// Removes the names in one transaction; false when nothing was removed.
bool forget(QSqlDatabase db, const QStringList &names);
} // namespace FileMgtTable
