#include "downloadthread.h"

#include "httpclient.h"
#include "miscfunc.h"

DownloadThread::DownloadThread(QObject *parent)
    : QThread(parent)
{
    m_download = [](const QString &url) { return HttpClient::downloadFile(url); };
}

DownloadThread::~DownloadThread()
{
    stop();
    wait();
}

void DownloadThread::setDownloader(std::function<bool(const QString &)> downloader)
{
    m_download = std::move(downloader);
}

void DownloadThread::newDownload(const QString &url)
{
    QMutexLocker lock(&m_mutex);
    m_queue.append(url);
    m_wake.wakeAll();
}

bool DownloadThread::allDownloaded() const
{
    QMutexLocker lock(&m_mutex);
    return m_queue.isEmpty();
}

void DownloadThread::stop()
{
    QMutexLocker lock(&m_mutex);
    m_stop = true;
    m_wake.wakeAll();
}

void DownloadThread::run()
{
    QMutexLocker lock(&m_mutex);
    while (!m_stop) {
        if (m_queue.isEmpty()) {
            m_wake.wait(&m_mutex);
            continue;
        }
        const QString url = m_queue.first();
        lock.unlock();
        // A URL that cannot name a local file is never fetched; it leaves the
        // queue so the rest of the playbill still arrives.
        const bool refused = HttpClient::localFileName(url).isEmpty();
        const bool done = refused || m_download(url);
        if (refused)
            MiscFunc::writeLog(QStringLiteral("WARN"), QStringLiteral("DownloadFile"),
                QStringLiteral("Skip download without a plain file name: ") + url);
        lock.relock();
        if (done) {
            if (!m_queue.isEmpty() && m_queue.first() == url)
                m_queue.removeFirst();
            lock.unlock();
            emit sigDownloaded(url);
            lock.relock();
        } else if (!m_stop) {
            m_wake.wait(&m_mutex, RETRY_PAUSE_MS);
        }
    }
}
