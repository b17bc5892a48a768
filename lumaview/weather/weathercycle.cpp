#include "weather/weathercycle.h"

void WeatherCycle::start(const QList<QString> &cities, int cityIntervalSec, int refreshIntervalSec)
{
    m_cities = cities;
    m_cityIntervalSec = cityIntervalSec;
    m_refreshIntervalSec = refreshIntervalSec;
    m_index = 0;
    m_nextSwitchMs = 0;
    m_current.clear();
}

std::optional<QString> WeatherCycle::due(qint64 nowMs)
{
    if (nowMs < m_nextSwitchMs || m_cities.isEmpty())
        return std::nullopt;
    if (m_index >= m_cities.size())
        m_index = 0;
    m_current = m_cities.at(m_index);
    m_nextSwitchMs = nowMs + qint64(m_cityIntervalSec) * 1000;
    if (++m_index >= m_cities.size())
        m_index = 0;
    return m_current;
}

std::optional<ContentXml::WEATHER_DATA> WeatherCycle::cached(
    const QString &city, qint64 nowMs) const
{
    // Answers stay until they expire: showing one does not use it up.
    if (nowMs < m_expiry.value(city, 0))
        return m_answers.value(city);
    return std::nullopt;
}

void WeatherCycle::store(const QString &city, const ContentXml::WEATHER_DATA &data, qint64 nowMs)
{
    m_answers.insert(city, data);
    m_expiry.insert(city, nowMs + qint64(m_refreshIntervalSec) * 1000);
}
