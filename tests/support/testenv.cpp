#include "testenv.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QImage>
#include <QTcpSocket>
#include <QThread>

#include <csignal>
#include <sys/resource.h>

TestEnv::TestEnv()
    : m_oldHome(qgetenv("HOME"))
{
    qputenv("HOME", m_home.path().toUtf8());
    const QStringList shims {QStringLiteral("sudo"), QStringLiteral("shutdown"),
        QStringLiteral("reboot"), QStringLiteral("hwclock"), QStringLiteral("date")};
    for (const QString &name : shims)
        addShim(name);
}

bool TestEnv::addShim(const QString &name, const QByteArray &then)
{
    const QString path = m_shims.path() + QLatin1Char('/') + name;
    const QByteArray script
        = "#!/bin/sh\necho \"" + name.toUtf8() + " $*\" >> \"" + shimLog().toUtf8() + "\"\n" + then;
    return writeFile(path, script)
        && QFile::setPermissions(path,
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                | QFile::ExeGroup);
}

TestEnv::~TestEnv()
{
    qputenv("HOME", m_oldHome);
}

QString TestEnv::readShimLog() const
{
    return QString::fromUtf8(readFile(shimLog()));
}

QProcessEnvironment TestEnv::processEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home());
    env.insert(
        QStringLiteral("PATH"), shimDir() + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    m_previous = static_cast<qint64>(limit.rlim_cur);
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(m_previous);
    setrlimit(RLIMIT_FSIZE, &limit);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QString programLogs(const QString &dataRoot, const QString &program)
{
    // Every daily file, oldest first: a test that runs over midnight finds
    // its lines in two of them.
    const QDir logs(dataRoot + QStringLiteral("/logs"));
    QString text;
    for (const QString &name :
        logs.entryList({program + QStringLiteral(".*.log")}, QDir::Files, QDir::Name))
        text += QString::fromUtf8(readFile(logs.filePath(name)));
    return text;
}

QByteArray encodedPicture(QSize size, const char *format)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

QByteArray localRequest(quint16 port, const QByteArray &bytes, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return QByteArray();
    socket.write(bytes);
    QByteArray answer;
    QElapsedTimer timer;
    timer.start();
    while (!answer.endsWith("}") && timer.elapsed() < timeoutMs) {
        // The listener may live on this thread: let it run while we wait.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        socket.waitForReadyRead(20);
        answer += socket.readAll();
    }
    QCoreApplication::processEvents(); // what the request started on this thread
    return answer;
}

void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

namespace {
// Under qemu-user (an arm64 build tested on x86_64) the kernel starts the
// emulator for the program, with the program's path, as it was given, as
// the emulator's first argument.
bool emulatedProgramIs(const QString &proc, const QString &wanted)
{
    if (!QFileInfo(proc + QStringLiteral("/exe")).symLinkTarget().contains(QLatin1String("qemu")))
        return false;
    const QList<QByteArray> args = readFile(proc + QStringLiteral("/cmdline")).split('\0');
    if (args.size() < 2)
        return false;
    const QDir cwd(QFileInfo(proc + QStringLiteral("/cwd")).symLinkTarget());
    return QFileInfo(cwd.absoluteFilePath(QString::fromLocal8Bit(args.at(1)))).canonicalFilePath()
        == wanted;
}
} // namespace

QList<qint64> processesOf(const QString &exeFile, const QString &home)
{
    const QString wanted = QFileInfo(exeFile).canonicalFilePath();
    const QByteArray homeEntry = "HOME=" + home.toUtf8();
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        const QString proc = QStringLiteral("/proc/") + entry;
        if (QFileInfo(proc + QStringLiteral("/exe")).symLinkTarget() != wanted
            && !emulatedProgramIs(proc, wanted))
            continue;
        if (readFile(proc + QStringLiteral("/environ")).split('\0').contains(homeEntry))
            pids << pid;
    }
    return pids;
}

void stopPid(qint64 pid, int timeoutMs)
{
    if (pid <= 0 || ::kill(static_cast<pid_t>(pid), SIGTERM) != 0)
        return;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (::kill(static_cast<pid_t>(pid), 0) != 0)
            return;
        // A child of a process that already left is reaped by init; one of ours
        // that is a zombie counts as ended.
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
        if (stat.contains(") Z "))
            return;
        QThread::msleep(50);
    }
    ::kill(static_cast<pid_t>(pid), SIGKILL);
}
