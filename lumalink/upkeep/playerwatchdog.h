#pragma once

#include <QString>

struct ServiceSettings;

// Starts the player again when it stops answering: probed with the local
// command "STATUS" (which a running player answers {"code":0}), and started as
// a detached program when the probe fails. A second player started while one
// still runs leaves by itself, since its local port is taken; so a player it
// started that still holds the port but no longer answers (frozen) is ended
// first, by the process id it was started with.
class PlayerWatchdog
{
public:
    explicit PlayerWatchdog(const ServiceSettings &settings)
        : m_settings(settings)
    { }

    static constexpr const char *INSTALLED_PLAYER = "/opt/apps/com.qerbix.lumaview/files/lumaview";

    // The copy in the service's own folder when there is one, else the
    // installed player.
    static QString playerProgram(const QString &serviceDir);

    // Only on a terminal that has a server address. True when the player was
    // started.
    bool checkPlayerRunning();

private:
    const ServiceSettings &m_settings;
    // The player this watchdog started: its process id and when the kernel
    // started it (so a process id used again by another program is left alone).
    qint64 m_pid = 0;
    QByteArray m_startTime;
};
