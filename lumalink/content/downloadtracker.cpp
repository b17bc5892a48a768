#include "content/downloadtracker.h"
#include "datalayout.h"

#include "content/downloadthread.h"
#include "content/mediadownload.h"
#include "dailylog.h"
#include "lebytes.h"
#include "systemprobe.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <utility>

QString DownloadTracker::fileUrl(const QString &httpIp, int httpPort, const QString &entry)
{
    return QStringLiteral("http://%1:%2/%3").arg(httpIp).arg(httpPort).arg(entry);
}

void DownloadTracker::restart()
{
    downloadFiles.clear();
    doneFiles.clear();
    // The file on its way belongs to the old batch: its completion must not
    // mark a file of the new one as fetched.
    if (!currentDownload.isEmpty())
        m_abandoned = currentDownload;
    currentDownload.clear();
    downloadedSomething = false;
    playbillWaiting = true;
}

bool DownloadTracker::settleAbandoned(
    DownloadThread &thread, const QString &httpIp, int httpPort, bool collecting)
{
    if (m_abandoned.isEmpty())
        return false;
    if (!downloadFiles.isEmpty()
        && fileUrl(httpIp, httpPort, downloadFiles.first()) == m_abandoned) {
        // The new batch starts with that very file: let its transfer go on,
        // without the pause of earlier failures.
        currentDownload = std::exchange(m_abandoned, QString());
        thread.retryNow();
        return true;
    }
    // While lists and zones still come in, the new batch may yet name it.
    if (downloadFiles.isEmpty() && collecting)
        return false;
    DailyLog::write(QStringLiteral("INFO"), QStringLiteral("TCP"),
        QStringLiteral("Stop download of the old playbill: ") + m_abandoned);
    m_abandoned.clear();
    thread.cancelAll();
    return false;
}

DownloadTracker::Step DownloadTracker::step(
    DownloadThread &thread, const QString &httpIp, int httpPort, bool collecting)
{
    if (settleAbandoned(thread, httpIp, httpPort, collecting))
        return Step::HandedOver;
    if (!downloadFiles.isEmpty()) {
        if (currentDownload.isEmpty()) {
            const QString url = fileUrl(httpIp, httpPort, downloadFiles.first());
            if (MediaDownload::localFileName(url).isEmpty()) {
                // Never a file in data/mtl: drop it rather than stall the batch.
                DailyLog::write(QStringLiteral("WARN"), QStringLiteral("TCP"),
                    QStringLiteral("Skip file without a plain name: ") + downloadFiles.first());
                downloadFiles.removeFirst();
                return Step::Skipped;
            }
            currentDownload = url;
            thread.newDownload(url);
            return Step::HandedOver;
        }
        if (!thread.allDownloaded())
            return Step::Waiting;
        doneFiles.append(downloadFiles.takeFirst());
        DailyLog::write(QStringLiteral("DEBUG"), QStringLiteral("TCP"),
            QStringLiteral("Check mtl file=") + currentDownload);
        downloadedSomething = true;
        currentDownload.clear();
        return Step::Completed;
    }
    if ((downloadedSomething || playbillWaiting) && !collecting) {
        renameDayPlaybill();
        downloadedSomething = false;
        playbillWaiting = false;
        return Step::Switched;
    }
    return Step::Idle;
}

void DownloadTracker::renameDayPlaybill()
{
    const QString playbill = DataLayout().dayPlaybill();
    const QString fresh = playbill + QStringLiteral(".tmp");
    if (!QFile::exists(fresh))
        return;
    // rename() keeps the old file until the new one takes its name, so the
    // player never finds no playbill at all.
    if (::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(playbill).constData())
        != 0) {
        QFile::remove(playbill);
        QFile::rename(fresh, playbill);
    }
}

QString DownloadTracker::getDownloadPercent(const QString &entry)
{
    const QString name = entry.mid(entry.lastIndexOf(QLatin1Char('/')) + 1);
    const QString path = MediaDownload::mediaDir() + name;
    if (QFile::exists(path))
        return QStringLiteral("100");
    const QFileInfo partial(path + QStringLiteral(".tmp"));
    if (!partial.exists())
        return QStringLiteral("0");
    QFile md5(path + QStringLiteral(".md5"));
    if (!md5.open(QIODevice::ReadOnly))
        return QStringLiteral("0");
    const QByteArray head = md5.read(56);
    md5.close();
    if (head.size() <= 55)
        return QStringLiteral("0");
    const unsigned long long total = LeBytes::read64(head, 48);
    if (total == 0)
        return QStringLiteral("0");
    return QString::number(static_cast<double>(partial.size()) * 100.0 / total, 'f', 0);
}

void DownloadTracker::getDownloadXml(QByteArray &out)
{
    getDownloadXml(out, SystemProbe::diskInfo());
}

void DownloadTracker::getDownloadXml(QByteArray &out, const QString &diskInfo)
{
    // The declaration says GBK while the bytes are UTF-8; the server reads it so.
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"GBK\"?><DownloadList>\n");
    if (downloadFiles.isEmpty()) {
        doneFiles.clear();
    } else {
        const QString element
            = QStringLiteral("<file name=\"%1\" percentage=\"%2\" downloadstatus=\"%3\"/>\n");
        // Names come from the server's lists: "&", "<" or a quote must not break the report.
        xml += element.arg(downloadFiles.first().toHtmlEscaped(),
            getDownloadPercent(downloadFiles.first()), QStringLiteral("2"));
        for (int i = 1; i < downloadFiles.size(); ++i)
            xml += element.arg(
                downloadFiles.at(i).toHtmlEscaped(), QStringLiteral("0"), QStringLiteral("1"));
    }
    for (const QString &done : qAsConst(doneFiles))
        xml += QStringLiteral("<file name=\"%1\" percentage=\"100\"/>\n").arg(done.toHtmlEscaped());
    xml += QStringLiteral("<download downloadcount=\"%1\" downloadedCount=\"%2\"/>\n")
               .arg(downloadFiles.size() + doneFiles.size())
               .arg(doneFiles.size());

    const int lf = diskInfo.indexOf(QLatin1Char('\n'));
    QString total = (lf < 0 ? diskInfo : diskInfo.left(lf)).toUpper();
    const QString usedText = (lf < 0 ? QString() : diskInfo.mid(lf + 1)).trimmed();
    double used = usedText.toDouble();
    if (total.isEmpty())
        total = QStringLiteral("1");
    if (total.endsWith(QLatin1Char('G')))
        total = QString::number(total.chopped(1).toDouble() * 1000000000.0, 'f', 0);
    // The disk probe writes a whole percentage: "1" is 1 % used, not a full
    // disk. A value with a fractional part up to 1 is a share.
    const bool wholePercent = !usedText.contains(QLatin1Char('.')) && used >= 1;
    if (used > 1 || wholePercent)
        used /= 100.0;
    const double available = static_cast<double>(total.toULongLong()) * (1.0 - used);
    xml += QStringLiteral("<space sdcardSize=\"0\" sdcardAvailSize=\"0\" systemSize=\"%1\" "
                          "systemAvailSize=\"%2\"/>\n")
               .arg(total, QString::number(available, 'f', 0));
    xml += QStringLiteral("</DownloadList>");
    out = xml.toUtf8();
}
