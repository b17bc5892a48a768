#pragma once

#include <QString>
#include <QVariantList>

// A play record as the player sends it on the local channel: one of the two
// statements the player writes, taken apart into its fields and checked.
// Nothing else the channel carries is a play record, and nothing but a play
// record reaches the statistics database from there; what it runs is a
// fixed statement with the fields bound as values.
//
//   INSERT INTO play_detail(name, play_time, play_type, times, duration,
//       mtl_type) VALUES('<name>', '<yyyy-MM-dd hh:mm:ss>', <type>, <times>,
//       <duration>, '<mtl type>')
//   UPDATE file_mgt SET access_time='<yyyy-MM-dd hh:mm:ss>' WHERE name='<name>'
//
// The journal also carries the service's own record of a stored file, read
// back the same way (never taken from the player):
//
//   REPLACE INTO file_mgt(name, download_time, access_time, res_type, url)
//       VALUES('<name>', '<time>', '<time>', <1..3>, '<path>')
struct PlayRecord
{
    enum class Kind { None, PlayDetail, FileAccess, FileStored };

    // Longest name and material type taken (a name is a file or material
    // name; the columns are declared for 100 and 50 characters).
    static constexpr int MAX_NAME = 1024;
    static constexpr int MAX_TYPE = 64;
    // A play lasts at most a day, repeated at most as many times as a day has seconds.
    static constexpr int MAX_SECONDS = 86400;
    static constexpr int MAX_PLAY_TYPE = 9;
    static constexpr int MAX_PATH = 4096;

    Kind kind = Kind::None;
    QString name;
    QString time; // play_time or access_time
    int playType = 0;
    int times = 0;
    int duration = 0;
    QString mtlType;
    int resType = 0; // stored file: 1 template list, 2 zone, 3 anything else
    QString path; // stored file

    bool fromPlayer() const { return kind == Kind::PlayDetail || kind == Kind::FileAccess; }

    // Kind::None (with the reason in why) for anything that is not one of
    // the two statements with sound fields.
    static PlayRecord parse(const QString &statement, QString *why = nullptr);

    // The service's record of a file stored at `path`, used `now`.
    static QString fileStoredStatement(const QString &path, const QString &now);
    // 1 for a template list (".l"), 2 for a zone (".z"), 3 for anything else.
    static int resTypeOf(const QString &name);

    // The statement to prepare and its values, in the order of its places. A
    // play sent twice replaces its row instead of failing.
    QString preparedStatement() const;
    QVariantList values() const;
};
