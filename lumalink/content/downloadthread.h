#pragma once

#include "loopthread.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class MediaMarks;

// Fetches the URLs handed to it, one at a time and in order, with
// MediaDownload::fetch. A finished file is announced at once, so the next
// one can follow without waiting for a poll. A failed one is tried again
// after a pause that doubles with every failure in a row (1 s up to 5 min), so
// a file the server cannot give is not asked for every second.
class DownloadThread : public LoopThread
{
    Q_OBJECT
public:
    static constexpr int FIRST_RETRY_PAUSE_MS = 1000;
    static constexpr int LAST_RETRY_PAUSE_MS = 300000;

    // marks: which media files were checked (shared with the check at start);
    // none gives the data folder's own.
    explicit DownloadThread(QObject *parent = nullptr, std::shared_ptr<MediaMarks> marks = nullptr);
    static std::shared_ptr<MediaMarks> standardMarks();
    ~DownloadThread() override;

    // Thread-safe.
    void newDownload(const QString &url);
    bool allDownloaded() const;
    // Forgets every URL handed over and stops the transfer in progress; its
    // result, whenever it comes, changes nothing. The pause starts over.
    void cancelAll();
    // The pause before the next attempt ends now and starts over at its first length.
    void retryNow();
    // For the transfer, on the download thread: the running transfer is no
    // longer wanted.
    bool cancelRequested() const { return m_cancel.load(); }

    // How one attempt ended.
    enum class Outcome {
        Done, // fetched and verified
        Failed, // tried again after a pause
        WrongDigest, // arrived whole but did not match its name
    };
    // A file whose content never matches its name is fetched at most this
    // often per batch; then it is given up and the rest of the playbill
    // goes ahead without it.
    static constexpr int MAX_DIGEST_FAILURES = 3;

    // Replaces the transfer (tests and benchmarks); set before start().
    void setDownloader(std::function<bool(const QString &)> downloader);
    void setDownloaderWithOutcome(std::function<Outcome(const QString &)> downloader);
    // Shorter pauses for tests; set before start().
    void setRetryPauses(int firstMs, int lastMs);
    // The pause after the given number of failures in a row.
    static int retryPauseMs(
        int failures, int firstMs = FIRST_RETRY_PAUSE_MS, int lastMs = LAST_RETRY_PAUSE_MS);

signals:
    // A URL left the queue: fetched and verified, or refused or given up for good.
    void sigDownloaded(const QString &url);
    // A URL failed; it is tried again after pauseMs.
    void sigRetryLater(const QString &url, int pauseMs);

protected:
    void loop() override;
    // Stops the transfer in progress.
    void onStopRequested() override { m_cancel = true; }

private:
    mutable std::mutex m_mutex; // guards the queue and the pause
    QStringList m_queue;
    quint64 m_generation = 0; // moves on with every cancelAll()
    int m_failures = 0; // of the first URL, in a row
    QDeadlineTimer m_retryAt; // no attempt before this (expired: none pending)
    std::atomic<bool> m_cancel {false};
    int m_firstPauseMs = FIRST_RETRY_PAUSE_MS;
    int m_lastPauseMs = LAST_RETRY_PAUSE_MS;
    QHash<QString, int> m_digestFailures; // per URL, since the last cancelAll()
    std::shared_ptr<MediaMarks> m_marks;
    std::function<Outcome(const QString &)> m_download;
};
