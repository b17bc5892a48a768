#include "notifyclient.h"

#include "notifyprotocol.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

QString NotifyClient::post(const QString &url, int timeoutMs)
{
    // One manager per call: callers run on different threads and a manager
    // belongs to the thread that made it.
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request {QUrl(url)};
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    QNetworkReply *reply = manager.post(request, QByteArray());

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    QString body;
    if (reply->isFinished() && reply->error() == QNetworkReply::NoError)
        body = QString::fromUtf8(reply->readAll());
    else
        reply->abort();
    delete reply;
    return body;
}

QString NotifyClient::notify(quint16 port, const QString &cmd, const QString &param, int timeoutMs)
{
    return post(NotifyProtocol::buildUrl(port, cmd, param), timeoutMs);
}
