#include "materials/effectlabel.h"
#include "transitions/transitioncontrol.h"
#include "transitions/transitionpainter.h"

#include <QPainter>
#include <QtTest>

// Transition effects drawn into images at chosen steps, and the run of a
// transition tick by tick on a moved clock.
class TestTransitions : public QObject
{
    Q_OBJECT
private slots:
    void curtainEdges_data();
    void curtainEdges();
    void nothingVisible_data();
    void nothingVisible();
    void verticalBlinds();
    void horizontalBlinds();
    void fadingTiles();
    void fadingDots();
    void starOpening();
    void pictureEffects_data();
    void pictureEffects();
    void shearedPicture();
    void pictureFollowsPlacement_data();
    void pictureFollowsPlacement();
    void nullPictureDrawsNothing();
    void tinyLabel();
    void labelPaintsOnlyFromStepOne();

    void runsTwentyStepsThenFinishes();
    void lateTicksStopAtTheLimit();
    void startsOnlyPositiveEffects_data();
    void startsOnlyPositiveEffects();
    void slotEndGivesOneMoreTick_data();
    void slotEndGivesOneMoreTick();
};

namespace {

const QColor LIGHT_GREY(211, 211, 211, 200);
const QColor SKY(135, 206, 250, 120);
const QColor CLEAR(0, 0, 0, 0);

QImage render(int effect, int step, QSize size, const QPixmap &picture = QPixmap())
{
    // A label of no size still gets a pixel to (not) paint on.
    QImage image(size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    TransitionPainter painter;
    painter.setPicture(picture);
    QPainter p(&image);
    painter.paint(p, effect, step, size);
    return image;
}

// The images here are premultiplied, and pixel() gives them as stored.
QColor at(const QImage &image, int x, int y)
{
    return QColor::fromRgba(qUnpremultiply(image.pixel(x, y)));
}

// Compared premultiplied, as stored: faint colours round coarsely otherwise.
bool near(const QColor &a, const QColor &b, int tolerance = 3)
{
    const QRgb p = qPremultiply(a.rgba());
    const QRgb q = qPremultiply(b.rgba());
    return qAbs(qRed(p) - qRed(q)) <= tolerance && qAbs(qGreen(p) - qGreen(q)) <= tolerance
        && qAbs(qBlue(p) - qBlue(q)) <= tolerance && qAbs(qAlpha(p) - qAlpha(q)) <= tolerance;
}

QByteArray describe(const QColor &c)
{
    return QByteArray::number(c.red()) + "," + QByteArray::number(c.green()) + ","
        + QByteArray::number(c.blue()) + " alpha " + QByteArray::number(c.alpha());
}

#define EXPECT_COLOUR(image, x, y, expected)                                                       \
    QVERIFY2(near(at(image, x, y), expected),                                                      \
        QByteArray("at " + QByteArray::number(x) + "," + QByteArray::number(y) + ": "              \
            + describe(at(image, x, y)) + ", expected " + describe(expected))                      \
            .constData())

bool allClear(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(line[x]) != 0)
                return false;
        }
    }
    return true;
}

QPixmap solid(QSize size, const QColor &colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return QPixmap::fromImage(image);
}

} // namespace

