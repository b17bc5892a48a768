// Draws the weather panel's icons: one picture per family of weather codes
// (clear and cloudy in a day and a night version), 70 x 70 pixels with a
// transparent background, written as PNG files into the folder given.
//
// Usage: weathericons OUTDIR [SHEET.png]
// With SHEET.png every icon is also drawn, named, on one contact sheet.
// The player's copies live in lumaview/res/images/; run this again and copy
// the files there after changing a drawing.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

const QColor SUN(0xf9, 0xa8, 0x25);
const QColor SUN_RAY(0xfb, 0xc0, 0x2d);
const QColor MOON(0xf3, 0xe3, 0x8a);
const QColor CLOUD(0xe8, 0xee, 0xf3);
const QColor CLOUD_EDGE(0x90, 0xa4, 0xae);
const QColor GREY_CLOUD(0xb0, 0xbe, 0xc5);
const QColor DARK_CLOUD(0x78, 0x90, 0x9c);
const QColor STORM_CLOUD(0x54, 0x6e, 0x7a);
const QColor RAIN(0x1e, 0x88, 0xe5);
const QColor SNOW(0x81, 0xd4, 0xfa);
const QColor SNOW_EDGE(0x03, 0x9b, 0xe5);
const QColor BOLT(0xff, 0xd6, 0x00);
const QColor BOLT_EDGE(0xf5, 0x7f, 0x17);
const QColor SAND(0xbc, 0x8a, 0x5f);
const QColor DUST(0x8d, 0x6e, 0x63);
const QColor FOG(0x9e, 0x9e, 0x9e);
const QColor ICE(0x4f, 0xc3, 0xf7);

// Every drawing works on a 100 x 100 design square.
using Draw = std::function<void(QPainter &)>;

void sun(QPainter &p, QPointF c, qreal r, bool rays = true)
{
    if (rays) {
        p.setPen(QPen(SUN_RAY, r * 0.22, Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i < 8; ++i) {
            const qreal a = qDegreesToRadians(45.0 * i);
            const QPointF d(qCos(a), qSin(a));
            p.drawLine(c + d * r * 1.3, c + d * r * 1.7);
        }
    }
    p.setPen(QPen(SUN.darker(115), 1.5));
    p.setBrush(SUN);
    p.drawEllipse(c, r, r);
}

void moon(QPainter &p, QPointF c, qreal r)
{
    QPainterPath disc;
    disc.addEllipse(c, r, r);
    QPainterPath bite;
    bite.addEllipse(c + QPointF(r * 0.55, -r * 0.35), r * 0.9, r * 0.9);
    p.setPen(QPen(MOON.darker(130), 1.5));
    p.setBrush(MOON);
    p.drawPath(disc.subtracted(bite));
}

// A cloud standing on a flat base from x to x + w at the given bottom.
void cloud(QPainter &p, qreal x, qreal bottom, qreal w, const QColor &fill)
{
    const qreal h = w * 0.5;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill); // overlapping puffs make one outline
    path.addRoundedRect(QRectF(x, bottom - h * 0.5, w, h * 0.5), h * 0.25, h * 0.25);
    path.addEllipse(QPointF(x + w * 0.30, bottom - h * 0.50), w * 0.20, w * 0.20);
    path.addEllipse(QPointF(x + w * 0.58, bottom - h * 0.62), w * 0.27, w * 0.27);
    path.addEllipse(QPointF(x + w * 0.82, bottom - h * 0.40), w * 0.15, w * 0.15);
    path = path.simplified();
    p.setPen(QPen(fill == CLOUD ? CLOUD_EDGE : fill.darker(130), 2));
    p.setBrush(fill);
    p.drawPath(path);
}

// The usual cloud of rain and snow pictures, high in the square.
void upperCloud(QPainter &p, const QColor &fill = CLOUD)
{
    cloud(p, 12, 58, 76, fill);
}

const QPointF SPOTS[]
    = {{38, 70}, {58, 70}, {48, 84}, {28, 84}, {68, 84}, {78, 70}, {18, 70}, {38, 94}, {58, 94}};

