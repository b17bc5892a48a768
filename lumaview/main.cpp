#include "commandline.h"
#include "dailylog.h"
#include "player.h"
#include "ui/mainwindow.h"

#include <QApplication>

namespace {
CommandLine::Program playerProgram()
{
    return {QStringLiteral("lumaview"),
        QStringLiteral("full-screen player of the Luma signage terminal"),
        QStringLiteral("Plays what the connection service stored: the day playbill's templates "
                       "in turn,\nthe insert programme in its window, each zone's materials "
                       "with their effects,\nand hands every play to the service. Started by the "
                       "desktop session or by the\nservice's watchdog.")};
}
} // namespace

int main(int argc, char *argv[])
{
    if (CommandLine::asksForInformation(argc, argv)) {
        // Help and version need no display.
        QCoreApplication info(argc, argv);
        CommandLine::process(info, playerProgram());
        return 0;
    }
    qputenv("QT_OPENGL", "software");
    QApplication app(argc, argv);
    CommandLine::process(app, playerProgram());
    DailyLog::setProgramName(QStringLiteral("lumaview"));
    Player player;
    if (!player.start())
        return 0; // another player holds the port
    player.window()->show();
    return app.exec();
}
