#include "postintake.h"

#include "httpfaults.h"
#include "httpmessage.h"

#include <QDateTime>

namespace {

QByteArray jsonError(const QString &why)
{
    QByteArray text = why.toUtf8();
    text.replace('\\', "\\\\").replace('"', "\\\"");
    return "{\"code\":1,\"msg\":\"" + text + "\"}";
}

} // namespace

PostIntake::PostIntake(HttpFaults &faults, QObject *parent)
    : QObject(parent)
    , m_faults(faults)
{ }

void PostIntake::setReply(const QString &path, int status, const QByteArray &body)
{
    if (status == 0)
        m_replies.remove(path);
    else
        m_replies.insert(path, {status, body});
}

bool PostIntake::take(const HttpRequest &request, int &status, QByteArray &reply)
{
    const QString &path = request.path;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const bool statistics = path == QLatin1String("/mtllog/add");
    const auto override = m_replies.constFind(path);
    bool overridden = override != m_replies.constEnd();
    status = overridden ? override->first : 200;
    reply = overridden ? override->second
        : statistics   ? QByteArray("{\"status\":200}")
                       : QByteArray("{\"code\":0}");
    if (m_faults.takePostFailure(path)) {
        overridden = true;
        status = 500;
        reply = "{\"status\":500}";
    }
    if (path == QLatin1String("/logfile/upload"))
        takeUpload(request, now, overridden, status, reply);
    else if (statistics)
        takeStatistics(request, now, status, reply);
    else
        return false;
    return true;
}

void PostIntake::takeUpload(
    const HttpRequest &request, qint64 now, bool overridden, int &status, QByteArray &reply)
{
    LogUpload upload;
    upload.path = request.path;
    upload.timeMs = now;
    upload.contentType = request.header("content-type");
    upload.size = request.body.size();
    if (!upload.contentType.toLower().startsWith("multipart/form-data"))
        upload.error = QStringLiteral("not multipart/form-data");
    else
        Multipart::parse(
            request.body, Multipart::boundaryOf(upload.contentType), upload.parts, &upload.error);
    if (!upload.error.isEmpty() && !overridden) {
        status = 400;
        reply = jsonError(upload.error);
    }
    upload.status = status;
    m_uploads.append(upload);
    // The part reported is the first one that carries a file.
    Multipart::Part first;
    for (const Multipart::Part &part : upload.parts) {
        if (!part.fileName.isEmpty()) {
            first = part;
            break;
        }
    }
    if (first.fileName.isEmpty() && !upload.parts.isEmpty())
        first = upload.parts.first();
    if (upload.error.isEmpty())
        emit logLine(QStringLiteral("HTTP upload: %1 parts, %2=\"%3\" %4 bytes")
                         .arg(upload.parts.size())
                         .arg(first.name, first.fileName)
                         .arg(first.data.size()));
    else
        emit logLine(QStringLiteral("HTTP upload not readable: %1").arg(upload.error));
    emit uploadReceived(first.name, first.fileName, first.data.size());
}

void PostIntake::takeStatistics(
    const HttpRequest &request, qint64 now, int status, const QByteArray &reply)
{
    StatisticsPost post;
    post.path = request.path;
    post.timeMs = now;
    post.body = request.body;
    post.report = StatReport::parse(request.body);
    post.status = status;
    post.accepted
        = status == 200 && (reply.contains("\"status\":200") || reply.contains("\"code\":0"));
    m_statistics.append(post);
    emit logLine(QStringLiteral("HTTP statistics: %1, answered %2")
                     .arg(post.report.summary(), QString::number(status)));
    emit statisticsReceived(request.body);
}

QList<StatReport::Row> PostIntake::acceptedRows() const
{
    QList<StatReport::Row> rows;
    for (const StatisticsPost &post : m_statistics) {
        if (post.accepted)
            rows += post.report.rows;
    }
    return rows;
}

void PostIntake::clearHistory()
{
    m_uploads.clear();
    m_statistics.clear();
}
