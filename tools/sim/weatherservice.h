#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The weather server behind "POST /getweather", which the terminal's weather
// zones ask at the zone host. A request is a small XML text in UTF-16LE (with
// or without a byte-order mark):
//   <xml><p v="1152"/><w g="1" c="CITY" dt="yyyy-MM-dd HH:mm:ss"/></xml>
// A city of the table is answered with a weather report in UTF-8:
//   <weather c dt><city name prov code><foreacast ut><day wsId wsId2 wind wind2
//   temperature liveToday date/></foreacast></city></weather>
// (the "foreacast" spelling is what terminals read). A city not in the table
// gets <weather c dt/> alone, which terminals do not show; a body that is not
// such a request gets 400. Faults make answers slow, failed or unreadable.
class WeatherService
{
public:
    struct City
    {
        QString name;
        QString prov;
        QString code; // the city's own code
        int wsId = 0; // weather code of the day (1xx)
        int wsId2 = 0; // weather code of the night
        QString temperature; // "high/low℃"
        QString wind;
        QString wind2;
    };

    struct Reply
    {
        int status = 200;
        QByteArray contentType;
        QByteArray body;
        int delayMs = 0; // wait this long before answering
        QString city; // the city asked for; empty when the request was unreadable
        QString outcome; // as in Asked
    };

    struct Asked
    {
        qint64 timeMs = 0;
        QString city;
        QString dt;
        int status = 0;
        QString outcome; // "report", "unknown city", "failed", "not a report", "unreadable"
    };

    WeatherService(); // starts with a small table of Chinese cities

    // City and time of a request body; false when it is not such a request.
    static bool parseRequest(const QByteArray &body, QString *city, QString *dt = nullptr);
    // The report for a city, as sent.
    static QByteArray report(const City &city, const QString &dt, const QDate &date);

    Reply answer(const QByteArray &body, const QDateTime &now);

    QList<City> cities() const { return m_cities; }
    std::optional<City> city(const QString &name) const;
    // Adds a city, or replaces the one of the same name.
    void setCity(const City &city);

    // Faults. times < 0 keeps a fault until clearFaults().
    void setSlow(int ms) { m_slowMs = qMax(0, ms); }
    int slow() const { return m_slowMs; }
    void fail(int times = 1) { m_fail = times; } // 500
    void garble(int times = 1) { m_garble = times; } // 200 with a page that is no report
    void clearFaults();
    QStringList faults() const;

    QList<Asked> asked() const { return m_asked; }
    void clearHistory() { m_asked.clear(); }

private:
    static bool useUp(int &counter);

    QList<City> m_cities;
    int m_slowMs = 0;
    int m_fail = 0;
    int m_garble = 0;
    QList<Asked> m_asked;
};
