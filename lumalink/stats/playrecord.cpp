#include "stats/playrecord.h"

#include <QDateTime>

namespace {

const QLatin1String INSERT_HEAD("INSERT INTO play_detail(name, play_time, play_type, times, "
                                "duration, mtl_type) VALUES(");
const QLatin1String UPDATE_HEAD("UPDATE file_mgt SET access_time=");
const QLatin1String STORED_HEAD("REPLACE INTO file_mgt(name, download_time, access_time, "
                                "res_type, url) VALUES(");
const QLatin1String TIME_FORMAT("yyyy-MM-dd hh:mm:ss");

// Reads a statement front to back; any step that does not match leaves
// ok() false, and the first failure's reason stays.
class Cursor
{
public:
    explicit Cursor(const QString &text)
        : m_text(text)
    { }

    bool ok() const { return m_why.isEmpty(); }
    QString why() const { return m_why; }

    void literal(QLatin1String what)
    {
        if (!ok())
            return;
        if (m_text.midRef(m_pos, what.size()) != what)
            return fail(QStringLiteral("not a play record"));
        m_pos += what.size();
    }

    // A text between single quotes, a quote inside doubled.
    QString quoted(int maxLength, const QString &field)
    {
        if (!ok())
            return QString();
        if (m_pos >= m_text.size() || m_text.at(m_pos) != QLatin1Char('\'')) {
            fail(QStringLiteral("%1 not quoted").arg(field));
            return QString();
        }
        QString value;
        for (int i = m_pos + 1; i < m_text.size(); ++i) {
            const QChar c = m_text.at(i);
            if (c != QLatin1Char('\'')) {
                value += c;
            } else if (i + 1 < m_text.size() && m_text.at(i + 1) == QLatin1Char('\'')) {
                value += c;
                ++i;
            } else {
                m_pos = i + 1;
                if (value.size() > maxLength) {
                    fail(QStringLiteral("%1 longer than %2 characters").arg(field).arg(maxLength));
                    return QString();
                }
                return value;
            }
        }
        fail(QStringLiteral("%1 not closed").arg(field));
        return QString();
    }

    QString time(const QString &field)
    {
        const QString value = quoted(TIME_FORMAT.size(), field);
        if (ok() && !QDateTime::fromString(value, TIME_FORMAT).isValid())
            fail(QStringLiteral("%1 is no date and time").arg(field));
        return value;
    }

    int number(int low, int high, const QString &field)
    {
        if (!ok())
            return 0;
        int end = m_pos;
        while (end < m_text.size() && end - m_pos < 10 && m_text.at(end).isDigit()
            && m_text.at(end).unicode() < 128)
            ++end;
        bool parsed = false;
        const int value = m_text.midRef(m_pos, end - m_pos).toInt(&parsed);
        if (!parsed || value < low || value > high) {
            fail(QStringLiteral("%1 not a number from %2 to %3").arg(field).arg(low).arg(high));
            return 0;
        }
        m_pos = end;
        return value;
    }

    void end()
    {
        if (ok() && m_pos != m_text.size())
            fail(QStringLiteral("more after the record"));
    }

private:
    void fail(const QString &why)
    {
        if (m_why.isEmpty())
            m_why = why;
    }

    const QString &m_text;
    int m_pos = 0;
    QString m_why;
};

} // namespace

PlayRecord PlayRecord::parse(const QString &statement, QString *why)
{
    PlayRecord record;
    Cursor cursor(statement);
    if (statement.startsWith(INSERT_HEAD)) {
        cursor.literal(INSERT_HEAD);
        record.name = cursor.quoted(MAX_NAME, QStringLiteral("name"));
        cursor.literal(QLatin1String(", "));
        record.time = cursor.time(QStringLiteral("play_time"));
        cursor.literal(QLatin1String(", "));
        record.playType = cursor.number(0, MAX_PLAY_TYPE, QStringLiteral("play_type"));
        cursor.literal(QLatin1String(", "));
        record.times = cursor.number(0, MAX_SECONDS, QStringLiteral("times"));
        cursor.literal(QLatin1String(", "));
        record.duration = cursor.number(0, MAX_SECONDS, QStringLiteral("duration"));
        cursor.literal(QLatin1String(", "));
        record.mtlType = cursor.quoted(MAX_TYPE, QStringLiteral("mtl_type"));
        cursor.literal(QLatin1String(")"));
        cursor.end();
        record.kind = Kind::PlayDetail;
    } else if (statement.startsWith(STORED_HEAD)) {
        cursor.literal(STORED_HEAD);
        record.name = cursor.quoted(MAX_NAME, QStringLiteral("name"));
        cursor.literal(QLatin1String(", "));
        record.time = cursor.time(QStringLiteral("download_time"));
        cursor.literal(QLatin1String(", "));
        cursor.time(QStringLiteral("access_time"));
        cursor.literal(QLatin1String(", "));
        record.resType = cursor.number(1, 3, QStringLiteral("res_type"));
        cursor.literal(QLatin1String(", "));
        record.path = cursor.quoted(MAX_PATH, QStringLiteral("url"));
        cursor.literal(QLatin1String(")"));
        cursor.end();
        record.kind = Kind::FileStored;
    } else {
        cursor.literal(UPDATE_HEAD);
        record.time = cursor.time(QStringLiteral("access_time"));
        cursor.literal(QLatin1String(" WHERE name="));
        record.name = cursor.quoted(MAX_NAME, QStringLiteral("name"));
        cursor.end();
        record.kind = Kind::FileAccess;
    }
    QString reason = cursor.why();
    if (reason.isEmpty() && record.name.isEmpty())
        reason = QStringLiteral("empty name");
    if (!reason.isEmpty()) {
        if (why)
            *why = reason;
        return PlayRecord();
    }
    return record;
}

QString PlayRecord::fileStoredStatement(const QString &path, const QString &now)
{
    const auto quoted
        = [](QString text) { return text.replace(QLatin1Char('\''), QStringLiteral("''")); };
    const QString name = path.section(QLatin1Char('/'), -1);
    return STORED_HEAD
        + QStringLiteral("'%1', '%2', '%3', %4, '%5')")
              .arg(quoted(name), now, now, QString::number(resTypeOf(name)), quoted(path));
}

int PlayRecord::resTypeOf(const QString &name)
{
    if (name.endsWith(QLatin1String(".l")))
        return 1;
    if (name.endsWith(QLatin1String(".z")))
        return 2;
    return 3;
}

QString PlayRecord::preparedStatement() const
{
    switch (kind) {
    case Kind::PlayDetail:
        return QStringLiteral("REPLACE INTO play_detail(name, play_time, play_type, times, "
                              "duration, mtl_type) VALUES(?, ?, ?, ?, ?, ?)");
    case Kind::FileAccess:
        return QStringLiteral("UPDATE file_mgt SET access_time=? WHERE name=?");
    case Kind::FileStored:
        return QStringLiteral("REPLACE INTO file_mgt(name, download_time, access_time, res_type, "
                              "url) VALUES(?, ?, ?, ?, ?)");
    case Kind::None:
        break;
    }
    return QString();
}

QVariantList PlayRecord::values() const
{
    switch (kind) {
    case Kind::PlayDetail:
        return {name, time, playType, times, duration, mtlType};
    case Kind::FileAccess:
        return {time, name};
    case Kind::FileStored:
        return {name, time, time, resType, path};
    case Kind::None:
        break;
    }
    return {};
}
