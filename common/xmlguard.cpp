#include "xmlguard.h"

#include "dailylog.h"

#include <QDomDocument>
#include <QFile>
#include <QHash>
#include <QXmlInputSource>
#include <QXmlStreamReader>

#include <mutex>

#include <sys/stat.h>

namespace XmlGuard {

namespace {

QString tooLarge(qint64 size)
{
    return QStringLiteral("%1 bytes, more than %2").arg(size).arg(XmlLimits::MAX_BYTES);
}

QString tooDeep()
{
    return QStringLiteral("elements nested deeper than %1 levels").arg(XmlLimits::MAX_DEPTH);
}

QString tooMany()
{
    return QStringLiteral("more than %1 elements").arg(XmlLimits::MAX_ELEMENTS);
}

QString tooManyAttributes()
{
    return QStringLiteral("more than %1 attributes").arg(XmlLimits::MAX_ATTRIBUTES);
}

QString withDeclaration()
{
    return QStringLiteral("a document type declaration");
}

// The text the DOM parser reads from the bytes: byte-order mark, then the
// declared encoding, then UTF-8 (an unknown encoding name reads as UTF-8).
QString decode(const QByteArray &bytes, Encoding encoding)
{
    if (encoding == Encoding::Utf8)
        return QString::fromUtf8(bytes);
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QXmlInputSource source;
    source.setData(bytes);
    return source.data();
    QT_WARNING_POP
}

bool startsAt(const QString &text, int i, QLatin1String what)
{
    return text.midRef(i, what.size()) == what;
}

// Counts elements the way the DOM parser meets them, tolerating what it
// tolerates (undeclared entities, control characters, duplicate attributes):
// markup in comments, CDATA sections, processing instructions and quoted
// attribute values is skipped; every other start tag opens an element and
// every end tag or "/>" closes one.
QString tolerantScan(const QString &text)
{
    const int n = text.size();
    int depth = 0;
    int elements = 0;
    int attributes = 0;
    int i = 0;
    const auto skipPast = [&](QLatin1String end, int from) {
        const int at = text.indexOf(end, from);
        return at < 0 ? n : at + end.size();
    };
    while (i < n) {
        i = text.indexOf(QLatin1Char('<'), i);
        if (i < 0)
            break;
        if (startsAt(text, i, QLatin1String("<!--"))) {
            i = skipPast(QLatin1String("-->"), i + 4);
        } else if (startsAt(text, i, QLatin1String("<![CDATA["))) {
            i = skipPast(QLatin1String("]]>"), i + 9);
        } else if (startsAt(text, i, QLatin1String("<?"))) {
            i = skipPast(QLatin1String("?>"), i + 2);
        } else if (startsAt(text, i, QLatin1String("<!"))) {
            return withDeclaration();
        } else if (startsAt(text, i, QLatin1String("</"))) {
            depth = qMax(0, depth - 1);
            i = skipPast(QLatin1String(">"), i + 2);
        } else {
            if (++depth > XmlLimits::MAX_DEPTH)
                return tooDeep();
            if (++elements > XmlLimits::MAX_ELEMENTS)
                return tooMany();
            QChar quote;
            int j = i + 1;
            for (; j < n; ++j) {
                const QChar c = text.at(j);
                if (!quote.isNull()) {
                    if (c == quote)
                        quote = QChar();
                } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                    // Every attribute value in a start tag is quoted.
                    if (++attributes > XmlLimits::MAX_ATTRIBUTES)
                        return tooManyAttributes();
                    quote = c;
                } else if (c == QLatin1Char('>')) {
                    break;
                }
            }
            if (j < n && text.at(j - 1) == QLatin1Char('/'))
                --depth;
            i = j + 1;
        }
    }
    return QString();
}

// The pre-pass over the decoded text. The stream reader counts exactly; where
// it stops at something the DOM parser tolerates, the tolerant scan counts
// the whole text instead, so the DOM never meets a document past the limits.
QString refusal(const QString &text)
{
    QXmlStreamReader reader(text);
    reader.setNamespaceProcessing(false);
    int depth = 0;
    int elements = 0;
    int attributes = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (++depth > XmlLimits::MAX_DEPTH)
                return tooDeep();
            if (++elements > XmlLimits::MAX_ELEMENTS)
                return tooMany();
            attributes += reader.attributes().size();
            if (attributes > XmlLimits::MAX_ATTRIBUTES)
                return tooManyAttributes();
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::DTD:
            // Never part of these documents; its entities could carry markup
            // past what is counted here.
            return withDeclaration();
        default:
            break;
        }
    }
    return reader.hasError() ? tolerantScan(text) : QString();
}

