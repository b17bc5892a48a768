#include "upkeep/logfile.h"
#include "datalayout.h"

#include "clocktext.h"
#include "commandrunner.h"
#include "dailylog.h"
#include "net/httpclient.h"
#include "settings/servicesettings.h"

#include <QDir>
#include <QFile>

QString LogFile::logDir()
{
    return DataLayout().logDir();
}

int LogFile::processTerminalLog(
    CommandRunner &runner, int command, const QString &terminalId, const QString &logUrl)
{
    const QString logs = logDir();
    const QString archive = logs + QLatin1Char('/') + terminalId + QStringLiteral(".zip");
    if (command == 202) {
        compressFile(runner, logs, archive);
    } else if (command == 201) {
        // Today's files are packed where they are: copying them first would
        // write a whole day's log again for every request.
        const QStringList today = todayLogFiles(logs, ClockText::date());
        if (!today.isEmpty())
            compressFiles(runner, today, archive);
    }
    if (!QFile::exists(archive))
        return FAILED;
    if (!uploadLogFile(archive, logUrl))
        return FAILED;
    QFile::remove(archive);
    return UPLOADED;
}

bool LogFile::uploadLogFile(const QString &archivePath, const QString &logUrl)
{
    const QString url = logUrl + QStringLiteral("/logfile/upload");
    const QString reply = HttpClient::postFile(url, QStringLiteral("uploadFile"), archivePath);
    const bool ok = HttpClient::succeedPostResult(reply);
    if (!ok)
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("LOGFILE"),
            QStringLiteral("Send logfile to %1 fail: %2").arg(url, reply));
    return ok;
}

QStringList LogFile::todayLogFiles(const QString &fromDir, const QString &date)
{
    QDir from(fromDir);
    QStringList paths;
    const QStringList names = from.entryList(
        {QStringLiteral("luma*%1*.log").arg(date)}, QDir::Files | QDir::NoDotAndDotDot);
    for (const QString &name : names)
        paths << from.filePath(name);
    return paths;
}

void LogFile::clearLogFileBefore(const QString &date)
{
    QDir dir(logDir());
    if (!dir.exists())
        return;
    const QStringList names
        = dir.entryList({QStringLiteral("luma*.log")}, QDir::Files | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const int dot = name.indexOf(QLatin1Char('.'));
        if (name.mid(dot + 1, 10) < date)
            QFile::remove(dir.filePath(name));
    }
}

void LogFile::compressFile(CommandRunner &runner, const QString &source, const QString &archivePath)
{
    compressFiles(runner, {source}, archivePath);
}

void LogFile::compressFiles(
    CommandRunner &runner, const QStringList &sources, const QString &archivePath)
{
    if (QFile::exists(archivePath))
        QFile::remove(archivePath);
    // Names only (-j): the archive holds the files side by side. A symbolic
    // link is packed as a link (-y), never as the file it points to, so a
    // link placed in the log folder cannot send that file to the server.
    runner.run(QStringLiteral("zip"),
        QStringList {QStringLiteral("-r"), QStringLiteral("-j"), QStringLiteral("-y"), archivePath}
            + sources,
        QByteArray(), 30000, 120000);
}
