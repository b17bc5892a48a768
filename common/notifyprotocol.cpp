#include "notifyprotocol.h"

#include "clock.h"
#include "clocktext.h"
#include "md5.h"
#include "texttools.h"
#include "version.h"

#include <QJsonObject>
#include <QTcpSocket>
#include <QUrl>

QString NotifyProtocol::signature(qint64 timestamp)
{
    return Md5::ofText(QStringLiteral(SECRET_KEY) + QString::number(timestamp));
}

QString NotifyProtocol::buildUrl(
    quint16 port, const QString &cmd, const QString &param, qint64 timestamp)
{
    return QStringLiteral("http://localhost:%1/notify?cmd=%2&param=%3&timestamp=%4&signature=%5")
        .arg(port)
        .arg(cmd, QString::fromLatin1(QUrl::toPercentEncoding(param)), QString::number(timestamp),
            signature(timestamp));
}

QString NotifyProtocol::buildUrl(quint16 port, const QString &cmd, const QString &param)
{
    return buildUrl(port, cmd, param, Clock::nowMs());
}

QString NotifyProtocol::decodeStatement(const QString &param)
{
    if (param.indexOf(QLatin1String("%20")) <= 0)
        return param;
    QByteArray bytes = QByteArray::fromPercentEncoding(param.toUtf8());
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return QString::fromUtf8(bytes);
}

int NotifyProtocol::answerCode(const QString &reply)
{
    const QJsonObject object = TextTools::jsonObject(reply);
    const QJsonValue code = object.value(QStringLiteral("code"));
    return code.isDouble() ? code.toInt() : -1;
}

bool NotifyProtocol::isAccepted(const QString &reply)
{
    if (reply.isEmpty())
        return false;
    const QJsonObject object = TextTools::jsonObject(reply);
    if (object.contains(QStringLiteral("status")))
        return object.value(QStringLiteral("status")).toInt() == 200;
    if (object.contains(QStringLiteral("code")))
        return object.value(QStringLiteral("code")).toInt() == 0;
    return false;
}

bool NotifyProtocol::parseRequest(
    const QString &request, QString &cmd, QString &param, bool trimValues)
{
    const int q = request.indexOf(QLatin1Char('?'));
    const int h = request.indexOf(QLatin1String("HTTP/"));
    if (!(q > 0 && q < h))
        return false;
    const QStringList pieces = request.mid(q + 1, h - q - 1).split(QLatin1Char('&'));
    for (const QString &piece : pieces) {
        if (piece.startsWith(QLatin1String("cmd=")))
            cmd = piece.mid(4);
        else if (piece.startsWith(QLatin1String("param=")))
            param = piece.mid(6);
    }
    if (trimValues) {
        cmd = cmd.trimmed();
        param = param.trimmed();
    }
    return !cmd.isEmpty();
}

QByteArray NotifyProtocol::answerBytes(int code)
{
    const bool ok = code == 200 || code == 0;
    const QString body
        = ok ? QStringLiteral("{\"code\":0}") : QStringLiteral("{\"code\":%1}").arg(code);
    // Refused (403) and too large (413) keep their own status; every other
    // failure is a 400.
    const int status = ok ? 200 : (code == 403 || code == 413 ? code : 400);
    return QStringLiteral("HTTP/1.1 %1\r\nContent-Type: application/json;charset=utf-8\r\n"
                          "Content-Language: zh-CN\r\nContent-Length: %2\r\nDate: %3\r\n"
                          "Connection: close\r\n\r\n%4")
        .arg(status)
        .arg(body.size())
        .arg(ClockText::httpDate(), body)
        .toUtf8();
}

void NotifyProtocol::sendAnswer(QTcpSocket *socket, int code)
{
    if (!socket)
        return;
    socket->write(answerBytes(code));
    socket->flush();
}