// One version of a file on disk.
struct Stamp
{
    dev_t dev = 0;
    ino_t ino = 0;
    qint64 size = -1;
    qint64 mtimeNs = -1;
    bool operator==(const Stamp &o) const
    {
        return dev == o.dev && ino == o.ino && size == o.size && mtimeNs == o.mtimeNs;
    }
};

Stamp stampOf(const struct stat &st)
{
    return Stamp {st.st_dev, st.st_ino, qint64(st.st_size),
        qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

// Files found bad and left in place, with the version that was found bad.
std::mutex &badFilesMutex()
{
    static std::mutex mutex;
    return mutex;
}

QHash<QString, Stamp> &badFiles()
{
    static QHash<QString, Stamp> files;
    return files;
}

bool knownBad(const QString &path, const Stamp &stamp)
{
    std::lock_guard<std::mutex> lock(badFilesMutex());
    const auto found = badFiles().constFind(path);
    return found != badFiles().constEnd() && found.value() == stamp;
}

void rememberBad(const QString &path, const Stamp &stamp)
{
    std::lock_guard<std::mutex> lock(badFilesMutex());
    badFiles().insert(path, stamp);
}

void forgetBad(const QString &path)
{
    std::lock_guard<std::mutex> lock(badFilesMutex());
    badFiles().remove(path);
}

void handleBad(const QString &path, const Stamp &read, const QString &why, const QString &module,
    BadFile onBad)
{
    const QByteArray name = QFile::encodeName(path);
    if (onBad == BadFile::SetAside) {
        struct stat now
        {
        };
        // Replaced meanwhile by a new copy: that one is read at the next pass.
        if (::stat(name.constData(), &now) != 0 || stampOf(now).ino != read.ino
            || stampOf(now).dev != read.dev)
            return;
        const QString bad = path + QStringLiteral(".bad");
        // rename() replaces an older set-aside copy.
        if (::rename(name.constData(), QFile::encodeName(bad).constData()) == 0) {
            forgetBad(path);
            DailyLog::write(QStringLiteral("WARN"), module,
                QStringLiteral("Set aside %1 as %2: %3").arg(path, bad, why));
            return;
        }
    }
    rememberBad(path, read);
    DailyLog::write(QStringLiteral("WARN"), module,
        QStringLiteral("Cannot use %1: %2; it is not read again until it changes").arg(path, why));
}

} // namespace

QString checkLimits(const QByteArray &bytes, Encoding encoding)
{
    if (bytes.size() > XmlLimits::MAX_BYTES)
        return tooLarge(bytes.size());
    return refusal(decode(bytes, encoding));
}

bool parse(const QByteArray &bytes, Encoding encoding, QDomDocument &doc, QString *why)
{
    QString reason;
    if (bytes.size() > XmlLimits::MAX_BYTES) {
        reason = tooLarge(bytes.size());
    } else {
        const QString text = decode(bytes, encoding);
        reason = refusal(text);
        if (reason.isEmpty()) {
            QString message;
            int line = 0;
            int column = 0;
            // Bytes as declared go to the DOM parser as bytes, so it decodes
            // them exactly as it always has.
            const bool parsed = encoding == Encoding::Utf8
                ? doc.setContent(text, &message, &line, &column)
                : doc.setContent(bytes, &message, &line, &column);
            if (parsed)
                return true;
            reason = QStringLiteral("not well-formed: %1 at line %2, column %3")
                         .arg(message)
                         .arg(line)
                         .arg(column);
        }
    }
    doc.clear();
    if (why)
        *why = reason;
    return false;
}

bool parseFile(
    const QString &path, Encoding encoding, QDomDocument &doc, const QString &module, BadFile onBad)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    struct stat st
    {
    };
    if (::fstat(file.handle(), &st) != 0)
        return false;
    const Stamp stamp = stampOf(st);
    if (knownBad(path, stamp))
        return false;
    QString why;
    if (stamp.size > XmlLimits::MAX_BYTES) {
        why = tooLarge(stamp.size);
    } else if (parse(file.readAll(), encoding, doc, &why)) {
        forgetBad(path);
        return true;
    }
    file.close();
    handleBad(path, stamp, why, module, onBad);
    return false;
}

} // namespace XmlGuard
