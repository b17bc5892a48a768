// Control commands about the HTTP server: its faults, its answers to POSTs,
// the folder it serves, what it was asked and sent, and its weather server.

#include "controlcommands.h"
#include "httpfileserver.h"
#include "signageserver.h"

#include <QDateTime>

namespace ControlCommands {

namespace {

QString clock(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz"));
}

Reply weatherListing(const WeatherService &service)
{
    QStringList lines;
    for (const WeatherService::City &c : service.cities())
        lines << QStringLiteral("city %1 %2 %3 %4")
                     .arg(c.name)
                     .arg(c.wsId)
                     .arg(c.temperature, c.wind);
    lines << service.faults();
    const QList<WeatherService::Asked> asked = service.asked();
    for (int i = qMax(0, asked.size() - 10); i < asked.size(); ++i)
        lines << QStringLiteral("asked %1 \"%2\" %3 %4")
                     .arg(clock(asked[i].timeMs), asked[i].city)
                     .arg(asked[i].status)
                     .arg(asked[i].outcome);
    return joined(lines, ok());
}

Reply weatherCity(WeatherService &service, const QStringList &args)
{
    bool valid = false;
    WeatherService::City city;
    city.name = args.value(1);
    city.wsId = args.value(2).toInt(&valid);
    if (args.size() < 4 || args.size() > 5 || !valid)
        return error(QStringLiteral("usage: weather city NAME CODE TEMP [WIND]"));
    if (const auto known = service.city(city.name))
        city = *known;
    city.wsId = args[2].toInt();
    city.wsId2 = city.wsId;
    city.temperature = args[3];
    if (args.size() == 5)
        city.wind = args[4];
    service.setCity(city);
    return ok();
}

} // namespace

Reply corruptOrFail(Context &c, const QStringList &args)
{
    bool valid = true;
    const int times = args.size() > 2 ? args[2].toInt(&valid) : 1;
    if (args.size() < 2 || args.size() > 3 || !valid || times < 0)
        return std::nullopt;
    if (args[0].toLower() == QLatin1String("corrupt"))
        c.server->http()->corrupt(args[1], times);
    else
        c.server->http()->fail(args[1], times);
    return ok();
}

Reply stall(Context &c, const QStringList &args)
{
    if (args.size() != 2)
        return std::nullopt;
    c.server->http()->stall(args[1]);
    return ok();
}

Reply unstall(Context &c, const QStringList &args)
{
    if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && args[2] != QLatin1String("cut")))
        return std::nullopt;
    c.server->http()->unstall(args[1], args.size() == 2);
    return ok();
}

Reply delay(Context &c, const QStringList &args)
{
    bool valid = false;
    const int ms = args.value(1).toInt(&valid);
    if (args.size() != 2 || !valid || ms < 0)
        return std::nullopt;
    c.server->http()->setDelay(ms);
    return ok();
}

Reply faults(Context &c, const QStringList &args)
{
    if (args.size() == 2 && args[1] == QLatin1String("clear")) {
        c.server->http()->clearFaults();
        return ok();
    }
    if (args.size() != 1)
        return std::nullopt;
    return joined(c.server->http()->faults(), ok());
}

Reply postReply(Context &c, const QStringList &args)
{
    bool valid = args.size() == 2;
    const int status = args.size() > 2 ? args[2].toInt(&valid) : 0;
    if (!valid || status < 0 || status > 999)
        return std::nullopt;
    c.server->http()->setPostReply(args[1], status, args.mid(3).join(QLatin1Char(' ')).toUtf8());
    return ok();
}

Reply postFail(Context &c, const QStringList &args)
{
    bool countValid = false;
    bool afterValid = true;
    const int count = args.value(2).toInt(&countValid);
    const int after = args.size() == 4 ? args[3].toInt(&afterValid) : 0;
    if ((args.size() != 3 && args.size() != 4) || !countValid || !afterValid || count < 0
        || after < 0)
        return std::nullopt;
    c.server->http()->failPosts(args[1], count, after);
    return ok();
}

