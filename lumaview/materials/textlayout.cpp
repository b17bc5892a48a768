#include "materials/textlayout.h"

#include "formats/contentrules.h"
#include "texttools.h"

#include <QFont>
#include <QFontMetrics>

namespace TextLayout {

int scrollStep(int speed)
{
    if (speed <= 10)
        return 40;
    if (speed <= 20)
        return 26;
    return 13;
}

int breakLines(QString &text, int width, const Measure &measure)
{
    if (text.size() < 2)
        return 1;
    int lines = 1;
    int start = 0;
    int i = 1;
    while (i < text.size()) {
        if (measure(text.mid(start, i - start + 1)) < width) {
            ++i;
            continue;
        }
        ++lines;
        if (TextTools::isPunctuationMark(text.mid(i, 1)) && i - 1 > start) {
            // The character before the mark goes along with it.
            text.insert(i - 1, QLatin1Char('\n'));
            start = i;
        } else {
            text.insert(i, QLatin1Char('\n'));
            start = i + 1;
        }
        i = start + 1;
    }
    return lines;
}

int setLineFeed(QString &text, int width, const QFont &font)
{
    const QFontMetrics metrics(font);
    const int lines = breakLines(
        text, width, [&metrics](const QString &piece) { return metrics.horizontalAdvance(piece); });
    return (metrics.height() + metrics.leading()) * lines;
}

QPoint horizontalStart(QSize label, QSize zone)
{
    return QPoint(zone.width() - label.width(), (zone.height() - label.height()) / 2);
}

int nextScrollX(int x, int step, int labelWidth, int zoneWidth)
{
    const int next = x - step;
    return next < -labelWidth ? zoneWidth : next;
}

int nextScrollY(int y, int step, int labelHeight, int zoneHeight)
{
    const int next = y - step;
    return next < -labelHeight ? zoneHeight : next;
}

QString labelStyle(const QString &color, const QString &background)
{
    return QStringLiteral("color:%1;background:%2")
        .arg(ContentRules::styleColor(color).left(7), ContentRules::styleColor(background).left(7));
}

} // namespace TextLayout
