#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <functional>

// The terminal's status.json: the service writes it, the player reads it.
// Every rewrite replaces the file whole (temporary file + rename), so neither a
// power cut nor a reader at the wrong moment ever sees it empty or half written.
// Only its owner may read it (0600): it may hold the sudo password.
// After every write a last good copy is kept beside it (status.json.good); a
// file that does not parse is never rewritten: recover() sets it aside and
// takes the good copy back.
class StatusFile
{
public:
    static QString defaultPath(); // ~/.local/share/lumaview/data/status.json
    // Far beyond any real status (a few hundred bytes); larger is damage.
    static constexpr qint64 MAX_BYTES = 64 * 1024;
    static QString goodCopyPath(const QString &path) { return path + QStringLiteral(".good"); }

    // The whole file parsed; an empty object when missing or not a JSON object.
    static QJsonObject read(const QString &path);
    static bool exists(const QString &path);
    // True for a file that holds one JSON object and nothing else.
    static bool parse(const QString &path, QJsonObject *object = nullptr);

    enum class Recovery { Sound, SetAsideRestored, SetAsideOnly };
    // A file that is there but does not parse is moved aside (with the time
    // in its name) and the last good copy, when it parses, put in its place;
    // logged as an error. A missing or sound file is left as it is.
    static Recovery recover(const QString &path, const QDateTime &now);

    // Read-modify-write of an existing file; false (and nothing written) when
    // the file is missing, does not parse, or cannot be replaced.
    static bool update(const QString &path, const std::function<void(QJsonObject &)> &change);

    // Writes a new file with exactly these keys.
    static bool create(const QString &path, const QJsonObject &object);

    // Makes an existing file private again (one copied in by hand, or written
    // by an older version).
    static void makePrivate(const QString &path);
};
