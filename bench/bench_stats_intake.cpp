// Statistics intake benchmark (run by bench_stats, or alone).
//
// The real lumalink in a private HOME (scripts/shims first in PATH, no server
// address, so nothing leaves the machine and no player is started) takes plays
// from the player's own play log and sender (in this process): one request
// after the other, each on its own connection; a refused statement goes back
// into the message file for the next pass.
// Prints the delivery rate, the time until every statement is in playdata.db,
// the longest queue the service saw, and the service's memory.
//
// Usage: bench_stats_intake [--statements N]
// Run it under the ports lock: it starts the service on port 12222.

#include "bench_stats_common.h"
#include "playlog/playlog.h"
#include "playlog/sendthread.h"
#include "version.h"

#include <QApplication>
#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

int peakQueueFromLog(const QString &home)
{
    // The service logs each burst it stores with the longest queue so far.
    int peak = 0;
    const QDir logs(home + QStringLiteral("/.local/share/lumaview/logs"));
    for (const QString &name : logs.entryList({QStringLiteral("lumalink.*.log")})) {
        QFile file(logs.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const int at = line.indexOf("queue peak ");
            if (at >= 0)
                peak = qMax(peak, line.mid(at + 11).trimmed().toInt());
        }
    }
    return peak;
}

int serviceIntake(int statements)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/bench-stats-XXXXXX"));
    qputenv("HOME", home.path().toUtf8());
    const QString data = home.path() + QStringLiteral("/.local/share/lumaview/data/");
    QDir().mkpath(data);
    QProcess service;
    service.setProcessEnvironment(childEnvironment(home.path()));
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(QStringLiteral(LUMALINK_BIN), QStringList());
    if (!service.waitForStarted(5000) || !waitForPort(SERVICE_PORT, 10000)) {
        std::printf("lumalink did not start or port %d is busy\n", SERVICE_PORT);
        return 1;
    }
    const qint64 pid = service.processId();
    const qint64 rssBefore = memoryKb(pid, "VmRSS:");
    DetailCounter counter(data + QStringLiteral("playdata.db"));

    // The player's own play log and sender, with a short period so the
    // delivery starts at once.
    PlayLog playLog;
    const QString day = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd"));
    for (int i = 0; i < statements; ++i)
        playLog.writeMessage(QStringLiteral("SQL"),
            PLAY.arg(QStringLiteral("bench %1.jpg").arg(i),
                QStringLiteral("%1 %2:%3:00")
                    .arg(day)
                    .arg(i / 60 % 24, 2, 10, QLatin1Char('0'))
                    .arg(i % 60, 2, 10, QLatin1Char('0')),
                QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("10"),
                QStringLiteral("pic")));
    SendThread sender;
    sender.init(&playLog);
    sender.setTimings(20, 5000);

    QElapsedTimer clock;
    clock.start();
    sender.start();
    qint64 sentMs = -1;
    int stored = 0;
    while (clock.elapsed() < 120000) {
        QThread::msleep(20);
        stored = counter.count();
        const bool delivered = sender.passCount() > 0 && !QFile::exists(playLog.messageFilePath())
            && !QFile::exists(sender.workFilePath());
        if (delivered && sentMs < 0)
            sentMs = clock.elapsed();
        if (delivered && stored >= statements)
            break;
    }
    const qint64 storedMs = clock.elapsed();
    const int passes = sender.passCount();
    sender.stop();
    const qint64 rss = memoryKb(pid, "VmRSS:");
    const qint64 hwm = memoryKb(pid, "VmHWM:");

    std::printf("Part 1: %d plays delivered by the player's sender to lumalink (port %d)\n",
        statements, SERVICE_PORT);
    std::printf("  delivered in:             %.2f s (%.0f statements/s, %d sender passes)\n",
        sentMs / 1000.0, statements * 1000.0 / qMax<qint64>(1, sentMs), passes);
    std::printf("  all in the database after %.2f s: %d of %d rows%s\n", storedMs / 1000.0, stored,
        statements, stored == statements ? "" : "  <-- MISSING ROWS");
    std::printf("  peak queue length:        %d statements (from the service log)\n",
        peakQueueFromLog(home.path()));
    std::printf("  service memory:           RSS %lld kB before, %lld kB after, peak %lld kB\n",
        rssBefore, rss, hwm);

    service.terminate();
    if (!service.waitForFinished(5000)) {
        service.kill();
        service.waitForFinished(5000);
    }
    return stored == statements ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // the play log is a (hidden) widget
    QApplication app(argc, argv);
    int statements = 10000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--statements"))
            statements = args[i + 1].toInt();
    }
    return serviceIntake(statements);
}
