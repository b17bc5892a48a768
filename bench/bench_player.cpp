// Player benchmark: the real main window, scheduler, zones and sender in this
// process on the offscreen platform, with a private HOME holding two template
// lists (one template of four picture zones, one of a single picture zone)
// whose templates and pictures last long enough that nothing switches while
// measuring.
//
// Usage: bench_player [--seconds N] [--runs N]
// Prints (a) the time from construction, and from each RELOAD to another
// template, until every zone window of the new template is shown and plays its
// first material; (b) while still pictures are shown for N seconds: CPU time
// of the whole process and wake-ups (context switches) per second, per thread.

#include "benchsupport.h"
#include "dailylog.h"
#include "notifylistener.h"
#include "player.h"
#include "schedule/playbillthread.h"
#include "ui/mainwindow.h"
#include "version.h"
#include "zones/zonewindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QMap>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

const int LONG_LEN = 600; // seconds: no template or material ends while measuring

bool writeText(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

QByteArray area(const QString &title, int left, int top, int width, int height, int z)
{
    return QStringLiteral("<Area Title=\"%1\" Left=\"%2\" Top=\"%3\" Width=\"%4\" Height=\"%5\" "
                          "Zindex=\"%6\"/>")
        .arg(title)
        .arg(left)
        .arg(top)
        .arg(width)
        .arg(height)
        .arg(z)
        .toUtf8();
}

QByteArray zoneFile(const QString &name, const QString &picture)
{
    return QStringLiteral("<PL name=\"%1\"><P type=\"pic\" name=\"%2\" len=\"%3\" etimes=\"1\"/>"
                          "</PL>\n")
        .arg(name, picture)
        .arg(LONG_LEN)
        .toUtf8();
}

// The day playbill names one of the two lists and the zones of both templates
// (zones without an area of their name are ignored by the window).
void writeDayPlay(const QString &data, const QString &list)
{
    QByteArray zones;
    for (const char *zone : {"q1", "q2", "q3", "q4", "full"})
        zones += "<Z p=\"" + QByteArray(zone) + ".zone\" l=\"0\"/>";
    writeText(
        data + "day-play.xml", "<Day><TPL p=\"" + list.toUtf8() + "\">" + zones + "</TPL></Day>\n");
}

bool prepareHome(const QString &root)
{
    const QString data = root + "/data/";
    QDir().mkpath(root + "/logs");
    bool ok = writeText(data + "status.json", R"({"status":4,"terminalId":"T","volume":"0.5"})");
    const QByteArray len = QByteArray::number(LONG_LEN);
    ok = ok
        && writeText(
            data + "tpl/four.tpl", "<TL><T name=\"four.tmpl\" len=\"" + len + "\"/></TL>\n");
    ok = ok
        && writeText(data + "tpl/one.tpl", "<TL><T name=\"one.tmpl\" len=\"" + len + "\"/></TL>\n");
    ok = ok
        && writeText(data + "mtl/four.tmpl",
            "<Template Width=\"1920\" Height=\"1080\" BackgroundColor=\"#000000\"><Areas>"
                + area("q1", 0, 0, 960, 540, 1) + area("q2", 960, 0, 960, 540, 2)
                + area("q3", 0, 540, 960, 540, 3) + area("q4", 960, 540, 960, 540, 4)
                + "</Areas></Template>\n");
    ok = ok
        && writeText(data + "mtl/one.tmpl",
            "<Template Width=\"1920\" Height=\"1080\" BackgroundColor=\"#101010\"><Areas>"
                + area("full", 0, 0, 1920, 1080, 1) + "</Areas></Template>\n");
    const QList<QPair<QString, QColor>> zones {{"q1", Qt::red}, {"q2", Qt::green}, {"q3", Qt::blue},
        {"q4", Qt::yellow}, {"full", Qt::magenta}};
    for (const auto &zone : zones) {
        QImage picture(1920, 1080, QImage::Format_RGB32);
        picture.fill(zone.second);
        ok = ok && picture.save(data + "mtl/" + zone.first + ".png", "PNG");
        ok = ok
            && writeText(
                data + "zone/" + zone.first + ".zone", zoneFile(zone.first, zone.first + ".png"));
    }
    writeDayPlay(data, "four.tpl");
    return ok;
}

// Every zone window of the named template is shown and has started playing.
bool zonesShown(const MainWindow &window, const QString &templateName, int zoneCount)
{
    if (window.currentTemplate() != templateName || window.allZones().size() != zoneCount)
        return false;
    for (ZoneWindow *zone : window.allZones()) {
        if (!zone->isVisible() || zone->cycle().currentIndex() < 0)
            return false;
    }
    return true;
}

// Milliseconds from now until the condition holds, polled every millisecond;
// -1 after the limit.
double waitFor(const std::function<bool()> &condition, int limitMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    double result = -1;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition()) {
            result = timer.nsecsElapsed() / 1e6;
            loop.quit();
        } else if (timer.elapsed() > limitMs) {
            loop.quit();
        }
    });
    poll.start(1);
    if (condition())
        return timer.nsecsElapsed() / 1e6;
    loop.exec();
    return result;
}

