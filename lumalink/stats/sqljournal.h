#pragma once

#include <QFile>
#include <QList>
#include <QString>

// Append-only file of the statements the service has accepted but maybe not
// yet stored, each under a sequence number that only grows. The statistics
// database remembers the last number it stored, so after the service was
// stopped the statements past that number are run again.
//
// File format, one record per line:
//   "#base N"           the numbers of this file continue after N
//   "N<TAB>statement"   statement with "\", line feed and carriage return escaped
// A last line without its line feed was cut by a crash while it was written,
// before the statement was answered, and is ignored.
//
// Not thread-safe: its owner (SqlQueue) serialises every call.
class SqlJournal
{
public:
    struct Record
    {
        qint64 seq = 0;
        QString sql;
    };

    explicit SqlJournal(const QString &path);

    QString path() const { return m_path; }

    // Reads the file (missing: empty) and opens it for appending. The records
    // are returned in file order; false when the file cannot be opened for
    // appending (nothing can be kept then).
    bool open(QList<Record> &records);
    bool isOpen() const { return m_file.isOpen(); }
    void close();

    // Writes one record with the next number and hands the data to the
    // operating system, so it survives the end of this process. 0 on failure.
    qint64 append(const QString &sql);
    // Pushes written data to the disk (fdatasync) when anything was appended
    // since the last call.
    void sync();

    // Replaces the file with one holding only the records given (all of them
    // still to be stored), keeping the numbering. False when that failed; the
    // old file then stays in use.
    bool rewrite(const QList<Record> &pending);

    qint64 lastSeq() const { return m_lastSeq; }
    // Numbers go on after seq at least (the database stored up to it); takes
    // effect in the file at the next rewrite.
    void raiseNumbering(qint64 seq) { m_lastSeq = qMax(m_lastSeq, seq); }
    int recordCount() const { return m_records; }

    static QByteArray encode(const Record &record);
    // False for a line that is not a record (a number too large to be counted
    // on from makes none); a base line sets seq and leaves sql empty.
    static bool decode(const QByteArray &line, Record &record, bool &isBase);

private:
    bool openForAppend();

    QString m_path;
    QFile m_file;
    qint64 m_lastSeq = 0;
    int m_records = 0; // records in the file
    bool m_dirty = false;
};
