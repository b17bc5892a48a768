#include "formats/zonegeometry.h"

#include <QRegularExpression>
#include <QtMath>

namespace ZoneGeometry {

QRect areaRect(const ContentXml::TP_AREA &area, QSize templateSize, QSize screen, int xOffset)
{
    const double hs
        = templateSize.width() > 0 ? double(screen.width()) / templateSize.width() : 1.0;
    const double vs
        = templateSize.height() > 0 ? double(screen.height()) / templateSize.height() : 1.0;
    return QRect(qRound(area.Left * hs) + xOffset, qRound(area.Top * vs), qRound(area.Width * vs),
        qRound(area.Height * vs));
}

int stackingKey(const ContentXml::TP_AREA &area, int index)
{
    return area.Zindex * 100 + index;
}

QRect pdfFit(QSize zone, QSize page)
{
    const int W = zone.width();
    const int H = zone.height();
    const int w = page.width();
    const int h = page.height();
    if (w <= 0 || h <= 0 || W <= 0 || H <= 0)
        return QRect(0, 0, W, H);
    if (double(w) / h > double(W) / H) {
        const int fitted = int(double(h) * W / w);
        return QRect(0, (H - fitted) / 2, W, fitted);
    }
    const int fitted = int(double(w) * H / h);
    return QRect((W - fitted) / 2, 0, fitted, H);
}

int swipeDirection(QPoint press, QPoint release, int zoneHeight)
{
    if (qAbs(press.y() - release.y()) >= zoneHeight / 5)
        return 0;
    const int dx = release.x() - press.x();
    if (dx < -50)
        return 1;
    if (dx > 50)
        return -1;
    return 0;
}

QString webAddress(const QString &url)
{
    // A scheme is letters, digits, "+", "-" or "." after a letter, then "://"
    // (file://, https://); "host:8080/x" has none.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return scheme.match(url).hasMatch() ? url : QStringLiteral("http://") + url;
}

} // namespace ZoneGeometry
