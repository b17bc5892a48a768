#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QString>

#include <optional>

// What status.json holds, read the same way by both programs. A key the file
// does not hold, or holds with a value of the wrong kind, stays unset: each
// reader then keeps what it had or takes its own default.
struct StatusRecord
{
    std::optional<QString> terminalId;
    std::optional<QString> mac;
    std::optional<QString> connHost; // host:port of the signage server
    std::optional<QString> rtdaHost; // host:port of the zones' data server
    std::optional<QString> password; // sudo's
    std::optional<int> status; // of the server session (4: authorized)
    // The service writes the first volume as a numeric text, later ones as
    // numbers: both count.
    std::optional<double> volume;
    std::optional<int> clearType; // days an unused file is kept
    std::optional<double> syncTime; // ms since the epoch of the last time sync
    std::optional<int> extScreen; // 1: the player also fills a second screen

    static StatusRecord fromJson(const QJsonObject &object);
    // The file (StatusFile's bounds); nothing when it is missing, too large or
    // does not hold one JSON object.
    static std::optional<StatusRecord> read(const QString &path);
};
Q_DECLARE_METATYPE(StatusRecord)
