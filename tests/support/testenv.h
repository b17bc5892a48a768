#pragma once

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QTemporaryDir>

// A private HOME for one test, plus a folder of stand-ins for the privileged
// commands (sudo, shutdown, reboot, hwclock) that only record their arguments.
// Put first in PATH for every real binary a test starts.
class TestEnv
{
public:
    TestEnv();
    ~TestEnv();

    bool isValid() const { return m_home.isValid() && m_shims.isValid(); }
    QString home() const { return m_home.path(); }
    QString dataRoot() const { return home() + QStringLiteral("/.local/share/lumaview"); }
    QString shimDir() const { return m_shims.path(); }
    QString shimLog() const { return m_shims.path() + QStringLiteral("/calls.log"); }
    QString readShimLog() const;
    // Puts a stand-in for the command name in the shim folder: it records its
    // name and arguments in the shim log, then runs the shell text then.
    bool addShim(const QString &name, const QByteArray &then = "exit 0\n");

    // Environment for a child process: this HOME, shims first in PATH, offscreen.
    QProcessEnvironment processEnvironment() const;

private:
    // The home path holds a blank, as some users' homes do.
    QTemporaryDir m_home {QDir::tempPath() + QStringLiteral("/luma home-XXXXXX")};
    QTemporaryDir m_shims;
    QByteArray m_oldHome;
};

// While it lives, no file of this process may grow past the given size, as on
// a full disk: writes beyond it fail (EFBIG) instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    qint64 m_previous = -1;
};

QByteArray readFile(const QString &path);
// The whole log a program wrote under the data root, whatever days it ran on.
QString programLogs(const QString &dataRoot, const QString &program);
// A picture of one colour, encoded as a file of that format would hold it.
QByteArray encodedPicture(QSize size, const char *format = "PNG");
// Sends raw bytes to a local port and collects the answer until its JSON body
// ends, running this thread's events meanwhile (the listener may live here).
QByteArray localRequest(quint16 port, const QByteArray &bytes, int timeoutMs = 5000);
// Ends a process the test started: terminate, then kill.
void stopProcess(QProcess &process);
bool writeFile(const QString &path, const QByteArray &bytes);

// Processes running the program file exeFile (as /proc/PID/exe names it, links
// resolved) with HOME set to home: what a test's own service started for it,
// such as the player the watchdog brought up. A private HOME tells them apart
// from every other copy of the program on the machine.
QList<qint64> processesOf(const QString &exeFile, const QString &home);
// Ends one of those by its pid: SIGTERM, then SIGKILL after timeoutMs.
void stopPid(qint64 pid, int timeoutMs = 5000);
