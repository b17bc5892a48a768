#include "materials/clockformat.h"

#include "clocktext.h"

namespace ClockFormat {

namespace {
const char *const ENG_WEEKS[7] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
const char *const CHN_WEEKS[7] = {"周一", "周二", "周三", "周四", "周五", "周六", "周日"};
} // namespace

QString clockFormat(const QString &datefotmat, const QString &customerFormat)
{
    if (datefotmat == QLatin1String("0"))
        return QStringLiteral("yyyy-MM-dd ddd HH:mm");
    if (datefotmat == QLatin1String("1"))
        return QStringLiteral("MM-dd ddd HH:mm");
    if (datefotmat == QLatin1String("2"))
        return QStringLiteral("MM-dd HH:mm");
    if (datefotmat == QLatin1String("3"))
        return QStringLiteral("HH:mm");
    if (datefotmat == QLatin1String("4") && customerFormat.contains(QLatin1Char('$')))
        return convertCustomFormat(customerFormat);
    return QStringLiteral("MM-dd ddd HH:mm:ss");
}

QString convertCustomFormat(QString format)
{
    format.replace(QLatin1String("$d$"), QString());
    format.replace(QLatin1String("$dd$"), QLatin1String("ddd"));
    format.replace(QLatin1Char('D'), QLatin1Char('d'));
    format.replace(QLatin1Char('Y'), QLatin1Char('y'));
    format.remove(QLatin1Char('$'));
    return format;
}

QString replaceWeekday(QString text)
{
    for (int i = 0; i < 7; ++i) {
        const QString english = QString::fromLatin1(ENG_WEEKS[i]);
        if (text.contains(english))
            return text.replace(english, QString::fromUtf8(CHN_WEEKS[i]));
    }
    return text;
}

QString clockText(const QString &timeZoneId, const QString &format)
{
    return replaceWeekday(ClockText::zoneTime(timeZoneId, format));
}

QString clockBackground(const QString &color)
{
    return color.startsWith(QLatin1String("#ffffff"), Qt::CaseInsensitive)
        ? QStringLiteral("#000000")
        : QStringLiteral("#ffffff");
}

int clockPointSize(int fsize)
{
    return fsize < 6 ? 30 : fsize;
}

} // namespace ClockFormat
