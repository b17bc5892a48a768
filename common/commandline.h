#pragma once

#include <QString>

class QCoreApplication;

// The two programs take no options for their normal run: the desktop session
// (or the service's watchdog) starts them without any. Only --help and
// --version are answered; positional arguments are ignored, since the watchdog
// has always passed "&" to the player.
namespace CommandLine {

struct Program
{
    QString name; // "lumalink" or "lumaview"
    QString summary; // one line: what the program is
    QString role; // a few lines: what it does and who starts it
};

// True when argv asks only for help or the version, which needs no display:
// main() then answers through a plain QCoreApplication.
bool asksForInformation(int argc, char **argv);

// The --help text after the usage line: the program, its data and log
// folders (under the current HOME) and the local ports.
QString description(const Program &program);

// Sets the application name and version and handles --help / --version (print
// and exit 0) and unknown options (message and exit 1); returns otherwise.
void process(QCoreApplication &app, const Program &program);

} // namespace CommandLine
