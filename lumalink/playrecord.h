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
struct PlayRecord
{
    enum class Kind { None, PlayDetail, FileAccess };

    // Longest name and material type taken (a name is a file or material
    // name; the columns are declared for 100 and 50 characters).
    static constexpr int MAX_NAME = 1024;
    static constexpr int MAX_TYPE = 64;
    // A play lasts at most a day, repeated at most as many times as a day has seconds.
    static constexpr int MAX_SECONDS = 86400;
    static constexpr int MAX_PLAY_TYPE = 9;

    Kind kind = Kind::None;
    QString name;
    QString time; // play_time or access_time
    int playType = 0;
    int times = 0;
    int duration = 0;
    QString mtlType;

    // Kind::None (with the reason in why) for anything that is not one of
    // the two statements with sound fields.
    static PlayRecord parse(const QString &statement, QString *why = nullptr);

    // The statement to prepare and its values, in the order of its places.
    QString preparedStatement() const;
    QVariantList values() const;
};
