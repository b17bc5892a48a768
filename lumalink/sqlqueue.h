#pragma once

#include <QMutex>
#include <QQueue>
#include <QString>

// Statements for the statistics database, handed over by the local listener
// (GUI thread) and taken by the statistics thread. Bounded: a full queue drops
// the new statement and says so.
class SqlQueue
{
public:
    static constexpr int MAX_SQL_QUEUE = 10000;

    // Decodes a percent-encoded statement (every statement holds blanks, so an
    // encoded one always contains "%20"). False when the queue was full.
    bool add(const QString &statement);
    bool take(QString &statement);
    QStringList takeAll();
    int size() const;

private:
    mutable QMutex m_mutex;
    QQueue<QString> m_queue;
};
