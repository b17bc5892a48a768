#include "hostilemode.h"

#include "httpfileserver.h"
#include "signageserver.h"

#include <functional>
#include <iterator>

using namespace SimWire;

namespace {

constexpr int DEFAULT_DEPTH = 40000;
constexpr int DEFAULT_HUGE_MB = 20;
constexpr int DEFAULT_FLOOD = 1000;
constexpr int DEFAULT_NAN = 100;
constexpr int DEFAULT_DRIP_MS = 200;
// A frame a little under the terminal's frame limit, and a header that
// announces more than any frame may hold.
constexpr int GIANT_FRAME_BYTES = 60 * 1024 * 1024;
constexpr quint32 LYING_LENGTH = 0x7FFFFFF0u;
constexpr int LYING_TAIL_BYTES = 1024 * 1024;
// Commands the flood pushes: screenshot, today's logs, all logs,
// environment, download report.
constexpr quint16 FLOODED[] = {13, 201, 202, 9, 17};

QString error(const QString &why)
{
    return QStringLiteral("error: ") + why;
}

QString sentLine(qint64 bytes, const QString &what)
{
    return bytes > 0 ? QStringLiteral("ok %1: sent %2 bytes").arg(what).arg(bytes)
                     : QStringLiteral("ok %1 (no terminal connected: nothing sent now)").arg(what);
}

} // namespace

HostileMode::HostileMode(SignageServer *server)
    : m_server(server)
{ }

QString HostileMode::helpText()
{
    return QStringLiteral(
        "hostile deep [DEPTH]  documents nested DEPTH deep (40000) in every answer, pushed\n"
        "                      as power and shutdown schedules, then schedule changed\n"
        "hostile huge [MB]     the same with documents of MB megabytes (20)\n"
        "hostile giant         a 60 MB frame, then a header announcing 2 GB\n"
        "hostile flood [N]     N each of 278/13, 201, 202, 9 and 17 in one write (1000)\n"
        "hostile nan [N]       N rounds of 278/12 and 102 with NaN, inf, 1e300 and junk (100)\n"
        "hostile md5           every download has a byte inverted; schedule changed\n"
        "hostile drip [MS]     session and download bytes go out one every MS ms (200)\n"
        "hostile off           answers as normal again");
}

QByteArray HostileMode::deepDocument(int depth)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml.reserve(xml.size() + depth * 7);
    for (int i = 0; i < depth; ++i)
        xml += "<a>";
    for (int i = 0; i < depth; ++i)
        xml += "</a>";
    return xml;
}

QByteArray HostileMode::hugeDocument(qint64 bytes)
{
    static const QByteArray item = "<item id=\"1\" name=\"x\" len=\"10\">0123456789abcdef</item>\n";
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n";
    xml.reserve(int(bytes + item.size() + 16));
    while (xml.size() < bytes)
        xml += item;
    xml += "</root>\n";
    return xml;
}

QString HostileMode::execute(const QStringList &args)
{
    // Each mode with its one optional number (name, default, range; an empty
    // name: the mode takes none) and what it does with it.
    struct Mode
    {
        const char *name;
        const char *argument;
        int fallback;
        int low;
        int high;
        std::function<QString(int)> run;
    };
    const Mode modes[] = {
        {"deep", "DEPTH", DEFAULT_DEPTH, 1, 10000000,
            [this](int depth) {
                return documents(
                    deepDocument(depth), QStringLiteral("documents %1 deep").arg(depth));
            }},
        {"huge", "MB", DEFAULT_HUGE_MB, 1, 60,
            [this](int mb) {
                return documents(hugeDocument(qint64(mb) * 1024 * 1024),
                    QStringLiteral("documents of %1 MB").arg(mb));
            }},
        {"giant", "", 0, 0, 0, [this](int) { return giant(); }},
        {"flood", "N", DEFAULT_FLOOD, 1, 100000, [this](int count) { return flood(count); }},
        {"nan", "N", DEFAULT_NAN, 1, 100000, [this](int count) { return nan(count); }},
        {"md5", "", 0, 0, 0, [this](int) { return md5(); }},
        {"drip", "MS", DEFAULT_DRIP_MS, 1, 600000, [this](int ms) { return drip(ms); }},
        {"off", "", 0, 0, 0, [this](int) { return off(); }},
    };
    const QString name = args.value(0).toLower();
    for (const Mode &mode : modes) {
        if (name != QLatin1String(mode.name))
            continue;
        int value = mode.fallback;
        if (*mode.argument && args.size() > 1) {
            bool ok = false;
            value = args[1].toInt(&ok);
            if (!ok || value < mode.low || value > mode.high)
                return error(QStringLiteral("usage: hostile %1 [%2] (%3..%4)")
                                 .arg(QLatin1String(mode.name), QLatin1String(mode.argument))
                                 .arg(mode.low)
                                 .arg(mode.high));
        }
        return mode.run(value);
    }
    return error(QStringLiteral("usage: hostile deep|huge|giant|flood|nan|md5|drip|off"));
}

