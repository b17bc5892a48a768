#include "contentwriter.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

namespace {
QString escaped(const QString &value)
{
    return value.toHtmlEscaped();
}
} // namespace

ContentWriter::Material &ContentWriter::Material::set(const QString &name, const QString &value)
{
    attributes.append({name, value});
    return *this;
}

ContentWriter::Material &ContentWriter::Material::set(const QString &name, int value)
{
    return set(name, QString::number(value));
}

ContentWriter::ContentWriter(const QString &dir)
    : m_dir(dir)
{
    for (const char *sub : {"tpl", "zone", "files"}) {
        if (!QDir().mkpath(dir + QLatin1Char('/') + QLatin1String(sub)))
            m_error = QStringLiteral("cannot create ") + dir;
    }
}

void ContentWriter::write(const QString &relative, const QByteArray &bytes)
{
    QFile file(m_dir + QLatin1Char('/') + relative);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        m_error = QStringLiteral("cannot write ") + file.fileName();
}

void ContentWriter::writeText(const QString &relative, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(m_dir + QLatin1Char('/') + relative).absolutePath());
    write(relative, bytes);
}

QString ContentWriter::addFile(const QByteArray &bytes, const QString &ext)
{
    const QString name
        = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex())
        + QLatin1Char('.') + ext;
    write(QStringLiteral("files/") + name, bytes);
    return name;
}

QString ContentWriter::addImage(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format, 90))
        m_error = QStringLiteral("cannot encode a picture");
    return addFile(bytes,
        QString::fromLatin1(format).toLower().replace(QLatin1String("jpeg"), QLatin1String("jpg")));
}

QString ContentWriter::addFileFrom(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("cannot read ") + path;
        return QString();
    }
    return addFile(file.readAll(), QFileInfo(path).suffix());
}

QString ContentWriter::addTemplate(
    QSize design, const QString &background, const QList<Area> &areas)
{
    QString xml
        = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<Template Width=\"%1\" Height=\"%2\" BackgroundColor=\"%3\" "
                         "BackgroundRepeat=\"no-repeat\" BackgroundPosition=\"center\" "
                         "BackgroundSize=\"cover\">\n <Background></Background>\n <Areas>\n")
              .arg(design.width())
              .arg(design.height())
              .arg(background);
    for (const Area &area : areas)
        xml += QStringLiteral("  <Area Title=\"%1\" Zindex=\"%2\" Width=\"%3\" Height=\"%4\" "
                              "Left=\"%5\" Top=\"%6\" Scale=\"1\"/>\n")
                   .arg(escaped(area.title))
                   .arg(area.z)
                   .arg(area.rect.width())
                   .arg(area.rect.height())
                   .arg(area.rect.x())
                   .arg(area.rect.y());
    xml += QStringLiteral(" </Areas>\n</Template>\n");
    return addFile(xml.toUtf8(), QStringLiteral("xml"));
}

void ContentWriter::writeList(const QString &id, const QList<QPair<QString, int>> &templates)
{
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TL>\n");
    for (const auto &entry : templates)
        xml += QStringLiteral(" <T name=\"%1\" path=\"data/mtl\" len=\"%2\" ttimes=\"0\" "
                              "etimes=\"0\" istiming=\"0\" timing=\"0\"/>\n")
                   .arg(entry.first)
                   .arg(entry.second);
    xml += QStringLiteral("</TL>\n");
    write(QStringLiteral("tpl/") + id, xml.toUtf8());
}

void ContentWriter::writeZone(
    const QString &id, const QString &name, const QList<Material> &materials)
{
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"GBK\"?>\n<PL name=\"%1\">\n")
                      .arg(escaped(name));
    for (const Material &m : materials) {
        xml += QStringLiteral(" <P");
        for (const auto &attribute : m.attributes)
            xml += QStringLiteral(" %1=\"%2\"").arg(attribute.first, escaped(attribute.second));
        xml += m.inner.isEmpty() ? QStringLiteral("/>\n")
                                 : QStringLiteral(">") + m.inner + QStringLiteral("</P>\n");
    }
    xml += QStringLiteral("</PL>\n");
    write(QStringLiteral("zone/") + id, xml.toUtf8());
}

void ContentWriter::writeDayPlay(const QString &xml)
{
    write(QStringLiteral("day-play.xml"), xml.toUtf8());
}

ContentWriter::Material ContentWriter::picture(const QString &file, int len, int transition)
{
    return Material()
        .set(QStringLiteral("name"), file)
        .set(QStringLiteral("path"), QStringLiteral("data/mtl"))
        .set(QStringLiteral("type"), QStringLiteral("pic"))
        .set(QStringLiteral("len"), len)
        .set(QStringLiteral("ttimes"), 0)
        .set(QStringLiteral("etimes"), 1)
        .set(QStringLiteral("ttype"), transition);
}

