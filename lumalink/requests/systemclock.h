#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

class CommandRunner;

// The terminal's clock, set to the server's time.
namespace SystemClock {

// "MMddHHmmyyyy.ss" of a server time (seconds since the epoch), local time:
// the argument of date.
QString dateArgument(quint64 secondsSinceEpoch);
// The earliest server time taken: midnight (UTC) of the day this program was
// built. A server (or a man in the middle) sending an earlier one would turn
// the clock back before any content this terminal can have received.
QDateTime earliestServerTime();
// Sets the system clock and then the hardware clock through sudo, with the
// given sudo password, to the server time the body carries (seconds since the
// epoch, little-endian). A time earlier than earliestServerTime() or past the
// year 9999 is refused and logged (false).
bool setFromServer(CommandRunner &runner, const QByteArray &body, const QString &password);

} // namespace SystemClock
