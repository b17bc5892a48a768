// Sender benchmark: the cost of the play-log sender's passes while the service
// is away, with a backlog of stored statements, in a private HOME.
//
// Usage: bench_sender [--lines N] [--passes N]
// Prints the CPU time and wall time of one pass (the mean over the passes)
// with nothing listening on the service port, then the time one pass takes to
// deliver the whole backlog to a stand-in service once it is back.

#include "benchsupport.h"
#include "notifylistener.h"
#include "playlog/playlog.h"
#include "playlog/sendthread.h"
#include "version.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cstdio>

namespace {

bool servicePortAnswers()
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), SERVICE_PORT);
    return socket.waitForConnected(500);
}

} // namespace

int main(int argc, char **argv)
{
    // The play log is a widget (owned by the player's window).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int lines = 20000;
    int passes = 10;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--lines"))
            lines = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--passes"))
            passes = args.at(i + 1).toInt();
    }
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QDir().mkpath(home.path() + QStringLiteral("/.local/share/lumaview/data"));
    QDir().mkpath(home.path() + QStringLiteral("/.local/share/lumaview/logs"));
    if (servicePortAnswers()) {
        std::fprintf(stderr, "port %u answers: stop the service first\n", unsigned(SERVICE_PORT));
        return 1;
    }

    PlayLog playLog;
    for (int i = 0; i < lines; ++i)
        playLog.insertPlayDetail(QStringLiteral("%1.jpg").arg(i, 32, 10, QLatin1Char('0')), 0, 1,
            10, QStringLiteral("pic"));
    SendThread sender;
    sender.init(&playLog);

    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    for (int pass = 0; pass < passes; ++pass)
        sender.checkMessageFile();
    const double cpu = (cpuSeconds() - cpu0) / passes;
    const double ms = double(wall.elapsed()) / passes;
    std::printf("service away, %d lines waiting: one pass %.2f ms CPU, %.2f ms wall; "
                "at one pass per 6 s that is %.3f %% of one core\n",
        lines, cpu * 1000, ms, cpu / 6 * 100);

    int received = 0;
    NotifyListener service(false, NotifyListener::Order::ActThenAnswer);
    service.setHandler([&received](const QString &, const QString &) { ++received; });
    if (!service.listen(SERVICE_PORT)) {
        std::fprintf(stderr, "cannot listen on %u\n", unsigned(SERVICE_PORT));
        return 1;
    }
    // The stand-in answers on this thread: the pass runs on a thread of its own.
    sender.setTimings(1, 5000);
    wall.restart();
    sender.start();
    while (received < lines && wall.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    sender.stop();
    std::printf("service back: %d of %d lines delivered in %.1f s (%.2f ms a line)\n", received,
        lines, wall.elapsed() / 1000.0, double(wall.elapsed()) / qMax(1, received));
    return 0;
}
