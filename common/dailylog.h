#pragma once

#include <QString>

// The program's log of the day: ~/.local/share/lumaview/logs/<program>.<date>.0.log
class DailyLog
{
public:
    // Names the daily log file ("lumalink" or "lumaview"); set once in main().
    static void setProgramName(const QString &name);
    static QString programName();
    // One line in the program's log of the day. The message is made safe for
    // one line (safe()); the same line again within REPEAT_WINDOW_MS is
    // counted rather than written; a day's log stops at DAY_MAX_BYTES.
    static void write(const QString &level, const QString &module, const QString &message);
    static QString safe(const QString &message);
    static constexpr int MESSAGE_MAX_CHARS = 4000;
    static constexpr qint64 REPEAT_WINDOW_MS = 60000;
    static constexpr qint64 DAY_MAX_BYTES = 32 * 1024 * 1024;
    static QString filePath(const QString &date);
};
