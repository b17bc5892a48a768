#include "httpclient.h"

#include "notifyclient.h"
#include "version.h"

#include <QThreadPool>

namespace {
QThreadPool &noticePool()
{
    // One thread keeps the notices in order.
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1);
        p->setExpiryTimeout(30000);
        return p;
    }();
    return *pool;
}
} // namespace

QString HttpClient::notifyPlayer(const QString &cmd, const QString &param)
{
    return NotifyClient::notify(PLAYER_PORT, cmd, param);
}

void HttpClient::notifyPlayerAsync(const QString &cmd, const QString &param)
{
    noticePool().start([cmd, param] { NotifyClient::notify(PLAYER_PORT, cmd, param); });
}

bool HttpClient::waitForNotices(int timeoutMs)
{
    return noticePool().waitForDone(timeoutMs);
}
