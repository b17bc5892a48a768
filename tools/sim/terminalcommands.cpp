// Control commands about the terminal and its session: pushes, the session's
// settings and what the terminal sent.

#include "controlcommands.h"
#include "httpfileserver.h"
#include "signageserver.h"
#include "simcontrol.h"

#include <QFile>
#include <QImage>

using namespace SimWire;

namespace ControlCommands {

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

QByteArray readWholeFile(const QString &path, bool &ok)
{
    QFile file(path);
    ok = file.open(QIODevice::ReadOnly);
    return ok ? file.readAll() : QByteArray();
}

QString sent(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return error(QStringLiteral("nothing sent, no terminal connected"));
    return QStringLiteral("ok sent %1 bytes").arg(bytes.size());
}

// The requests push knows by number; nothing for any other.
Reply pushNamed(SignageServer *server, quint16 protocol, quint16 command, const QStringList &rest)
{
    const QByteArray first = rest.value(0).toUtf8();
    if (protocol == PROTO_CONTROL) {
        switch (command) {
        case 9:
            return sent(server->requestEnvironment(first));
        case 13:
            return sent(server->requestScreenshot(first));
        case 17:
            return sent(server->requestDownloadReport(first));
        case 201:
        case 202:
            return sent(server->requestLogs(command, first));
        case 12:
        case 102:
            if (rest.size() != 1)
                return error(QStringLiteral("usage: push 278 %1 VOLUME").arg(command));
            return sent(server->setVolume(first, command));
        case 1005:
            if (rest.size() != 1)
                return error(QStringLiteral("usage: push 278 1005 N"));
            return sent(server->setClearType(first));
        case 2: {
            bool ok = false;
            const QByteArray xml = readWholeFile(rest.value(0), ok);
            if (rest.size() != 1 || !ok)
                return error(QStringLiteral("usage: push 278 2 FILE (a readable file)"));
            return sent(server->pushShutdownSchedule(xml));
        }
        default:
            break;
        }
    } else if (protocol == PROTO_CONTENT_PUSH && command == 280) {
        bool ok = false;
        const QByteArray xml = readWholeFile(rest.value(0), ok);
        if (rest.size() != 1 || !ok)
            return error(QStringLiteral("usage: push 276 280 FILE (a readable file)"));
        return sent(server->pushPowerSchedule(xml));
    }
    return std::nullopt;
}

} // namespace

Reply push(Context &c, const QStringList &args)
{
    quint16 protocol = 0, command = 0;
    if (args.size() < 3 || !toU16(args[1], protocol) || !toU16(args[2], command))
        return std::nullopt;
    const QStringList rest = args.mid(3);
    if (const Reply named = pushNamed(c.server, protocol, command, rest))
        return named;
    QList<QByteArray> params;
    for (const QString &arg : rest)
        params.append(arg.toUtf8());
    return sent(c.server->pushFrame(protocol, command, params));
}

Reply pushTwo(Context &c, const QStringList &args)
{
    quint16 p1 = 0, c1 = 0, p2 = 0, c2 = 0;
    if (args.size() != 5 || !toU16(args[1], p1) || !toU16(args[2], c1) || !toU16(args[3], p2)
        || !toU16(args[4], c2))
        return std::nullopt;
    return sent(c.server->pushFrames({c.server->buildFrame(p1, c1), c.server->buildFrame(p2, c2)}));
}

Reply raw(Context &c, const QStringList &args)
{
    const QByteArray bytes = QByteArray::fromHex(args.mid(1).join(QString()).toLatin1());
    if (bytes.isEmpty())
        return std::nullopt;
    return sent(c.server->sendRaw(bytes));
}

Reply heartbeat(Context &c, const QStringList &)
{
    return sent(c.server->sendHeartbeat());
}

Reply handshake(Context &c, const QStringList &)
{
    return sent(c.server->sendHandshake());
}

Reply disconnect(Context &c, const QStringList &)
{
    if (!c.server->isConnected())
        return error(QStringLiteral("no terminal connected"));
    c.server->disconnectTerminal();
    return ok();
}

Reply auth(Context &c, const QStringList &args)
{
    const QList<quint32> results = SimControl::parseAuthList(args.mid(1).join(QLatin1Char(',')));
    if (results.isEmpty())
        return std::nullopt;
    c.server->setAuthResults(results);
    return ok();
}

