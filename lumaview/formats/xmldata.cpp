#include "formats/xmldata.h"

#include "clock.h"
#include "clocktext.h"
#include "volume.h"
#include "xmlguard.h"

#include <QDomDocument>
#include <QDomElement>
#include <QHash>

#include <limits>

namespace ContentXml {

namespace {

using XmlGuard::BadFile;
using XmlGuard::Encoding;

// Reads the whole file and returns its root element, or a null element when
// the file is missing, cannot be read, is refused by the XML reader, does not
// parse or has another root. A file that exists but is refused or does not
// parse is dealt with (and logged) once, as onBad says, so no rotation meets
// it again.
QDomElement loadRoot(const QString &path, const QString &rootTag, QDomDocument &doc,
    Encoding encoding, BadFile onBad = BadFile::SetAside)
{
    if (!XmlGuard::parseFile(path, encoding, doc, QStringLiteral("XmlData"), onBad))
        return QDomElement();
    const QDomElement root = doc.documentElement();
    if (root.tagName() != rootTag)
        return QDomElement();
    return root;
}

int intAttr(const QDomElement &e, const QString &name)
{
    return e.attribute(name).toInt(); // missing or not decimal: 0
}

int intAttr(const QDomElement &e, const QString &name, int whenAbsent)
{
    return e.hasAttribute(name) ? e.attribute(name).toInt() : whenAbsent;
}

double doubleAttr(const QDomElement &e, const QString &name)
{
    return e.attribute(name).toDouble();
}

// An insert programme of an earlier date whose window runs into today.
bool windowReachesToday(const DAY_TPL &entry)
{
    const QString format = QStringLiteral("yyyy-MM-dd");
    const QDate day = QDate::fromString(entry.s, format);
    if (!day.isValid() || day.toString(format) != entry.s)
        return false;
    const qint64 days = day.daysTo(Clock::now().date());
    return days > 0 && entry.e >= days * 86400;
}

// Lengths and repeat counts from a file are taken up to a day.
constexpr int MAX_SECONDS = 86400;

// Children of an element that are elements, in document order.
template<typename F>
void forEachChildElement(const QDomElement &parent, F f)
{
    for (QDomElement child = parent.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement())
        f(child);
}

// A material's name comes from its path when the path ends in a 32-character
// digest name: the 32 characters before the first dot, the dot and the rest.
QString materialName(const QString &name, const QString &path)
{
    const int dot = path.indexOf(QLatin1Char('.'));
    if (dot >= 32)
        return path.mid(dot - 32);
    return name;
}

} // namespace

void xml_dayPlay(const QString &path, DAY_PLAY &play)
{
    play.tpl.p.clear();
    play.itpl.p.clear();

    QDomDocument doc;
    const QDomElement root = loadRoot(path, QStringLiteral("Day"), doc, Encoding::Declared);
    if (root.isNull())
        return;

    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement e = node.toElement();
        if (e.isNull())
            continue;
        const QString tag = e.tagName();
        const bool isTpl = tag == QLatin1String("TPL");
        const bool isItpl = tag == QLatin1String("ITPL");
        if (!isTpl && !isItpl)
            continue;

        DAY_TPL entry;
        entry.p = e.attribute(QStringLiteral("p"));
        entry.s = e.attribute(QStringLiteral("s"));
        entry.l = intAttr(e, QStringLiteral("l"));
        entry.b = intAttr(e, QStringLiteral("b"));
        entry.e = intAttr(e, QStringLiteral("e"));
        const qlonglong start = e.attribute(QStringLiteral("i")).toLongLong();

        int longest = 0;
        forEachChildElement(e, [&](const QDomElement &z) {
            DAY_ZONE zone;
            zone.p = z.attribute(QStringLiteral("p"));
            zone.n = z.attribute(QStringLiteral("n"));
            zone.l = intAttr(z, QStringLiteral("l"));
            longest = qMax(longest, zone.l);
            entry.zones.append(zone);
        });

        if (isTpl) {
            play.tpl = entry;
            continue;
        }
        // An insert programme counts on its own date, and after midnight only
        // while a window that runs past it (e beyond 86399) lasts: a playbill
        // read again then keeps the window on screen, as the scheduler does.
        // Without an explicit window it starts at its instant and lasts as
        // long as its longest zone.
        if (entry.s != ClockText::date() && !windowReachesToday(entry))
            continue;
        if (entry.b == 0 && entry.e == 0) {
            entry.b = ClockText::secondsFromMidnight(start);
            // A zone of any length keeps the window open, never wraps it round.
            entry.e = static_cast<int>(
                qMin<qint64>(qint64(entry.b) + longest, std::numeric_limits<int>::max()));
        }
        play.itpl = entry;
    }
}

