#include "fuzzenv.h"

#include "clock.h"
#include "commandrunner.h"
#include "datalayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSet>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

namespace FuzzEnv {

namespace {
// Starts no program: every command succeeds at once and prints nothing.
class NoCommands : public CommandRunner
{
public:
    CommandResult run(const QString &, const QStringList &, const QByteArray &, int, int) override
    {
        CommandResult result;
        result.started = true;
        result.finished = true;
        result.exitCode = 0;
        return result;
    }
    bool startDetached(const QString &, const QStringList &, qint64 *) override { return true; }
};

QTemporaryDir *s_home = nullptr;
QSet<QString> s_outsideAtStart;

QSet<QString> outsideDataFolder()
{
    const QString root = dataRoot();
    QSet<QString> found;
    QDirIterator it(s_home->path(),
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const bool inside = path == root || path.startsWith(root + QLatin1Char('/'));
        const bool onTheWay = root.startsWith(path + QLatin1Char('/'));
        if (!inside && !onTheWay)
            found.insert(path);
    }
    return found;
}
} // namespace

void init(bool gui)
{
    if (s_home)
        return;
    qputenv("TZ", "UTC");
    tzset();
    // In memory when the machine has a RAM folder: the programs sync what
    // they write to the disk, which on a disk costs more than the run itself.
    const QString parent = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
        ? QStringLiteral("/dev/shm")
        : QDir::tempPath();
    s_home = new QTemporaryDir(parent + QStringLiteral("/luma-fuzz-XXXXXX"));
    if (!s_home->isValid())
        fail("a temporary HOME", __FILE__, __LINE__);
    std::atexit([] {
        delete s_home;
        s_home = nullptr;
    });
    qputenv("HOME", QFile::encodeName(s_home->path()));

    static int argc = 1;
    static char name[] = "luma-fuzz";
    static char *argv[] = {name, nullptr};
    if (gui) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QGuiApplication(argc, argv);
    } else {
        new QCoreApplication(argc, argv);
    }
    Clock::setFixedMs(NOW_MS);
    freshDataFolder();
    s_outsideAtStart = outsideDataFolder();
}

std::shared_ptr<CommandRunner> noCommands()
{
    static const std::shared_ptr<CommandRunner> runner = std::make_shared<NoCommands>();
    return runner;
}

QString dataRoot()
{
    return DataLayout().root();
}

QString dataPath(const QString &relative)
{
    return DataLayout().root() + QLatin1Char('/') + relative;
}

void freshDataFolder()
{
    QDir(dataRoot()).removeRecursively();
    for (const char *folder : {"data/tpl", "data/zone", "data/mtl"})
        QDir().mkpath(dataPath(QLatin1String(folder)));
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

void checkNothingOutside()
{
    const QSet<QString> now = outsideDataFolder();
    if (now == s_outsideAtStart)
        return;
    for (const QString &path : now - s_outsideAtStart)
        std::fprintf(stderr, "written outside the data folder: %s\n", qPrintable(path));
    fail("nothing written outside the data folder", __FILE__, __LINE__);
}

QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size));
}

QList<QByteArray> pieces(const QByteArray &bytes, quint32 seed, int maxPiece)
{
    QList<QByteArray> out;
    quint32 state = seed * 2654435761u + 1u;
    for (int pos = 0; pos < bytes.size();) {
        state = state * 1103515245u + 12345u;
        const int size = 1 + static_cast<int>((state >> 16) % static_cast<quint32>(maxPiece));
        out.append(bytes.mid(pos, size));
        pos += size;
    }
    return out;
}

void fail(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

} // namespace FuzzEnv
