#include "requests/systemclock.h"

#include "commandrunner.h"
#include "dailylog.h"
#include "lebytes.h"

namespace SystemClock {

QString dateArgument(quint64 secondsSinceEpoch)
{
    const QDateTime local
        = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(secondsSinceEpoch * 1000));
    return local.toString(QStringLiteral("MMddHHmmyyyy.ss"));
}

QDateTime earliestServerTime()
{
    return QDateTime(
        QDate::fromString(QStringLiteral(LUMA_BUILD_DATE), Qt::ISODate), QTime(0, 0), Qt::UTC);
}

bool setFromServer(CommandRunner &runner, const QByteArray &body, const QString &password)
{
    const quint64 seconds = LeBytes::read64(body, 0);
    const qint64 latest = QDateTime(QDate(9999, 12, 31), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    if (seconds < quint64(earliestServerTime().toSecsSinceEpoch()) || seconds > quint64(latest)) {
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("TIME_REFUSED"),
            QStringLiteral("Server time %1 is before this program was built (%2) or past any "
                           "clock: the clock is left as it is")
                .arg(seconds)
                .arg(QStringLiteral(LUMA_BUILD_DATE)));
        return false;
    }
    const QString when = dateArgument(seconds);
    // The password goes to sudo on standard input, never through a shell, so
    // no character of it can change the command.
    runner.runSudo(password, {QStringLiteral("date"), when});
    runner.runSudo(password, {QStringLiteral("hwclock"), QStringLiteral("--systohc")});
    return true;
}

} // namespace SystemClock
