#include "mainwindow.h"
#include "miscfunc.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    MiscFunc::setProgramName(QStringLiteral("lumalink"));

    MainWindow window;
    if (!window.isPrimaryInstance())
        return 0; // another service holds the port

    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->geometry();
        window.move(
            (desktop.width() - window.width()) / 2, (desktop.height() - window.height()) / 2);
    }
    return app.exec();
}
