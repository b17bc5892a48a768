// Transition benchmark: every effect's 20 painted steps on a 1920 x 1080 zone,
// on the offscreen platform. A zone ticks every 30 ms while a transition runs,
// so each step should take well under that.
//
// Usage: bench_transitions [--picture WxH] [--runs N]
// Prints per effect, in milliseconds per step (median and worst over N runs of
// steps 1 to 20; and the slowest step, taking each step's best run, which
// leaves out time lost to other processes on a busy machine):
//   paint    the effect drawn into a 1920 x 1080 image (TransitionPainter),
//   repaint  the real synchronous repaint of the effect label over the image
//            label of a zone window (what one tick costs),
//   ready    the one-off preparation when the transition starts (the picture
//            scaled to the zone once);
// and, for the picture effects, what a step would cost if the full picture
// were smoothly transformed on every step instead.

#include "materials/effectlabel.h"
#include "transitions/transitionpainter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const QSize ZONE(1920, 1080);

QImage samplePicture(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(30, 80, 160));
    sky.setColorAt(1, QColor(240, 200, 120));
    p.fillRect(image.rect(), sky);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 40; ++i) {
        const int r = 40 + (i * 37) % 200;
        p.setBrush(QColor::fromHsv((i * 47) % 360, 160, 220, 180));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPoint((i * 211) % size.width(), (i * 137) % size.height()), r, r);
    }
    return image;
}

struct Figures
{
    double median = 0;
    double worst = 0;
};

Figures figures(std::vector<double> ms)
{
    if (ms.empty())
        return {};
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

// The step whose best time over the runs is the longest; times are in step
// order, run after run.
std::pair<int, double> slowestStep(const std::vector<double> &ms, int steps)
{
    std::vector<double> best(steps, 1e9);
    for (size_t i = 0; i < ms.size(); ++i)
        best[i % steps] = std::min(best[i % steps], ms[i]);
    const auto it = std::max_element(best.begin(), best.end());
    return {int(it - best.begin()) + 1, *it};
}

double timeMs(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e6;
}

// What the picture effects cost with the full picture transformed each step.
double naiveStep(int effect, int s, const QPixmap &picture, QImage &canvas)
{
    const double M = MAX_STEP;
    const int W = ZONE.width();
    const int H = ZONE.height();
    return timeMs([&] {
        canvas.fill(Qt::transparent);
        QPainter p(&canvas);
        p.setRenderHint(QPainter::Antialiasing);
        const double f = effect == 11 ? 1 - (0.4 + 0.6 * s / M) : 0.3 + 0.7 * s / M;
        QPixmap out;
        if (effect == 2) {
            out = picture.transformed(
                QTransform()
                    .scale(double(W) / picture.width(), double(H) / picture.height())
                    .shear(0, (M - s) * 0.1),
                Qt::SmoothTransformation);
            p.drawPixmap(QRect(0, 0, out.width(), H), out);
        } else if (effect == 5 || effect == 22) {
            out = picture.scaled(
                int(f * W), int(f * H), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            if (effect == 5)
                p.drawPixmap((W - out.width()) / 2, (H - out.height()) / 2, out);
            else
                p.drawPixmap(QRect(0, 0, out.width(), H), out);
        } else if (f > 0) {
            out = picture.transformed(QTransform()
                                          .rotate(360 / M * s)
                                          .scale(W * f / picture.width(), H * f / picture.height()),
                Qt::SmoothTransformation);
            p.drawPixmap((W - out.width()) / 2, (H - out.height()) / 2, out);
        }
    });
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QSize pictureSize(2560, 1440);
    int runs = 3;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs")) {
            runs = qMax(1, args[++i].toInt());
        } else if (args[i] == QLatin1String("--picture")) {
            const QStringList wh = args[++i].split(QLatin1Char('x'));
            if (wh.size() == 2)
                pictureSize = QSize(wh[0].toInt(), wh[1].toInt());
        }
    }
    const QPixmap picture = QPixmap::fromImage(samplePicture(pictureSize));

    // A zone window as the player builds it: image label under the effect label.
    QWidget zone;
    zone.setWindowFlags(Qt::FramelessWindowHint);
    zone.setGeometry(QRect(QPoint(0, 0), ZONE));
    QLabel image(&zone);
    image.setScaledContents(true);
    image.setGeometry(zone.rect());
    image.setPixmap(picture);
    EffectLabel effectLabel(&zone);
    effectLabel.setStyleSheet(QStringLiteral("background:transparent"));
    effectLabel.setAttribute(Qt::WA_TranslucentBackground);
    effectLabel.setScaledContents(true);
    effectLabel.setGeometry(zone.rect());
    effectLabel.raise();
    zone.show();
    QCoreApplication::processEvents();

    QImage canvas(ZONE, QImage::Format_ARGB32_Premultiplied);
    std::printf("Transition steps on a %dx%d zone, picture %dx%d, %d runs (ms per step)\n",
        ZONE.width(), ZONE.height(), pictureSize.width(), pictureSize.height(), runs);
    std::printf("effect  paint med  worst   repaint med  worst  slowest step   ready   "
                "per-step transform med  worst\n");
    double overallWorst = 0;
    double overallSlowest = 0;
    for (int effect = TransitionEffect::FIRST_EFFECT; effect <= TransitionEffect::LAST_EFFECT;
         ++effect) {
        std::vector<double> paint, repaint, ready, naive;
        for (int run = 0; run < runs; ++run) {
            // A fresh painter per run, as each transition starts with a new picture.
            TransitionPainter painter;
            painter.setPicture(picture.copy());
            painter.prepare(effect, ZONE);
            for (int s = 1; s <= MAX_STEP; ++s) {
                paint.push_back(timeMs([&] {
                    canvas.fill(Qt::transparent);
                    QPainter p(&canvas);
                    painter.paint(p, effect, s, ZONE);
                }));
            }

            const QPixmap fresh = picture.copy();
            image.setVisible(!TransitionEffect::hidesImageLabel(effect));
            ready.push_back(timeMs([&] { effectLabel.startPaint(effect, 0, fresh); }));
            effectLabel.show();
            QCoreApplication::processEvents();
            for (int s = 1; s <= MAX_STEP; ++s)
                repaint.push_back(timeMs([&] { effectLabel.startPaint(effect, s, fresh); }));
            effectLabel.hide();

            if (TransitionEffect::drawsPicture(effect)) {
                for (int s = 1; s <= MAX_STEP; ++s)
                    naive.push_back(naiveStep(effect, s, picture, canvas));
            }
        }
        const Figures p = figures(paint);
        const Figures r = figures(repaint);
        const Figures n = figures(naive);
        const auto slowest = slowestStep(repaint, int(MAX_STEP));
        overallWorst = std::max({overallWorst, p.worst, r.worst});
        overallSlowest = std::max(overallSlowest, slowest.second);
        std::printf("%6d  %9.2f %6.2f   %11.2f %6.2f  %5.2f (s%2d)  %6.1f", effect, p.median,
            p.worst, r.median, r.worst, slowest.second, slowest.first, figures(ready).worst);
        if (!naive.empty())
            std::printf("   %22.2f %6.2f", n.median, n.worst);
        std::printf("\n");
    }
    std::printf("worst step of any effect: %.2f ms; slowest step at its best: %.2f ms\n",
        overallWorst, overallSlowest);
    return 0;
}
