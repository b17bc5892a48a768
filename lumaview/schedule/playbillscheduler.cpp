#include "schedule/playbillscheduler.h"
#include "datalayout.h"

#include "clock.h"
#include "clocktext.h"
#include "playlog/playlog.h"
#include "safepath.h"

#include <QDir>
#include <QFile>

using namespace ContentXml;

PlaybillScheduler::PlaybillScheduler(Sink *sink, const DataLayout &layout)
    : m_sink(sink)
    , m_layout(layout)
{ }

QString PlaybillScheduler::dataPath(const QString &relative) const
{
    return m_layout.dataDir() + QLatin1Char('/') + relative;
}

QString PlaybillScheduler::contentPath(const QString &folder, const QString &name)
{
    const QString path = SafePath::fileIn(dataPath(folder), name);
    // An empty name is simply absent; any other refused one came from a peer.
    if (path.isEmpty() && !name.isEmpty())
        m_refusals.note(QStringLiteral("Refuse file name \"%1\" in %2: not a plain file name")
                            .arg(name, folder));
    return path;
}

void PlaybillScheduler::requestReload()
{
    m_hasContent = false;
    m_reload = true;
    m_nextSwitch = NEVER;
}

qint64 PlaybillScheduler::step()
{
    if (m_quit)
        return NEVER;
    while (!m_hasContent || m_reload) {
        if (m_status != AUTHORIZED) {
            readStatus();
            if (m_status != AUTHORIZED)
                return Clock::nowMs() + STATUS_RETRY_MS;
        }
        if (m_reload) {
            // Cleared before reading, so a reload requested meanwhile is not lost.
            m_reload = false;
            readDayPlay();
        }
        if (!m_hasContent && !m_reload)
            return NEVER; // authorized, nothing to play: wait for a reload
    }
    return playingPass(Clock::nowMs());
}

qint64 PlaybillScheduler::playingPass(qint64 now)
{
    // The clock was set back: the template on screen keeps at most its own length.
    const qint64 due = m_nextSwitch;
    if (due != NEVER && due - now > m_currentLenMs)
        m_nextSwitch = now + m_currentLenMs;
    m_lastSelect = qMin(m_lastSelect, now);

    const bool hasInsert = !m_dayPlay.itpl.p.isEmpty();
    if (hasInsert && (now >= m_nextInsertCheck || m_nextInsertCheck - now > INSERT_CHECK_MS)) {
        m_nextInsertCheck = now + INSERT_CHECK_MS;
        checkInsertWindow();
    }

    if (m_switchNow || now >= m_nextSwitch)
        selectTemplate();

    // An empty active list waits for the insert window to change or a reload.
    const TP_LIST &active = m_insertActive ? m_insertList : m_dayList;
    qint64 next = NEVER;
    if (!active.ctrls.isEmpty())
        next = qMax<qint64>(m_nextSwitch, m_lastSelect + MIN_REPEAT_MS);
    if (hasInsert)
        next = qMin(next, m_nextInsertCheck);
    return next;
}

void PlaybillScheduler::checkInsertWindow()
{
    const DAY_TPL &insert = m_dayPlay.itpl;
    const QDate day = QDate::fromString(insert.s, QStringLiteral("yyyy-MM-dd"));
    if (!day.isValid())
        return;
    // Seconds since the midnight that starts the insert programme's date, so
    // a window that runs past midnight (e beyond 86399) still ends.
    const qint64 t = day.daysTo(Clock::now().date()) * 86400LL + ClockText::secondsFromMidnight();
    const bool inside = insert.b <= t && t <= insert.e;
    if (!m_insertActive && inside) {
        m_insertActive = true;
        m_switchNow = true;
    } else if (m_insertActive && !inside) {
        m_insertActive = false;
        m_switchNow = true;
    }
}

