#include "transitions/transitionpainter.h"

#include <QPainter>

#include <algorithm>

namespace {

// Above this many pixels a turning picture is drawn at half size.
const double HALF_SIZE_TURNING_AREA = 1e6;

} // namespace

void TransitionPainter::setPicture(const QPixmap &picture)
{
    if (picture.cacheKey() == m_picture.cacheKey())
        return;
    m_picture = picture;
    m_scaled = QImage();
    m_halfScaled = QImage();
    m_scaledFor = QSize();
}

void TransitionPainter::prepare(int effect, QSize label)
{
    if (label.isEmpty())
        return;
    if (TransitionEffect::drawsPicture(effect)) {
        scaledPicture(label);
    } else if (effect == 1) {
        starFill(label);
    } else if (effect == 12 || effect == 15) {
        const TransitionEffect::Grid g = TransitionEffect::grid(label, 30);
        const int faintest = TransitionEffect::cellAlpha(int(MAX_STEP), g.columns - 1, g.rows - 1);
        for (int a = std::max(faintest, TransitionEffect::faintestCell(effect));
             a <= TransitionEffect::cellAlpha(0, 0, 0); ++a)
            stamp(effect, a, g.cell);
    }
}

const QImage &TransitionPainter::scaledPicture(QSize label)
{
    if (m_picture.isNull() || label == m_scaledFor)
        return m_scaled;
    QImage image = m_picture.toImage();
    if (image.size() != label)
        image = image.scaled(label, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    m_scaled = image.convertToFormat(
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    m_halfScaled = QImage();
    m_scaledFor = label;
    return m_scaled;
}

void TransitionPainter::paintPicture(QPainter &p, int effect, int step, QSize label)
{
    QTransform placement;
    if (!TransitionEffect::picturePlacement(effect, step, label, m_picture.size(), &placement))
        return;
    const QImage &scaled = scaledPicture(label);
    if (scaled.isNull())
        return;
    // The ready image stands for the picture: scale its coordinates back first.
    const QTransform toLabel = QTransform::fromScale(double(m_picture.width()) / scaled.width(),
                                   double(m_picture.height()) / scaled.height())
        * placement;
    const QRectF bounds = toLabel.mapRect(QRectF(scaled.rect()));
    if (toLabel.type() == QTransform::TxRotate
        && bounds.width() * bounds.height() > HALF_SIZE_TURNING_AREA) {
        paintTurningAtHalfSize(p, toLabel, label);
        return;
    }
    p.save();
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setWorldTransform(toLabel, true);
    p.drawImage(QPointF(0, 0), scaled);
    p.restore();
}

// Smooth turning costs about as much per pixel as the label has, twice what a
// plain scale does: a large turning picture is turned at half size and then
// scaled up, which a fast-moving frame does not show.
void TransitionPainter::paintTurningAtHalfSize(QPainter &p, const QTransform &toLabel, QSize label)
{
    const QSize half = label / 2;
    if (half.isEmpty())
        return;
    if (m_halfScaled.isNull())
        m_halfScaled = m_scaled.scaled(half, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (m_halfFrame.size() != half)
        m_halfFrame = QImage(half, QImage::Format_ARGB32_Premultiplied);
    m_halfFrame.fill(Qt::transparent);
    const QTransform labelToHalf = QTransform::fromScale(
        double(half.width()) / label.width(), double(half.height()) / label.height());
    const QTransform halfToScaled = QTransform::fromScale(
        double(m_scaled.width()) / half.width(), double(m_scaled.height()) / half.height());
    {
        QPainter frame(&m_halfFrame);
        frame.setRenderHint(QPainter::Antialiasing);
        frame.setRenderHint(QPainter::SmoothPixmapTransform);
        frame.setWorldTransform(halfToScaled * toLabel * labelToHalf);
        frame.drawImage(QPointF(0, 0), m_halfScaled);
    }
    const QRectF onLabel
        = toLabel.mapRect(QRectF(m_scaled.rect())).intersected(QRectF(QPointF(0, 0), label));
    p.save();
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(onLabel, m_halfFrame, labelToHalf.mapRect(onLabel));
    p.restore();
}

const QImage &TransitionPainter::starFill(QSize label)
{
    // Qt's default radial gradient (centre 0, 0, radius 1, reflected) does not
    // change from step to step: render it once per label size and fill from
    // that image, which is much cheaper than evaluating it per pixel each step.
    if (m_starFill.size() != label) {
        m_starFill = QImage(label, QImage::Format_RGB32);
        QPainter fill(&m_starFill);
        fill.fillRect(m_starFill.rect(), TransitionEffect::starGradient());
    }
    return m_starFill;
}

void TransitionPainter::paintStar(QPainter &p, int s, QSize label)
{
    p.setBrushOrigin(0, 0);
    TransitionEffect::paintStar(
        p, TransitionEffect::star(s, label), QBrush(starFill(label)), label);
}

// One tile or dot of the fading-grid effects, drawn once and stamped wherever
// its alpha recurs: a step has up to 1590 cells but fewer than 200 alphas. The
// image has a pixel of margin for the outline, which reaches half a pixel out;
// stamping over what is there blends exactly as drawing the shape would.
const QImage &TransitionPainter::stamp(int effect, int a, int c)
{
    if (c != m_stampCell) {
        m_stamps.clear();
        m_stampCell = c;
    }
    const int key = effect * 1000 + a;
    auto it = m_stamps.find(key);
    if (it != m_stamps.end())
        return *it;
    QImage image(c + 2, c + 2, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    TransitionEffect::paintCell(p, effect, a, c, QPoint(1, 1));
    return *m_stamps.insert(key, image);
}

void TransitionPainter::paintGrid(QPainter &p, int effect, int s, QSize label)
{
    const TransitionEffect::Grid g = TransitionEffect::grid(label, 30);
    for (int i = 0; i < g.columns; ++i) {
        for (int j = 0; j < g.rows; ++j) {
            const int a = TransitionEffect::cellAlpha(s, i, j);
            if (a >= TransitionEffect::faintestCell(effect))
                p.drawImage(i * g.cell - 1, j * g.cell - 1, stamp(effect, a, g.cell));
        }
    }
}

void TransitionPainter::paint(QPainter &p, int effect, int s, QSize label)
{
    if (label.isEmpty())
        return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    paintEffect(p, effect, s, label);
    p.restore();
}

void TransitionPainter::paintEffect(QPainter &p, int effect, int s, QSize label)
{
    if (TransitionEffect::drawsPicture(effect))
        paintPicture(p, effect, s, label);
    else if (effect == 1)
        paintStar(p, s, label);
    else if (effect == 12 || effect == 15)
        paintGrid(p, effect, s, label);
    else
        TransitionEffect::paintCurtain(p, effect, s, label); // nothing for unknown numbers
}