void TestTransitions::curtainEdges_data()
{
    QTest::addColumn<int>("effect");
    QTest::addColumn<int>("step");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("covered");
    QTest::addColumn<QPoint>("clear");
    QTest::addColumn<QColor>("colour");

    const QSize zone(300, 200);
    // Curtain top at H / M * s = 100: the lower half is covered.
    QTest::newRow("3 slides down")
        << 3 << 10 << zone << QPoint(150, 101) << QPoint(150, 98) << LIGHT_GREY;
    QTest::newRow("3 bottom row") << 3 << 10 << zone << QPoint(150, 199) << QPoint(0, 0)
                                  << LIGHT_GREY;
    // Width W * (1 - s / M) = 225 at step 5.
    QTest::newRow("4 shrinks left")
        << 4 << 5 << zone << QPoint(223, 100) << QPoint(227, 100) << LIGHT_GREY;
    // Left edge W / M * s = 45 at step 3.
    QTest::newRow("7 slides right")
        << 7 << 3 << zone << QPoint(47, 100) << QPoint(43, 100) << LIGHT_GREY;
    // The triangle's tip at W * s / M = 150, H / 2.
    QTest::newRow("10 triangle tip")
        << 10 << 10 << zone << QPoint(153, 100) << QPoint(147, 100) << LIGHT_GREY;
    QTest::newRow("10 above the cut")
        << 10 << 10 << zone << QPoint(100, 2) << QPoint(100, 100) << LIGHT_GREY;
    // d = 150: the top edge ends at 150, the bottom at 0.7 d = 105.
    QTest::newRow("13 slanted top") << 13 << 10 << zone << QPoint(147, 1) << QPoint(153, 1) << SKY;
    QTest::newRow("13 slanted bottom")
        << 13 << 10 << zone << QPoint(102, 198) << QPoint(110, 198) << SKY;
    // d = 150 * 4 / 20 = 30: top from 30 to 270, bottom from 90 to 210.
    QTest::newRow("17 top") << 17 << 2 << zone << QPoint(33, 1) << QPoint(27, 1) << SKY;
    QTest::newRow("17 bottom") << 17 << 2 << zone << QPoint(207, 198) << QPoint(213, 198) << SKY;
    // h = 150, e = 75: a clear band from 75 to 225.
    QTest::newRow("18 band edge") << 18 << 10 << zone << QPoint(73, 100) << QPoint(77, 100) << SKY;
    QTest::newRow("18 band right")
        << 18 << 10 << zone << QPoint(227, 100) << QPoint(223, 100) << SKY;
    // d = 300 / 20 = 15: top edge to 270, bottom to 135.
    QTest::newRow("21 step 1") << 21 << 1 << zone << QPoint(267, 1) << QPoint(273, 1) << SKY;
    QTest::newRow("21 step 1 bottom")
        << 21 << 1 << zone << QPoint(132, 198) << QPoint(138, 198) << SKY;
    // A veil over everything, fading with the step.
    QTest::newRow("8 veil") << 8 << 5 << zone << QPoint(150, 100) << QPoint(-1, -1)
                            << QColor(127, 127, 127, 150);
    QTest::newRow("16 veil") << 16 << 10 << zone << QPoint(150, 100) << QPoint(-1, -1)
                             << QColor(67, 103, 125, 60);
    QTest::newRow("20 veil") << 20 << 15 << zone << QPoint(150, 100) << QPoint(-1, -1)
                             << QColor(33, 51, 62, 50);
    // c = 20; column 2, row 1 at step 5: w = 0.75 * 16 - 24 < 0; column 0, row 0: 12.
    QTest::newRow("9 mosaic") << 9 << 5 << zone << QPoint(6, 6) << QPoint(46, 26)
                              << QColor(127, 127, 127, 150);
    QTest::newRow("9 mosaic gap") << 9 << 5 << zone << QPoint(6, 12) << QPoint(6, 18)
                                  << QColor(127, 127, 127, 150);
}

void TestTransitions::curtainEdges()
{
    QFETCH(int, effect);
    QFETCH(int, step);
    QFETCH(QSize, size);
    QFETCH(QPoint, covered);
    QFETCH(QPoint, clear);
    QFETCH(QColor, colour);
    const QImage image = render(effect, step, size);
    EXPECT_COLOUR(image, covered.x(), covered.y(), colour);
    if (clear.x() >= 0)
        EXPECT_COLOUR(image, clear.x(), clear.y(), CLEAR);
}

void TestTransitions::nothingVisible_data()
{
    QTest::addColumn<int>("effect");
    QTest::addColumn<int>("step");
    for (int step = 4; step <= 20; ++step)
        QTest::addRow("21 step %d", step) << 21 << step;
    for (int effect : {3, 4, 6, 7, 8, 13, 16, 19, 20})
        QTest::addRow("%d last step", effect) << effect << 20;
    for (int effect : {0, 23, 99, -1}) {
        QTest::addRow("no effect %d step 1", effect) << effect << 1;
        QTest::addRow("no effect %d step 20", effect) << effect << 20;
    }
}

