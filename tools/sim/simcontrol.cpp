#include "simcontrol.h"

#include "httpfileserver.h"
#include "signageserver.h"

#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <unistd.h>

using namespace SimWire;

namespace {

bool toU16(const QString &text, quint16 &value)
{
    bool ok = false;
    const uint number = text.toUInt(&ok);
    if (!ok || number > 0xFFFF)
        return false;
    value = quint16(number);
    return true;
}

QString error(const QString &why)
{
    return QStringLiteral("error: ") + why;
}

QByteArray readWholeFile(const QString &path, bool &ok)
{
    QFile file(path);
    ok = file.open(QIODevice::ReadOnly);
    return ok ? file.readAll() : QByteArray();
}

} // namespace

SimControl::SimControl(SignageServer *server, QObject *parent)
    : QObject(parent)
    , m_server(server)
    , m_hostile(server)
{ }

SimControl::~SimControl() = default;

QString SimControl::helpText()
{
    return QStringLiteral(
               "push P C [ARG...]     send frame P/C to the terminal; known requests take:\n"
               "  push 278 9|13|17 [ECHO]      environment / screenshot / download report request\n"
               "  push 278 201|202 [ECHO]      today's logs / all logs request\n"
               "  push 278 12|102 VOLUME       set volume (VOLUME is the fourth parameter)\n"
               "  push 278 1005 N              set clear type\n"
               "  push 278 1|3|19|103          shut down / reboot / restart player / ignored\n"
               "  push 278 2 FILE              shutdown schedule (file content is parameter 6)\n"
               "  push 276 94                  schedule changed\n"
               "  push 276 280 FILE            power on/off schedule\n"
               "  any other P C: each ARG is sent as one text parameter\n"
               "pushtwo P1 C1 P2 C2   two frames without parameters in one write\n"
               "raw HEX               send bytes as they are\n"
               "heartbeat             send 00 00 00 00\n"
               "handshake             send the server's inner handshake again\n"
               "disconnect            drop the terminal's connection\n"
               "auth N[,N...]         results of the next authorization requests (4 5 6 7)\n"
               "advertise IP PORT     server address announced in the configuration\n"
               "advertise             announce the listening address again\n"
               "time SECS|now         server time reported\n"
               "mute P C / unmute P C stop / resume answering request P/C\n"
               "content DIR           content folder\n"
               "check                 look for missing or inconsistent content\n"
               "status                connection, terminal and counters\n"
               "frames [N]            the last N frames received (default 10)\n"
               "reports               answers received to 278 requests\n"
               "screenshot FILE       save the picture of the last 278/13 answer\n"
               "HTTP server (NAME is a file name or a path ending in one):\n"
               "  corrupt NAME [N]     next N downloads of NAME get one byte inverted (default 1)\n"
               "  fail NAME [N]        next N requests for NAME get 500 (default 1)\n"
               "  stall NAME           downloads of NAME stop halfway and hold the connection\n"
               "  unstall NAME [cut]   complete the held downloads (cut: close their connections)\n"
               "  delay MS             wait MS before every answer (0: none)\n"
               "  faults [clear]       faults in force / remove them all\n"
               "  postreply PATH STATUS [BODY]  answer POSTs to PATH so; postreply PATH restores\n"
               "  postfail PATH N [AFTER]      after AFTER more POSTs to PATH, fail the next N "
               "(500)\n"
               "  files [DIR]          folder served (without DIR: the content's files/)\n"
               "  requests [N]         the last N HTTP requests (default 10)\n"
               "  uploads              log uploads and statistics received\n"
               "  statrows             every statistics row accepted, one a line\n"
               "Weather server (POST /getweather):\n"
               "  weather              the cities, the faults in force and the cities asked\n"
               "  weather slow MS      answers wait MS milliseconds (0: none)\n"
               "  weather fail [N|all] the next N requests get 500 (default 1)\n"
               "  weather bad [N|all]  the next N get a page that is no weather report\n"
               "  weather clear        end the weather faults\n"
               "  weather city NAME CODE TEMP [WIND]  add or change a city (CODE: 1xx weather "
               "code)\n"
               "A server that means harm (what a mode changes stays until \"hostile off\"):\n")
        + HostileMode::helpText() + QStringLiteral("\nquit                  stop the simulator");
}

