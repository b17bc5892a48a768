#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

struct CommandResult
{
    bool started = false;
    bool finished = false;
    int exitCode = -1;
    QByteArray output; // standard output
    QByteArray errorOutput;
};

// Every external program either program starts goes through a runner handed
// to the piece that starts it, so tests can record `sudo -S shutdown -h now`
// instead of running it.
class CommandRunner
{
public:
    virtual ~CommandRunner() = default;

    // Runs program with args, writes input to its standard input and waits.
    // startMs bounds the start, finishMs the run; what was printed until then
    // is returned either way.
    virtual CommandResult run(const QString &program, const QStringList &args,
        const QByteArray &input = QByteArray(), int startMs = 30000, int finishMs = 30000)
        = 0;

    // Like run() without input or time limit, calling whileRunning about every
    // pollMs until the program ends (to follow a file it writes). When
    // whileRunning returns false the program is killed (finished stays false).
    virtual CommandResult runWatched(const QString &program, const QStringList &args,
        const std::function<bool()> &whileRunning, int pollMs = 20)
    {
        Q_UNUSED(whileRunning);
        Q_UNUSED(pollMs);
        return run(program, args, QByteArray(), 30000, -1);
    }

    // Starts a program that outlives the caller (the player restart); its
    // process id in pid when given.
    virtual bool startDetached(
        const QString &program, const QStringList &args, qint64 *pid = nullptr)
        = 0;

    // Runs a privileged command through `sudo -S`, feeding the password; with
    // no password through `sudo -n`, which runs only what the sudoers rule
    // allows without one and otherwise fails at once (logged once per
    // command).
    CommandResult runSudo(
        const QString &password, const QStringList &command, int finishMs = 30000);

private:
    std::mutex m_refusedMutex;
    QSet<QString> m_refusedLogged; // commands sudo -n refused
};

class ProcessRunner : public CommandRunner
{
public:
    CommandResult run(const QString &program, const QStringList &args, const QByteArray &input,
        int startMs, int finishMs) override;
    CommandResult runWatched(const QString &program, const QStringList &args,
        const std::function<bool()> &whileRunning, int pollMs) override;
    bool startDetached(
        const QString &program, const QStringList &args, qint64 *pid = nullptr) override;
};
