#include "simcontrol.h"

#include "controlcommands.h"
#include "signageserver.h"

#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <unistd.h>
#include <vector>

using ControlCommands::Context;
using ControlCommands::Reply;

namespace {

// One control command. The table of them gives both what execute() runs and
// what helpText() says, in the order of the help text.
struct Command
{
    const char *name;
    // Its arguments, as "error: usage: NAME ARGUMENTS" repeats them when the
    // handler finds they do not fit.
    const char *usage;
    // Its lines in the help text; empty for a command listed on another's
    // line, or not listed.
    QString help;
    ControlCommands::Handler run;
    // The heading of the group of the help text this command opens.
    const char *heading = nullptr;
};

Reply help(Context &, const QStringList &)
{
    return SimControl::helpText() + QStringLiteral("\nok");
}

Reply hostile(Context &c, const QStringList &args)
{
    return c.hostile->execute(args.mid(1));
}

Reply quit(Context &c, const QStringList &)
{
    emit c.control->quitRequested();
    return ControlCommands::ok();
}

const std::vector<Command> &commands()
{
    namespace C = ControlCommands;
    static const std::vector<Command> table = {
        {"help", "", QString(), help},
        {"push", "P C [ARG...]",
            "push P C [ARG...]     send frame P/C to the terminal; known requests take:\n"
            "  push 278 9|13|17 [ECHO]      environment / screenshot / download report request\n"
            "  push 278 201|202 [ECHO]      today's logs / all logs request\n"
            "  push 278 12|102 VOLUME       set volume (VOLUME is the fourth parameter)\n"
            "  push 278 1005 N              set clear type\n"
            "  push 278 1|3|19|103          shut down / reboot / restart player / ignored\n"
            "  push 278 2 FILE              shutdown schedule (file content is parameter 6)\n"
            "  push 276 94                  schedule changed\n"
            "  push 276 280 FILE            power on/off schedule\n"
            "  any other P C: each ARG is sent as one text parameter",
            C::push},
        {"pushtwo", "P1 C1 P2 C2",
            "pushtwo P1 C1 P2 C2   two frames without parameters in one write", C::pushTwo},
        {"raw", "HEX", "raw HEX               send bytes as they are", C::raw},
        {"heartbeat", "", "heartbeat             send 00 00 00 00", C::heartbeat},
        {"handshake", "", "handshake             send the server's inner handshake again",
            C::handshake},
        {"disconnect", "", "disconnect            drop the terminal's connection", C::disconnect},
        {"auth", "N[,N...]",
            "auth N[,N...]         results of the next authorization requests (4 5 6 7)", C::auth},
        {"advertise", "IP PORT",
            "advertise IP PORT     server address announced in the configuration\n"
            "advertise             announce the listening address again",
            C::advertise},
        {"time", "SECS|now", "time SECS|now         server time reported", C::time},
        {"mute", "P C", "mute P C / unmute P C stop / resume answering request P/C", C::mute},
        {"unmute", "P C", QString(), C::mute},
        {"content", "DIR", "content DIR           content folder", C::content},
        {"check", "", "check                 look for missing or inconsistent content", C::check},
        {"status", "", "status                connection, terminal and counters", C::status},
        {"frames", "[N]", "frames [N]            the last N frames received (default 10)",
            C::frames},
        {"reports", "", "reports               answers received to 278 requests", C::reports},
        {"screenshot", "FILE", "screenshot FILE       save the picture of the last 278/13 answer",
            C::screenshot},
        {"corrupt", "NAME [N]",
            "  corrupt NAME [N]     next N downloads of NAME get one byte inverted (default 1)",
            C::corruptOrFail, "HTTP server (NAME is a file name or a path ending in one):"},
        {"fail", "NAME [N]", "  fail NAME [N]        next N requests for NAME get 500 (default 1)",
            C::corruptOrFail},
        {"stall", "NAME",
            "  stall NAME           downloads of NAME stop halfway and hold the connection",
            C::stall},
        {"unstall", "NAME [cut]",
            "  unstall NAME [cut]   complete the held downloads (cut: close their connections)",
            C::unstall},
        {"delay", "MS", "  delay MS             wait MS before every answer (0: none)", C::delay},
        {"faults", "[clear]", "  faults [clear]       faults in force / remove them all",
            C::faults},
        {"postreply", "PATH [STATUS [BODY]]",
            "  postreply PATH STATUS [BODY]  answer POSTs to PATH so; postreply PATH restores",
            C::postReply},
        {"postfail", "PATH N [AFTER]",
            "  postfail PATH N [AFTER]      after AFTER more POSTs to PATH, fail the next N (500)",
            C::postFail},
        {"files", "[DIR]",
            "  files [DIR]          folder served (without DIR: the content's files/)", C::files},
        {"requests", "[N]", "  requests [N]         the last N HTTP requests (default 10)",
            C::requests},
        {"uploads", "", "  uploads              log uploads and statistics received", C::uploads},
        {"statrows", "", "  statrows             every statistics row accepted, one a line",
            C::statRows},
        {"weather", "[slow MS | fail [N|all] | bad [N|all] | clear | city NAME CODE TEMP [WIND]]",
            "  weather              the cities, the faults in force and the cities asked\n"
            "  weather slow MS      answers wait MS milliseconds (0: none)\n"
            "  weather fail [N|all] the next N requests get 500 (default 1)\n"
            "  weather bad [N|all]  the next N get a page that is no weather report\n"
            "  weather clear        end the weather faults\n"
            "  weather city NAME CODE TEMP [WIND]  add or change a city (CODE: 1xx weather code)",
            C::weather, "Weather server (POST /getweather):"},
        {"hostile", "", HostileMode::helpText(), hostile,
            "A server that means harm (what a mode changes stays until \"hostile off\"):"},
        {"quit", "", "quit                  stop the simulator", quit},
        {"exit", "", QString(), quit},
    };
    return table;
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
    QStringList lines;
    for (const Command &command : commands()) {
        if (command.heading)
            lines << QString::fromUtf8(command.heading);
        if (!command.help.isEmpty())
            lines << command.help;
    }
    return lines.join(QLatin1Char('\n'));
}

QStringList SimControl::commandNames()
{
    QStringList names;
    for (const Command &command : commands())
        names << QString::fromUtf8(command.name);
    return names;
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

QString SimControl::execute(const QString &line)
{
    const QStringList args = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (args.isEmpty())
        return ControlCommands::error(QStringLiteral("empty command"));
    const QString name = args.first().toLower();
    for (const Command &command : commands()) {
        if (name != QLatin1String(command.name))
            continue;
        Context context {m_server, &m_hostile, this};
        if (const Reply reply = command.run(context, args))
            return *reply;
        return ControlCommands::error(
            QStringLiteral("usage: %1 %2").arg(name, QLatin1String(command.usage)));
    }
    return ControlCommands::error(
        QStringLiteral("unknown command %1 (try help)").arg(args.first()));
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
