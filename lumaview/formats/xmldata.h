#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// The content the service stores for the player, as plain value records:
// the day playbill (data/day-play.xml), the template lists it names
// (data/tpl/), the templates those lists name (data/mtl/) and the zone files
// (data/zone/). Every attribute is optional: a missing text reads as empty,
// a missing or non-decimal number as 0, unless a field says otherwise.
namespace ContentXml {

// One zone entry of a day programme.
struct DAY_ZONE
{
    QString p; // zone file name in data/zone/
    QString n;
    int l = 0; // length in seconds
};

// A "TPL" (day programme) or "ITPL" (insert programme) entry of the playbill.
struct DAY_TPL
{
    QString p; // template list file name in data/tpl/
    QString s; // date "yyyy-MM-dd" on which an insert programme applies
    int l = 0;
    int b = 0; // insert window start, seconds after local midnight
    int e = 0; // insert window end, seconds after local midnight (inclusive)
    QList<DAY_ZONE> zones;
};

struct DAY_PLAY
{
    DAY_TPL tpl;
    DAY_TPL itpl;
};

// One template of a template list.
struct TP_CTRL
{
    QString name; // template file name in data/mtl/, and the template's identity
    int len = 0; // seconds on screen
    int ttimes = 0;
    int etimes = 0;
    int istiming = 0;
    int timing = 0;
};

struct TP_LIST
{
    QString name; // the list's own file name
    QList<TP_CTRL> ctrls;
};

// One zone area of a template, in design pixels.
struct TP_AREA
{
    QString Title; // zone name, matched against the name of a zone file
    int Width = 0;
    int Height = 0;
    int Top = 0;
    int Left = 0;
    int Zindex = 0;
    QString Scale;
};

struct TP_CONTENT
{
    QString name; // the list entry's name
    int Width = 0;
    int Height = 0;
    QString BackgroundColor;
    QString BackgroundRepeat;
    QString BackgroundPosition;
    QString BackgroundSize;
    QString Background; // Base64 image
    QList<TP_AREA> areas;
};

// The kind of a material, read once from its "type" with the zone file; the
// zone picks the view that plays it from this alone. "font" plays as "text",
// "ie" as "web".
enum class MtlKind : quint8 {
    Unknown, // any other type: the zone shows nothing for the slot
    Picture, // "pic"
    Video, // "video"
    Audio, // "audio"
    Stream, // "rtsp"
    Text, // "text", "font"
    Clock, // "clock"
    Weather, // "weather"
    Web, // "web", "ie"
    Pdf, // "pdf"
};

// The kind of a "type" attribute, compared exactly.
MtlKind mtlKind(const QString &type);

// One material of a zone's play list.
struct ZONE_MTL
{
    QString name; // file name in data/mtl/ and name in the play log
    int len = 0; // seconds
    int ttimes = 0;
    int etimes = 0;
    QString type; // "pic", "video", "audio", "text", "font", "clock", "weather", ...
    MtlKind kind = MtlKind::Unknown; // parsed from type; type stays for the play log
    int ttype = 0; // transition effect of a picture, 0 for none
    QString url;
    int refreshInterval = 0;
    double volume = 0;
    QString caption;
    QString font;
    int fsize = 0;
    QString color;
    QString bgcolor;
    int udl = 0;
    int bold = 0;
    int italic = 0;
    int speed = 0;
    int movemode = 0;
    QString timeZoneID;
    QString datefotmat; // spelled as the attribute is
    QString customerFormat;
    double zoomstep = 0;
    int IdleTime = 0;
    QString address; // default channel of a weather or stream material
    int l = 0;
    int st = 0;
    int it = 0;
    int rt = 0;
    QList<QString> cn; // names shown by a weather zone
};

struct ZONE_CTRL
{
    QString name; // matched against the Title of a template area
    QList<ZONE_MTL> mtls;
};

// Zone contents of one template selection, handed from the scheduler to the window.
struct TP_ZONE_CTRL
{
    quint8 kind = 0; // 1 when the zones belong to the insert programme
    QList<ZONE_CTRL> zones;
};

// Parsers: each reads its file whole through the guarded XML reader
// (XmlGuard): a zone file as UTF-8 text (it may declare GBK while holding
// UTF-8 bytes), the others as their declaration says. They never throw. A
// file that is missing, cannot be read or parsed, is refused by the reader or
// has the wrong root changes nothing further. A playbill, list or zone file
// that exists but is refused or does not parse is set aside as <name>.bad
// and logged once; a template is left in place (the service keeps it by its
// digest) and passed over, logged once, until it changes. A template takes
// at most XmlLimits::MAX_TEMPLATE_AREAS areas, a zone at most
// XmlLimits::MAX_ZONE_MATERIALS materials. xml_tpList, xml_tpFileContent and
// xml_zoneFileContent only append; the caller passes fresh records.
void xml_dayPlay(const QString &path, DAY_PLAY &play);
void xml_tpList(const QString &path, TP_LIST &list);
void xml_tpFileContent(const QString &path, TP_CONTENT &content);
void xml_zoneFileContent(const QString &path, ZONE_CTRL &zone);

// Registers the records that travel in queued signals, under the names
// "ContentXml::TP_CONTENT" and "ContentXml::TP_ZONE_CTRL".
// Safe to call more than once and from any thread.
void registerMetaTypes();

} // namespace ContentXml

Q_DECLARE_METATYPE(ContentXml::TP_CONTENT)
Q_DECLARE_METATYPE(ContentXml::TP_ZONE_CTRL)