void TestTransitions::nothingVisible()
{
    QFETCH(int, effect);
    QFETCH(int, step);
    QVERIFY(allClear(render(effect, step, QSize(300, 200), solid(QSize(30, 20), Qt::red))));
}

void TestTransitions::verticalBlinds()
{
    // 15 blinds of 128 pixels on a wide zone, each 64 wide at step 10.
    const QImage image = render(6, 10, QSize(1920, 1080));
    for (int i = 0; i < 15; ++i) {
        EXPECT_COLOUR(image, i * 128 + 32, 540, LIGHT_GREY);
        EXPECT_COLOUR(image, i * 128 + 62, 1000, LIGHT_GREY);
        EXPECT_COLOUR(image, i * 128 + 66, 540, CLEAR);
        EXPECT_COLOUR(image, i * 128 + 126, 10, CLEAR);
    }
    // A tall zone has 10 blinds: 60 wide on 600 x 800, 45 at step 5.
    const QImage tall = render(6, 5, QSize(600, 800));
    EXPECT_COLOUR(tall, 9 * 60 + 43, 400, LIGHT_GREY);
    EXPECT_COLOUR(tall, 9 * 60 + 47, 400, CLEAR);
}

void TestTransitions::horizontalBlinds()
{
    // A wide zone has 10 blinds of 108 rows, 54 at step 10.
    const QImage image = render(19, 10, QSize(1920, 1080));
    for (int i = 0; i < 10; ++i) {
        EXPECT_COLOUR(image, 960, i * 108 + 52, LIGHT_GREY);
        EXPECT_COLOUR(image, 960, i * 108 + 56, CLEAR);
    }
}

void TestTransitions::fadingTiles()
{
    // c = 36: 53 columns and 30 rows. Step 1: column 0, row 0 has alpha 250;
    // column 40, row 10 (alpha 120) and everything after it is not drawn.
    const QImage image = render(12, 1, QSize(1920, 1080));
    EXPECT_COLOUR(image, 18, 18, QColor(135, 206, 250, 250));
    EXPECT_COLOUR(image, 5 * 36 + 18, 2 * 36 + 18, QColor(135, 206, 250, 250 - 15 - 2));
    EXPECT_COLOUR(image, 39 * 36 + 18, 10 * 36 + 18, QColor(135, 206, 250, 123));
    EXPECT_COLOUR(image, 40 * 36 + 18, 10 * 36 + 18, CLEAR);
    EXPECT_COLOUR(image, 52 * 36 + 18, 29 * 36 + 18, CLEAR);
    // The last step leaves tiles down to alpha 121 only at the far top left.
    const QImage last = render(12, 20, QSize(1920, 1080));
    EXPECT_COLOUR(last, 18, 18, QColor(135, 206, 250, 155));
    EXPECT_COLOUR(last, 11 * 36 + 18, 18, QColor(135, 206, 250, 122));
    EXPECT_COLOUR(last, 12 * 36 + 18, 18, CLEAR);
}

void TestTransitions::fadingDots()
{
    // Every dot is drawn, its alpha falling with column and row; the corner
    // between dots stays clear.
    const QImage image = render(15, 1, QSize(1920, 1080));
    EXPECT_COLOUR(image, 15, 15, QColor(135, 206, 250, 250));
    EXPECT_COLOUR(image, 50 * 36 + 15, 29 * 36 + 15, QColor(135, 206, 250, 250 - 150 - 29));
    EXPECT_COLOUR(image, 35, 35, CLEAR);
    // By step 20 far dots are gone.
    const QImage last = render(15, 20, QSize(1920, 1080));
    EXPECT_COLOUR(last, 52 * 36 + 15, 29 * 36 + 15, CLEAR);
}

void TestTransitions::starOpening()
{
    // The star's inside is clear, the outside is filled with the gradient.
    const QImage image = render(1, 1, QSize(300, 200));
    EXPECT_COLOUR(image, 150, 100, CLEAR);
    EXPECT_COLOUR(image, 150, 2, CLEAR); // near the top vertex, R = 130
    QCOMPARE(at(image, 2, 2).alpha(), 255);
    QCOMPARE(at(image, 297, 197).alpha(), 255);
    // Bigger with every step: the outer vertex leaves the label.
    const QImage later = render(1, 20, QSize(300, 200));
    EXPECT_COLOUR(later, 150, 190, CLEAR);
}

