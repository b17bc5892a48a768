// Text zone benchmark: one zone window of 1920 x 200 in this process, showing
// in turn a still caption, a caption scrolling left at speed 10, one scrolling
// up at speed 21 and a clock with seconds, each for N seconds of real time.
//
// Usage: bench_textzone [--seconds N] [--caption-chars N]
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise (for
// example QT_QPA_PLATFORM=xcb DISPLAY=:99 to include the X server's side of
// the painting, which is not counted here: only this process is measured).
// Prints, per case: CPU time of the process per minute of showing, text timer
// ticks per second, and the mean CPU time of one tick (move and repaint).

#include "benchsupport.h"
#include "dailylog.h"
#include "zones/zonewindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using ContentXml::ZONE_CTRL;
using ContentXml::ZONE_MTL;

namespace {

void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

ZONE_MTL textMaterial(const QString &caption, int movemode, int speed)
{
    ZONE_MTL m;
    m.name = QStringLiteral("Special");
    m.type = QStringLiteral("text");
    m.kind = ContentXml::MtlKind::Text;
    m.len = 3600;
    m.etimes = 1;
    m.caption = caption;
    m.movemode = movemode;
    m.speed = speed;
    m.color = QStringLiteral("#ff0000");
    m.bgcolor = QStringLiteral("#0000ff");
    m.fsize = 48;
    m.font = QStringLiteral("SimHei");
    return m;
}

ZONE_MTL clockMaterial()
{
    ZONE_MTL m;
    m.name = QStringLiteral("Special");
    m.type = QStringLiteral("clock");
    m.kind = ContentXml::MtlKind::Clock;
    m.len = 3600;
    m.etimes = 1;
    m.color = QStringLiteral("#ffffff");
    m.fsize = 48;
    m.timeZoneID = QStringLiteral("Nepal Standard Time");
    m.datefotmat.clear(); // the default format, with seconds
    return m;
}

struct Result
{
    double cpuMsPerMinute = 0;
    double ticksPerSecond = 0;
};

Result measure(const ZONE_MTL &mtl, int seconds)
{
    ZoneWindow form;
    form.initParam(QString(), 0, 0, 880, 1920, 200);
    form.setGeometry(form.zoneRect());
    form.show();
    ZONE_CTRL zone;
    zone.name = QStringLiteral("caption");
    zone.mtls = {mtl};
    form.setZoneCtrl(zone, nullptr, 0);
    idle(1000); // first paint, fonts loaded
    int ticks = 0;
    if (form.textTimer())
        QObject::connect(form.textTimer(), &QTimer::timeout, &form, [&ticks] { ++ticks; });
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    idle(seconds * 1000);
    const double cpu = cpuSeconds() - cpu0;
    const double elapsed = wall.elapsed() / 1000.0;
    Result result;
    result.cpuMsPerMinute = cpu * 1000.0 * 60.0 / elapsed;
    result.ticksPerSecond = ticks / elapsed;
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    DailyLog::setProgramName(QStringLiteral("lumaview"));

    int seconds = 15;
    int chars = 40;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds"))
            seconds = qMax(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--caption-chars"))
            chars = qMax(1, args[i + 1].toInt());
    }
    const QString unit = QString::fromUtf8("欢迎光临，今日特价。");
    QString caption;
    while (caption.size() < chars)
        caption += unit;
    caption.truncate(chars);

    std::printf("text zone 1920 x 200 on '%s', %d s per case, caption of %d characters\n",
        qPrintable(QGuiApplication::platformName()), seconds, chars);
    std::printf("%-34s %14s %10s %12s\n", "case", "CPU ms/min", "ticks/s", "CPU ms/tick");
    const struct
    {
        const char *name;
        ZONE_MTL mtl;
    } cases[] = {
        {"still caption (baseline)", textMaterial(caption, 0, 10)},
        {"caption scrolling left, speed 10", textMaterial(caption, 1, 10)},
        {"caption scrolling up, speed 21", textMaterial(caption, 2, 21)},
        {"clock with seconds", clockMaterial()},
    };
    double baseline = 0;
    for (const auto &c : cases) {
        const Result r = measure(c.mtl, seconds);
        if (baseline == 0)
            baseline = r.cpuMsPerMinute;
        const double perTick
            = r.ticksPerSecond > 0 ? (r.cpuMsPerMinute - baseline) / 60.0 / r.ticksPerSecond : 0;
        std::printf(
            "%-34s %14.1f %10.2f %12.3f\n", c.name, r.cpuMsPerMinute, r.ticksPerSecond, perTick);
    }
    return 0;
}
