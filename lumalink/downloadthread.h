#pragma once

#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include <functional>

// Fetches the URLs handed to it, one at a time and in order, with
// HttpClient::downloadFile. A finished file is announced at once, so the next
// one can follow without waiting for a poll; a failed one is tried again about
// a second later.
class DownloadThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int RETRY_PAUSE_MS = 1000;

    explicit DownloadThread(QObject *parent = nullptr);
    ~DownloadThread() override;

    // Thread-safe.
    void newDownload(const QString &url);
    bool allDownloaded() const;
    void stop();

    // Replaces the transfer (tests and benchmarks); set before start().
    void setDownloader(std::function<bool(const QString &)> downloader);

signals:
    // A URL left the queue: fetched and verified, or refused for good.
    void sigDownloaded(const QString &url);

protected:
    void run() override;

private:
    mutable QMutex m_mutex;
    QWaitCondition m_wake;
    QStringList m_queue;
    bool m_stop = false;
    std::function<bool(const QString &)> m_download;
};