bool PlaybillScheduler::selectTemplate()
{
    const TP_LIST &list = m_insertActive ? m_insertList : m_dayList;
    if (list.ctrls.isEmpty())
        return false; // tried again on the next pass
    const int n = list.ctrls.size();
    if (n == 1) {
        m_listIndex = 0;
    } else {
        ++m_listIndex;
        if (m_listIndex >= n || m_listIndex < 0)
            m_listIndex = 0;
    }
    const TP_CTRL entry = list.ctrls.at(m_listIndex);
    const int playType = m_insertActive ? 2 : 0;

    m_zoneKind = m_insertActive ? 1 : 0;
    m_zoneCtrls.clear();
    QList<QByteArray> zoneFiles;
    const DAY_TPL &dayEntry = m_insertActive ? m_dayPlay.itpl : m_dayPlay.tpl;
    for (const DAY_ZONE &zone : dayEntry.zones) {
        const QString path = contentPath(QLatin1String(DataLayout::ZONE_FOLDER), zone.p);
        ZONE_CTRL ctrl;
        xml_zoneFileContent(path, ctrl);
        m_zoneCtrls.append(ctrl);
        zoneFiles.append(zone.p.toUtf8() + '\0' + readWhole(path));
    }

    // The template on screen again with the same zone files: its zones keep
    // playing where they are (handing the contents over would start every
    // zone from its first material). A reload hands everything over again.
    const bool unchanged = !m_handOverDue && entry.name == m_shownTemplate
        && playType == m_shownPlayType && zoneFiles == m_shownZoneFiles;
    if (unchanged)
        markUsed(entry.name);
    else
        readTemplate(entry);
    for (const DAY_ZONE &zone : dayEntry.zones)
        markUsed(zone.p);

    const qint64 now = Clock::nowMs();
    m_currentLenMs = qMax(0, entry.len) * qint64(1000);
    m_nextSwitch = now + qint64(entry.len) * 1000;
    m_lastSelect = now;

    if (!unchanged) {
        TP_ZONE_CTRL zones;
        zones.kind = m_zoneKind;
        zones.zones = m_zoneCtrls;
        m_sink->zonesLoaded(zones, playType);
        m_shownTemplate = entry.name;
        m_shownPlayType = playType;
        m_shownZoneFiles = zoneFiles;
        m_handOverDue = false;
    }
    m_switchNow = false;
    return true;
}

QByteArray PlaybillScheduler::readWhole(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void PlaybillScheduler::markUsed(const QString &name)
{
    if (m_playLog)
        m_playLog->updateFileAccessTime(name);
}

void PlaybillScheduler::readDayPlay()
{
    xml_dayPlay(m_layout.dayPlaybill(), m_dayPlay);

    // A list is re-read only when the playbill names it; otherwise the list of
    // the previous load stays.
    const auto loadList = [this](const DAY_TPL &entry, TP_LIST &list) {
        if (entry.p.isEmpty())
            return;
        list.ctrls.clear();
        xml_tpList(contentPath(QLatin1String(DataLayout::TEMPLATE_LIST_FOLDER), entry.p), list);
        list.name = entry.p;
        markUsed(entry.p);
    };
    loadList(m_dayPlay.tpl, m_dayList);
    loadList(m_dayPlay.itpl, m_insertList);

    m_hasContent = (!m_dayList.name.isEmpty() && !m_dayList.ctrls.isEmpty())
        || (!m_insertList.name.isEmpty() && !m_insertList.ctrls.isEmpty());
    m_insertActive = false;
    m_switchNow = true;
    m_listIndex = -1;
    m_nextInsertCheck = 0; // look at the insert window on the first playing pass
    m_handOverDue = true;
}

void PlaybillScheduler::readTemplate(const TP_CTRL &entry)
{
    TP_CONTENT content;
    xml_tpFileContent(contentPath(QLatin1String(DataLayout::MEDIA_FOLDER), entry.name), content);
    content.name = entry.name;
    // The template on screen is in use like its list, zones and media, so the
    // service's cleanup keeps it.
    markUsed(entry.name);
    m_sink->templateLoaded(content);
}

bool PlaybillScheduler::readStatus()
{
    // The service writes the file whole; one that is missing or damaged
    // (the service sets it aside) tells nothing.
    const std::optional<StatusRecord> record = StatusRecord::read(m_layout.statusFile());
    if (!record)
        return false;
    bool changed = false;
    if (record->status)
        changed = m_status.exchange(*record->status) != *record->status;
    m_sink->statusRead(*record);
    return changed;
}
