#pragma once

#include <QString>

// Starts the player again when it stops answering: probed with the local
// command "STATUS" (which a running player answers {"code":0}), and started as
// a detached program when the probe fails. A second player started while one
// still runs leaves by itself, since its local port is taken.
class PlayerWatchdog
{
public:
    static constexpr const char *INSTALLED_PLAYER = "/opt/apps/com.qerbix.lumaview/files/lumaview";

    // The copy in the service's own folder when there is one, else the
    // installed player.
    static QString playerProgram(const QString &serviceDir);

    // Only on a terminal that has a server address. True when the player was
    // started.
    static bool checkPlayerRunning();
};
