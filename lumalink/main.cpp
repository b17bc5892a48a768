#include "commandline.h"
#include "dailylog.h"
#include "service.h"

#include <QApplication>

namespace {
CommandLine::Program serviceProgram()
{
    return {QStringLiteral("lumalink"),
        QStringLiteral("connection service of the Luma signage terminal"),
        QStringLiteral("Keeps the terminal logged in to its signage server, stores and downloads "
                       "what it schedules,\nreports plays, status and logs, keeps the power "
                       "schedule and watches the player.\nStarted by the desktop session; on "
                       "the first start it asks for the server address,\nits port and the sudo "
                       "password in a small window.")};
}
} // namespace

int main(int argc, char *argv[])
{
    if (CommandLine::asksForInformation(argc, argv)) {
        // Help and version need no display.
        QCoreApplication info(argc, argv);
        CommandLine::process(info, serviceProgram());
        return 0;
    }
    QApplication app(argc, argv);
    CommandLine::process(app, serviceProgram());
    DailyLog::setProgramName(QStringLiteral("lumalink"));

    Service service;
    if (!service.start())
        return 0; // another service holds the port
    return app.exec();
}
