#include "zones/zonecycle.h"

void ZoneCycle::setZoneCtrl(const ContentXml::ZONE_CTRL &zone, int playType)
{
    m_zoneName = zone.name;
    m_mtls = zone.mtls;
    m_index = -1;
    m_endMs = 0;
    m_navigation = 0;
    m_playType = playType;
}

void ZoneCycle::step(int direction)
{
    const int n = m_mtls.size();
    m_index += direction;
    if (m_index < 0)
        m_index = n - 1;
    if (m_index >= n)
        m_index = 0;
}

bool ZoneCycle::play(qint64 nowMs)
{
    m_current = m_mtls.at(m_index);
    // Records made by hand (not read from a zone file) may carry values
    // below 1; a slot must always last and count at least one play.
    m_current.len = qMax(1, m_current.len);
    m_current.etimes = qMax(1, m_current.etimes);
    m_startMs = nowMs;
    m_endMs = nowMs + qint64(m_current.len) * m_current.etimes * 1000;
    return true;
}

bool ZoneCycle::tick(qint64 nowMs)
{
    if (m_mtls.isEmpty())
        return false;
    if (m_index >= m_mtls.size())
        m_index = -1; // the list got shorter under a running index
    if (nowMs < m_endMs && m_navigation == 0)
        return false;
    if (m_navigation != 0) {
        // A material left early by a swipe is not recorded.
        if (m_index >= 0)
            m_startMs = 0;
        step(m_navigation);
        m_navigation = 0;
        m_advance = Advance::Navigated;
        return play(nowMs);
    }
    if (m_index >= 0) {
        m_startMs = 0;
        m_records.append({m_current, m_current.etimes});
    }
    const bool first = m_index < 0;
    step(1);
    m_advance = first ? Advance::First : m_index == 0 ? Advance::Wrapped : Advance::Next;
    return play(nowMs);
}

int ZoneCycle::finishEarly(qint64 nowMs)
{
    int times = 0;
    const qint64 slot = qint64(m_current.len) * 1000;
    if (m_startMs > 0 && !m_current.name.isEmpty() && slot > 0) {
        const qint64 elapsed = nowMs - m_startMs;
        times = static_cast<int>((elapsed + 2000) / slot);
        // The 2 s grace must not count plays that never began (a 1 s picture
        // cut after half a second is one play, not two).
        times = static_cast<int>(qMin<qint64>(times, elapsed / slot + 1));
    }
    m_startMs = 0;
    if (times > 0)
        m_records.append({m_current, times});
    return times;
}

QList<ZoneCycle::Record> ZoneCycle::takeRecords()
{
    QList<Record> records;
    records.swap(m_records);
    return records;
}

QString ZoneCycle::playName(const ContentXml::ZONE_MTL &mtl, bool *fileName)
{
    if (fileName)
        *fileName = false;
    if (mtl.type == QLatin1String("ie") || mtl.type == QLatin1String("web"))
        return mtl.url;
    if (!mtl.name.isEmpty() && mtl.name != QLatin1String("Special")) {
        if (fileName)
            *fileName = true;
        return mtl.name;
    }
    return mtl.type;
}
