#pragma once

#include <QBrush>
#include <QPolygonF>
#include <QSize>
#include <QTransform>

class QPainter;

// Painted steps of every transition, and the divisor of each step fraction.
inline constexpr double MAX_STEP = 20.0;

// The 22 numbered transition effects: what each paints over (or instead of)
// the incoming picture on a given step. Plain functions of the label's size,
// the step and the picture, so they can be drawn into any paint device.
namespace TransitionEffect {

inline constexpr int FIRST_EFFECT = 1;
inline constexpr int LAST_EFFECT = 22;

// Effects that draw the incoming picture themselves while the image label
// under them is hidden.
bool hidesImageLabel(int effect);
// Effects that draw the picture transformed (the others paint curtains).
bool drawsPicture(int effect);

// Where a picture effect puts the picture on this step: maps the picture's own
// coordinates (size `picture`) onto the label. False when nothing is drawn (a
// null picture, a picture scaled to nothing, or not a picture effect).
bool picturePlacement(int effect, int step, QSize label, QSize picture, QTransform *placement);

// Paints a plain curtain effect (all but the picture effects, the star and the
// fading grids); false, painting nothing, for any other number.
bool paintCurtain(QPainter &painter, int effect, int step, QSize label);

// Effect 1: the label covered except for a star that grows with the step.
QPolygonF star(int step, QSize label);
QBrush starGradient();
void paintStar(QPainter &painter, const QPolygonF &star, const QBrush &fill, QSize label);

// Effects 12 and 15: square cells laid over the label from its top left, each
// drawn as a tile (12) or a dot (15) whose alpha falls with step, column and row.
struct Grid
{
    int cell = 0, columns = 0, rows = 0;
};
Grid grid(QSize label, int cellsOnShortSide);
int cellAlpha(int step, int column, int row);
// Cells fainter than this are not drawn.
int faintestCell(int effect);
void paintCell(QPainter &painter, int effect, int alpha, int cell, QPoint origin);

} // namespace TransitionEffect
