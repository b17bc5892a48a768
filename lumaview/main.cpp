#include "miscfunc.h"
#include "notifylistener.h"
#include "version.h"

#include <QApplication>

// The player's entry: for now it holds the player's local listener and leaves
// in order on EXIT.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    MiscFunc::setProgramName(QStringLiteral("lumaview"));

    NotifyListener listener(true, NotifyListener::Order::AnswerThenAct);
    if (!listener.listen(PLAYER_PORT))
        return 0; // another player holds the port

    listener.setHandler([](const QString &cmd, const QString &param) {
        if (cmd != QLatin1String("STATUS"))
            MiscFunc::writeLog(QStringLiteral("INFO"), QStringLiteral("MainWindow"),
                QStringLiteral("Socket Received command: ") + cmd + QStringLiteral(", param: ")
                    + param);
        if (cmd == QLatin1String("EXIT")) {
            // Let the answer reach the sender before leaving.
            MiscFunc::sleep(200);
            QCoreApplication::exit(0);
        }
    });
    MiscFunc::writeLog(QStringLiteral("INFO"), QStringLiteral("Main"),
        QStringLiteral("lumaview started, version ") + QStringLiteral(VERSION));
    return app.exec();
}