void TestTransitions::pictureEffects_data()
{
    QTest::addColumn<int>("effect");
    QTest::addColumn<int>("step");
    QTest::addColumn<QPoint>("red");
    QTest::addColumn<QPoint>("clear");

    // 200 x 100 label, 64 x 48 red picture.
    // Grown from 0.3: 60 x 30 centred at 70, 35.
    QTest::newRow("5 start") << 5 << 0 << QPoint(100, 50) << QPoint(66, 50);
    QTest::newRow("5 full") << 5 << 20 << QPoint(2, 2) << QPoint(-1, -1);
    // 60 wide, stretched to the full height.
    QTest::newRow("22 start") << 22 << 0 << QPoint(30, 97) << QPoint(64, 50);
    QTest::newRow("22 half") << 22 << 10 << QPoint(125, 2) << QPoint(133, 2);
    // Shrinking while turning: 0.3 at step 10 (half a turn), nothing at 20.
    QTest::newRow("11 half") << 11 << 10 << QPoint(100, 50) << QPoint(60, 50);
    QTest::newRow("11 gone") << 11 << 20 << QPoint(-1, -1) << QPoint(100, 50);
    // Growing while turning: a quarter turn at step 5 stands the 95 x 47
    // picture on end, centred: 76 to 124 across, 2 to 97 down.
    QTest::newRow("14 quarter") << 14 << 5 << QPoint(100, 5) << QPoint(70, 50);
    QTest::newRow("14 full") << 14 << 20 << QPoint(100, 50) << QPoint(-1, -1);
}

void TestTransitions::pictureEffects()
{
    QFETCH(int, effect);
    QFETCH(int, step);
    QFETCH(QPoint, red);
    QFETCH(QPoint, clear);
    const QImage image = render(effect, step, QSize(200, 100), solid(QSize(64, 48), Qt::red));
    if (red.x() >= 0)
        EXPECT_COLOUR(image, red.x(), red.y(), QColor(Qt::red));
    if (clear.x() >= 0)
        EXPECT_COLOUR(image, clear.x(), clear.y(), CLEAR);
}

void TestTransitions::shearedPicture()
{
    // Shear 2.0 at step 0 on a 200 x 100 label: the picture's top edge runs
    // from the top left corner down to 80 at the right; its bottom edge from
    // 20 at the left to the bottom right corner.
    QImage picture(200, 100, QImage::Format_RGB32);
    picture.fill(Qt::red);
    const QImage image = render(2, 0, QSize(200, 100), QPixmap::fromImage(picture));
    EXPECT_COLOUR(image, 10, 8, QColor(Qt::red));
    EXPECT_COLOUR(image, 190, 10, CLEAR);
    EXPECT_COLOUR(image, 190, 90, QColor(Qt::red));
    EXPECT_COLOUR(image, 10, 97, CLEAR);
    // The last step shows the picture straight, over the whole label.
    const QImage last = render(2, 20, QSize(200, 100), QPixmap::fromImage(picture));
    EXPECT_COLOUR(last, 198, 2, QColor(Qt::red));
    EXPECT_COLOUR(last, 2, 97, QColor(Qt::red));
}

void TestTransitions::pictureFollowsPlacement_data()
{
    QTest::addColumn<int>("effect");
    QTest::addColumn<int>("step");
    // Large turning frames take the half-size road; the others are drawn directly.
    for (int step : {3, 9, 13, 17, 19})
        QTest::addRow("14 step %d", step) << 14 << step;
    for (int step : {1, 4, 7})
        QTest::addRow("11 step %d", step) << 11 << step;
    for (int step : {0, 10, 19})
        QTest::addRow("2 step %d", step) << 2 << step;
    QTest::newRow("5 step 12") << 5 << 12;
    QTest::newRow("22 step 15") << 22 << 15;
}

