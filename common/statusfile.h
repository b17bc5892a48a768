#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>

// The terminal's status.json: the service writes it, the player reads it.
// Every rewrite replaces the file whole (temporary file + rename), so neither a
// power cut nor a reader at the wrong moment ever sees it empty or half written.
// Only its owner may read it (0600): it may hold the sudo password.
class StatusFile
{
public:
    static QString defaultPath(); // ~/.local/share/lumaview/data/status.json

    // The whole file parsed; an empty object when missing or not a JSON object.
    static QJsonObject read(const QString &path);
    static bool exists(const QString &path);

    // Read-modify-write of an existing file; false (and nothing written) when
    // the file is missing or cannot be replaced.
    static bool update(const QString &path, const std::function<void(QJsonObject &)> &change);

    // Writes a new file with exactly these keys.
    static bool create(const QString &path, const QJsonObject &object);

    // Makes an existing file private again (one copied in by hand, or written
    // by an older version).
    static void makePrivate(const QString &path);

    // Number stored either as a JSON number or as a numeric string; def otherwise.
    static double numberValue(const QJsonObject &object, const QString &key, double def);
};