QList<quint32> SimControl::parseAuthList(const QString &text)
{
    QList<quint32> results;
    const QStringList items = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &item : items) {
        bool ok = false;
        const uint value = item.trimmed().toUInt(&ok);
        if (!ok)
            return {};
        results.append(value);
    }
    return results;
}

QString SimControl::sent(const QByteArray &bytes) const
{
    if (bytes.isEmpty())
        return error(QStringLiteral("nothing sent, no terminal connected"));
    return QStringLiteral("ok sent %1 bytes").arg(bytes.size());
}

QString SimControl::execute(const QString &line)
{
    const QStringList args = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (args.isEmpty())
        return error(QStringLiteral("empty command"));
    const QString cmd = args.first().toLower();

    if (cmd == QLatin1String("help"))
        return helpText() + QStringLiteral("\nok");
    if (cmd == QLatin1String("push"))
        return push(args.mid(1));
    if (cmd == QLatin1String("pushtwo")) {
        quint16 p1 = 0, c1 = 0, p2 = 0, c2 = 0;
        if (args.size() != 5 || !toU16(args[1], p1) || !toU16(args[2], c1) || !toU16(args[3], p2)
            || !toU16(args[4], c2))
            return error(QStringLiteral("usage: pushtwo P1 C1 P2 C2"));
        return sent(
            m_server->pushFrames({m_server->buildFrame(p1, c1), m_server->buildFrame(p2, c2)}));
    }
    if (cmd == QLatin1String("raw")) {
        const QByteArray bytes = QByteArray::fromHex(args.mid(1).join(QString()).toLatin1());
        if (bytes.isEmpty())
            return error(QStringLiteral("usage: raw HEX"));
        return sent(m_server->sendRaw(bytes));
    }
    if (cmd == QLatin1String("heartbeat"))
        return sent(m_server->sendHeartbeat());
    if (cmd == QLatin1String("handshake"))
        return sent(m_server->sendHandshake());
    if (cmd == QLatin1String("disconnect")) {
        if (!m_server->isConnected())
            return error(QStringLiteral("no terminal connected"));
        m_server->disconnectTerminal();
        return QStringLiteral("ok");
    }
    if (cmd == QLatin1String("auth")) {
        const QList<quint32> results = parseAuthList(args.mid(1).join(QLatin1Char(',')));
        if (results.isEmpty())
            return error(QStringLiteral("usage: auth N[,N...]"));
        m_server->setAuthResults(results);
        return QStringLiteral("ok");
    }
    if (cmd == QLatin1String("advertise")) {
        quint16 port = 0;
        if (args.size() == 1) {
            m_server->setAdvertisedServer(QString(), 0);
            return QStringLiteral("ok");
        }
        if (args.size() != 3 || !toU16(args[2], port))
            return error(QStringLiteral("usage: advertise IP PORT"));
        m_server->setAdvertisedServer(args[1], port);
        return QStringLiteral("ok");
    }
    if (cmd == QLatin1String("time")) {
        if (args.size() == 2 && args[1] == QLatin1String("now")) {
            m_server->setServerTime(-1);
            return QStringLiteral("ok");
        }
        bool ok = false;
        const qint64 secs = args.value(1).toLongLong(&ok);
        if (args.size() != 2 || !ok || secs < 0)
            return error(QStringLiteral("usage: time SECS|now"));
        m_server->setServerTime(secs);
        return QStringLiteral("ok");
    }
    if (cmd == QLatin1String("mute") || cmd == QLatin1String("unmute")) {
        quint16 protocol = 0, command = 0;
        if (args.size() != 3 || !toU16(args[1], protocol) || !toU16(args[2], command))
            return error(QStringLiteral("usage: %1 P C").arg(cmd));
        m_server->setMuted(protocol, command, cmd == QLatin1String("mute"));
        return QStringLiteral("ok");
    }
    if (cmd == QLatin1String("content")) {
        if (args.size() != 2)
            return error(QStringLiteral("usage: content DIR"));
        m_server->setContentDir(args[1]);
        return QStringLiteral("ok");
    }
    if (cmd == QLatin1String("status"))
        return status();
    if (cmd == QLatin1String("frames")) {
        bool ok = true;
        const int count = args.size() > 1 ? args[1].toInt(&ok) : 10;
        if (!ok || count < 0)
            return error(QStringLiteral("usage: frames [N]"));
        return frames(count);
    }
    if (cmd == QLatin1String("reports"))
        return reports();
    if (cmd == QLatin1String("screenshot")) {
        if (args.size() != 2)
            return error(QStringLiteral("usage: screenshot FILE"));
        return saveScreenshot(args[1]);
    }
    if (cmd == QLatin1String("corrupt") || cmd == QLatin1String("fail")) {
        bool ok = true;
        const int times = args.size() > 2 ? args[2].toInt(&ok) : 1;
        if (args.size() < 2 || args.size() > 3 || !ok || times < 0)
            return error(QStringLiteral("usage: %1 NAME [N]").arg(cmd));
        if (cmd == QLatin1String("corrupt"))
            m_server->http()->corrupt(args[1], times);
        else
            m_server->http()->fail(args[1], times);
        return QStringLiteral("ok");
    }
    if (cmd == QLatin1String("stall")) {
        if (args.size() != 2)
            return error(QStringLiteral("usage: stall NAME"));
        m_server->http()->stall(args[1]);
        return QStringLiteral("ok");
    }
    if (cmd == QLatin1String("unstall")) {
        if (args.size() < 2 || args.size() > 3
            || (args.size() == 3 && args[2] != QLatin1String("cut")))
            return error(QStringLiteral("usage: unstall NAME [cut]"));
        m_server->http()->unstall(args[1], args.size() == 2);
        return QStringLiteral("ok");
    }
    if (cmd == QLatin1String("delay")) {
        bool ok = false;
        const int ms = args.value(1).toInt(&ok);
        if (args.size() != 2 || !ok || ms < 0)
            return error(QStringLiteral("usage: delay MS"));
        m_server->http()->setDelay(ms);
        return QStringLiteral("ok");
    }
    if (cmd == QLatin1String("faults")) {
        if (args.size() == 2 && args[1] == QLatin1String("clear")) {
            m_server->http()->clearFaults();
            return QStringLiteral("ok");
        }
        if (args.size() != 1)
            return error(QStringLiteral("usage: faults [clear]"));
        return (m_server->http()->faults() << QStringLiteral("ok")).join(QLatin1Char('\n'));
    }
    if (cmd == QLatin1String("postreply")) {
        bool ok = args.size() == 2;
        const int status = args.size() > 2 ? args[2].toInt(&ok) : 0;
        if (!ok || status < 0 || status > 999)
            return error(QStringLiteral("usage: postreply PATH [STATUS [BODY]]"));
        m_server->http()->setPostReply(
            args[1], status, args.mid(3).join(QLatin1Char(' ')).toUtf8());
        return QStringLiteral("ok");
    }
    if (cmd == QLatin1String("postfail")) {
        bool countOk = false;
        bool afterOk = true;
        const int count = args.value(2).toInt(&countOk);
        const int after = args.size() == 4 ? args[3].toInt(&afterOk) : 0;
        if ((args.size() != 3 && args.size() != 4) || !countOk || !afterOk || count < 0
            || after < 0)
            return error(QStringLiteral("usage: postfail PATH N [AFTER]"));
        m_server->http()->failPosts(args[1], count, after);
        return QStringLiteral("ok");
    }
    if (cmd == QLatin1String("files")) {
        if (args.size() > 2)
            return error(QStringLiteral("usage: files [DIR]"));
        m_server->setFilesDir(args.value(1));
        return QStringLiteral("ok files %1").arg(m_server->filesDir());
    }
    if (cmd == QLatin1String("requests")) {
        bool ok = true;
        const int count = args.size() > 1 ? args[1].toInt(&ok) : 10;
        if (!ok || count < 0)
            return error(QStringLiteral("usage: requests [N]"));
        return requests(count);
    }
    if (cmd == QLatin1String("uploads"))
        return uploads();
    if (cmd == QLatin1String("statrows"))
        return statRows();
    if (cmd == QLatin1String("weather"))
        return weather(args.mid(1));
    if (cmd == QLatin1String("hostile"))
        return m_hostile.execute(args.mid(1));
    if (cmd == QLatin1String("check")) {
        QStringList lines = m_server->checkContent();
        lines << (lines.isEmpty() ? QStringLiteral("ok content complete")
                                  : QStringLiteral("error: %1 problems").arg(lines.size()));
        return lines.join(QLatin1Char('\n'));
    }
    if (cmd == QLatin1String("quit") || cmd == QLatin1String("exit")) {
        emit quitRequested();
        return QStringLiteral("ok");
    }
    return error(QStringLiteral("unknown command %1 (try help)").arg(args.first()));
}