void xml_tpList(const QString &path, TP_LIST &list)
{
    QDomDocument doc;
    const QDomElement root = loadRoot(path, QStringLiteral("TL"), doc, Encoding::Declared);
    if (root.isNull())
        return;
    forEachChildElement(root, [&](const QDomElement &e) {
        TP_CTRL ctrl;
        ctrl.name = e.attribute(QStringLiteral("name"));
        ctrl.len = qBound(0, intAttr(e, QStringLiteral("len")), MAX_SECONDS);
        ctrl.ttimes = intAttr(e, QStringLiteral("ttimes"));
        ctrl.etimes = intAttr(e, QStringLiteral("etimes"));
        ctrl.istiming = intAttr(e, QStringLiteral("istiming"));
        ctrl.timing = intAttr(e, QStringLiteral("timing"));
        list.ctrls.append(ctrl);
    });
}

void xml_tpFileContent(const QString &path, TP_CONTENT &content)
{
    QDomDocument doc;
    // Templates are downloaded files the service keeps by their digest: a bad
    // one stays where it is and is passed over until it changes.
    const QDomElement root
        = loadRoot(path, QStringLiteral("Template"), doc, Encoding::Declared, BadFile::Keep);
    if (root.isNull())
        return;
    content.Width = intAttr(root, QStringLiteral("Width"));
    content.Height = intAttr(root, QStringLiteral("Height"));
    content.BackgroundColor = root.attribute(QStringLiteral("BackgroundColor"));
    content.BackgroundRepeat = root.attribute(QStringLiteral("BackgroundRepeat"));
    content.BackgroundPosition = root.attribute(QStringLiteral("BackgroundPosition"));
    content.BackgroundSize = root.attribute(QStringLiteral("BackgroundSize"));

    forEachChildElement(root, [&](const QDomElement &child) {
        if (child.tagName() == QLatin1String("Background")) {
            content.Background = child.text();
        } else if (child.tagName() == QLatin1String("Areas")) {
            forEachChildElement(child, [&](const QDomElement &a) {
                if (content.areas.size() >= XmlLimits::MAX_TEMPLATE_AREAS)
                    return;
                TP_AREA area;
                area.Title = a.attribute(QStringLiteral("Title"));
                area.Zindex = intAttr(a, QStringLiteral("Zindex"));
                area.Width = intAttr(a, QStringLiteral("Width"));
                area.Height = intAttr(a, QStringLiteral("Height"));
                area.Left = intAttr(a, QStringLiteral("Left"));
                area.Top = intAttr(a, QStringLiteral("Top"));
                area.Scale = a.attribute(QStringLiteral("Scale"));
                content.areas.append(area);
            });
        }
    });
}

MtlKind mtlKind(const QString &type)
{
    static const QHash<QString, MtlKind> kinds = {
        {QStringLiteral("pic"), MtlKind::Picture},
        {QStringLiteral("video"), MtlKind::Video},
        {QStringLiteral("audio"), MtlKind::Audio},
        {QStringLiteral("rtsp"), MtlKind::Stream},
        {QStringLiteral("text"), MtlKind::Text},
        {QStringLiteral("font"), MtlKind::Text},
        {QStringLiteral("clock"), MtlKind::Clock},
        {QStringLiteral("weather"), MtlKind::Weather},
        {QStringLiteral("web"), MtlKind::Web},
        {QStringLiteral("ie"), MtlKind::Web},
        {QStringLiteral("pdf"), MtlKind::Pdf},
    };
    return kinds.value(type, MtlKind::Unknown);
}

