#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The content folder the signage server answers the terminal's content
// requests from: day-play.xml (the day schedule), tpl/<id> (template lists),
// zone/<id> (zones, stored as UTF-8) and files/ with what the HTTP server
// hands out.
class ContentFolder
{
public:
    void setDir(const QString &dir) { m_dir = dir; }
    QString dir() const { return m_dir; }

    // A file of the folder; empty when it is missing or there is no folder.
    QByteArray file(const QString &relative) const;
    // A template list or zone by the id the terminal asks for; empty for an id
    // that would reach outside its folder.
    QByteArray templateList(const QByteArray &id) const;
    QByteArray zone(const QByteArray &id) const;
    // day-play.xml with every "@TODAY@" replaced by the current date
    // (yyyy-MM-dd).
    QByteArray daySchedule() const;
    // Problems of the folder, one text each (see SignageServer::checkContent()).
    QStringList check() const;
    // The media and template files the content names, as files/ holds them.
    QStringList namedFiles() const;

private:
    QString m_dir;
};
