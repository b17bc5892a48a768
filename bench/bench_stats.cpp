// Statistics benchmark.
//
// Part 1 (bench_stats_intake, run as a child): the player's sender delivers
// N plays to the real lumalink; the time until all are stored, the longest
// queue and the service's memory.
//
// Part 2: the statistics thread in this process aggregates detail rows of
// yesterday into hours and uploads them to a real lumasim in batches of 50.
// Prints the time to store, aggregate and upload.
//
// Usage: bench_stats [--statements N] [--detail-rows N]
// Run it under the ports lock: Part 1 starts the service on port 12222.

#include "bench_stats_common.h"
#include "settings/servicesettings.h"
#include "stats/statthread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

int aggregateAndUpload(int detailRows)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/bench-stats-XXXXXX"));
    qputenv("HOME", home.path().toUtf8());
    QDir().mkpath(home.path() + QStringLiteral("/.local/share/lumaview/data"));

    const quint16 simPort = freePort();
    const quint16 httpPort = freePort();
    QProcess sim;
    sim.setProcessEnvironment(childEnvironment(home.path()));
    sim.start(QStringLiteral(LUMASIM_BIN),
        {QStringLiteral("--port"), QString::number(simPort), QStringLiteral("--http-port"),
            QString::number(httpPort), QStringLiteral("--no-stdin"), QStringLiteral("--log"),
            home.path() + QStringLiteral("/sim.log")});
    if (!sim.waitForStarted(5000) || !waitForPort(httpPort, 10000)) {
        std::printf("lumasim did not start\n");
        return 1;
    }

    // Plays of yesterday: 500 materials, each played every few minutes.
    const QString yesterday
        = QDateTime::currentDateTime().addDays(-1).toString(QStringLiteral("yyyy-MM-dd"));
    const int materials = 500;
    ServiceSettings settings;
    StatThread stat(settings);
    stat.connectToDb();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < detailRows; ++i) {
        const int second = (i / materials) * 86400 / qMax(1, detailRows / materials);
        stat.addSqlQueue(PLAY.arg(QStringLiteral("m%1.jpg").arg(i % materials),
            QStringLiteral("%1 %2:%3:%4")
                .arg(yesterday)
                .arg(second / 3600 % 24, 2, 10, QLatin1Char('0'))
                .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
                .arg(second % 60, 2, 10, QLatin1Char('0')),
            QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("10"), QStringLiteral("pic")));
        if (stat.sqlQueue().size() >= 5000)
            stat.drainQueue();
    }
    stat.drainQueue();
    const qint64 storeMs = clock.restart();
    const int hours = stat.statPlayData();
    const qint64 aggregateMs = clock.restart();
    settings.logUrl = QStringLiteral("http://127.0.0.1:%1").arg(httpPort);
    stat.sendPlayerData();
    const qint64 uploadMs = clock.elapsed();
    const int left = stat.database().readStatBatch(1).size();

    std::printf("Part 2: %d detail rows of yesterday (%d materials)\n", detailRows, materials);
    std::printf("  stored through the queue: %.2f s (%.0f rows/s)\n", storeMs / 1000.0,
        detailRows * 1000.0 / qMax<qint64>(1, storeMs));
    std::printf("  aggregated into %d hour rows in %.2f s\n", hours, aggregateMs / 1000.0);
    std::printf("  uploaded to lumasim in %d batches of 50 in %.2f s (%.0f rows/s)%s\n",
        (hours + 49) / 50, uploadMs / 1000.0, hours * 1000.0 / qMax<qint64>(1, uploadMs),
        left ? "  <-- ROWS LEFT" : "");

    sim.terminate();
    if (!sim.waitForFinished(5000)) {
        sim.kill();
        sim.waitForFinished(5000);
    }
    return left ? 1 : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int statements = 10000;
    int detailRows = 100000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--statements"))
            statements = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--detail-rows"))
            detailRows = args[i + 1].toInt();
    }
    std::fflush(stdout);
    const int intake = QProcess::execute(QStringLiteral(BENCH_STATS_INTAKE_BIN),
        {QStringLiteral("--statements"), QString::number(statements)});
    const QByteArray home = qgetenv("HOME");
    const int upload = aggregateAndUpload(detailRows);
    qputenv("HOME", home);
    return intake != 0 || upload != 0 ? 1 : 0;
}