void TestTransitions::pictureFollowsPlacement()
{
    // Wherever the placement puts the picture it is seen, and nowhere else.
    QFETCH(int, effect);
    QFETCH(int, step);
    const QSize label(1920, 1080);
    const QSize pictureSize(1600, 1200);
    const QImage image = render(effect, step, label, solid(pictureSize, Qt::red));
    QTransform placement;
    QVERIFY(TransitionEffect::picturePlacement(effect, step, label, pictureSize, &placement));
    const QPolygonF shape = placement.map(QPolygonF(QRectF(QPointF(0, 0), pictureSize)));
    const QPointF centre = shape.boundingRect().center();
    auto around = [&](double factor) {
        return QTransform::fromTranslate(-centre.x(), -centre.y())
            * QTransform::fromScale(factor, factor)
            * QTransform::fromTranslate(centre.x(), centre.y());
    };
    const QPolygonF inner = around(0.97).map(shape);
    const QPolygonF outer = around(1.03).map(shape);
    int seen = 0;
    for (int y = 5; y < label.height(); y += 50) {
        for (int x = 7; x < label.width(); x += 50) {
            if (inner.containsPoint(QPointF(x + 0.5, y + 0.5), Qt::OddEvenFill)) {
                EXPECT_COLOUR(image, x, y, QColor(Qt::red));
                ++seen;
            } else if (!outer.containsPoint(QPointF(x + 0.5, y + 0.5), Qt::OddEvenFill)) {
                EXPECT_COLOUR(image, x, y, CLEAR);
            }
        }
    }
    QVERIFY(seen > 10);
}

void TestTransitions::nullPictureDrawsNothing()
{
    for (int effect : {2, 5, 11, 14, 22}) {
        for (int step : {0, 1, 10, 20})
            QVERIFY(allClear(render(effect, step, QSize(300, 200))));
    }
    // Curtains do not need the picture.
    QVERIFY(!allClear(render(3, 1, QSize(300, 200))));
}

void TestTransitions::tinyLabel()
{
    // Too small for one grid cell: nothing drawn, and no division by zero.
    for (int effect = TransitionEffect::FIRST_EFFECT; effect <= TransitionEffect::LAST_EFFECT;
         ++effect) {
        for (QSize size : {QSize(8, 5), QSize(1, 1), QSize(0, 0)})
            render(effect, 7, size, solid(QSize(4, 4), Qt::red));
    }
    QVERIFY(allClear(render(9, 1, QSize(9, 40))));
    QVERIFY(allClear(render(12, 1, QSize(29, 400))));
    QVERIFY(allClear(render(15, 1, QSize(400, 29))));
}

namespace {
struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};
} // namespace

