#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

class QImage;

// Writes a content folder the simulator serves (`lumasim --content DIR`):
// day-play.xml, tpl/ (template lists), zone/ (zones) and files/ (templates and
// media, each named by the lower-case MD5 of its bytes, as the terminal checks
// them). The demo and the end-to-end test make their content with it.
class ContentWriter
{
public:
    struct Area
    {
        QString title; // zone name; a zone file's PL name must match it
        QRect rect; // in the template's design size
        int z = 1;
    };

    // One <P> entry of a zone file; attributes are written in the order given.
    struct Material
    {
        QList<QPair<QString, QString>> attributes;
        QString inner; // child elements (weather cities), raw XML
        Material &set(const QString &name, const QString &value);
        Material &set(const QString &name, int value);
    };

    explicit ContentWriter(const QString &dir);

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    QString dir() const { return m_dir; }

    // files/<md5>.<ext>; returns the file name.
    QString addFile(const QByteArray &bytes, const QString &ext);
    QString addImage(const QImage &image, const char *format = "PNG");
    QString addFileFrom(const QString &path);
    // A template file in files/; returns its file name.
    QString addTemplate(QSize design, const QString &background, const QList<Area> &areas);

    // tpl/<id>: templates in rotation, each shown for its length in seconds.
    void writeList(const QString &id, const QList<QPair<QString, int>> &templates);
    // zone/<id>: a zone named name playing the materials in turn. Kept in
    // UTF-8 with a GBK declaration, as the simulator expects.
    void writeZone(const QString &id, const QString &name, const QList<Material> &materials);
    // day-play.xml verbatim (@TODAY@ is filled in by the simulator).
    void writeDayPlay(const QString &xml);
    void writeText(const QString &relative, const QByteArray &bytes);

    // Material entries as the server writes them.
    static Material picture(const QString &file, int len, int transition);
    static Material video(const QString &file, int len);
    static Material pdf(const QString &file, int len);
    // A page the terminal downloads names its file (in files/).
    static Material web(
        const QString &url, int len, int refreshMs, const QString &file = QString());
    static Material text(const QString &name, const QString &caption, int len, int size,
        const QString &color, const QString &background, int speed, int moveMode);
    static Material clock(const QString &name, const QString &zoneId, int len, int size,
        const QString &color, const QString &background, const QString &format,
        const QString &custom = QString());
    static Material weather(const QString &name, const QStringList &cities, int len,
        const QString &color, int secondsPerCity);

    // One <TPL> or <ITPL> entry of the day playbill.
    static QString dayEntry(const QString &tag, const QString &list, const QString &begin,
        const QString &end, const QList<QPair<QString, QString>> &zones, int zoneLen);

private:
    void write(const QString &relative, const QByteArray &bytes);

    QString m_dir;
    QString m_error;
};
