#include "dailylog.h"

#include "clock.h"
#include "clocktext.h"
#include "datalayout.h"

#include <QDir>
#include <QFile>

#include <mutex>

namespace {
std::mutex &logMutex()
{
    static std::mutex mutex;
    return mutex;
}

QString &programNameRef()
{
    static QString name = QStringLiteral("lumalink");
    return name;
}
} // namespace

namespace {
// What the writer remembers between lines (under the log mutex): the last
// line written, how often it came again since, and a day's file that is full.
struct LogState
{
    QString lastPath;
    QString lastKey;
    QString lastModule;
    QString lastLevel;
    qint64 lastWrittenMs = 0;
    int repeats = 0;
    QString fullPath;
};

LogState &logState()
{
    static LogState state;
    return state;
}

QByteArray logLine(
    const QString &time, const QString &module, const QString &level, const QString &message)
{
    return QStringLiteral("%1  [ %2 ] - [ %3 ]  %4\r\n").arg(time, module, level, message).toUtf8();
}
} // namespace

void DailyLog::setProgramName(const QString &name)
{
    std::lock_guard<std::mutex> lock(logMutex());
    programNameRef() = name;
}

QString DailyLog::programName()
{
    std::lock_guard<std::mutex> lock(logMutex());
    return programNameRef();
}

QString DailyLog::filePath(const QString &date)
{
    return DataLayout().logFile(programName(), date);
}

QString DailyLog::safe(const QString &message)
{
    QString out;
    const int keep = qMin(message.size(), MESSAGE_MAX_CHARS);
    out.reserve(keep + 16);
    for (int i = 0; i < keep; ++i) {
        const QChar c = message.at(i);
        // One line per entry: line breaks and other control characters in a
        // message (server text among them) are written as escapes.
        if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c.unicode() < 0x20 && c != QLatin1Char('\t'))
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    if (keep < message.size())
        out += QStringLiteral(" ... (%1 more characters)").arg(message.size() - keep);
    return out;
}

void DailyLog::write(const QString &level, const QString &module, const QString &message)
{
    const QString path = filePath(ClockText::date());
    const QString time = ClockText::dateTime();
    const qint64 nowMs = Clock::nowMs();
    const QString levelText = level.toUpper();
    const QString text = safe(message);
    const QString key = module + QLatin1Char('\x1f') + levelText + QLatin1Char('\x1f') + text;

    std::lock_guard<std::mutex> lock(logMutex());
    LogState &state = logState();
    // The same line again within a minute is counted, not written; the count
    // is written before the next different line (or the same one a minute on).
    if (key == state.lastKey && path == state.lastPath && nowMs >= state.lastWrittenMs
        && nowMs - state.lastWrittenMs < REPEAT_WINDOW_MS) {
        ++state.repeats;
        return;
    }
    QByteArray out;
    if (state.repeats > 0 && path == state.lastPath)
        out += logLine(time, state.lastModule, state.lastLevel,
            QStringLiteral("(the line before came %1 more times)").arg(state.repeats));
    out += logLine(time, module, levelText, text);
    state.lastPath = path;
    state.lastKey = key;
    state.lastModule = module;
    state.lastLevel = levelText;
    state.lastWrittenMs = nowMs;
    state.repeats = 0;

    if (path == state.fullPath)
        return;
    QFile file(path);
    // A missing logs folder loses the line; it is not created here.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    // A day's log has a ceiling, so a flood of lines cannot fill the disk.
    if (file.size() + out.size() > DAY_MAX_BYTES) {
        state.fullPath = path;
        file.write(logLine(time, QStringLiteral("LOG"), QStringLiteral("WARN"),
            QStringLiteral("Log of the day reached %1 bytes: further lines are dropped")
                .arg(DAY_MAX_BYTES)));
        return;
    }
    file.write(out);
    file.flush();
    file.close();
}
