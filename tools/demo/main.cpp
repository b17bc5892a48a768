// lumademo: the demo's helper.
//   lumademo content DIR [VIDEO]   write the demo content folder (VIDEO: a file to play)
//   lumademo frames DIR [COUNT]    write the frames of the demo video as PNG files
//   lumademo grab FILE             save a picture of the whole screen (X11 display)
#include "democontent.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstring>

namespace {
int usage()
{
    std::fputs("usage: lumademo content DIR [VIDEO] | frames DIR [COUNT] | grab FILE\n", stderr);
    return 2;
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3)
        return usage();
    const bool grab = std::strcmp(argv[1], "grab") == 0;
    // Painting content needs fonts but no screen.
    if (!grab)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString command = QString::fromLocal8Bit(argv[1]);
    const QString target = QString::fromLocal8Bit(argv[2]);
    QString error;
    bool ok = false;
    if (grab) {
        QScreen *screen = QGuiApplication::primaryScreen();
        ok = screen && screen->grabWindow(0).save(target);
        error = QStringLiteral("cannot grab the screen into ") + target;
    } else if (command == QLatin1String("content")) {
        ok = DemoContent::writeContent(
            target, argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString(), &error);
    } else if (command == QLatin1String("frames")) {
        ok = DemoContent::writeVideoFrames(target, argc > 3 ? std::atoi(argv[3]) : 120, &error);
    } else {
        return usage();
    }
    if (!ok)
        std::fprintf(stderr, "lumademo: %s\n", qPrintable(error));
    return ok ? 0 : 1;
}
