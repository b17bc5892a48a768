#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class HostileMode;
class SignageServer;
class SimControl;

// The control commands behind SimControl's table. A handler gets the words of
// the command line, the command's own name first, and returns its reply: zero
// or more lines of information and a last line that starts with "ok" or
// "error:". It returns nothing when the arguments do not fit the usage the
// table gives for the command.
namespace ControlCommands {

using Reply = std::optional<QString>;

struct Context
{
    SignageServer *server;
    HostileMode *hostile;
    SimControl *control;
};

using Handler = Reply (*)(Context &context, const QStringList &args);

inline QString error(const QString &why)
{
    return QStringLiteral("error: ") + why;
}

inline QString ok()
{
    return QStringLiteral("ok");
}

// The lines of a reply, the last one after them.
inline QString joined(QStringList lines, const QString &last)
{
    lines << last;
    return lines.join(QLatin1Char('\n'));
}

// The terminal and its session (terminalcommands.cpp).
Reply push(Context &c, const QStringList &args);
Reply pushTwo(Context &c, const QStringList &args);
Reply raw(Context &c, const QStringList &args);
Reply heartbeat(Context &c, const QStringList &args);
Reply handshake(Context &c, const QStringList &args);
Reply disconnect(Context &c, const QStringList &args);
Reply auth(Context &c, const QStringList &args);
Reply advertise(Context &c, const QStringList &args);
Reply time(Context &c, const QStringList &args);
Reply mute(Context &c, const QStringList &args);
Reply content(Context &c, const QStringList &args);
Reply check(Context &c, const QStringList &args);
Reply status(Context &c, const QStringList &args);
Reply frames(Context &c, const QStringList &args);
Reply reports(Context &c, const QStringList &args);
Reply screenshot(Context &c, const QStringList &args);

// The HTTP server and its weather server (httpcommands.cpp).
Reply corruptOrFail(Context &c, const QStringList &args);
Reply stall(Context &c, const QStringList &args);
Reply unstall(Context &c, const QStringList &args);
Reply delay(Context &c, const QStringList &args);
Reply faults(Context &c, const QStringList &args);
Reply postReply(Context &c, const QStringList &args);
Reply postFail(Context &c, const QStringList &args);
Reply files(Context &c, const QStringList &args);
Reply requests(Context &c, const QStringList &args);
Reply uploads(Context &c, const QStringList &args);
Reply statRows(Context &c, const QStringList &args);
Reply weather(Context &c, const QStringList &args);

} // namespace ControlCommands