Reply files(Context &c, const QStringList &args)
{
    if (args.size() > 2)
        return std::nullopt;
    c.server->setFilesDir(args.value(1));
    return QStringLiteral("ok files %1").arg(c.server->filesDir());
}

Reply requests(Context &c, const QStringList &args)
{
    bool valid = true;
    const int count = args.size() > 1 ? args[1].toInt(&valid) : 10;
    if (!valid || count < 0)
        return std::nullopt;
    const QList<HttpFileServer::Request> all = c.server->http()->requests();
    QStringList lines;
    for (int i = qMax(0, all.size() - count); i < all.size(); ++i) {
        const HttpFileServer::Request &r = all.at(i);
        lines << QStringLiteral("%1 conn=%2 %3 %4 %5 sent=%6/%7")
                     .arg(clock(r.timeMs), QString::number(r.connection), r.method, r.target,
                         QString::number(r.status), QString::number(r.bytesSent),
                         QString::number(r.contentLength))
                + (r.complete ? QString() : QStringLiteral(" incomplete"));
    }
    return joined(lines, ok());
}

Reply uploads(Context &c, const QStringList &)
{
    const HttpFileServer *http = c.server->http();
    QStringList lines;
    for (const HttpFileServer::Upload &upload : http->uploads()) {
        QString line = QStringLiteral("%1 %2 status=%3 bytes=%4")
                           .arg(clock(upload.timeMs), upload.path, QString::number(upload.status),
                               QString::number(upload.size));
        for (const HttpFileServer::Part &part : upload.parts)
            line += QStringLiteral(" %1=\"%2\"(%3)")
                        .arg(part.name, part.fileName, QString::number(part.data.size()));
        if (!upload.error.isEmpty())
            line += QStringLiteral(" error: ") + upload.error;
        lines << line;
    }
    int rows = 0;
    for (const HttpFileServer::Post &post : http->statistics()) {
        lines << QStringLiteral("%1 %2 status=%3 %4")
                     .arg(clock(post.timeMs), post.path, QString::number(post.status),
                         post.report.summary());
        rows += post.accepted ? post.report.rows.size() : 0;
    }
    if (!http->statistics().isEmpty())
        lines << QStringLiteral("statistics rows accepted=%1").arg(rows);
    return joined(lines, ok());
}

Reply statRows(Context &c, const QStringList &)
{
    // Tab-separated, so a name holding blanks stays one field.
    QStringList lines;
    for (const StatReport::Row &row : c.server->http()->acceptedStatisticsRows())
        lines << QStringLiteral("row\t%1\t%2\t%3\t%4\t%5")
                     .arg(row.mtl, row.timeSegment, QString::number(row.playType),
                         QString::number(row.total), QString::number(row.len));
    return joined(lines, QStringLiteral("ok %1 rows").arg(lines.size()));
}

Reply weather(Context &c, const QStringList &args)
{
    WeatherService &service = c.server->http()->weather();
    const QString sub = args.value(1).toLower();
    if (args.size() == 1)
        return weatherListing(service);
    if (sub == QLatin1String("slow")) {
        bool valid = false;
        const int ms = args.value(2).toInt(&valid);
        if (args.size() != 3 || !valid || ms < 0)
            return error(QStringLiteral("usage: weather slow MS"));
        service.setSlow(ms);
        return ok();
    }
    if (sub == QLatin1String("fail") || sub == QLatin1String("bad")) {
        bool valid = true;
        int times = 1;
        if (args.value(2) == QLatin1String("all"))
            times = -1;
        else if (args.size() > 2)
            times = args[2].toInt(&valid);
        if (args.size() > 3 || !valid || times < -1)
            return error(QStringLiteral("usage: weather %1 [N|all]").arg(sub));
        if (sub == QLatin1String("fail"))
            service.fail(times);
        else
            service.garble(times);
        return ok();
    }
    if (sub == QLatin1String("clear") && args.size() == 2) {
        service.clearFaults();
        return ok();
    }
    if (sub == QLatin1String("city"))
        return weatherCity(service, args.mid(1));
    return std::nullopt;
}

} // namespace ControlCommands
