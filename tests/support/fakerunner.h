#pragma once

#include "commandrunner.h"

#include <QList>
#include <QMap>
#include <QSet>

#include <mutex>

// Records every command instead of running it; canned output per program.
// Programs named in realPrograms (harmless ones such as wget or zip) run for real.
class FakeRunner : public CommandRunner
{
public:
    QSet<QString> realPrograms;

    struct Call
    {
        QString program;
        QStringList args;
        QByteArray input;
    };

    CommandResult run(const QString &program, const QStringList &args, const QByteArray &input,
        int startMs, int finishMs) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.append({program, args, input});
        }
        if (realPrograms.contains(program))
            return ProcessRunner().run(program, args, input, startMs, finishMs);
        std::lock_guard<std::mutex> lock(m_mutex);
        CommandResult result;
        result.started = true;
        result.finished = true;
        result.exitCode = m_exitCodes.value(program, 0);
        result.output = m_outputs.value(program);
        return result;
    }
    CommandResult runWatched(const QString &program, const QStringList &args,
        const std::function<bool()> &whileRunning, int pollMs) override
    {
        if (!realPrograms.contains(program))
            return CommandRunner::runWatched(program, args, whileRunning, pollMs);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.append({program, args, QByteArray()});
        }
        return ProcessRunner().runWatched(program, args, whileRunning, pollMs);
    }
    bool startDetached(const QString &program, const QStringList &args, qint64 *pid) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.append({program, args, QByteArray()});
        if (pid)
            *pid = m_detachedPid;
        return true;
    }
    // The process id startDetached reports (a process the test started).
    void setDetachedPid(qint64 pid)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_detachedPid = pid;
    }
    void setOutput(const QString &program, const QByteArray &output)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_outputs.insert(program, output);
    }
    void setExitCode(const QString &program, int code)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_exitCodes.insert(program, code);
    }
    QList<Call> calls() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    // The calls of one program, so a check counts only what it is about
    // (the address probe may run `ip` on a machine with only a loopback).
    QList<Call> callsOf(const QString &program) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        QList<Call> picked;
        for (const Call &call : m_calls)
            if (call.program == program)
                picked.append(call);
        return picked;
    }

private:
    qint64 m_detachedPid = 0;
    mutable std::mutex m_mutex;
    QList<Call> m_calls;
    QMap<QString, QByteArray> m_outputs;
    QMap<QString, int> m_exitCodes;
};
