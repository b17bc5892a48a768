#include "mainwindow.h"
#include "miscfunc.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    qputenv("QT_OPENGL", "software");
    QApplication app(argc, argv);
    MiscFunc::setProgramName(QStringLiteral("lumaview"));
    MainWindow window;
    if (!window.isPrimaryInstance())
        return 0; // another player holds the port
    window.show();
    return app.exec();
}
