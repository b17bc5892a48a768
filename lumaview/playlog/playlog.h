#pragma once

#include "datalayout.h"
#include <QObject>
#include <QString>

// The player's play log. Whatever should end up in the service's statistics
// database (a finished play, the last use of a file) becomes one SQL statement,
// stored as one line "SQL|<statement>\r\n" in data/storageMsg.txt; the sender
// (SendThread) delivers the lines to the service. Shared by the GUI thread,
// the scheduler and the sender: every append, and the sender's take-over of
// the file, happen under one process-wide lock.
class PlayLog : public QObject
{
    Q_OBJECT
public:
    explicit PlayLog(QObject *parent = nullptr, const DataLayout &layout = DataLayout());

    // Appends type + "|" + content + "\r\n", with backslash, CR and LF in
    // content written as \\, \r and \n, so that a name holding a line break
    // stays one line. A file that cannot be opened loses the line.
    void writeMessage(const QString &type, const QString &content);
    // What writeMessage wrote, back as it was given.
    static QString unescapeContent(const QString &line);

    // Records a play that just ended: played `times` times in a row for
    // `duration` seconds each, so it began duration x times seconds ago.
    // playType is 0 for the day programme, 2 for the insert programme.
    void insertPlayDetail(
        const QString &name, int playType, int times, int duration, const QString &mtlType);

    // Marks a file (template list, zone, template or media) as used now.
    void updateFileAccessTime(const QString &name);

    QString messageFilePath() const { return m_messagePath; }

    // Moves the message file to workPath under the append lock, so that every
    // line is either complete in the moved file or goes to a fresh message
    // file. False when there is no message file or it could not be moved.
    bool takeOverMessageFile(const QString &workPath);

    // A value ready to stand between single quotes in a statement.
    static QString sqlText(const QString &value);

private:
    QString m_messagePath;
};
