#pragma once

#include <QString>
#include <QStringList>

// Where both programs keep their files: everything under one root,
// ~/.local/share/lumaview in the user's home. Every folder and fixed file is
// named here once; the pieces ask a layout instead of spelling paths.
class DataLayout
{
public:
    // The layout of the current user's home ($HOME at the time of the call).
    DataLayout();
    explicit DataLayout(const QString &home);

    // The content folders inside dataDir(), by name.
    static constexpr const char *MEDIA_FOLDER = "mtl";
    static constexpr const char *TEMPLATE_LIST_FOLDER = "tpl";
    static constexpr const char *ZONE_FOLDER = "zone";

    QString root() const; // <home>/.local/share/lumaview
    QString logDir() const; // root/logs
    // root/logs/<program>.<yyyy-MM-dd>.0.log, one per program and day.
    QString logFile(const QString &program, const QString &date) const;
    QString dataDir() const; // root/data
    QString mediaDir() const; // data/mtl: the downloaded media files
    QString templateListDir() const; // data/tpl
    QString zoneDir() const; // data/zone
    QString dayPlaybill() const; // data/day-play.xml
    // data/day-play.xml.tmp: a new playbill waiting for its files.
    QString waitingPlaybill() const;
    QString statusFile() const; // data/status.json
    QString powerSchedule() const; // data/poweronoff.xml
    QString statsDatabase() const; // data/playdata.db
    QString statsJournal() const; // data/playdata.journal
    QString mediaMarks() const; // data/mtl.marks
    QString playLog() const; // data/storageMsg.txt: plays the player still has to deliver
    QString playLogWork() const; // data/storageMsg.temp: the sender's work file
    QString startNotes() const; // data/short-runs.txt
    // The folders a fresh home needs, parents first.
    QStringList folders() const;

private:
    QString m_root;
};
