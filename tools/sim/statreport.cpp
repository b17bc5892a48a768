#include "statreport.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

StatReport StatReport::parse(const QByteArray &body)
{
    StatReport report;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
    if (!doc.isObject()) {
        report.error = parseError.error == QJsonParseError::NoError
            ? QStringLiteral("not a JSON object")
            : parseError.errorString();
        return report;
    }
    const QJsonObject object = doc.object();
    for (const char *key : {"content", "logs", "player", "random"}) {
        if (!object.contains(QLatin1String(key))) {
            report.error = QStringLiteral("no \"%1\"").arg(QLatin1String(key));
            return report;
        }
    }
    report.json = true;
    report.compact = doc.toJson(QJsonDocument::Compact) == body;
    report.player = object.value(QStringLiteral("player")).toString();
    report.random = object.value(QStringLiteral("random")).toString();
    const QByteArray expected = QCryptographicHash::hash(
        (report.random + QLatin1String(TERMINAL_SECRET)).toUtf8(), QCryptographicHash::Md5)
                                    .toHex();
    report.signatureOk = !report.random.isEmpty()
        && object.value(QStringLiteral("content")).toString().toLatin1() == expected;
    const QJsonArray logs = object.value(QStringLiteral("logs")).toArray();
    for (const QJsonValue &value : logs) {
        const QJsonObject log = value.toObject();
        Row row;
        row.mtl = log.value(QStringLiteral("mtl")).toString();
        row.timeSegment = log.value(QStringLiteral("time_segment")).toString();
        row.statisTime = log.value(QStringLiteral("statis_time")).toString();
        row.playType = log.value(QStringLiteral("play_type")).toInt();
        row.total = log.value(QStringLiteral("total")).toInt();
        row.len = log.value(QStringLiteral("len")).toInt();
        report.rows.append(row);
    }
    if (!report.signatureOk)
        report.error = QStringLiteral("bad signature");
    return report;
}

QString StatReport::summary() const
{
    if (!json)
        return QStringLiteral("not readable: ") + error;
    return QStringLiteral("player=%1 rows=%2 %3 %4")
        .arg(player)
        .arg(rows.size())
        .arg(signatureOk ? QStringLiteral("signed") : QStringLiteral("BAD-SIGNATURE"),
            compact ? QStringLiteral("compact") : QStringLiteral("NOT-COMPACT"));
}
