// transitionshots: 22 zone windows on the screen, each bringing in a picture
// with one of the transition effects, photographed part-way and once whole.
//
// Usage: transitionshots PICTURE_DIR OUT_DIR [STEP...]
// Runs on a real screen (an X server such as Xvfb :98 -screen 0 1920x1080x24,
// with DISPLAY=:98). The zones' clock is moved 30 ms per tick, so every shot
// shows exactly the step named; OUT_DIR gets step<N>.png for each STEP
// (default 10) and whole.png after the last tick, each zone marked with its
// effect number. The pictures (*.jpg, *.png of PICTURE_DIR) are copied into a
// temporary home, the only data the zones read.

#include "clock.h"
#include "materials/pictureview.h"
#include "transitions/transitioncontrol.h"
#include "transitions/transitioneffect.h"
#include "zones/zonewindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace ContentXml;

namespace {

const int COLUMNS = 6;

// Lets the windows paint and the X server catch up before a shot.
void settle(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool shoot(const QString &path, const QList<ZoneWindow *> &zones, const QString &title)
{
    settle(300);
    QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    QPainter p(&shot);
    QFont font = p.font();
    font.setPixelSize(22);
    font.setBold(true);
    p.setFont(font);
    for (int i = 0; i < zones.size(); ++i) {
        const QRect tag(zones[i]->geometry().topLeft() + QPoint(4, 4), QSize(44, 28));
        p.fillRect(tag, QColor(0, 0, 0, 170));
        p.setPen(Qt::yellow);
        p.drawText(tag, Qt::AlignCenter, QString::number(i + 1));
    }
    p.setPen(Qt::white);
    p.drawText(QRect(0, shot.height() - 60, shot.width(), 60), Qt::AlignCenter, title);
    p.end();
    const bool saved = shot.save(path);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

void tick(const QList<ZoneWindow *> &zones, qint64 *now, int ms)
{
    *now += ms;
    Clock::setFixedMs(*now);
    for (ZoneWindow *zone : zones)
        zone->checkPlayZoneMtls();
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit()); // before the zones read it
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: transitionshots PICTURE_DIR OUT_DIR [STEP...]\n");
        return 2;
    }
    const QString mtl = home.path() + QStringLiteral("/.local/share/lumaview/data/mtl/");
    QDir().mkpath(mtl);
    const QDir pictureDir(args[1]);
    const QStringList pictures = pictureDir.entryList({"*.jpg", "*.png"}, QDir::Files, QDir::Name);
    if (pictures.isEmpty()) {
        std::fprintf(stderr, "no pictures in %s\n", qPrintable(args[1]));
        return 1;
    }
    for (const QString &name : pictures)
        QFile::copy(pictureDir.filePath(name), mtl + name);
    QList<int> steps;
    for (int i = 3; i < args.size(); ++i)
        steps << args[i].toInt();
    if (steps.isEmpty())
        steps << 10;
    std::sort(steps.begin(), steps.end());

    const QSize screen = QGuiApplication::primaryScreen()->size();
    const int rows = (TransitionEffect::LAST_EFFECT + COLUMNS - 1) / COLUMNS;
    const QSize cell(screen.width() / COLUMNS, (screen.height() - 60) / rows);
    qint64 now = QDateTime::currentMSecsSinceEpoch();
    Clock::setFixedMs(now);
    QList<ZoneWindow *> zones;
    for (int effect = 1; effect <= TransitionEffect::LAST_EFFECT; ++effect) {
        const int i = effect - 1;
        auto *zone = new ZoneWindow;
        zone->initParam(QString(), 0, (i % COLUMNS) * cell.width(), (i / COLUMNS) * cell.height(),
            cell.width() - 4, cell.height() - 4);
        zone->setGeometry(zone->zoneRect());
        zone->show();
        ZONE_MTL picture;
        picture.name = pictures[i % pictures.size()];
        picture.type = QStringLiteral("pic");
        picture.kind = mtlKind(picture.type);
        picture.len = 600;
        picture.etimes = 1;
        picture.ttype = effect;
        ZONE_CTRL content;
        content.name = QStringLiteral("effect%1").arg(effect);
        content.mtls = {picture};
        zone->setZoneCtrl(content, nullptr, 0);
        zones << zone;
    }
    settle(500);
    tick(zones, &now, 0); // every picture starts, step 0 at once
    int step = 0;
    bool ok = true;
    for (int wanted : steps) {
        while (step < wanted && step < MAX_STEP) {
            tick(zones, &now, TransitionControl::TICK_MS);
            ++step;
        }
        ok &= shoot(QStringLiteral("%1/step%2.png").arg(args[2]).arg(wanted), zones,
            QStringLiteral("every effect at step %1").arg(wanted));
    }
    while (step < MAX_STEP) {
        tick(zones, &now, TransitionControl::TICK_MS);
        ++step;
    }
    tick(zones, &now, TransitionControl::TICK_MS); // the finishing tick
    int running = 0;
    for (ZoneWindow *zone : zones) {
        const auto *view = static_cast<PictureView *>(zone->view(MtlKind::Picture));
        running += view && view->transition().isRunning();
    }
    ok &= shoot(args[2] + QStringLiteral("/whole.png"), zones,
        running ? QStringLiteral("%1 still running").arg(running)
                : QStringLiteral("every transition finished"));
    qDeleteAll(zones);
    return ok && running == 0 ? 0 : 1;
}
