#include "stats/sqljournal.h"

#include "wholefile.h"

#include <limits>

#include <unistd.h>

namespace {
// Statements are numbered one by one from 1: a number beyond this cannot come
// from counting, and taking it would leave no room for the next one.
constexpr qint64 MAX_SEQ = std::numeric_limits<qint64>::max() / 2;

QByteArray escape(const QString &sql)
{
    const QByteArray bytes = sql.toUtf8();
    QByteArray out;
    out.reserve(bytes.size() + 8);
    for (const char c : bytes) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

QString unescape(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const char next = text.at(++i);
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return QString::fromUtf8(out);
}
} // namespace

SqlJournal::SqlJournal(const QString &path)
    : m_path(path)
{ }

QByteArray SqlJournal::encode(const Record &record)
{
    return QByteArray::number(record.seq) + '\t' + escape(record.sql) + '\n';
}

bool SqlJournal::decode(const QByteArray &line, Record &record, bool &isBase)
{
    isBase = false;
    bool ok = false;
    if (line.startsWith("#base ")) {
        record.seq = line.mid(6).trimmed().toLongLong(&ok);
        record.sql.clear();
        ok = ok && record.seq <= MAX_SEQ;
        isBase = ok;
        return ok;
    }
    const int tab = line.indexOf('\t');
    if (tab <= 0)
        return false;
    record.seq = line.left(tab).toLongLong(&ok);
    if (!ok || record.seq <= 0 || record.seq > MAX_SEQ)
        return false;
    record.sql = unescape(line.mid(tab + 1));
    return true;
}

bool SqlJournal::open(QList<Record> &records)
{
    close();
    m_lastSeq = 0;
    m_records = 0;
    QFile in(m_path);
    if (in.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = in.readAll();
        in.close();
        int pos = 0;
        while (pos < bytes.size()) {
            const int end = bytes.indexOf('\n', pos);
            if (end < 0)
                break; // cut short while written: never answered
            Record record;
            bool isBase = false;
            if (decode(bytes.mid(pos, end - pos), record, isBase)) {
                m_lastSeq = qMax(m_lastSeq, record.seq);
                if (!isBase) {
                    records.append(record);
                    ++m_records;
                }
            }
            pos = end + 1;
        }
        if (pos < bytes.size()) {
            // Drop the torn tail so the next record starts on a line of its own.
            QFile cut(m_path);
            if (cut.open(QIODevice::ReadWrite))
                cut.resize(pos);
        }
    }
    return openForAppend();
}

bool SqlJournal::openForAppend()
{
    m_file.setFileName(m_path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

void SqlJournal::close()
{
    if (m_file.isOpen())
        m_file.close();
}

qint64 SqlJournal::append(const QString &sql)
{
    if (!m_file.isOpen() && !openForAppend())
        return 0;
    const Record record {m_lastSeq + 1, sql};
    const QByteArray line = encode(record);
    const qint64 before = m_file.size();
    if (m_file.write(line) != line.size()) {
        // A partial line would swallow the next record: cut it off again.
        m_file.resize(before);
        return 0;
    }
    m_lastSeq = record.seq;
    ++m_records;
    m_dirty = true;
    return record.seq;
}

void SqlJournal::sync()
{
    if (!m_dirty || !m_file.isOpen())
        return;
    ::fdatasync(m_file.handle());
    m_dirty = false;
}

bool SqlJournal::rewrite(const QList<Record> &pending)
{
    QByteArray bytes = "#base " + QByteArray::number(m_lastSeq) + '\n';
    for (const Record &record : pending)
        bytes += encode(record);
    // A full disk keeps the old journal, with every play it holds.
    if (!replaceFileWhole(m_path, bytes))
        return false;
    close();
    m_records = pending.size();
    m_dirty = false; // QSaveFile synced the new file
    return openForAppend();
}