void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

struct ThreadSample
{
    QString name;
    qint64 switches = 0;
};

// Voluntary plus involuntary context switches of every thread, by thread id.
QMap<QString, ThreadSample> sampleThreads()
{
    QMap<QString, ThreadSample> threads;
    const QString base = QStringLiteral("/proc/self/task/");
    for (const QString &tid : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(base + tid + "/comm");
        QFile status(base + tid + "/status");
        if (!comm.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly))
            continue;
        ThreadSample sample;
        sample.name = QString::fromUtf8(comm.readAll()).trimmed();
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:")
                || line.startsWith("nonvoluntary_ctxt_switches:"))
                sample.switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
        threads.insert(tid, sample);
    }
    return threads;
}

// The offscreen platform reports every raise() it cannot do; that is noise here.
void quietPlatform(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_OPENGL", "software");
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qInstallMessageHandler(quietPlatform);
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    DailyLog::setProgramName(QStringLiteral("lumaview"));

    int seconds = 20;
    int runs = 9;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--seconds")
            seconds = qMax(1, args[i + 1].toInt());
        else if (args[i] == "--runs")
            runs = qMax(1, args[i + 1].toInt());
    }

    const QString root = home.path() + "/.local/share/lumaview";
    if (!prepareHome(root)) {
        std::fprintf(stderr, "cannot prepare the content in %s\n", qPrintable(home.path()));
        return 1;
    }
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::Any, PLAYER_PORT)) {
            std::fprintf(stderr,
                "port %u is taken (another player or test runs): the player cannot start\n",
                unsigned(PLAYER_PORT));
            return 1;
        }
    }
    // A stand-in service takes the play log, as on a terminal. The sender
    // always delivers to this port, so a port held by someone else (a test's
    // stand-in) would receive this player's statements: do not run then.
    NotifyListener service(false, NotifyListener::Order::ActThenAnswer);
    if (!service.listen(SERVICE_PORT)) {
        std::fprintf(stderr,
            "port %u is taken (the service or a test runs): the player would deliver its play "
            "log there\n",
            unsigned(SERVICE_PORT));
        return 1;
    }
    std::printf("platform offscreen; stand-in service on %u; HOME %s\n", unsigned(SERVICE_PORT),
        qPrintable(home.path()));

    // (a) start-up and RELOAD to the zones of the next template.
    QElapsedTimer construction;
    construction.start();
    Player player;
    if (!player.start()) {
        std::fprintf(stderr, "port %u is taken: the player did not start\n", unsigned(PLAYER_PORT));
        return 1;
    }
    const double constructed = construction.nsecsElapsed() / 1e6;
    const MainWindow &window = *player.window();
    const double firstShown = waitFor([&] { return zonesShown(window, "four.tmpl", 4); });
    if (firstShown < 0) {
        std::fprintf(stderr, "the first template never appeared\n");
        return 1;
    }
    std::printf("\n(a) zones on screen\n");
    std::printf("construction of the window: %.1f ms; then first template's 4 zones shown: "
                "%.1f ms (total %.1f ms)\n",
        constructed, firstShown, constructed + firstShown);

    QList<double> toOne;
    QList<double> toFour;
    for (int run = 0; run < 2 * runs; ++run) {
        const bool one = run % 2 == 0;
        writeDayPlay(root + "/data/", one ? "one.tpl" : "four.tpl");
        idle(200); // let the previous template settle
        QElapsedTimer reload;
        reload.start();
        player.scheduler()->reloadPlay();
        const double ms = waitFor([&] {
            return one ? zonesShown(window, "one.tmpl", 1) : zonesShown(window, "four.tmpl", 4);
        });
        if (ms < 0) {
            std::fprintf(stderr, "RELOAD run %d: the template never appeared\n", run);
            return 1;
        }
        (one ? toOne : toFour) << ms;
    }
    const auto list = [](const QList<double> &values) {
        QString text;
        for (double v : values)
            text += QString::number(v, 'f', 1) + ' ';
        return text.trimmed();
    };
    QList<double> all = toOne + toFour;
    std::printf("RELOAD -> 1-zone template shown, ms: %s\n", qPrintable(list(toOne)));
    std::printf("RELOAD -> 4-zone template shown, ms: %s\n", qPrintable(list(toFour)));
    std::printf("RELOAD -> zones: median %.1f ms (1 zone %.1f, 4 zones %.1f), max %.1f ms; "
                "target under 300 ms\n",
        median(all), median(toOne), median(toFour), *std::max_element(all.begin(), all.end()));

    QElapsedTimer decode;
    decode.start();
    const QPixmap picture(root + "/data/mtl/q1.png");
    std::printf("for scale: loading one 1920x1080 picture (%s) takes %.1f ms here\n",
        picture.isNull() ? "failed" : "PNG", decode.nsecsElapsed() / 1e6);

    // (b) idle with still pictures: the 4-zone template is on screen.
    writeDayPlay(root + "/data/", "four.tpl");
    player.scheduler()->reloadPlay();
    if (waitFor([&] { return zonesShown(window, "four.tmpl", 4); }) < 0) {
        std::fprintf(stderr, "the 4-zone template never came back\n");
        return 1;
    }
    idle(7000); // the sender delivers the start-up lines; then nothing is due
    const QMap<QString, ThreadSample> before = sampleThreads();
    const double cpuBefore = cpuSeconds();
    QElapsedTimer interval;
    interval.start();
    idle(seconds * 1000);
    const double elapsed = interval.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    const QMap<QString, ThreadSample> after = sampleThreads();

    std::printf("\n(b) idle, 4 still picture zones, %.1f s\n", elapsed);
    std::printf("CPU: %.3f s per minute = %.3f %% of one core; target under 1 %%\n",
        cpu / elapsed * 60, cpu / elapsed * 100);
    qint64 total = 0;
    QMap<QString, double> byName;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const qint64 delta = it->switches - before.value(it.key()).switches;
        total += delta;
        byName[it->name] += delta / elapsed;
    }
    std::printf("wake-ups: %.1f per second in all (threads ended meanwhile not counted)\n",
        total / elapsed);
    for (auto it = byName.cbegin(); it != byName.cend(); ++it)
        std::printf("  %-20s %8.2f /s\n", qPrintable(it.key()), it.value());
    std::printf("for comparison, polling as literally designed: the scheduler every 2 ms "
                "(~500 /s) plus each zone's 50 ms tick (20 /s per zone): ~%d /s for 4 zones\n",
        500 + 20 * 4);
    return 0;
}
