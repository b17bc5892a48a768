#pragma once

#include <QByteArray>
#include <QString>

// How the weather panel words and colours an answer, and the request it sends.
// Plain functions, so the rules are checked without a screen.
namespace WeatherLook {

// Description of a weather code: codes above 99 stand for code mod 100; codes
// 0 to 35 have a title, any other code an empty one.
QString statusTitle(int code);

// Colour of the description, by code mod 100.
QString statusColor(int code);

// Icon resource of a code at a local hour: codes below 102 (clear, cloudy)
// have a day picture for 7 to 17 o'clock and a night picture otherwise.
QString iconResource(int code, int hour);

struct Temperature
{
    QString text; // as shown: "/" drawn as "╱", one "℃" at the end
    QString color;
};
// A temperature text such as "20/10℃" or "5℃", coloured by its high and low.
Temperature temperature(const QString &serverText);

// "http://<server>/getweather"; server is a host or address, optionally with ":port".
QString requestUrl(const QString &server);
// The request for one city at a local time text "yyyy-MM-dd HH:mm:ss", as
// UTF-16LE bytes (the weather server reads that encoding). The city is
// escaped, so a name holding a quote or an ampersand still makes a valid request.
QByteArray requestBody(const QString &city, const QString &time);

} // namespace WeatherLook
