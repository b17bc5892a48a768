#include "protocol/builddata.h"

#include "clock.h"
#include "lebytes.h"
#include "protocol/serverprotocol.h"
#include "systemprobe.h"
#include "version.h"

namespace BuildData {

const QByteArray ACTIVE_HEARTBEAT("\x00\x00\x00\x00", 4);
const QByteArray RESP_HEARTBEAT("\xff\xff\xff\xff", 4);

QByteArray buildPackage(
    unsigned int sequence, unsigned short protocol, unsigned short command, unsigned int flags)
{
    return buildPackage(sequence, protocol, command, flags, QList<QByteArray>());
}

QByteArray buildPackage(unsigned int sequence, unsigned short protocol, unsigned short command,
    unsigned int flags, const QByteArray &param)
{
    return buildPackage(sequence, protocol, command, flags, QList<QByteArray> {param});
}

QByteArray buildPackage(unsigned int sequence, unsigned short protocol, unsigned short command,
    unsigned int flags, const QList<QByteArray> &params)
{
    unsigned int paramBytes = 0;
    for (const QByteArray &param : params)
        paramBytes += static_cast<unsigned int>(param.size());

    QByteArray body;
    body += LeBytes::of(sequence);
    body += LeBytes::of(protocol);
    body += LeBytes::of(command);
    body += LeBytes::of(static_cast<unsigned short>(params.size()));
    body += LeBytes::of(paramBytes);
    body += LeBytes::of(flags);
    for (const QByteArray &param : params) {
        body += LeBytes::of(static_cast<unsigned int>(param.size()));
        body += param;
    }
    return LeBytes::of(static_cast<unsigned int>(body.size() + 4)) + body;
}

QByteArray getInnerHandshake()
{
    return getInnerHandshake(Clock::nowMs());
}

QByteArray getInnerHandshake(qint64 timestampMs)
{
    const quint64 t = static_cast<quint64>(timestampMs);
    const unsigned int v = QByteArrayLiteral(VERSION_ID).toUInt();
    QByteArray frame = LeBytes::of(16u);
    frame += static_cast<char>(0xAE);
    frame += static_cast<char>(t % 189);
    frame += static_cast<char>(t % 96);
    frame += static_cast<char>(t % 205);
    frame += LeBytes::of(v);
    frame += static_cast<char>(0xE8);
    frame += static_cast<char>(0x00);
    frame += LeBytes::of(static_cast<unsigned short>((v + 406 + (v >> 16)) % 65536));
    return frame;
}

QByteArray longMac(const QString &mac)
{
    QByteArray bytes;
    const QStringList parts = mac.split(QLatin1Char('-'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        bool ok = false;
        const unsigned int value = part.toUInt(&ok, 16);
        bytes.prepend(static_cast<char>(ok ? (value & 0xFF) : 0));
    }
    while (bytes.size() < 8)
        bytes.append('\0');
    return bytes;
}

QByteArray terminalRecord(const QString &terminalId, const QString &mac, const QByteArray &ipBytes,
    const QString &hostName)
{
    QByteArray record;
    record += LeBytes::of(245u);
    record += LeBytes::of(0u);
    record += terminalId.toUtf8();
    record += QByteArray(2, '\0');
    record += longMac(mac);
    record += ipBytes;
    record += '1';
    record += LeBytes::of(0u);
    record += LeBytes::of(static_cast<unsigned short>(0));
    record += LeBytes::of(0ULL);
    record += QByteArray(20, '\0');
    QByteArray host = hostName.toLatin1();
    if (host.size() < 63)
        host += QByteArray(63 - host.size(), '\0');
    record += host;
    record += '\0';
    record += LeBytes::of(245u);
    return record;
}

QByteArray diskSizeText(const QString &total)
{
    QString text = total.toUpper();
    if (text.endsWith(QLatin1Char('G'))) {
        const double gib = text.left(text.size() - 1).toDouble();
        text = QString::number(gib * 1024.0 * 1024.0 * 1024.0, 'f', 0);
    }
    return text.toLatin1();
}

QByteArray getAuthData(
    unsigned int sequence, CommandRunner &runner, const QString &terminalId, const QString &mac)
{
    const QStringList disk = SystemProbe::diskInfo().split(QLatin1Char('\n'));
    const QString total = disk.value(0);
    const QString used = disk.value(1);

    QList<QByteArray> params;
    params << terminalRecord(
        terminalId, mac, SystemProbe::localIpBytes(runner), SystemProbe::hostName());
    params << QByteArrayLiteral(VERSION) + '\0';
    params << used.toLatin1() + '\0';
    params << diskSizeText(total) + '\0';

    return buildPackage(sequence, ServerProtocol::PROTO_SESSION, ServerProtocol::CMD_AUTH,
        ServerProtocol::FLAGS, params);
}

} // namespace BuildData