QString SimControl::weather(const QStringList &args)
{
    WeatherService &service = m_server->http()->weather();
    const QString sub = args.value(0).toLower();
    if (args.isEmpty()) {
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
                         .arg(QDateTime::fromMSecsSinceEpoch(asked[i].timeMs)
                                  .toString(QStringLiteral("HH:mm:ss.zzz")),
                             asked[i].city)
                         .arg(asked[i].status)
                         .arg(asked[i].outcome);
        return (lines << QStringLiteral("ok")).join(QLatin1Char('\n'));
    }
    if (sub == QLatin1String("slow")) {
        bool ok = false;
        const int ms = args.value(1).toInt(&ok);
        if (args.size() != 2 || !ok || ms < 0)
            return error(QStringLiteral("usage: weather slow MS"));
        service.setSlow(ms);
        return QStringLiteral("ok");
    }
    if (sub == QLatin1String("fail") || sub == QLatin1String("bad")) {
        bool ok = true;
        int times = 1;
        if (args.value(1) == QLatin1String("all"))
            times = -1;
        else if (args.size() > 1)
            times = args[1].toInt(&ok);
        if (args.size() > 2 || !ok || times < -1)
            return error(QStringLiteral("usage: weather %1 [N|all]").arg(sub));
        if (sub == QLatin1String("fail"))
            service.fail(times);
        else
            service.garble(times);
        return QStringLiteral("ok");
    }
    if (sub == QLatin1String("clear") && args.size() == 1) {
        service.clearFaults();
        return QStringLiteral("ok");
    }
    if (sub == QLatin1String("city")) {
        bool ok = false;
        WeatherService::City city;
        city.name = args.value(1);
        city.wsId = args.value(2).toInt(&ok);
        if (args.size() < 4 || args.size() > 5 || !ok)
            return error(QStringLiteral("usage: weather city NAME CODE TEMP [WIND]"));
        if (const auto known = service.city(city.name))
            city = *known;
        city.wsId = args[2].toInt();
        city.wsId2 = city.wsId;
        city.temperature = args[3];
        if (args.size() == 5)
            city.wind = args[4];
        service.setCity(city);
        return QStringLiteral("ok");
    }
    return error(QStringLiteral("usage: weather [slow MS | fail [N|all] | bad [N|all] | clear | "
                                "city NAME CODE TEMP [WIND]]"));
}