ContentWriter::Material ContentWriter::video(const QString &file, int len)
{
    return Material()
        .set(QStringLiteral("name"), file)
        .set(QStringLiteral("path"), QStringLiteral("data/mtl"))
        .set(QStringLiteral("type"), QStringLiteral("video"))
        .set(QStringLiteral("len"), len)
        .set(QStringLiteral("ttimes"), 0)
        .set(QStringLiteral("etimes"), 1)
        .set(QStringLiteral("volume"), 0);
}

ContentWriter::Material ContentWriter::pdf(const QString &file, int len)
{
    return Material()
        .set(QStringLiteral("name"), file)
        .set(QStringLiteral("path"), QStringLiteral("data/mtl"))
        .set(QStringLiteral("type"), QStringLiteral("pdf"))
        .set(QStringLiteral("len"), len)
        .set(QStringLiteral("ttimes"), 0)
        .set(QStringLiteral("etimes"), 1);
}

ContentWriter::Material ContentWriter::web(
    const QString &url, int len, int refreshMs, const QString &file)
{
    return Material()
        .set(QStringLiteral("name"), file.isEmpty() ? QStringLiteral("page") : file)
        .set(QStringLiteral("path"), file.isEmpty() ? QString() : QStringLiteral("data/mtl"))
        .set(QStringLiteral("type"), QStringLiteral("web"))
        .set(QStringLiteral("len"), len)
        .set(QStringLiteral("ttimes"), 0)
        .set(QStringLiteral("etimes"), 1)
        .set(QStringLiteral("url"), url)
        .set(QStringLiteral("refreshInterval"), refreshMs);
}

ContentWriter::Material ContentWriter::text(const QString &name, const QString &caption, int len,
    int size, const QString &color, const QString &background, int speed, int moveMode)
{
    return Material()
        .set(QStringLiteral("name"), name)
        .set(QStringLiteral("path"), QString())
        .set(QStringLiteral("type"), QStringLiteral("text"))
        .set(QStringLiteral("len"), len)
        .set(QStringLiteral("caption"), caption)
        .set(QStringLiteral("font"), QStringLiteral("WenQuanYi Zen Hei"))
        .set(QStringLiteral("fsize"), size)
        .set(QStringLiteral("color"), color)
        .set(QStringLiteral("bgcolor"), background)
        .set(QStringLiteral("udl"), 0)
        .set(QStringLiteral("bold"), 1)
        .set(QStringLiteral("italic"), 0)
        .set(QStringLiteral("speed"), speed)
        .set(QStringLiteral("movemode"), moveMode);
}

ContentWriter::Material ContentWriter::clock(const QString &name, const QString &zoneId, int len,
    int size, const QString &color, const QString &background, const QString &format,
    const QString &custom)
{
    return Material()
        .set(QStringLiteral("name"), name)
        .set(QStringLiteral("path"), QString())
        .set(QStringLiteral("type"), QStringLiteral("clock"))
        .set(QStringLiteral("len"), len)
        .set(QStringLiteral("font"), QStringLiteral("WenQuanYi Zen Hei"))
        .set(QStringLiteral("fsize"), size)
        .set(QStringLiteral("color"), color)
        .set(QStringLiteral("bgcolor"), background)
        .set(QStringLiteral("timeZoneID"), zoneId)
        .set(QStringLiteral("datefotmat"), format)
        .set(QStringLiteral("customerFormat"), custom);
}

ContentWriter::Material ContentWriter::weather(const QString &name, const QStringList &cities,
    int len, const QString &color, int secondsPerCity)
{
    Material m = Material()
                     .set(QStringLiteral("name"), name)
                     .set(QStringLiteral("path"), QString())
                     .set(QStringLiteral("type"), QStringLiteral("weather"))
                     .set(QStringLiteral("len"), len)
                     .set(QStringLiteral("ttimes"), 0)
                     .set(QStringLiteral("etimes"), 1)
                     .set(QStringLiteral("fc"), color)
                     .set(QStringLiteral("it"), secondsPerCity)
                     .set(QStringLiteral("rt"), 3600)
                     .set(QStringLiteral("refreshInterval"), 600);
    m.inner = QStringLiteral("<U address=\"\" isDefaultChannel=\"0\"/>");
    for (const QString &city : cities)
        m.inner += QStringLiteral("<item cn=\"%1\"/>").arg(escaped(city));
    return m;
}

QString ContentWriter::dayEntry(const QString &tag, const QString &list, const QString &begin,
    const QString &end, const QList<QPair<QString, QString>> &zones, int zoneLen)
{
    QString xml = QStringLiteral(" <%1 p=\"%2\" s=\"@TODAY@\" l=\"0\" b=\"%3\" e=\"%4\">\n")
                      .arg(tag, list, begin, end);
    for (const auto &zone : zones)
        xml += QStringLiteral("  <Z p=\"%1\" n=\"%2\" l=\"%3\"/>\n")
                   .arg(zone.first, escaped(zone.second))
                   .arg(zoneLen);
    xml += QStringLiteral(" </%1>\n").arg(tag);
    return xml;
}