void xml_zoneFileContent(const QString &path, ZONE_CTRL &zone)
{
    QDomDocument doc;
    // The service stores zones as UTF-8 and leaves the server's GBK
    // declaration in them: parsing text keeps it from garbling the content.
    const QDomElement root = loadRoot(path, QStringLiteral("PL"), doc, Encoding::Utf8);
    if (root.isNull())
        return;
    zone.name = root.attribute(QStringLiteral("name"));

    forEachChildElement(root, [&](const QDomElement &p) {
        if (p.tagName() != QLatin1String("P") || zone.mtls.size() >= XmlLimits::MAX_ZONE_MATERIALS)
            return;
        ZONE_MTL m;
        m.name = materialName(
            p.attribute(QStringLiteral("name")), p.attribute(QStringLiteral("path")));
        m.type = p.attribute(QStringLiteral("type"));
        m.kind = mtlKind(m.type);
        m.len = intAttr(p, QStringLiteral("len"));
        if (m.len < 1)
            m.len = 15;
        // Plays in a row: below 1 would give a slot that ends before it
        // starts, and the zone would spin through its list. A slot lasts at
        // most a day, however long the file says.
        m.len = qMin(m.len, MAX_SECONDS);
        m.etimes = qBound(1, intAttr(p, QStringLiteral("etimes")), MAX_SECONDS);
        m.ttimes = intAttr(p, QStringLiteral("ttimes"));
        m.ttype = intAttr(p, QStringLiteral("ttype"));
        m.url = p.attribute(QStringLiteral("url"));
        m.refreshInterval = intAttr(p, QStringLiteral("refreshInterval"));
        m.volume = Volume::bounded(doubleAttr(p, QStringLiteral("volume")));
        m.caption = p.attribute(QStringLiteral("caption"));
        m.font = p.attribute(QStringLiteral("font"));
        m.fsize = intAttr(p, QStringLiteral("fsize"));
        m.color = p.attribute(QStringLiteral("color"));
        m.bgcolor = p.attribute(QStringLiteral("bgcolor"));
        m.udl = intAttr(p, QStringLiteral("udl"));
        m.bold = intAttr(p, QStringLiteral("bold"));
        m.italic = intAttr(p, QStringLiteral("italic"));
        m.speed = intAttr(p, QStringLiteral("speed"));
        m.movemode = intAttr(p, QStringLiteral("movemode"));
        m.timeZoneID = p.attribute(QStringLiteral("timeZoneID"));
        m.datefotmat = p.attribute(QStringLiteral("datefotmat"));
        m.customerFormat = p.attribute(QStringLiteral("customerFormat"));
        m.zoomstep = doubleAttr(p, QStringLiteral("zoomstep"));
        m.IdleTime = intAttr(p, QStringLiteral("IdleTime"));
        m.l = intAttr(p, QStringLiteral("l"));
        m.st = intAttr(p, QStringLiteral("st"));
        m.it = intAttr(p, QStringLiteral("it"), 60);
        m.rt = intAttr(p, QStringLiteral("rt"), 3600);

        const bool weather = m.type == QLatin1String("weather");
        if (weather)
            m.color = p.attribute(QStringLiteral("fc"));
        if (weather || m.type == QLatin1String("rtsp")) {
            // The channel marked as default gives the address; the last one wins.
            forEachChildElement(p, [&](const QDomElement &c) {
                if (c.tagName() == QLatin1String("U")) {
                    if (intAttr(c, QStringLiteral("isDefaultChannel")) == 1)
                        m.address = c.attribute(QStringLiteral("address"));
                } else if (c.tagName() == QLatin1String("item")) {
                    m.cn.append(c.attribute(QStringLiteral("cn")));
                }
            });
        }
        zone.mtls.append(m);
    });
}

void registerMetaTypes()
{
    qRegisterMetaType<TP_CONTENT>("ContentXml::TP_CONTENT");
    qRegisterMetaType<TP_ZONE_CTRL>("ContentXml::TP_ZONE_CTRL");
}

} // namespace ContentXml
