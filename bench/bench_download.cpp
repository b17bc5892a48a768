// Download pipeline benchmark: the service's download thread and hand-over,
// fetching MD5-named files with wget from the simulator's HTTP server on
// loopback, one file at a time in list order, until the playbill switch.
//
// Usage: bench_download [--small N[,N...]] [--marked N] [--large-mb MB]
// Prints seconds and MB/s per run, the time the check at start takes for N
// named files (first unmarked, read in full, then by their marks), and for
// the large file the time of wget alone for comparison.

#include "content/downloadthread.h"
#include "content/downloadtracker.h"
#include "content/mediamarks.h"
#include "httpfileserver.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>

#include <cstdio>

namespace {

QString writeMd5Named(const QString &dir, const QByteArray &bytes, const QString &ext)
{
    const QString name
        = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex())
        + ext;
    QFile file(dir + "/" + name);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return name;
}

QString writeLarge(const QString &dir, qint64 megabytes)
{
    // Written in pieces, hashed on the way, then renamed to its digest.
    QCryptographicHash hash(QCryptographicHash::Md5);
    const QString tmp = dir + "/large.tmp";
    QFile file(tmp);
    file.open(QIODevice::WriteOnly);
    QByteArray block(1024 * 1024, '\0');
    for (qint64 i = 0; i < megabytes; ++i) {
        for (int j = 0; j < block.size(); j += 8)
            qToLittleEndian<quint64>(quint64(i) * 131071 + j, block.data() + j);
        hash.addData(block);
        file.write(block);
    }
    file.close();
    const QString name = QString::fromLatin1(hash.result().toHex()) + ".mp4";
    QFile::rename(tmp, dir + "/" + name);
    return name;
}

// Runs the hand-over as the session does: on every arrival and every second.
double syncFiles(const QStringList &names, quint16 port)
{
    DownloadThread thread;
    thread.start();
    DownloadTracker tracker;
    for (const QString &name : names)
        tracker.downloadFiles << "data/mtl/" + name;

    QEventLoop loop;
    auto step = [&] {
        for (;;) {
            switch (tracker.step(thread, "127.0.0.1", port)) {
            case DownloadTracker::Step::Completed:
            case DownloadTracker::Step::Skipped:
                continue;
            case DownloadTracker::Step::Switched:
                loop.quit();
                return;
            default:
                return;
            }
        }
    };
    QObject::connect(&thread, &DownloadThread::sigDownloaded, &loop, step, Qt::QueuedConnection);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, step);
    poll.start(1000);

    QElapsedTimer timer;
    timer.start();
    QTimer::singleShot(0, &loop, step);
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    thread.stop();
    thread.wait();
    return seconds;
}

double wgetAlone(const QString &url, const QString &target)
{
    QElapsedTimer timer;
    timer.start();
    // The server lives on this thread: keep its events flowing while wget runs.
    QProcess wget;
    QEventLoop loop;
    QObject::connect(&wget, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
        &QEventLoop::quit);
    wget.start("wget", {"-nv", "-O", target, url});
    loop.exec();
    return timer.nsecsElapsed() / 1e9;
}

// A fresh start's check of the named files; seconds.
double checkAtStart(const QStringList &names)
{
    QElapsedTimer timer;
    timer.start();
    DownloadThread::standardMarks()->checkAndRemoveDamaged(names);
    return timer.nsecsElapsed() / 1e9;
}

void clearMedia(const QString &home)
{
    QDir(home + "/.local/share/lumaview/data/mtl").removeRecursively();
    QDir().mkpath(home + "/.local/share/lumaview/data/mtl");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QList<int> smallCounts {10, 100, 200};
    qint64 largeMb = 200;
    int markedCount = 1000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--small") {
            smallCounts.clear();
            for (const QString &n : args[i + 1].split(','))
                smallCounts << n.toInt();
        } else if (args[i] == "--marked") {
            markedCount = args[i + 1].toInt();
        } else if (args[i] == "--large-mb") {
            largeMb = args[i + 1].toLongLong();
        }
    }

    QTemporaryDir home;
    QTemporaryDir files;
    qputenv("HOME", home.path().toUtf8());
    qunsetenv("http_proxy");
    qunsetenv("HTTP_PROXY");
    clearMedia(home.path());

    HttpFileServer server;
    server.setFilesDir(files.path());
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }

    std::printf("%-22s %10s %10s %12s\n", "run", "files", "seconds", "MB/s");
    for (int count : smallCounts) {
        QStringList names;
        qint64 bytes = 0;
        for (int i = 0; i < count; ++i) {
            const QByteArray content = QByteArray::number(count) + "-" + QByteArray::number(i)
                + QByteArray(4096, char('a' + i % 26));
            names << writeMd5Named(files.path(), content, ".png");
            bytes += content.size();
        }
        clearMedia(home.path());
        const double seconds = syncFiles(names, server.port());
        std::printf("%-22s %10d %10.2f %12.2f\n", "small files (4 KiB)", count, seconds,
            bytes / 1e6 / seconds);
    }

    if (markedCount > 0) {
        // The check at start: every file the playbills name, by its mark.
        clearMedia(home.path());
        const QString mtl = home.path() + "/.local/share/lumaview/data/mtl";
        QStringList names;
        for (int i = 0; i < markedCount; ++i)
            names << writeMd5Named(mtl, "marked-" + QByteArray::number(i), ".jpg");
        const double unmarked = checkAtStart(names);
        const double marked = checkAtStart(names);
        std::printf("%-22s %10d %10.3f\n", "start check, unmarked", markedCount, unmarked);
        std::printf("%-22s %10d %10.3f\n", "start check, marked", markedCount, marked);
    }

    if (largeMb > 0) {
        const QString name = writeLarge(files.path(), largeMb);
        const double mb = largeMb * 1048576 / 1e6;
        clearMedia(home.path());
        const double pipeline = syncFiles({name}, server.port());
        const double alone
            = wgetAlone(QString("http://127.0.0.1:%1/data/mtl/%2").arg(server.port()).arg(name),
                home.path() + "/alone.bin");
        std::printf("%-22s %10d %10.2f %12.2f\n", "large file", 1, pipeline, mb / pipeline);
        std::printf("%-22s %10d %10.2f %12.2f\n", "wget alone", 1, alone, mb / alone);
        std::printf(
            "large file through the pipeline: %.2fx the time of wget alone\n", pipeline / alone);
        QElapsedTimer hashTimer;
        hashTimer.start();
        QFile copy(home.path() + "/alone.bin");
        copy.open(QIODevice::ReadOnly);
        QCryptographicHash check(QCryptographicHash::Md5);
        check.addData(&copy);
        std::printf("for scale: hashing the file alone takes %.2f s on this machine\n",
            hashTimer.nsecsElapsed() / 1e9);
    }
    return 0;
}
