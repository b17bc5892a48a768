#pragma once

#include <QPoint>
#include <QSize>
#include <QString>

#include <functional>

class QFont;

// Placement arithmetic of text zones: line breaking, scroll steps and the
// positions of a moving caption. Plain functions, driven by tests without a
// screen.
namespace TextLayout {

// Pixels a caption moves per text timer tick (200 ms) for a material's
// "speed": 10 or less 40, 11 to 20 26, 21 or more 13.
int scrollStep(int speed);

// Width in pixels of a piece of text.
using Measure = std::function<int(const QString &)>;

// Inserts line feeds into text so that every line is narrower than width;
// returns the number of lines. A punctuation mark never starts a line: when
// the character that no longer fits is one, the character before it moves to
// the new line with it (unless that character starts its line already, in
// which case the mark starts the new line; nothing else can be done there).
int breakLines(QString &text, int width, const Measure &measure);

// breakLines with the font's metrics; returns the height the broken text
// needs: (font height + leading) for each line.
int setLineFeed(QString &text, int width, const QFont &font);

// A horizontally scrolling caption of this size starts with its right edge on
// the zone's right edge, centred vertically.
QPoint horizontalStart(QSize label, QSize zone);

// One step of a scrolling caption: the new left (horizontal) or top (vertical)
// edge. Once the caption has left the zone entirely it comes in again from
// the far edge.
int nextScrollX(int x, int step, int labelWidth, int zoneWidth);
int nextScrollY(int y, int step, int labelHeight, int zoneHeight);

// "color:<color>;background:<background>", each cut to 7 characters (#rrggbb);
// a value that is no colour (ContentRules::styleColor) is left empty.
QString labelStyle(const QString &color, const QString &background);

} // namespace TextLayout
