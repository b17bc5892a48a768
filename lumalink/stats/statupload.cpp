#include "stats/statupload.h"

#include "md5.h"

#include <QJsonArray>

QString StatUpload::url(const QString &logUrl)
{
    return logUrl + QStringLiteral("/mtllog/add");
}

QJsonObject StatUpload::body(
    const QList<PlayStatRow> &batch, const QString &terminalId, qint64 random)
{
    QJsonArray logs;
    for (const PlayStatRow &log : batch) {
        // mtl_type stays at home: the server does not take it.
        logs.append(QJsonObject {{QStringLiteral("mtl"), log.mtl},
            {QStringLiteral("time_segment"), log.time_segment},
            {QStringLiteral("statis_time"), log.timestamp}, {QStringLiteral("total"), log.total},
            {QStringLiteral("len"), log.len}, {QStringLiteral("play_type"), log.play_type}});
    }
    const QString randomText = QString::number(random);
    return QJsonObject {{QStringLiteral("player"), terminalId},
        {QStringLiteral("random"), randomText},
        {QStringLiteral("content"), Md5::ofText(randomText + QString::fromLatin1(TERMINAL_SECRET))},
        {QStringLiteral("logs"), logs}};
}
