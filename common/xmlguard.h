#pragma once

#include <QByteArray>
#include <QString>

class QDomDocument;

// Bounds on every XML document the two programs read (configuration, day
// schedule, template lists, templates, zones, power schedule, weather
// replies). The document limits are checked by a streaming pre-pass before
// any DOM is built, so a document nested thousands of levels deep is refused
// instead of exhausting the stack of the DOM parser. The content caps bound
// what a parser takes from an accepted document. All are generous for real
// content: a day playbill of 2,000 entries or a zone of 1,000 materials is
// far inside them.
namespace XmlLimits {
// Documents larger than this are refused unread (a template may carry its
// background image as Base64 text).
constexpr qint64 MAX_BYTES = 16 * 1024 * 1024;
// Elements nested deeper than this (the root is level 1).
constexpr int MAX_DEPTH = 64;
// Elements in the whole document.
constexpr int MAX_ELEMENTS = 50000;
// Attributes in the whole document (each costs the DOM far more than its
// few bytes of text; a zone of 5,000 materials carries about 60,000).
constexpr int MAX_ATTRIBUTES = 100000;

// Entries taken from a power schedule; later ones are ignored.
constexpr int MAX_POWER_ENTRIES = 1000;
// Areas taken from a template; later ones are ignored.
constexpr int MAX_TEMPLATE_AREAS = 100;
// Materials taken from a zone; later ones are ignored.
constexpr int MAX_ZONE_MATERIALS = 5000;
} // namespace XmlLimits

namespace XmlGuard {

// How the bytes of a document become text.
enum class Encoding {
    Declared, // as its byte-order mark or XML declaration says (UTF-8 without either)
    Utf8, // UTF-8 whatever the declaration says (stored zone files)
};

// The pre-pass alone: empty when the document keeps within the limits and
// carries no document type declaration, otherwise why it is refused. Text
// that is not well-formed is not refused here; the DOM parser judges it.
QString checkLimits(const QByteArray &bytes, Encoding encoding);

// The pre-pass, then the DOM. False when the document is refused or does
// not parse, with the reason in why (when given).
bool parse(const QByteArray &bytes, Encoding encoding, QDomDocument &doc, QString *why = nullptr);

// What becomes of a stored file that is refused or does not parse.
enum class BadFile {
    SetAside, // renamed to <name>.bad (replacing an older one): never read again
    Keep, // left in place (a downloaded file the service owns); not read again while unchanged
};

// Reads a stored file whole and parses it like parse(). A missing or
// unreadable file is simply false. A file that exists but is refused or does
// not parse is handled as onBad says and logged once under module, so a loop
// that reads it at every pass neither fails on it again nor logs it again.
bool parseFile(const QString &path, Encoding encoding, QDomDocument &doc, const QString &module,
    BadFile onBad = BadFile::SetAside);

} // namespace XmlGuard
