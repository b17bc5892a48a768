#pragma once

#include <QDate>
#include <QSet>
#include <QString>
#include <QStringList>

// Removal of stored content that has not been used for a while. The server
// picks the period with the clear type of the status file.
class FileCleanup
{
public:
    // Days handed to the cleanup for a clear type (1: -2, 2: -6, 3: -30,
    // 4: -90, anything else but 5: 0). False for 5: no file cleanup.
    static bool keepDaysFor(int clearType, int &days);
    // Files last used before this day ("yyyy-MM-dd") go: today + days - 1.
    static QString cutoffDate(const QDate &today, int days);

    // Every list, zone, template and media file that the current playbill,
    // and the one being fetched, name through their lists and zones. These are
    // never removed, however long ago they were last played.
    static QSet<QString> referencedFiles();
    // Those of them kept in data/mtl (media), sorted.
    static QStringList referencedMedia();

    // Folder under data/ of a stored name: "tpl" for ".l", "zone" for ".z",
    // else "mtl".
    static QString storageDir(const QString &name);
    // Removes a stored file and its ".md5" companion from its data folder;
    // only the part after the last "/" of name counts, so nothing outside the
    // folder is reached. True when the file is gone afterwards.
    static bool deleteFileByName(const QString &name);
};
