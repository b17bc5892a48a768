#pragma once

#include <QString>
#include <QStringList>

// Packing and upload of the log files on the server's request, and removal of
// old ones. Both programs' daily logs live in one folder.
class CommandRunner;

class LogFile
{
public:
    enum Result { UPLOADED = 2, FAILED = 3 };

    static QString logDir();
    // 201: today's logs, 202: the whole folder. UPLOADED or FAILED. The
    // archive is named after the terminal id and goes to logUrl; it takes
    // copies, so any thread may run it.
    static int processTerminalLog(
        CommandRunner &runner, int command, const QString &terminalId, const QString &logUrl);
    static bool uploadLogFile(const QString &archivePath, const QString &logUrl);
    // Paths of the day's log files of both programs in fromDir.
    static QStringList todayLogFiles(const QString &fromDir, const QString &date);
    static void clearLogFileBefore(const QString &date);
    // Packed with zip, run through runner.
    static void compressFile(
        CommandRunner &runner, const QString &source, const QString &archivePath);
    static void compressFiles(
        CommandRunner &runner, const QStringList &sources, const QString &archivePath);
};
