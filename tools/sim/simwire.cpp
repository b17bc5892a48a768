#include "simwire.h"

#include <QStringList>
#include <QTextCodec>

namespace SimWire {

void appendU16(QByteArray &out, quint16 value)
{
    out.append(char(value & 0xFF));
    out.append(char((value >> 8) & 0xFF));
}

void appendU32(QByteArray &out, quint32 value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((value >> shift) & 0xFF));
}

void appendU64(QByteArray &out, quint64 value)
{
    for (int shift = 0; shift < 64; shift += 8)
        out.append(char((value >> shift) & 0xFF));
}

static quint64 readLittle(const QByteArray &data, int offset, int width)
{
    quint64 value = 0;
    for (int i = 0; i < width; ++i) {
        const int at = offset + i;
        if (at < 0 || at >= data.size())
            continue;
        value |= quint64(quint8(data.at(at))) << (8 * i);
    }
    return value;
}

quint16 readU16(const QByteArray &data, int offset)
{
    return quint16(readLittle(data, offset, 2));
}

quint32 readU32(const QByteArray &data, int offset)
{
    return quint32(readLittle(data, offset, 4));
}

quint64 readU64(const QByteArray &data, int offset)
{
    return readLittle(data, offset, 8);
}

QByteArray activeHeartbeat()
{
    return QByteArray(4, '\0');
}

QByteArray heartbeatAnswer()
{
    return QByteArray(4, char(0xFF));
}

quint16 handshakeCheck(quint32 versionId)
{
    return quint16((quint64(versionId) + 406 + (versionId >> 16)) & 0xFFFF);
}

QByteArray innerHandshake(qint64 t, quint32 versionId)
{
    const quint64 clock = quint64(t < 0 ? -t : t);
    QByteArray out;
    appendU32(out, HANDSHAKE_SIZE);
    out.append(char(HANDSHAKE_MARK));
    out.append(char(clock % 189));
    out.append(char(clock % 96));
    out.append(char(clock % 205));
    appendU32(out, versionId);
    out.append(char(0xE8));
    out.append('\0');
    appendU16(out, handshakeCheck(versionId));
    return out;
}

QByteArray encodeFrame(quint32 sequence, quint16 protocol, quint16 command,
    const QList<QByteArray> &params, quint32 flags)
{
    quint32 paramBytes = 0;
    for (const QByteArray &param : params)
        paramBytes += quint32(param.size());

    QByteArray out;
    appendU32(out, quint32(HEADER_SIZE) + quint32(params.size()) * 4 + paramBytes);
    appendU32(out, sequence);
    appendU16(out, protocol);
    appendU16(out, command);
    appendU16(out, quint16(params.size()));
    appendU32(out, paramBytes);
    appendU32(out, flags);
    for (const QByteArray &param : params) {
        appendU32(out, quint32(param.size()));
        out.append(param);
    }
    return out;
}

bool decodeFrame(const QByteArray &raw, Frame &frame)
{
    frame = Frame();
    if (raw.size() < HEADER_SIZE)
        return false;
    frame.length = readU32(raw, 0);
    if (frame.length < quint32(HEADER_SIZE) || frame.length > quint32(raw.size()))
        return false;
    frame.raw = raw.left(int(frame.length));
    frame.sequence = readU32(raw, 4);
    frame.protocol = readU16(raw, 8);
    frame.command = readU16(raw, 10);
    frame.paramCount = readU16(raw, 12);
    frame.paramBytes = readU32(raw, 14);
    frame.flags = readU32(raw, 18);

    const int end = int(frame.length);
    int offset = HEADER_SIZE;
    quint64 sum = 0;
    for (int i = 0; i < frame.paramCount; ++i) {
        if (offset + 4 > end) {
            frame.malformed = true;
            break;
        }
        const quint32 size = readU32(raw, offset);
        offset += 4;
        if (quint64(offset) + size > quint64(end)) {
            frame.params.append(raw.mid(offset, end - offset));
            frame.malformed = true;
            offset = end;
            break;
        }
        frame.params.append(raw.mid(offset, int(size)));
        offset += int(size);
        sum += size;
    }
    if (sum != frame.paramBytes || offset != end)
        frame.malformed = true;
    return true;
}

QList<StreamCutter::Piece> StreamCutter::feed(const QByteArray &chunk)
{
    m_buffer.append(chunk);
    QList<Piece> out;
    while (m_buffer.size() >= 4) {
        const quint32 word = readU32(m_buffer, 0);
        if (word == 0 || word == 0xFFFFFFFFu) {
            out.append({word == 0 ? ActiveHeartbeat : HeartbeatAnswer, m_buffer.left(4)});
            m_buffer.remove(0, 4);
            continue;
        }
        if (word == quint32(HANDSHAKE_SIZE)) {
            if (m_buffer.size() < 5)
                break;
            if (quint8(m_buffer.at(4)) == HANDSHAKE_MARK) {
                if (m_buffer.size() < HANDSHAKE_SIZE)
                    break;
                out.append({InnerHandshake, m_buffer.left(HANDSHAKE_SIZE)});
                m_buffer.remove(0, HANDSHAKE_SIZE);
                continue;
            }
        }
        if (word < quint32(HEADER_SIZE) || word > MAX_FRAME) {
            // No way to find the next frame boundary: give up on what is buffered.
            out.append({Garbage, m_buffer});
            m_buffer.clear();
            break;
        }
        if (quint32(m_buffer.size()) < word)
            break;
        out.append({HeadedFrame, m_buffer.left(int(word))});
        m_buffer.remove(0, int(word));
    }
    return out;
}

