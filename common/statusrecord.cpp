#include "statusrecord.h"

#include "statusfile.h"

#include <cmath>
#include <limits>

namespace {
// 2^62 milliseconds: far beyond any clock, well inside a time stamp.
constexpr double MAX_SYNC_TIME = 4611686018427387904.0;

std::optional<QString> text(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<int> whole(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    constexpr int none = std::numeric_limits<int>::min();
    const int number = value.toInt(none); // a whole number only
    if (number == none)
        return std::nullopt;
    return number;
}

std::optional<double> number(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isDouble())
        return value.toDouble();
    if (value.isString()) {
        bool ok = false;
        const double parsed = value.toString().trimmed().toDouble(&ok);
        if (ok)
            return parsed;
    }
    return std::nullopt;
}
} // namespace

StatusRecord StatusRecord::fromJson(const QJsonObject &object)
{
    StatusRecord record;
    record.terminalId = text(object, "terminalId");
    record.mac = text(object, "mac");
    record.connHost = text(object, "connHost");
    record.rtdaHost = text(object, "rtdaHost");
    record.password = text(object, "password");
    record.status = whole(object, "status");
    record.volume = number(object, "volume");
    record.clearType = whole(object, "clearType");
    // A time no clock can give (beyond the range of a time stamp) counts as no sync.
    const QJsonValue sync = object.value(QLatin1String("syncTime"));
    if (sync.isDouble() && std::abs(sync.toDouble()) < MAX_SYNC_TIME)
        record.syncTime = sync.toDouble();
    record.extScreen = whole(object, "extScreen");
    return record;
}

std::optional<StatusRecord> StatusRecord::read(const QString &path)
{
    QJsonObject object;
    if (!StatusFile::parse(path, &object))
        return std::nullopt;
    return fromJson(object);
}
