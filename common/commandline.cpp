#include "commandline.h"

#include "datalayout.h"
#include "version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstring>

namespace CommandLine {

bool asksForInformation(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        for (const char *flag : {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
            if (std::strcmp(arg, flag) == 0)
                return true;
        }
    }
    return false;
}

QString description(const Program &program)
{
    const QString root = DataLayout().root();
    return QStringLiteral("%1 %2: %3\n\n%4\n\n"
                          "Data folder: %5/data\n"
                          "Log folder:  %5/logs (%1.<yyyy-MM-dd>.0.log, one per day)\n"
                          "Local ports: %6 (lumalink, the connection service), "
                          "%7 (lumaview, the player)\n\n"
                          "A second instance leaves at once with status 0 when the port is taken.")
        .arg(program.name, QStringLiteral(VERSION), program.summary, program.role, root)
        .arg(SERVICE_PORT)
        .arg(PLAYER_PORT);
}

void process(QCoreApplication &app, const Program &program)
{
    QCoreApplication::setApplicationName(program.name);
    QCoreApplication::setApplicationVersion(QStringLiteral(VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(description(program));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("[ignored...]"),
        QStringLiteral("Arguments without a dash are accepted and ignored."));
    parser.process(app);
}

} // namespace CommandLine