QString SimControl::push(const QStringList &args)
{
    quint16 protocol = 0, command = 0;
    if (args.size() < 2 || !toU16(args[0], protocol) || !toU16(args[1], command))
        return error(QStringLiteral("usage: push P C [ARG...]"));
    const QStringList rest = args.mid(2);
    bool handled = false;
    const QString answer = pushNamed(protocol, command, rest, handled);
    if (handled)
        return answer;
    QList<QByteArray> params;
    for (const QString &arg : rest)
        params.append(arg.toUtf8());
    return sent(m_server->pushFrame(protocol, command, params));
}

QString SimControl::pushNamed(
    quint16 protocol, quint16 command, const QStringList &rest, bool &handled)
{
    handled = true;
    const QByteArray first = rest.value(0).toUtf8();
    if (protocol == PROTO_CONTROL) {
        switch (command) {
        case 9:
            return sent(m_server->requestEnvironment(first));
        case 13:
            return sent(m_server->requestScreenshot(first));
        case 17:
            return sent(m_server->requestDownloadReport(first));
        case 201:
        case 202:
            return sent(m_server->requestLogs(command, first));
        case 12:
        case 102:
            if (rest.size() != 1)
                return error(QStringLiteral("usage: push 278 %1 VOLUME").arg(command));
            return sent(m_server->setVolume(first, command));
        case 1005:
            if (rest.size() != 1)
                return error(QStringLiteral("usage: push 278 1005 N"));
            return sent(m_server->setClearType(first));
        case 2: {
            bool ok = false;
            const QByteArray xml = readWholeFile(rest.value(0), ok);
            if (rest.size() != 1 || !ok)
                return error(QStringLiteral("usage: push 278 2 FILE (a readable file)"));
            return sent(m_server->pushShutdownSchedule(xml));
        }
        default:
            break;
        }
    } else if (protocol == PROTO_CONTENT_PUSH && command == 280) {
        bool ok = false;
        const QByteArray xml = readWholeFile(rest.value(0), ok);
        if (rest.size() != 1 || !ok)
            return error(QStringLiteral("usage: push 276 280 FILE (a readable file)"));
        return sent(m_server->pushPowerSchedule(xml));
    }
    handled = false;
    return QString();
}

