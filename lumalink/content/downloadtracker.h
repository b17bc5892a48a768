#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class DownloadThread;

// Moves the files a playbill names to the download thread one at a time, in
// list order, notices each arrival and tells when the whole batch is in so the
// new playbill can be switched in. It also builds the download report.
class DownloadTracker
{
public:
    enum class Step {
        Idle, // nothing to do
        HandedOver, // the next file went to the download thread
        Waiting, // the current file is still on its way
        Skipped, // the first entry cannot name a local file and was dropped
        Completed, // the current file arrived; doneFiles grew by one
        Switched // the batch is complete: the new playbill is in place
    };

    // What the session's lists hold.
    QList<QString> downloadFiles;
    QList<QString> doneFiles;
    QString currentDownload;
    bool downloadedSomething = false;
    // A new playbill waits to be switched in once its files are all here,
    // even when it names none.
    bool playbillWaiting = false;

    // One hand-over step; httpIp/httpPort is the configuration's file server.
    // While the session is still collecting the playbill's lists and zones,
    // files are fetched but the playbill is not switched yet.
    Step step(DownloadThread &thread, const QString &httpIp, int httpPort, bool collecting = false);
    // A new schedule: forget both lists and the file on its way. That transfer
    // is stopped at the next step unless the new batch starts with the same file.
    void restart();
    // The file of the old batch still with the download thread (empty: none).
    QString abandonedDownload() const { return m_abandoned; }

    static QString fileUrl(const QString &httpIp, int httpPort, const QString &entry);
    static void renameDayPlaybill();
    static QString getDownloadPercent(const QString &name);
    void getDownloadXml(QByteArray &out);
    void getDownloadXml(QByteArray &out, const QString &diskInfo);

private:
    // Settles the transfer a restart left behind; true when it became the
    // current download again.
    bool settleAbandoned(
        DownloadThread &thread, const QString &httpIp, int httpPort, bool collecting);

    QString m_abandoned;
};
