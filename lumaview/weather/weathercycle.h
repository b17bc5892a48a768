#pragma once

#include "weather/weatherdata.h"

#include <QList>
#include <QMap>
#include <QString>

#include <optional>

// The weather panel's turn through its cities and the answers it keeps.
// Each city stays on screen for the city interval; an answer stays valid for
// the refresh interval, and a city whose answer is valid is shown again
// without asking the server. Times are milliseconds since the epoch.
class WeatherCycle
{
public:
    // A new material: its cities, seconds per city and seconds an answer stays
    // valid. The first city's turn starts at the next due() call; answers
    // already kept stay valid until they expire.
    void start(const QList<QString> &cities, int cityIntervalSec, int refreshIntervalSec);

    // The city whose turn begins at nowMs, if one does; advances the cycle.
    std::optional<QString> due(qint64 nowMs);

    // The city on turn (the last one due() gave); empty before the first turn.
    QString currentCity() const { return m_current; }

    // The answer kept for city, when it is still valid at nowMs.
    std::optional<ContentXml::WEATHER_DATA> cached(const QString &city, qint64 nowMs) const;
    // Keeps an answer for city until nowMs + the refresh interval.
    void store(const QString &city, const ContentXml::WEATHER_DATA &data, qint64 nowMs);

    QList<QString> cities() const { return m_cities; }
    int cityIndex() const { return m_index; }
    qint64 nextSwitchMs() const { return m_nextSwitchMs; }
    int cityIntervalSec() const { return m_cityIntervalSec; }
    int refreshIntervalSec() const { return m_refreshIntervalSec; }
    qint64 expiryOf(const QString &city) const { return m_expiry.value(city, 0); }

private:
    QList<QString> m_cities;
    int m_cityIntervalSec = 60;
    int m_refreshIntervalSec = 0;
    int m_index = 0; // the next city to show
    qint64 m_nextSwitchMs = 0;
    QString m_current;
    QMap<QString, qint64> m_expiry;
    QMap<QString, ContentXml::WEATHER_DATA> m_answers;
};