QString SimControl::status() const
{
    QStringList lines;
    lines << QStringLiteral("listening=%1:%2")
                 .arg(m_server->address().toString())
                 .arg(m_server->port());
    lines << QStringLiteral("connected=%1").arg(m_server->isConnected() ? "yes" : "no");
    lines << QStringLiteral("connections=%1").arg(m_server->connectionCount());
    lines << QStringLiteral("terminal=%1").arg(m_server->lastTerminalId());
    lines << QStringLiteral("mac=%1").arg(m_server->lastMacText());
    lines << QStringLiteral("authRequests=%1").arg(m_server->authRequests().size());
    lines << QStringLiteral("handshakes=%1").arg(m_server->handshakesReceived());
    lines << QStringLiteral("heartbeats=%1").arg(m_server->heartbeatsReceived());
    lines << QStringLiteral("frames=%1").arg(m_server->receivedFrames().size());
    lines << QStringLiteral("reports=%1").arg(m_server->reports().size());
    const HttpFileServer *http = m_server->http();
    if (http->isListening())
        lines << QStringLiteral("http=%1:%2").arg(http->address().toString()).arg(http->port());
    else
        lines << QStringLiteral("http=off");
    lines << QStringLiteral("httpAnnounced=%1").arg(m_server->httpPort());
    lines << QStringLiteral("files=%1").arg(http->filesDir());
    lines << QStringLiteral("httpRequests=%1").arg(http->requests().size());
    lines << QStringLiteral("uploads=%1").arg(http->uploads().size());
    lines << QStringLiteral("statistics=%1").arg(http->statistics().size());
    lines << QStringLiteral("ok");
    return lines.join(QLatin1Char('\n'));
}

QString SimControl::frames(int count) const
{
    const QList<Frame> all = m_server->receivedFrames();
    QStringList lines;
    for (int i = qMax(0, all.size() - count); i < all.size(); ++i)
        lines << describeFrame(all.at(i));
    lines << QStringLiteral("ok");
    return lines.join(QLatin1Char('\n'));
}

QString SimControl::saveScreenshot(const QString &path) const
{
    // The terminal sends its screen as a Base64 BMP inside <screenthumb>.
    const auto all = m_server->reports();
    for (int i = all.size() - 1; i >= 0; --i) {
        if (all.at(i).command != 13)
            continue;
        const QByteArray body = all.at(i).body;
        const int start = body.indexOf("<screenthumb>");
        const int end = body.indexOf("</screenthumb>");
        if (start < 0 || end < start)
            return error(QStringLiteral("the last screenshot report holds no picture"));
        const QImage image = QImage::fromData(
            QByteArray::fromBase64(body.mid(start + 13, end - start - 13).trimmed()), "BMP");
        if (image.isNull() || !image.save(path))
            return error(QStringLiteral("cannot decode or save the screenshot"));
        return QStringLiteral("ok %1x%2 saved to %3")
            .arg(image.width())
            .arg(image.height())
            .arg(path);
    }
    return error(QStringLiteral("no screenshot report received yet"));
}

