#include "requests/terminalreports.h"

#include "imagetools.h"
#include "requests/guithread.h"
#include "systemprobe.h"
#include "version.h"

#include <QBuffer>
#include <QDomDocument>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

namespace TerminalReports {

QByteArray environmentXml(QSize desktop, double volume, double cpuUsage)
{
    QDomDocument doc;
    doc.appendChild(doc.createProcessingInstruction(
        QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    QDomElement root = doc.createElement(QStringLiteral("root"));
    doc.appendChild(root);
    auto add = [&](const QString &tag) {
        QDomElement element = doc.createElement(tag);
        root.appendChild(element);
        return element;
    };
    QDomElement screen = add(QStringLiteral("screen"));
    screen.setAttribute(QStringLiteral("Width"), desktop.width());
    screen.setAttribute(QStringLiteral("Height"), desktop.height());
    add(QStringLiteral("brightness")).setAttribute(QStringLiteral("value"), QString::number(0.8));
    // "volumn" is how the server spells it.
    add(QStringLiteral("volumn")).setAttribute(QStringLiteral("value"), QString::number(volume));
    add(QStringLiteral("shutdowntime"))
        .setAttribute(QStringLiteral("value"), QStringLiteral("00:00:00"));
    add(QStringLiteral("powerontime"))
        .setAttribute(QStringLiteral("value"), QStringLiteral("00:00:00"));
    add(QStringLiteral("version")).setAttribute(QStringLiteral("value"), QStringLiteral(VERSION));
    add(QStringLiteral("screenOrientation"))
        .setAttribute(QStringLiteral("value"), desktop.height() > desktop.width() ? 1 : 0);
    QDomElement items = add(QStringLiteral("items"));
    QDomElement item = doc.createElement(QStringLiteral("item"));
    item.setAttribute(QStringLiteral("key"), QStringLiteral("CPU使用率"));
    item.setAttribute(QStringLiteral("value"), QString::number(cpuUsage, 'f', 2));
    items.appendChild(item);
    return doc.toString(1).toUtf8();
}

void environment(CommandRunner &runner, QByteArray &out, double volume)
{
    QSize desktop;
    callOnGuiThread<QSize>(
        [] {
            QRect area;
            const auto screens = QGuiApplication::screens();
            for (QScreen *screen : screens)
                area = area.united(screen->geometry());
            return area.size();
        },
        desktop);
    out += environmentXml(desktop, volume, SystemProbe::cpuUsage(runner));
}

QByteArray screenshotXml(const QImage &grab)
{
    const int w = static_cast<int>(grab.width() * 0.6);
    const int h = static_cast<int>(grab.height() * 0.6);
    const QImage small = ImageTools::compressed(grab, QSize(w, h), 184320);
    QByteArray bmp;
    QBuffer buffer(&bmp);
    buffer.open(QIODevice::WriteOnly);
    small.save(&buffer, "BMP");
    buffer.close();
    const QString gap(30, QLatin1Char(' '));
    const QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"GBK\"?>") + gap
        + QStringLiteral("<root>") + gap + QStringLiteral("<screenthumb>%1") + gap
        + QStringLiteral("</screenthumb>") + gap + QStringLiteral("</root>");
    return xml.arg(QString::fromLatin1(bmp.toBase64())).toUtf8();
}

void screenshot(QByteArray &out)
{
    QImage grab;
    callOnGuiThread<QImage>(
        [] {
            QScreen *screen = QGuiApplication::primaryScreen();
            return screen ? screen->grabWindow(0).toImage() : QImage();
        },
        grab);
    if (grab.isNull())
        return;
    out += screenshotXml(grab);
}

} // namespace TerminalReports