QString HostileMode::documents(const QByteArray &xml, const QString &what)
{
    // Every document the terminal asks for from now on, and the two it is
    // sent unasked; then it is told to fetch its schedule again.
    m_server->setDocumentOverride(xml);
    qint64 sent = m_server->pushPowerSchedule(xml).size();
    sent += m_server->pushShutdownSchedule(xml).size();
    sent += m_server->scheduleChanged().size();
    return sentLine(sent, what);
}

QString HostileMode::giant()
{
    qint64 sent
        = m_server->pushFrame(PROTO_CONTROL, 9999, {QByteArray(GIANT_FRAME_BYTES, 'x')}).size();
    QByteArray lying = encodeFrame(1, PROTO_CONTROL, 9);
    lying[0] = char(LYING_LENGTH & 0xFF);
    lying[1] = char((LYING_LENGTH >> 8) & 0xFF);
    lying[2] = char((LYING_LENGTH >> 16) & 0xFF);
    lying[3] = char((LYING_LENGTH >> 24) & 0xFF);
    lying.append(QByteArray(LYING_TAIL_BYTES, '\xAB'));
    sent += m_server->sendRaw(lying).size();
    return sentLine(sent,
        QStringLiteral("a frame of %1 bytes and a header announcing %2")
            .arg(GIANT_FRAME_BYTES)
            .arg(LYING_LENGTH));
}

QString HostileMode::flood(int count)
{
    QList<QByteArray> frames;
    frames.reserve(count * int(std::size(FLOODED)));
    for (int i = 0; i < count; ++i) {
        for (quint16 command : FLOODED)
            frames << m_server->buildFrame(PROTO_CONTROL, command, {m_server->nextEchoId()});
    }
    return sentLine(
        m_server->pushFrames(frames).size(), QStringLiteral("%1 requests").arg(frames.size()));
}

QString HostileMode::nan(int count)
{
    static const char *const volumes[]
        = {"NaN", "nan", "inf", "-inf", "1e300", "-1e300", "", "abc", "0x10", "99999999999999"};
    QList<QByteArray> frames;
    for (int i = 0; i < count; ++i) {
        for (const char *volume : volumes) {
            for (quint16 command : {quint16(12), quint16(102)})
                frames << m_server->buildFrame(PROTO_CONTROL, command,
                    {m_server->nextEchoId(), m_server->lastTerminalId().toUtf8(), {}, volume});
        }
    }
    return sentLine(m_server->pushFrames(frames).size(),
        QStringLiteral("%1 volumes that are no numbers").arg(frames.size()));
}

QString HostileMode::md5()
{
    m_server->http()->setCorruptAll(true);
    return sentLine(m_server->scheduleChanged().size(), QStringLiteral("every download corrupted"));
}

QString HostileMode::drip(int ms)
{
    m_server->setDrip(ms);
    m_server->http()->setDrip(ms);
    return QStringLiteral("ok session and downloads drip a byte every %1 ms").arg(ms);
}

QString HostileMode::off()
{
    m_server->setDocumentOverride(QByteArray());
    m_server->setDrip(0);
    m_server->http()->setCorruptAll(false);
    m_server->http()->setDrip(0);
    return QStringLiteral("ok answers as normal");
}