QString SimControl::reports() const
{
    QStringList lines;
    for (const SignageServer::Report &report : m_server->reports()) {
        lines << QStringLiteral("278/%1 terminal=%2 echo=%3 body=%4")
                     .arg(report.command)
                     .arg(report.terminalId, QString::fromUtf8(report.echoId),
                         describeParam(report.body));
    }
    lines << QStringLiteral("ok");
    return lines.join(QLatin1Char('\n'));
}

namespace {

QString clock(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz"));
}

} // namespace

QString SimControl::requests(int count) const
{
    const QList<HttpFileServer::Request> all = m_server->http()->requests();
    QStringList lines;
    for (int i = qMax(0, all.size() - count); i < all.size(); ++i) {
        const HttpFileServer::Request &r = all.at(i);
        lines << QStringLiteral("%1 conn=%2 %3 %4 %5 sent=%6/%7")
                     .arg(clock(r.timeMs), QString::number(r.connection), r.method, r.target,
                         QString::number(r.status), QString::number(r.bytesSent),
                         QString::number(r.contentLength))
                + (r.complete ? QString() : QStringLiteral(" incomplete"));
    }
    lines << QStringLiteral("ok");
    return lines.join(QLatin1Char('\n'));
}

QString SimControl::uploads() const
{
    QStringList lines;
    for (const HttpFileServer::Upload &upload : m_server->http()->uploads()) {
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
    for (const HttpFileServer::Post &post : m_server->http()->statistics()) {
        lines << QStringLiteral("%1 %2 status=%3 %4")
                     .arg(clock(post.timeMs), post.path, QString::number(post.status),
                         post.report.summary());
        rows += post.accepted ? post.report.rows.size() : 0;
    }
    if (!m_server->http()->statistics().isEmpty())
        lines << QStringLiteral("statistics rows accepted=%1").arg(rows);
    lines << QStringLiteral("ok");
    return lines.join(QLatin1Char('\n'));
}

QString SimControl::statRows() const
{
    // Tab-separated, so a name holding blanks stays one field.
    QStringList lines;
    for (const StatReport::Row &row : m_server->http()->acceptedStatisticsRows())
        lines << QStringLiteral("row\t%1\t%2\t%3\t%4\t%5")
                     .arg(row.mtl, row.timeSegment, QString::number(row.playType),
                         QString::number(row.total), QString::number(row.len));
    lines << QStringLiteral("ok %1 rows").arg(lines.size());
    return lines.join(QLatin1Char('\n'));
}

bool SimControl::listen(quint16 port)
{
    if (!m_controlServer) {
        m_controlServer = new QTcpServer(this);
        connect(
            m_controlServer, &QTcpServer::newConnection, this, &SimControl::onControlConnection);
    }
    return m_controlServer->listen(QHostAddress::LocalHost, port);
}

quint16 SimControl::port() const
{
    return m_controlServer ? m_controlServer->serverPort() : 0;
}

void SimControl::onControlConnection()
{
    while (QTcpSocket *client = m_controlServer->nextPendingConnection()) {
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QTcpSocket::readyRead, this, [this, client]() {
            while (client->canReadLine()) {
                const QString line = QString::fromUtf8(client->readLine()).trimmed();
                if (line.isEmpty())
                    continue;
                const QString answer = execute(line);
                client->write(answer.toUtf8() + '\n');
                client->flush();
            }
        });
    }
}

void SimControl::watchStdin()
{
    if (m_stdinNotifier)
        return;
    m_stdinNotifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_stdinNotifier, &QSocketNotifier::activated, this, &SimControl::onStdin);
}

void SimControl::onStdin()
{
    char buffer[4096];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
        // End of input: keep running, driven by the control socket alone.
        m_stdinNotifier->setEnabled(false);
        return;
    }
    m_stdinBuffer.append(buffer, int(count));
    int newline;
    while ((newline = m_stdinBuffer.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_stdinBuffer.left(newline)).trimmed();
        m_stdinBuffer.remove(0, newline + 1);
        if (line.isEmpty())
            continue;
        const QByteArray answer = execute(line).toUtf8() + '\n';
        fwrite(answer.constData(), 1, size_t(answer.size()), stderr);
        fflush(stderr);
    }
}
