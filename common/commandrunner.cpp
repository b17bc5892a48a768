#include "commandrunner.h"

#include "dailylog.h"

#include <QProcess>

#include <mutex>

CommandResult CommandRunner::runSudo(
    const QString &password, const QStringList &command, int finishMs)
{
    if (!password.isEmpty()) {
        QStringList args {QStringLiteral("-S")};
        args += command;
        return run(QStringLiteral("sudo"), args, password.toUtf8() + '\n', 30000, finishMs);
    }
    QStringList args {QStringLiteral("-n")};
    args += command;
    const CommandResult result = run(QStringLiteral("sudo"), args, QByteArray(), 30000, finishMs);
    if (result.finished && result.exitCode == 0)
        return result;
    const QString name = command.value(0);
    {
        std::lock_guard<std::mutex> lock(m_refusedMutex);
        if (m_refusedLogged.contains(name))
            return result;
        m_refusedLogged.insert(name);
    }
    DailyLog::write(QStringLiteral("WARN"), QStringLiteral("SUDO"),
        QStringLiteral("sudo -n %1 failed (no password stored; is the user in the lumaview group "
                       "the sudoers rule names?): %2")
            .arg(command.join(QLatin1Char(' ')),
                QString::fromUtf8(result.errorOutput.left(300)).trimmed()));
    return result;
}

CommandResult ProcessRunner::run(const QString &program, const QStringList &args,
    const QByteArray &input, int startMs, int finishMs)
{
    CommandResult result;
    QProcess process;
    process.start(program, args);
    result.started = process.waitForStarted(startMs);
    if (!result.started)
        return result;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    result.finished = process.waitForFinished(finishMs);
    result.output = process.readAllStandardOutput();
    result.errorOutput = process.readAllStandardError();
    if (result.finished) {
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    } else {
        process.kill();
        process.waitForFinished(1000);
    }
    return result;
}

CommandResult ProcessRunner::runWatched(const QString &program, const QStringList &args,
    const std::function<bool()> &whileRunning, int pollMs)
{
    CommandResult result;
    QProcess process;
    process.start(program, args);
    result.started = process.waitForStarted(30000);
    if (!result.started)
        return result;
    process.closeWriteChannel();
    while (!process.waitForFinished(pollMs)) {
        if (process.state() == QProcess::NotRunning)
            break;
        if (whileRunning && !whileRunning()) {
            process.kill();
            process.waitForFinished(1000);
            return result;
        }
    }
    result.finished = true;
    result.output = process.readAllStandardOutput();
    result.errorOutput = process.readAllStandardError();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

bool ProcessRunner::startDetached(const QString &program, const QStringList &args, qint64 *pid)
{
    return QProcess::startDetached(program, args, QString(), pid);
}
