#include "commandrunner.h"
#include "link/builddata.h"
#include "miscfunc.h"
#include "net/httpclient.h"
#include "requests/guithread.h"
#include "requests/processdata.h"
#include "settings/servicesettings.h"
#include "version.h"
#include "xmlguard.h"

#include <QBuffer>
#include <QDomDocument>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

namespace PROCESSDATA {

int verifyPackage(QByteArray &frame)
{
    const unsigned int length = MiscFunc::getLowerInt(frame, 0);
    if (length < static_cast<unsigned int>(BuildData::HEADER_SIZE)
        || static_cast<unsigned int>(frame.size()) < length)
        return -1;
    if (static_cast<unsigned int>(frame.size()) > length)
        frame.truncate(static_cast<int>(length));
    const int count = MiscFunc::getLowerShort(frame, 12);
    frame.remove(0, BuildData::HEADER_SIZE);
    return count;
}

namespace {
QDomElement firstChildElement(const QDomElement &parent, const QString &tag)
{
    for (QDomNode node = parent.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement element = node.toElement();
        if (!element.isNull() && element.tagName() == tag)
            return element;
    }
    return QDomElement();
}

qint32 toInt(const QString &text)
{
    bool ok = false;
    const qint32 value = text.trimmed().toInt(&ok);
    return ok ? value : 0;
}

void readHostPair(const QDomElement &element, QString &host, qint32 &port)
{
    for (QDomElement child = element.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        if (child.tagName() == QLatin1String("serverip"))
            host = child.text();
        else if (child.tagName() == QLatin1String("serverport"))
            port = toInt(child.text());
    }
}
} // namespace

void processConfig(const QByteArray &xml, SERVER_CONFIG &config)
{
    QDomDocument doc;
    QString why;
    if (!XmlGuard::parse(xml, XmlGuard::Encoding::Declared, doc, &why)) {
        MiscFunc::writeLog(QStringLiteral("WARN"), QStringLiteral("TCP"),
            QStringLiteral("Configuration from the server not taken: ") + why);
        return;
    }
    const QDomElement root = doc.documentElement();
    if (root.tagName() != QLatin1String("config"))
        return;
    const QDomElement server = firstChildElement(
        firstChildElement(root, QStringLiteral("ftp")), QStringLiteral("server"));
    config.serverIp = server.attribute(QStringLiteral("ip"));
    config.serverPort = toInt(server.attribute(QStringLiteral("port")));
    for (QDomElement child = server.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        if (tag == QLatin1String("ip")) {
            config.ip = child.text();
        } else if (tag == QLatin1String("port")) {
            config.port = toInt(child.text());
        } else if (tag == QLatin1String("RTDA")) {
            config.rtdaHost = child.attribute(QStringLiteral("HttpServer"));
            config.rtdaPort = toInt(child.attribute(QStringLiteral("HttpPort")));
        } else if (tag == QLatin1String("HTTP")) {
            readHostPair(child, config.httpIp, config.httpPort);
        } else if (tag == QLatin1String("LOG")) {
            readHostPair(child, config.logIp, config.logPort);
        }
    }
}

QString sysTimeArgument(quint64 secondsSinceEpoch)
{
    const QDateTime local
        = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(secondsSinceEpoch * 1000));
    return local.toString(QStringLiteral("MMddHHmmyyyy.ss"));
}

QDateTime earliestServerTime()
{
    return QDateTime(
        QDate::fromString(QStringLiteral(LUMA_BUILD_DATE), Qt::ISODate), QTime(0, 0), Qt::UTC);
}

bool changeSysTime(const QByteArray &body)
{
    return changeSysTime(body, gSudoPassword);
}

bool changeSysTime(const QByteArray &body, const QString &password)
{
    const quint64 seconds = MiscFunc::getLowerLong(body, 0);
    const qint64 latest = QDateTime(QDate(9999, 12, 31), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    if (seconds < quint64(earliestServerTime().toSecsSinceEpoch()) || seconds > quint64(latest)) {
        MiscFunc::writeLog(QStringLiteral("WARN"), QStringLiteral("TIME_REFUSED"),
            QStringLiteral("Server time %1 is before this program was built (%2) or past any "
                           "clock: the clock is left as it is")
                .arg(seconds)
                .arg(QStringLiteral(LUMA_BUILD_DATE)));
        return false;
    }
    const QString when = sysTimeArgument(seconds);
    // The password goes to sudo on standard input, never through a shell, so
    // no character of it can change the command.
    auto runner = CommandRunner::instance();
    runner->runSudo(password, {QStringLiteral("date"), when});
    runner->runSudo(password, {QStringLiteral("hwclock"), QStringLiteral("--systohc")});
    return true;
}

void restartPlayer()
{
    HttpClient::notifyPlayerAsync(QStringLiteral("EXIT"), QString());
}

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

void getEnvironmentInfo(QByteArray &out, double volume)
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
    out += environmentXml(desktop, volume, MiscFunc::getCpuUsage());
}

QByteArray screenPrintXml(const QImage &grab)
{
    const int w = static_cast<int>(grab.width() * 0.6);
    const int h = static_cast<int>(grab.height() * 0.6);
    const QImage small = MiscFunc::compressImage(grab, QSize(w, h), 184320);
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

void getScreenPrint(QByteArray &out)
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
    out += screenPrintXml(grab);
}

} // namespace PROCESSDATA
