#include "transitions/transitioneffect.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>

#include <algorithm>

namespace {

const double M = MAX_STEP;

int trunc(double value)
{
    return static_cast<int>(value);
}

int alphaOf(double value)
{
    return std::clamp(trunc(value), 0, 255);
}

const QColor C1(211, 211, 211, 200);
const QColor C2(135, 206, 250, 120);

QColor c3(int s)
{
    return QColor(127, 127, 127, alphaOf((1 - s / M) * 200));
}

QColor skyBlue(int alpha)
{
    return QColor(135, 206, 250, std::clamp(alpha, 0, 255));
}

// Every shape is filled with its colour and outlined in it, one pixel wide.
void useColour(QPainter &p, const QColor &fill, const QColor &outline)
{
    p.setPen(QPen(outline, 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    p.setBrush(fill);
}

// A curtain that has moved wholly off the label has no area on it; drawing its
// outline anyway would leave a faint line along the label's edge.
bool coversLabel(const QRectF &bounds, QSize label)
{
    const QRectF on = bounds.normalized().intersected(QRectF(QPointF(0, 0), label));
    return on.width() > 0 && on.height() > 0;
}

void curtainRect(QPainter &p, const QColor &colour, int x, int y, int w, int h, QSize label)
{
    if (w <= 0 || h <= 0 || !coversLabel(QRectF(x, y, w, h), label))
        return;
    useColour(p, colour, colour);
    p.drawRect(x, y, w, h);
}

void curtainPolygon(QPainter &p, const QColor &colour, const QPolygonF &polygon, QSize label)
{
    if (!coversLabel(polygon.boundingRect(), label))
        return;
    useColour(p, colour, colour);
    p.drawPolygon(polygon);
}

// The label covered except for `hole` (odd-even fill of both outlines).
void curtainAround(QPainter &p, const QPolygonF &hole, QSize label)
{
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    path.addPolygon(hole);
    path.closeSubpath();
    path.addPolygon(QPolygonF(QRectF(QPointF(0, 0), label)));
    path.closeSubpath();
    p.drawPath(path);
}

void blindsVertical(QPainter &p, int W, int H, int s)
{
    const int n = W > H ? 15 : 10;
    const int b = W / n;
    for (int i = 0; i < n; ++i)
        curtainRect(p, C1, i * b, 0, trunc(b - b / M * s), H, QSize(W, H));
}

void blindsHorizontal(QPainter &p, int W, int H, int s)
{
    const int n = H > W ? 15 : 10;
    const int b = H / n;
    for (int i = 0; i < n; ++i)
        curtainRect(p, C1, 0, i * b, W, trunc(b - b / M * s), QSize(W, H));
}

void mosaic(QPainter &p, QSize label, int s)
{
    const TransitionEffect::Grid g = TransitionEffect::grid(label, 10);
    useColour(p, c3(s), c3(s));
    for (int i = 0; i < g.columns; ++i) {
        for (int j = 0; j < g.rows; ++j) {
            const int w = trunc((1 - s / M) * (g.cell - 4) - 8 * ((i + j) % 8));
            if (w > 0)
                p.drawRect(i * g.cell, j * g.cell, w, g.cell - 4);
        }
    }
}

void veil(QPainter &p, QSize label, const QColor &colour)
{
    useColour(p, colour, colour);
    p.drawRect(0, 0, label.width(), label.height());
}

QColor fadingSky(int s, double alphaScale)
{
    const double f = 1 - s / M;
    return QColor(alphaOf(135 * f), alphaOf(206 * f), alphaOf(250 * f), alphaOf(alphaScale * f));
}

// The picture as a smooth transform would leave it: a pixmap sized to the
// mapped picture's bounding box, its content moved to that box's origin.
struct Transformed
{
    QTransform toPixmap; // picture coordinates to the transformed pixmap's
    QSize size;
};

Transformed transformed(const QTransform &t, QSize picture)
{
    const QRect box = t.mapRect(QRectF(QPointF(0, 0), picture)).toAlignedRect();
    return {t * QTransform::fromTranslate(-box.x(), -box.y()), box.size()};
}

// Scale factors for the picture-growing effects.
double growth(int s)
{
    return 0.3 + 0.7 * s / M;
}

} // namespace

namespace TransitionEffect {

bool hidesImageLabel(int effect)
{
    return effect == 2 || effect == 5 || effect == 11 || effect == 14;
}

bool drawsPicture(int effect)
{
    return hidesImageLabel(effect) || effect == 22;
}

bool picturePlacement(int effect, int s, QSize label, QSize picture, QTransform *placement)
{
    const int W = label.width();
    const int H = label.height();
    const double pw = picture.width();
    const double ph = picture.height();
    if (!drawsPicture(effect) || pw <= 0 || ph <= 0 || W <= 0 || H <= 0)
        return false;
    switch (effect) {
    case 2: {
        // Sheared, then drawn whole into its own width and the label's height.
        const Transformed t
            = transformed(QTransform().scale(W / pw, H / ph).shear(0, (M - s) * 0.1), picture);
        if (t.size.isEmpty())
            return false;
        *placement = t.toPixmap * QTransform::fromScale(1, double(H) / t.size.height());
        return true;
    }
    case 5:
    case 22: {
        const double f = growth(s);
        const int w = trunc(f * W);
        const int h = trunc(f * H);
        if (w <= 0 || h <= 0)
            return false;
        *placement = QTransform::fromScale(w / pw, h / ph);
        if (effect == 5) // centred at its size
            *placement *= QTransform::fromTranslate((W - w) / 2, (H - h) / 2);
        else // stretched to the label's height
            *placement *= QTransform::fromScale(1, double(H) / h);
        return true;
    }
    case 11:
    case 14: {
        const double f = effect == 11 ? 1 - (0.4 + 0.6 * s / M) : growth(s);
        if (trunc(f * W) <= 0 || trunc(f * H) <= 0)
            return false;
        const Transformed t
            = transformed(QTransform().rotate(360 / M * s).scale(W * f / pw, H * f / ph), picture);
        if (t.size.isEmpty())
            return false;
        *placement = t.toPixmap
            * QTransform::fromTranslate((W - t.size.width()) / 2, (H - t.size.height()) / 2);
        return true;
    }
    default:
        return false;
    }
}

Grid grid(QSize label, int cellsOnShortSide)
{
    Grid g;
    g.cell = std::min(label.width(), label.height()) / cellsOnShortSide;
    // A label too small for one cell has no grid (and no division by zero).
    if (g.cell > 0) {
        g.columns = label.width() / g.cell;
        g.rows = label.height() / g.cell;
    }
    return g;
}

int cellAlpha(int s, int column, int row)
{
    return 255 - 5 * s - 3 * column - row;
}

int faintestCell(int effect)
{
    return effect == 12 ? 121 : -4;
}

void paintCell(QPainter &p, int effect, int a, int cell, QPoint origin)
{
    if (effect == 12) {
        useColour(p, skyBlue(a), skyBlue(a + 5));
        p.drawRect(origin.x(), origin.y(), cell, cell);
    } else {
        const int d = cell <= 5 ? cell : cell - 5;
        useColour(p, skyBlue(std::max(a, 0)), skyBlue(a < 0 ? 0 : a + 5));
        p.drawEllipse(origin.x(), origin.y(), d, d);
    }
}

// Unit circle at multiples of 36 degrees from straight up, clockwise, with the
// constants the star has always been drawn with.
static const double SIN36 = 0.5877852652989891;
static const double COS36 = 0.8090169849251603;
static const double SIN72 = 0.9510565179511692;
static const double COS72 = 0.30901698927825527;
static const double STAR_SIN[10]
    = {0, SIN36, SIN72, SIN72, SIN36, 0, -SIN36, -SIN72, -SIN72, -SIN36};
static const double STAR_COS[10]
    = {1, COS36, COS72, -COS72, -COS36, -1, -COS36, -COS72, COS72, COS36};

QPolygonF star(int s, QSize label)
{
    const int cx = label.width() / 2;
    const int cy = label.height() / 2;
    const double R = (s / M + 0.6) * std::min(label.width(), label.height());
    QPolygonF points;
    for (int k = 0; k < 10; ++k) {
        const double r = k % 2 == 0 ? R : R / 2;
        points << QPointF(trunc(cx + r * STAR_SIN[k]), trunc(cy - r * STAR_COS[k]));
    }
    return points;
}

QBrush starGradient()
{
    QRadialGradient gradient; // Qt's default: centre 0, 0 and radius 1
    gradient.setColorAt(0, Qt::gray);
    gradient.setColorAt(1, Qt::cyan);
    gradient.setSpread(QGradient::ReflectSpread);
    return QBrush(gradient);
}

void paintStar(QPainter &p, const QPolygonF &star, const QBrush &fill, QSize label)
{
    p.setPen(QPen(Qt::cyan, 1, Qt::SolidLine));
    p.setBrush(fill);
    curtainAround(p, star, label);
}

bool paintCurtain(QPainter &p, int effect, int s, QSize label)
{
    const int W = label.width();
    const int H = label.height();
    switch (effect) {
    case 3: // a curtain sliding down
        curtainRect(p, C1, 0, trunc(H / M * s), W, H, label);
        break;
    case 4: // a curtain shrinking to the left edge
        curtainRect(p, C1, 0, 0, trunc(W * (1 - s / M)), H, label);
        break;
    case 6:
        blindsVertical(p, W, H, s);
        break;
    case 7: // a curtain sliding right
        curtainRect(p, C1, trunc(W / M * s), 0, W, H, label);
        break;
    case 8: // a grey veil fading out
        veil(p, label, c3(s));
        break;
    case 9:
        mosaic(p, label, s);
        break;
    case 10: // a triangle cut into the left edge, its tip moving right
        curtainPolygon(p, C1,
            QPolygonF({QPointF(0, 0), QPointF(W, 0), QPointF(W, H), QPointF(0, H),
                QPointF(W * s / M, H / 2)}),
            label);
        break;
    case 13: {
        const double d = W * (1 - s / M);
        curtainPolygon(p, C2,
            QPolygonF(
                {QPointF(0, 0), QPointF(trunc(d), 0), QPointF(trunc(0.7 * d), H), QPointF(0, H)}),
            label);
        break;
    }
    case 16:
        veil(p, label, fadingSky(s, 120));
        break;
    case 17: {
        const double d = (W / 2) * s * s / M;
        curtainPolygon(p, C2,
            QPolygonF({QPointF(trunc(d), 0), QPointF(trunc(W - d), 0),
                QPointF(trunc(0.75 * W - 0.5 * d), H), QPointF(trunc(0.5 * d + 0.25 * W), H)}),
            label);
        break;
    }
    case 18: { // an opening in the middle
        const int h = W / 2;
        const double e = s * h / M;
        useColour(p, C2, C2);
        curtainAround(p,
            QPolygonF({QPointF(trunc(h - e), 0), QPointF(trunc(h + e), 0), QPointF(trunc(h + e), H),
                QPointF(trunc(h - e), H)}),
            label);
        break;
    }
    case 19:
        blindsHorizontal(p, W, H, s);
        break;
    case 20:
        veil(p, label, fadingSky(s, 200));
        break;
    case 21: {
        const double d = W * s * s / M;
        curtainPolygon(p, C2,
            QPolygonF({QPointF(0, 0), QPointF(trunc(W - 2 * d), 0), QPointF(trunc(W / 2 - d), H),
                QPointF(0, H)}),
            label);
        break;
    }
    default:
        return false;
    }
    return true;
}

} // namespace TransitionEffect