void TestTransitions::labelPaintsOnlyFromStepOne()
{
    QWidget zone;
    zone.resize(300, 200);
    EffectLabel label(&zone);
    label.setGeometry(0, 0, 300, 200);
    label.setAttribute(Qt::WA_TranslucentBackground);
    label.setStyleSheet("background:transparent");
    zone.show();
    QVERIFY(QTest::qWaitForWindowExposed(&zone));

    QCoreApplication::processEvents();
    PaintCounter counter;
    label.installEventFilter(&counter);
    const QPixmap picture = solid(QSize(30, 20), Qt::red);
    label.startPaint(3, 0, picture);
    QCOMPARE(label.effect(), 3);
    QCOMPARE(label.step(), 0);
    QCOMPARE(label.picture().cacheKey(), picture.cacheKey());
    QCOMPARE(counter.paints, 0);

    // From step 1 on the label repaints before startPaint returns.
    label.startPaint(3, 10, picture);
    QCOMPARE(counter.paints, 1);
    QImage image(300, 200, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    label.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_COLOUR(image, 150, 150, LIGHT_GREY);
    EXPECT_COLOUR(image, 150, 50, CLEAR);
}

void TestTransitions::runsTwentyStepsThenFinishes()
{
    // On 30 ms ticks steps 0 to 20 are painted on 21 ticks and the 22nd
    // finishes, about 0.66 s after the start.
    TransitionControl control;
    const qint64 t0 = 1'700'000'000'000;
    QVERIFY(control.start(7, t0));
    QCOMPARE(control.tickInterval(), TransitionControl::TICK_MS);
    QCOMPARE(control.endTime(), t0 + 3000);
    qint64 now = t0;
    for (int step = 0; step <= 20; ++step) {
        now += TransitionControl::TICK_MS;
        const auto tick = control.tick(now);
        QCOMPARE(tick.action, TransitionControl::Action::Paint);
        QCOMPARE(tick.step, step);
    }
    now += TransitionControl::TICK_MS;
    QCOMPARE(control.tick(now).action, TransitionControl::Action::Finish);
    QCOMPARE(now - t0, 660);
    QVERIFY(!control.isRunning());
    QCOMPARE(control.tickInterval(), TransitionControl::IDLE_TICK_MS);
    QCOMPARE(control.tick(now + 30).action, TransitionControl::Action::None);
}

void TestTransitions::lateTicksStopAtTheLimit()
{
    // Ticks 200 ms apart: steps 0 to 13 by 2.8 s, then the 3 s limit ends it.
    TransitionControl control;
    const qint64 t0 = 5000;
    QVERIFY(control.start(12, t0));
    int painted = 0;
    qint64 now = t0;
    TransitionControl::Tick tick;
    do {
        now += 200;
        tick = control.tick(now);
        if (tick.action == TransitionControl::Action::Paint)
            QCOMPARE(tick.step, painted++);
    } while (tick.action == TransitionControl::Action::Paint);
    QCOMPARE(tick.action, TransitionControl::Action::Finish);
    QCOMPARE(now, t0 + 3000);
    QCOMPARE(painted, 14);

    // A tick arriving long after the start finishes without painting.
    QVERIFY(control.start(12, t0));
    QCOMPARE(control.tick(t0 + 3000).action, TransitionControl::Action::Finish);
}

void TestTransitions::startsOnlyPositiveEffects_data()
{
    QTest::addColumn<int>("effect");
    QTest::addColumn<bool>("starts");
    QTest::newRow("none") << 0 << false;
    QTest::newRow("negative") << -3 << false;
    QTest::newRow("first") << 1 << true;
    QTest::newRow("last") << 22 << true;
    // Painted as nothing, yet it runs its course like any other.
    QTest::newRow("unknown") << 23 << true;
}

void TestTransitions::startsOnlyPositiveEffects()
{
    QFETCH(int, effect);
    QFETCH(bool, starts);
    TransitionControl control;
    QVERIFY(control.start(5, 1000)); // one already running
    QCOMPARE(control.start(effect, 2000), starts);
    QCOMPARE(control.isRunning(), starts);
    QCOMPARE(control.endTime(), starts ? 5000 : 0);
    QCOMPARE(control.tick(2030).action,
        starts ? TransitionControl::Action::Paint : TransitionControl::Action::None);
    if (starts)
        QCOMPARE(control.effect(), effect);
}

void TestTransitions::slotEndGivesOneMoreTick_data()
{
    QTest::addColumn<int>("stepsBefore");
    QTest::addColumn<bool>("wrapped");
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("runningAfter");
    QTest::newRow("mid-way") << 5 << false << int(TransitionControl::Action::Paint) << true;
    QTest::newRow("all painted") << 21 << false << int(TransitionControl::Action::Finish) << false;
    // The list wrapped: the transition is left alone.
    QTest::newRow("wrapped") << 5 << true << int(TransitionControl::Action::None) << true;
}

void TestTransitions::slotEndGivesOneMoreTick()
{
    QFETCH(int, stepsBefore);
    QFETCH(bool, wrapped);
    QFETCH(int, action);
    QFETCH(bool, runningAfter);
    TransitionControl control;
    qint64 now = 0;
    control.start(3, now);
    for (int i = 0; i < stepsBefore; ++i)
        control.tick(now += 30);
    const auto tick = control.slotEnded(now += 30, wrapped);
    QCOMPARE(int(tick.action), action);
    if (tick.action == TransitionControl::Action::Paint)
        QCOMPARE(tick.step, stepsBefore);
    QCOMPARE(control.isRunning(), runningAfter);
    // Not running: the end of a slot changes nothing.
    TransitionControl idle;
    QCOMPARE(idle.slotEnded(100, false).action, TransitionControl::Action::None);
}

QTEST_MAIN(TestTransitions)
#include "test_transitions.moc"
