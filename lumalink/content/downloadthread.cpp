#include "content/downloadthread.h"
#include "datalayout.h"

#include "content/mediadownload.h"
#include "content/mediamarks.h"
#include "dailylog.h"

std::shared_ptr<MediaMarks> DownloadThread::standardMarks()
{
    return std::make_shared<MediaMarks>(DataLayout().mediaMarks(), MediaDownload::mediaDir());
}

DownloadThread::DownloadThread(QObject *parent, std::shared_ptr<MediaMarks> marks)
    : LoopThread(parent)
    , m_marks(marks ? std::move(marks) : standardMarks())
{
    m_download = [this](const QString &url) {
        bool wrongDigest = false;
        if (MediaDownload::fetch(
                url, *m_marks, [this] { return cancelRequested(); }, &wrongDigest))
            return Outcome::Done;
        return wrongDigest ? Outcome::WrongDigest : Outcome::Failed;
    };
}

DownloadThread::~DownloadThread()
{
    stop();
}

void DownloadThread::setDownloader(std::function<bool(const QString &)> downloader)
{
    m_download = [downloader = std::move(downloader)](const QString &url) {
        return downloader(url) ? Outcome::Done : Outcome::Failed;
    };
}

void DownloadThread::setDownloaderWithOutcome(std::function<Outcome(const QString &)> downloader)
{
    m_download = std::move(downloader);
}

void DownloadThread::setRetryPauses(int firstMs, int lastMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_firstPauseMs = firstMs;
    m_lastPauseMs = lastMs;
}

int DownloadThread::retryPauseMs(int failures, int firstMs, int lastMs)
{
    qint64 pause = firstMs;
    for (int i = 1; i < failures && pause < lastMs; ++i)
        pause *= 2;
    return static_cast<int>(qMin<qint64>(pause, lastMs));
}

void DownloadThread::newDownload(const QString &url)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.append(url);
    }
    wake();
}

bool DownloadThread::allDownloaded() const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_queue.isEmpty();
}

void DownloadThread::cancelAll()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.clear();
        ++m_generation;
        m_cancel = true;
        m_failures = 0;
        m_digestFailures.clear();
        m_retryAt = QDeadlineTimer();
    }
    wake();
}

void DownloadThread::retryNow()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failures = 0;
        m_retryAt = QDeadlineTimer();
    }
    wake();
}

void DownloadThread::loop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!stopRequested()) {
        // Nothing to fetch, or a pause before the next try: sleep until a
        // new URL, a cancel or a retry wakes the thread, or the pause ends.
        // A wake while the lock is let go is not lost: it ends the sleep.
        if (m_queue.isEmpty() || !m_retryAt.hasExpired()) {
            const qint64 ms = m_queue.isEmpty() ? UNTIL_WOKEN : m_retryAt.remainingTime();
            lock.unlock();
            sleepFor(ms);
            lock.lock();
            continue;
        }
        const QString url = m_queue.first();
        const quint64 generation = m_generation;
        m_cancel = false;
        lock.unlock();
        // A URL that cannot name a local file is never fetched; it leaves the
        // queue so the rest of the playbill still arrives.
        const bool refused = MediaDownload::localFileName(url).isEmpty();
        const Outcome outcome = refused ? Outcome::Done : m_download(url);
        if (refused)
            DailyLog::write(QStringLiteral("WARN"), QStringLiteral("DownloadFile"),
                QStringLiteral("Skip download without a plain file name: ") + url);
        lock.lock();
        if (generation != m_generation)
            continue; // handed over before a cancel: its outcome changes nothing
        bool givenUp = false;
        if (outcome == Outcome::WrongDigest && ++m_digestFailures[url] >= MAX_DIGEST_FAILURES) {
            givenUp = true;
            DailyLog::write(QStringLiteral("WARN"), QStringLiteral("DownloadFile"),
                QStringLiteral("Give up %1: its content did not match its name %2 times; the "
                               "playbill goes ahead without it")
                    .arg(url)
                    .arg(MAX_DIGEST_FAILURES));
        }
        if (outcome == Outcome::Done || givenUp) {
            m_queue.removeFirst();
            m_failures = 0;
            lock.unlock();
            emit sigDownloaded(url);
            lock.lock();
            continue;
        }
        const int pause = retryPauseMs(++m_failures, m_firstPauseMs, m_lastPauseMs);
        m_retryAt.setRemainingTime(pause);
        lock.unlock();
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("DownloadFile"),
            QStringLiteral("Try %1 again in %2 s").arg(url).arg(pause / 1000.0));
        emit sigRetryLater(url, pause);
        lock.lock();
    }
}
