#include "net/httpclient.h"

#include "notifyprotocol.h"

#include <QEventLoop>
#include <QFile>
#include <QHttpMultiPart>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>

namespace {
QString replyText(QNetworkReply *reply)
{
    QByteArray bytes = reply->readAll();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return QString::fromUtf8(bytes);
}

// Waits for the reply. With idleLimit the limit restarts on every bit of
// upload or download progress; otherwise it bounds the whole exchange.
QString waitForReply(QNetworkReply *reply, bool idleLimit)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // A reply that keeps coming past any answer the server gives is cut off.
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received) {
        if (received > HttpClient::MAX_REPLY_BYTES)
            reply->abort();
    });
    if (idleLimit) {
        auto restart = [&timer] { timer.start(HttpClient::REPLY_TIMEOUT_MS); };
        QObject::connect(reply, &QNetworkReply::uploadProgress, &timer, restart);
        QObject::connect(reply, &QNetworkReply::downloadProgress, &timer, restart);
    }
    timer.start(HttpClient::REPLY_TIMEOUT_MS);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    timer.stop();
    // A reply cut off by the limit is a failure, not the part that arrived.
    if (!reply->isFinished() || reply->error() != QNetworkReply::NoError)
        return QString();
    return replyText(reply);
}
} // namespace

QString HttpClient::post(const QString &url, const QString &contentType, const QByteArray &body)
{
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
        contentType.isEmpty() ? QStringLiteral("application/x-www-form-urlencoded") : contentType);
    QNetworkReply *reply = manager.post(request, body);
    return waitForReply(reply, false);
}

QString HttpClient::post(const QString &url, const QJsonObject &object)
{
    return post(url, QStringLiteral("application/json"),
        QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString HttpClient::postFile(const QString &url, const QString &name, const QString &filePath)
{
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    const QString fileName = filePath.mid(filePath.lastIndexOf(QLatin1Char('/')) + 1);

    auto *multiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("multipart/form-data"));
    part.setHeader(QNetworkRequest::ContentDispositionHeader,
        QStringLiteral("form-data; name=\"%1\";filename=\"%2\";").arg(name, fileName));
    auto *file = new QFile(filePath, multiPart);
    file->open(QIODevice::ReadOnly); // an unreadable file still sends an empty part
    part.setBodyDevice(file);
    multiPart->append(part);

    QNetworkReply *reply = manager.post(request, multiPart);
    multiPart->setParent(reply);
    return waitForReply(reply, true);
}

bool HttpClient::succeedPostResult(const QString &reply)
{
    return NotifyProtocol::isAccepted(reply);
}
