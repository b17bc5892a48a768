#pragma once

#include "formats/xmldata.h"

#include <QList>
#include <QString>

// What a zone plays when, and which plays it records: the zone widget maps
// these decisions onto its widgets. Times are milliseconds since the epoch.
class ZoneCycle
{
public:
    struct Record
    {
        ContentXml::ZONE_MTL mtl;
        int times = 0;
    };

    // How the last tick that started a material got there.
    enum class Advance {
        First, // the first material after new content
        Next, // the slot ended and the list moved on to its next material
        Wrapped, // the slot ended on the last material; the list starts over
        Navigated, // a swipe
    };

    // New content: starts again at the first material on the next tick,
    // without recording the one on screen.
    void setZoneCtrl(const ContentXml::ZONE_CTRL &zone, int playType);
    bool isEmpty() const { return m_mtls.isEmpty(); }
    QString zoneName() const { return m_zoneName; }
    int playType() const { return m_playType; }

    // One tick. True when a material is to be played now (current()); finished
    // plays are added to the records.
    bool tick(qint64 nowMs);
    // A swipe: 1 for the next material, -1 for the previous one.
    void requestNavigation(int direction) { m_navigation = direction; }
    int navigationRequest() const { return m_navigation; }

    Advance lastAdvance() const { return m_advance; }

    const ContentXml::ZONE_MTL &current() const { return m_current; }
    int currentIndex() const { return m_index; }
    qint64 endTime() const { return m_endMs; }
    qint64 startTime() const { return m_startMs; }

    // Plays of the material on screen completed by nowMs (those begun at
    // least 2 s before the end of a full len); stops recording it.
    int finishEarly(qint64 nowMs);

    QList<Record> takeRecords();

    // The name a play is recorded under: the address of a web page, else the
    // file name unless empty or "Special", else the type. fileName is set when
    // the name is a file whose access time is to be refreshed.
    static QString playName(const ContentXml::ZONE_MTL &mtl, bool *fileName = nullptr);

private:
    void step(int direction);
    bool play(qint64 nowMs);

    QString m_zoneName;
    QList<ContentXml::ZONE_MTL> m_mtls;
    ContentXml::ZONE_MTL m_current;
    int m_index = -1;
    Advance m_advance = Advance::First;
    int m_navigation = 0;
    int m_playType = 0;
    qint64 m_endMs = 0;
    qint64 m_startMs = 0;
    QList<Record> m_records;
};
