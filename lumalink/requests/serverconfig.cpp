#include "requests/serverconfig.h"

#include "dailylog.h"
#include "xmlguard.h"

#include <QDomDocument>

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

void readServerConfig(const QByteArray &xml, ServerConfig &config)
{
    QDomDocument doc;
    QString why;
    if (!XmlGuard::parse(xml, XmlGuard::Encoding::Declared, doc, &why)) {
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("TCP"),
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
