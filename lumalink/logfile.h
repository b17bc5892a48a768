#pragma once

#include <QString>

// Packing and upload of the log files on the server's request, and removal of
// old ones. Both programs' daily logs live in one folder.
class LogFile
{
public:
    enum Result { UPLOADED = 2, FAILED = 3 };

    static QString logDir();
    // 201: today's logs, 202: the whole folder. UPLOADED or FAILED.
    static int processTerminalLog(int command);
    static bool uploadLogFile(const QString &archivePath);
    static bool copyTodayLogFile(const QString &fromDir, const QString &date, const QString &toDir);
    static void clearLogFileBefore(const QString &date);
    static void compressFile(const QString &source, const QString &archivePath);
};