void drops(QPainter &p, int n, const QColor &color = RAIN)
{
    p.setPen(QPen(color, 5, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < n; ++i) {
        const QPointF s = SPOTS[i];
        p.drawLine(s + QPointF(2, -4), s + QPointF(-2, 4));
    }
}

void flake(QPainter &p, QPointF c, qreal r)
{
    p.setPen(QPen(SNOW_EDGE, 2.5, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        const qreal a = qDegreesToRadians(90.0 + 60.0 * i);
        const QPointF d(qCos(a) * r, qSin(a) * r);
        p.drawLine(c - d, c + d);
    }
}

void flakes(QPainter &p, int n, int first = 0)
{
    for (int i = first; i < first + n; ++i)
        flake(p, SPOTS[i], 5.5);
}

void hail(QPainter &p, int n, int first = 0)
{
    p.setPen(QPen(SNOW_EDGE, 1.5));
    p.setBrush(QColor(0xe1, 0xf5, 0xfe));
    for (int i = first; i < first + n; ++i)
        p.drawEllipse(SPOTS[i], 4.5, 4.5);
}

void bolt(QPainter &p)
{
    const QPolygonF shape(
        QVector<QPointF> {{52, 56}, {40, 78}, {50, 78}, {44, 97}, {64, 70}, {53, 70}, {60, 56}});
    p.setPen(QPen(BOLT_EDGE, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(BOLT);
    p.drawPolygon(shape);
}

void lines(QPainter &p, const QColor &color, std::initializer_list<QLineF> list, qreal width = 5)
{
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (const QLineF &l : list)
        p.drawLine(l);
}

void wind(QPainter &p, const QColor &color, qreal top, int count, qreal width = 4.5)
{
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < count; ++i) {
        const qreal y = top + i * 16;
        const qreal x0 = 10 + (i % 2) * 10;
        QPainterPath path(QPointF(x0, y));
        path.lineTo(70 - (i % 2) * 8, y);
        path.arcTo(QRectF(62 - (i % 2) * 8, y - 16, 16, 16), -90, 180 + 90);
        p.drawPath(path);
    }
}

void dots(QPainter &p, const QColor &color, std::initializer_list<QPointF> list, qreal r = 3)
{
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    for (const QPointF &c : list)
        p.drawEllipse(c, r, r);
}

// A veil over a sun, fading out towards the edge of the square.
void haze(QPainter &p, const QColor &color)
{
    QRadialGradient veil(QPointF(50, 50), 50);
    veil.setColorAt(0, color);
    veil.setColorAt(0.7, color);
    veil.setColorAt(1, Qt::transparent);
    p.setPen(Qt::NoPen);
    p.setBrush(veil);
    p.drawEllipse(QPointF(50, 50), 50, 50);
}

struct Icon
{
    const char *name;
    Draw draw;
};

QList<Icon> icons()
{
    QList<Icon> list;
    list.append({"100d", [](QPainter &p) { sun(p, {50, 50}, 20); }});
    list.append({"100n", [](QPainter &p) { moon(p, {46, 52}, 28); }});
    list.append({"101d", [](QPainter &p) {
                     sun(p, {62, 36}, 15);
                     cloud(p, 8, 84, 70, CLOUD);
                 }});
    list.append({"101n", [](QPainter &p) {
                     moon(p, {60, 36}, 20);
                     cloud(p, 8, 84, 70, CLOUD);
                 }});
    list.append({"102", [](QPainter &p) {
                     cloud(p, 26, 60, 66, GREY_CLOUD);
                     cloud(p, 6, 82, 72, CLOUD);
                 }});
    list.append({"103", [](QPainter &p) {
                     sun(p, {68, 28}, 12);
                     upperCloud(p);
                     drops(p, 3);
                 }});
    list.append({"104", [](QPainter &p) {
                     upperCloud(p, DARK_CLOUD);
                     drops(p, 2);
                     bolt(p);
                 }});
    list.append({"105", [](QPainter &p) {
                     upperCloud(p, DARK_CLOUD);
                     hail(p, 2, 3);
                     bolt(p);
                 }});
    list.append({"106", [](QPainter &p) {
                     upperCloud(p, GREY_CLOUD);
                     drops(p, 2);
                     flakes(p, 2, 3);
                 }});
    list.append({"107", [](QPainter &p) {
                     upperCloud(p);
                     drops(p, 2);
                 }});
    list.append({"108", [](QPainter &p) {
                     upperCloud(p, GREY_CLOUD);
                     drops(p, 3);
                 }});
    list.append({"109", [](QPainter &p) {
                     upperCloud(p, GREY_CLOUD);
                     drops(p, 5);
                 }});
    list.append({"110", [](QPainter &p) {
                     upperCloud(p, DARK_CLOUD);
                     drops(p, 7);
                 }});
    list.append({"111", [](QPainter &p) {
                     upperCloud(p, STORM_CLOUD);
                     drops(p, 8);
                 }});
    list.append({"112", [](QPainter &p) {
                     upperCloud(p, STORM_CLOUD.darker(130));
                     drops(p, 9, RAIN.darker(120));
                 }});
    list.append({"113", [](QPainter &p) {
                     sun(p, {68, 28}, 12);
                     upperCloud(p);
                     flakes(p, 3);
                 }});
    list.append({"114", [](QPainter &p) {
                     upperCloud(p);
                     flakes(p, 2);
                 }});
    list.append({"115", [](QPainter &p) {
                     upperCloud(p, GREY_CLOUD);
                     flakes(p, 3);
                 }});
    list.append({"116", [](QPainter &p) {
                     upperCloud(p, GREY_CLOUD);
                     flakes(p, 5);
                 }});
    list.append({"117", [](QPainter &p) {
                     upperCloud(p, DARK_CLOUD);
                     flakes(p, 7);
                 }});
    list.append({"118", [](QPainter &p) {
                     cloud(p, 14, 52, 72, CLOUD);
                     lines(p, FOG, {{14, 64, 86, 64}, {24, 76, 78, 76}, {14, 88, 70, 88}});
                 }});
    list.append({"119", [](QPainter &p) {
                     upperCloud(p, GREY_CLOUD);
                     drops(p, 3, ICE);
                     lines(p, ICE.darker(130), {{16, 96, 84, 96}}, 4);
                 }});
    list.append({"120", [](QPainter &p) {
                     wind(p, SAND, 30, 3);
                     dots(p, DUST, {{22, 88}, {40, 92}, {58, 86}, {76, 92}, {84, 30}});
                 }});
    list.append(
        {"129", [](QPainter &p) {
             sun(p, {50, 40}, 17, false);
             haze(p, QColor(0xd7, 0xcc, 0xc8, 140));
             dots(p, DUST, {{20, 76}, {34, 86}, {50, 78}, {66, 88}, {80, 76}, {26, 94}, {74, 96}});
         }});
    list.append({"130", [](QPainter &p) {
                     wind(p, SAND, 30, 2);
                     dots(p, DUST, {{18, 78}, {34, 86}, {52, 80}, {70, 88}, {84, 78}});
                 }});
    list.append({"131", [](QPainter &p) {
                     wind(p, DUST.darker(120), 24, 4, 6);
                     dots(p, DUST.darker(140), {{84, 26}, {88, 56}, {14, 90}}, 3.5);
                 }});
    list.append(
        {"132", [](QPainter &p) {
             sun(p, {50, 42}, 18, false);
             haze(p, QColor(0xbd, 0xbd, 0xbd, 170));
             lines(p, FOG.darker(120), {{14, 70, 86, 70}, {22, 82, 78, 82}, {30, 94, 70, 94}});
         }});
    list.append({"133", [](QPainter &p) {
                     p.setPen(QPen(FOG, 4, Qt::DashLine, Qt::RoundCap));
                     p.setBrush(Qt::NoBrush);
                     p.drawEllipse(QPointF(50, 50), 30, 30);
                     lines(p, FOG, {{36, 50, 64, 50}});
                 }});
    list.append({"134", [](QPainter &p) {
                     const QPointF c(50, 50);
                     p.setPen(QPen(ICE.darker(120), 4, Qt::SolidLine, Qt::RoundCap));
                     for (int i = 0; i < 6; ++i) {
                         const qreal a = qDegreesToRadians(60.0 * i - 90);
                         const QPointF d(qCos(a), qSin(a));
                         const QPointF tip = c + d * 34;
                         const QPointF mid = c + d * 20;
                         p.drawLine(c, tip);
                         for (int side : {-1, 1}) {
                             const qreal b = a + side * qDegreesToRadians(45.0);
                             p.drawLine(mid, mid + QPointF(qCos(b), qSin(b)) * 11);
                         }
                     }
                 }});
    list.append({"135", [](QPainter &p) {
                     upperCloud(p, GREY_CLOUD);
                     hail(p, 7);
                 }});
    return list;
}

QImage render(const Icon &icon)
{
    QImage image(70, 70, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(0.7, 0.7);
    icon.draw(painter);
    return image;
}

bool writeSheet(const QList<Icon> &list, const QString &path)
{
    const int columns = 10;
    const int rows = (list.size() + columns - 1) / columns;
    QImage sheet(columns * 90, rows * 100, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    for (int i = 0; i < list.size(); ++i) {
        const QPoint at((i % columns) * 90 + 10, (i / columns) * 100 + 4);
        painter.drawImage(at, render(list.at(i)));
        painter.drawText(QRect(at.x(), at.y() + 72, 70, 20), Qt::AlignCenter,
            QString::fromLatin1(list.at(i).name));
    }
    painter.end();
    return sheet.save(path, "PNG");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: weathericons OUTDIR [SHEET.png]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // the sheet's names need fonts, not a screen
    QGuiApplication app(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const QList<Icon> list = icons();
    int failed = 0;
    for (const Icon &icon : list) {
        const QString path
            = dir + QLatin1Char('/') + QLatin1String(icon.name) + QStringLiteral(".png");
        if (!render(icon).save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++failed;
        }
    }
    if (argc == 3 && !writeSheet(list, QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        ++failed;
    }
    return failed ? 1 : 0;
}
