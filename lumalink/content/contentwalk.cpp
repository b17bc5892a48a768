#include "content/contentwalk.h"

#include "content/contentstore.h"
#include "dailylog.h"
#include "protocol/serverprotocol.h"
#include "xmlguard.h"

#include <QDomDocument>

namespace {
// Only a document that can be read is stored: one that the XML reader refuses
// or that does not parse would be read, and fail, at every pass of the player.
bool refused(const QByteArray &body, XmlGuard::Encoding encoding, const QString &what)
{
    QDomDocument doc;
    QString why;
    if (XmlGuard::parse(body, encoding, doc, &why))
        return false;
    DailyLog::write(QStringLiteral("WARN"), QStringLiteral("TCP"),
        QStringLiteral("Refuse %1, not stored: %2").arg(what, why));
    return true;
}
} // namespace

void ContentWalk::setFileRecorder(std::function<void(const QString &)> recorder)
{
    m_recordFile = std::move(recorder);
}

void ContentWalk::record(const QString &name)
{
    if (m_recordFile)
        m_recordFile(name);
}

ContentWalk::Move ContentWalk::notStored(int step, const QString &what)
{
    DailyLog::write(QStringLiteral("WARN"), QStringLiteral("TCP"),
        QStringLiteral("Could not store %1: asking again later").arg(what));
    Move move {step};
    move.retryLater = true;
    return move;
}

void ContentWalk::dropUnsafeIds(QList<QByteArray> &ids, const char *kind)
{
    for (int i = ids.size() - 1; i >= 0; --i) {
        if (ContentStore::isSafeId(ids.at(i)))
            continue;
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("TCP"),
            QStringLiteral("Refuse %1 id \"%2\": not a plain file name")
                .arg(QLatin1String(kind), QString::fromLatin1(ids.at(i).toPercentEncoding())));
        ids.removeAt(i);
    }
}

ContentWalk::Move ContentWalk::onSchedule(const QByteArray &frame)
{
    QByteArray payload;
    if (!ServerProtocol::verifiedPayload(frame, payload))
        return Move {WAITING};
    if (refused(payload, XmlGuard::Encoding::Declared, QStringLiteral("the day schedule"))) {
        // The playbill in place plays on; the server's next change starts a new walk.
        Move move {WAITING};
        move.contentReady = true;
        move.idleWait = true;
        return move;
    }
    if (!ContentStore::writeDaySchedule(payload, true))
        return notStored(REQ_SCHEDULE, QStringLiteral("the day schedule"));
    m_tracker.restart();
    m_tplIds.clear();
    m_zoneIds.clear();
    ContentStore::getDayScheduleTpl(payload, m_tplIds, m_zoneIds);
    dropUnsafeIds(m_tplIds, "template list");
    dropUnsafeIds(m_zoneIds, "zone");
    if (!m_tplIds.isEmpty())
        return Move {REQ_TPL};
    // Nothing to fetch: the schedule is switched in as it is, even an empty one
    // (an operator clearing the terminal).
    Move move {WAITING};
    move.contentReady = true;
    move.idleWait = true;
    move.walkDone = true;
    return move;
}

ContentWalk::Move ContentWalk::onTemplateList(const QByteArray &frame)
{
    QByteArray payload;
    if (!ServerProtocol::verifiedPayload(frame, payload) || m_tplIds.isEmpty())
        return Move {WAITING};
    const QByteArray id = m_tplIds.first();
    const QString what = QStringLiteral("template list ") + QString::fromLatin1(id);
    // A refused list is passed over like one that names nothing.
    if (!refused(payload, XmlGuard::Encoding::Declared, what)) {
        if (!ContentStore::writeTpl(id, payload))
            return notStored(REQ_TPL, what);
        record(QString::fromLatin1(id));
        ContentStore::getTpFile(payload, m_tracker.downloadFiles);
    }
    m_tplIds.removeFirst();
    return Move {m_tplIds.isEmpty() ? REQ_ZONE : REQ_TPL};
}

ContentWalk::Move ContentWalk::onZone(const QByteArray &frame)
{
    QByteArray payload;
    if (!ServerProtocol::verifiedPayload(frame, payload) || m_zoneIds.isEmpty())
        return Move {WAITING};
    const QByteArray id = m_zoneIds.first();
    const QString what = QStringLiteral("zone ") + QString::fromLatin1(id);
    // Checked as it is stored and read: UTF-8, whatever it declares.
    if (!refused(ContentStore::zoneAsStored(payload), XmlGuard::Encoding::Utf8, what)) {
        if (!ContentStore::writeZone(id, payload))
            return notStored(REQ_ZONE, what);
        record(QString::fromLatin1(id));
        QByteArray stored;
        if (ContentStore::readZoneXml(id, stored))
            ContentStore::getZoneMaterialFile(stored, m_tracker.downloadFiles);
    }
    m_zoneIds.removeFirst();
    Move move {m_zoneIds.isEmpty() ? REQ_FILE : REQ_ZONE};
    move.walkDone = move.step == REQ_FILE;
    return move;
}

void ContentWalk::forgetDoneFiles()
{
    m_tracker.doneFiles.clear();
}

ContentWalk::HandOver ContentWalk::handOver(
    DownloadThread &thread, const QString &httpIp, int httpPort, int step)
{
    HandOver result;
    for (;;) {
        const QString url = m_tracker.currentDownload;
        // The walk may still add lists and zones: no switch before it is done.
        const bool collecting = !m_tplIds.isEmpty() || !m_zoneIds.isEmpty() || step == REQ_SCHEDULE
            || step == REQ_TPL || step == REQ_ZONE;
        switch (m_tracker.step(thread, httpIp, httpPort, collecting)) {
        case DownloadTracker::Step::Completed:
            ++result.completed;
            record(url);
            continue;
        case DownloadTracker::Step::Skipped:
            continue;
        case DownloadTracker::Step::Switched:
            result.switched = true;
            return result;
        default:
            return result;
        }
    }
}
