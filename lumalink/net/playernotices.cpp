#include "net/playernotices.h"

#include "dailylog.h"
#include "net/offthreadwork.h"
#include "notifyclient.h"
#include "notifyprotocol.h"
#include "version.h"

#include <QList>
#include <QPair>

#include <algorithm>
#include <mutex>

namespace {
SerialPool &noticePool()
{
    // One thread keeps the notices in order.
    static SerialPool *pool = new SerialPool;
    return *pool;
}

PlayerNotices::Sink &noticeSink()
{
    static PlayerNotices::Sink sink;
    return sink;
}

// Notices not yet sent to the player. A notice of a command already waiting
// takes the waiting one's place with its newer parameter (the player acts on
// the latest volume or status, and one reload or exit does), so a flood of
// requests from the server leaves at most one notice per command.
struct PendingNotices
{
    static constexpr int MAX = 16;
    std::mutex mutex;
    QList<QPair<QString, QString>> waiting;
    bool draining = false;
};

PendingNotices &pendingNotices()
{
    static PendingNotices *pending = new PendingNotices;
    return *pending;
}

void drainNotices()
{
    PendingNotices &pending = pendingNotices();
    for (;;) {
        QPair<QString, QString> notice;
        {
            std::lock_guard<std::mutex> lock(pending.mutex);
            if (pending.waiting.isEmpty()) {
                pending.draining = false;
                return;
            }
            notice = pending.waiting.takeFirst();
        }
        NotifyClient::notify(PLAYER_PORT, notice.first, notice.second);
    }
}
} // namespace

QString PlayerNotices::ask(const QString &cmd, const QString &param)
{
    return NotifyClient::notify(PLAYER_PORT, cmd, param);
}

void PlayerNotices::post(const QString &cmd, const QString &param)
{
    if (const Sink &sink = noticeSink()) {
        sink(cmd, param);
        return;
    }
    PendingNotices &pending = pendingNotices();
    std::lock_guard<std::mutex> lock(pending.mutex);
    auto same = std::find_if(pending.waiting.begin(), pending.waiting.end(),
        [&cmd](const QPair<QString, QString> &notice) { return notice.first == cmd; });
    if (same != pending.waiting.end()) {
        same->second = param;
    } else if (pending.waiting.size() >= PendingNotices::MAX) {
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("HTTP"),
            QStringLiteral("Drop notice %1 to the player: %2 notices wait")
                .arg(cmd)
                .arg(pending.waiting.size()));
        return;
    } else {
        pending.waiting.append(qMakePair(cmd, param));
    }
    if (!pending.draining) {
        pending.draining = true;
        noticePool().start(drainNotices);
    }
}

bool PlayerNotices::waitUntilSent(int timeoutMs)
{
    return noticePool().waitForDone(timeoutMs);
}

void PlayerNotices::setSink(Sink sink)
{
    noticeSink() = std::move(sink);
}