TerminalRecord parseTerminalRecord(const QByteArray &record)
{
    TerminalRecord result;
    const int idStart = 8;
    if (record.size() < idStart + 2 + 8 || readU32(record, 0) != 245)
        return result;
    // The id is UTF-8 without NUL bytes, so its end is the first NUL after it.
    const int idEnd = record.indexOf('\0', idStart);
    if (idEnd < 0 || idEnd + 2 + 8 > record.size())
        return result;
    result.terminalId = QString::fromUtf8(record.mid(idStart, idEnd - idStart));
    int offset = idEnd + 2;
    result.mac = record.mid(offset, 8);
    result.macValue = readU64(record, offset);
    offset += 8;
    if (offset + 4 <= record.size()) {
        QStringList parts;
        for (int i = 0; i < 4; ++i)
            parts << QString::number(quint8(record.at(offset + i)));
        result.ipAddress = parts.join(QLatin1Char('.'));
    }
    // Address, the "1", u32, u16, u64 and twenty zero bytes precede the host name.
    offset += 4 + 1 + 4 + 2 + 8 + 20;
    if (offset < record.size()) {
        int nameEnd = record.indexOf('\0', offset);
        if (nameEnd < 0)
            nameEnd = record.size();
        result.hostName = QString::fromLatin1(record.mid(offset, nameEnd - offset));
    }
    result.valid = true;
    return result;
}

QString macText(quint64 macValue)
{
    QStringList parts;
    for (int shift = 40; shift >= 0; shift -= 8)
        parts << QStringLiteral("%1")
                     .arg(uint((macValue >> shift) & 0xFF), 2, 16, QLatin1Char('0'))
                     .toUpper();
    return parts.join(QLatin1Char('-'));
}

QByteArray stripNul(const QByteArray &text)
{
    if (text.endsWith('\0'))
        return text.left(text.size() - 1);
    return text;
}

static bool looksLikeText(const QString &text)
{
    for (const QChar ch : text) {
        if (ch == QChar(0xFFFD))
            return false;
        if (ch.isPrint() || ch == QLatin1Char('\n') || ch == QLatin1Char('\r')
            || ch == QLatin1Char('\t'))
            continue;
        return false;
    }
    return true;
}

QString describeParam(const QByteArray &param, int maxChars)
{
    if (param.isEmpty())
        return QStringLiteral("\"\"");
    const QByteArray body = stripNul(param);
    const QString terminator = body.size() < param.size() ? QStringLiteral("\\0") : QString();
    QString text = QString::fromUtf8(body.constData(), body.size());
    QString label;
    if (!looksLikeText(text)) {
        // Zones travel in GBK: show them as text too.
        if (QTextCodec *gbk = QTextCodec::codecForName("GBK")) {
            QTextCodec::ConverterState state;
            const QString decoded = gbk->toUnicode(body.constData(), body.size(), &state);
            if (state.invalidChars == 0 && looksLikeText(decoded)) {
                text = decoded;
                label = QStringLiteral("gbk:");
            }
        }
    }
    QString shown;
    if (!body.isEmpty() && looksLikeText(text)) {
        QString flat = text;
        flat.replace(QLatin1Char('\r'), QString())
            .replace(QLatin1Char('\n'), QStringLiteral("\\n"))
            .replace(QLatin1Char('\t'), QLatin1Char(' '));
        if (flat.size() > maxChars)
            flat = flat.left(maxChars) + QStringLiteral("...");
        shown = label + QLatin1Char('"') + flat + terminator + QLatin1Char('"');
    } else {
        const int shownBytes = qMin(param.size(), maxChars / 2);
        shown = QStringLiteral("hex:") + QString::fromLatin1(param.left(shownBytes).toHex());
        if (shownBytes < param.size())
            shown += QStringLiteral("...");
    }
    return shown + QStringLiteral("(%1)").arg(param.size());
}

QString describeFrame(const Frame &frame)
{
    QStringList params;
    for (const QByteArray &param : frame.params)
        params << describeParam(param);
    QString line = QStringLiteral("proto=%1 cmd=%2 len=%3 seq=%4 count=%5 bytes=%6 params=[%7]")
                       .arg(frame.protocol)
                       .arg(frame.command)
                       .arg(frame.length)
                       .arg(frame.sequence)
                       .arg(frame.paramCount)
                       .arg(frame.paramBytes)
                       .arg(params.join(QStringLiteral(", ")));
    if (frame.malformed)
        line += QStringLiteral(" MALFORMED");
    return line;
}

} // namespace SimWire
