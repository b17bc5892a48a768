#include "miscfunc.h"

namespace {
// Little-endian read of width bytes; positions past the end count as 0.
unsigned long long readLower(const QByteArray &data, int index, int width)
{
    unsigned long long value = 0;
    for (int i = 0; i < width; ++i) {
        const int pos = index + i;
        if (pos < 0 || pos >= data.size())
            continue;
        value |= static_cast<unsigned long long>(static_cast<unsigned char>(data.at(pos)))
            << (8 * i);
    }
    return value;
}

QByteArray writeLower(unsigned long long value, int width)
{
    QByteArray out(width, '\0');
    for (int i = 0; i < width; ++i)
        out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}
} // namespace

unsigned short MiscFunc::readLe16(QByteArray data, int index)
{
    return static_cast<unsigned short>(readLower(data, index, 2));
}

unsigned int MiscFunc::readLe32(QByteArray data, int index)
{
    return static_cast<unsigned int>(readLower(data, index, 4));
}

unsigned long long MiscFunc::readLe64(QByteArray data, int index)
{
    return readLower(data, index, 8);
}

QByteArray MiscFunc::leBytes(unsigned short value)
{
    return writeLower(value, 2);
}

QByteArray MiscFunc::leBytes(unsigned int value)
{
    return writeLower(value, 4);
}

QByteArray MiscFunc::leBytes(unsigned long long value)
{
    return writeLower(value, 8);
}

QString MiscFunc::concatPath(QString a, QString b)
{
    a = a.replace(QLatin1Char('\\'), QLatin1Char('/')).trimmed();
    b = b.replace(QLatin1Char('\\'), QLatin1Char('/')).trimmed();
    const bool aSlash = a.endsWith(QLatin1Char('/'));
    const bool bSlash = b.startsWith(QLatin1Char('/'));
    if (aSlash && bSlash)
        return a + b.mid(1);
    if (aSlash != bSlash)
        return a + b;
    return a + QLatin1Char('/') + b;
}

QString MiscFunc::mtlPathName(const QString &a, const QString &b)
{
    if (a.lastIndexOf(QLatin1Char('.')) >= 1)
        return a;
    return concatPath(a, b);
}