Reply advertise(Context &c, const QStringList &args)
{
    quint16 port = 0;
    if (args.size() == 1) {
        c.server->setAdvertisedServer(QString(), 0);
        return ok();
    }
    if (args.size() != 3 || !toU16(args[2], port))
        return std::nullopt;
    c.server->setAdvertisedServer(args[1], port);
    return ok();
}

Reply time(Context &c, const QStringList &args)
{
    if (args.size() == 2 && args[1] == QLatin1String("now")) {
        c.server->setServerTime(-1);
        return ok();
    }
    bool valid = false;
    const qint64 secs = args.value(1).toLongLong(&valid);
    if (args.size() != 2 || !valid || secs < 0)
        return std::nullopt;
    c.server->setServerTime(secs);
    return ok();
}

Reply mute(Context &c, const QStringList &args)
{
    quint16 protocol = 0, command = 0;
    if (args.size() != 3 || !toU16(args[1], protocol) || !toU16(args[2], command))
        return std::nullopt;
    c.server->setMuted(protocol, command, args[0].toLower() == QLatin1String("mute"));
    return ok();
}

Reply content(Context &c, const QStringList &args)
{
    if (args.size() != 2)
        return std::nullopt;
    c.server->setContentDir(args[1]);
    return ok();
}

Reply check(Context &c, const QStringList &)
{
    const QStringList lines = c.server->checkContent();
    return joined(lines,
        lines.isEmpty() ? QStringLiteral("ok content complete")
                        : QStringLiteral("error: %1 problems").arg(lines.size()));
}

Reply status(Context &c, const QStringList &)
{
    const SignageServer *server = c.server;
    QStringList lines;
    lines
        << QStringLiteral("listening=%1:%2").arg(server->address().toString()).arg(server->port());
    lines << QStringLiteral("connected=%1").arg(server->isConnected() ? "yes" : "no");
    lines << QStringLiteral("connections=%1").arg(server->connectionCount());
    lines << QStringLiteral("terminal=%1").arg(server->lastTerminalId());
    lines << QStringLiteral("mac=%1").arg(server->lastMacText());
    lines << QStringLiteral("authRequests=%1").arg(server->authRequests().size());
    lines << QStringLiteral("handshakes=%1").arg(server->handshakesReceived());
    lines << QStringLiteral("heartbeats=%1").arg(server->heartbeatsReceived());
    lines << QStringLiteral("frames=%1").arg(server->receivedFrames().size());
    lines << QStringLiteral("reports=%1").arg(server->reports().size());
    const HttpFileServer *http = server->http();
    if (http->isListening())
        lines << QStringLiteral("http=%1:%2").arg(http->address().toString()).arg(http->port());
    else
        lines << QStringLiteral("http=off");
    lines << QStringLiteral("httpAnnounced=%1").arg(server->httpPort());
    lines << QStringLiteral("files=%1").arg(http->filesDir());
    lines << QStringLiteral("httpRequests=%1").arg(http->requests().size());
    lines << QStringLiteral("uploads=%1").arg(http->uploads().size());
    lines << QStringLiteral("statistics=%1").arg(http->statistics().size());
    return joined(lines, ok());
}

Reply frames(Context &c, const QStringList &args)
{
    bool valid = true;
    const int count = args.size() > 1 ? args[1].toInt(&valid) : 10;
    if (!valid || count < 0)
        return std::nullopt;
    const QList<Frame> all = c.server->receivedFrames();
    QStringList lines;
    for (int i = qMax(0, all.size() - count); i < all.size(); ++i)
        lines << describeFrame(all.at(i));
    return joined(lines, ok());
}

Reply reports(Context &c, const QStringList &)
{
    QStringList lines;
    for (const SignageServer::Report &report : c.server->reports()) {
        lines << QStringLiteral("278/%1 terminal=%2 echo=%3 body=%4")
                     .arg(report.command)
                     .arg(report.terminalId, QString::fromUtf8(report.echoId),
                         describeParam(report.body));
    }
    return joined(lines, ok());
}

Reply screenshot(Context &c, const QStringList &args)
{
    if (args.size() != 2)
        return std::nullopt;
    const QString &path = args[1];
    // The terminal sends its screen as a Base64 BMP inside <screenthumb>.
    const auto all = c.server->reports();
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

} // namespace ControlCommands
