#include "playlog/playlog.h"
#include "datalayout.h"

#include "clock.h"
#include "clocktext.h"

#include <QFile>

#include <mutex>

namespace {
// One lock for every play log in the process: appends and the take-over.
std::mutex s_messageMutex;
} // namespace

PlayLog::PlayLog(QObject *parent, const DataLayout &layout)
    : QObject(parent)
    , m_messagePath(layout.playLog())
{ }

void PlayLog::writeMessage(const QString &type, const QString &content)
{
    QString escaped;
    escaped.reserve(content.size());
    for (const QChar c : content) {
        if (c == QLatin1Char('\\'))
            escaped += QLatin1String("\\\\");
        else if (c == QLatin1Char('\r'))
            escaped += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            escaped += QLatin1String("\\n");
        else
            escaped += c;
    }
    const QByteArray line = (type + QLatin1Char('|') + escaped + QStringLiteral("\r\n")).toUtf8();
    std::lock_guard<std::mutex> lock(s_messageMutex);
    QFile file(m_messagePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return;
    file.write(line);
    file.close();
}

void PlayLog::insertPlayDetail(
    const QString &name, int playType, int times, int duration, const QString &mtlType)
{
    const qint64 playedSecs = static_cast<qint64>(duration) * times;
    const QString playTime
        = Clock::now().addSecs(-playedSecs).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    // All place markers are filled in one pass, so a "%1" inside a name stays as it is.
    const QString sql
        = QStringLiteral("INSERT INTO play_detail(name, play_time, play_type, times, "
                         "duration, mtl_type) VALUES('%1', '%2', %3, %4, %5, '%6')")
              .arg(sqlText(name), playTime, QString::number(playType), QString::number(times),
                  QString::number(duration), sqlText(mtlType));
    writeMessage(QStringLiteral("SQL"), sql);
}

void PlayLog::updateFileAccessTime(const QString &name)
{
    const QString sql = QStringLiteral("UPDATE file_mgt SET access_time='%1' WHERE name='%2'")
                            .arg(ClockText::dateTime(), sqlText(name));
    writeMessage(QStringLiteral("SQL"), sql);
}

bool PlayLog::takeOverMessageFile(const QString &workPath)
{
    std::lock_guard<std::mutex> lock(s_messageMutex);
    if (!QFile::exists(m_messagePath))
        return false;
    return QFile::rename(m_messagePath, workPath);
}

QString PlayLog::unescapeContent(const QString &line)
{
    QString text;
    text.reserve(line.size());
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c != QLatin1Char('\\') || i + 1 == line.size()) {
            text += c;
            continue;
        }
        const QChar next = line.at(++i);
        if (next == QLatin1Char('n'))
            text += QLatin1Char('\n');
        else if (next == QLatin1Char('r'))
            text += QLatin1Char('\r');
        else
            text += next; // "\\", and a backslash before anything else stands for that
    }
    return text;
}

QString PlayLog::sqlText(const QString &value)
{
    QString text = value;
    return text.replace(QLatin1Char('\''), QStringLiteral("''"));
}
