#include "lebytes.h"

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

unsigned short LeBytes::read16(QByteArray data, int index)
{
    return static_cast<unsigned short>(readLower(data, index, 2));
}

unsigned int LeBytes::read32(QByteArray data, int index)
{
    return static_cast<unsigned int>(readLower(data, index, 4));
}

unsigned long long LeBytes::read64(QByteArray data, int index)
{
    return readLower(data, index, 8);
}

QByteArray LeBytes::of(unsigned short value)
{
    return writeLower(value, 2);
}

QByteArray LeBytes::of(unsigned int value)
{
    return writeLower(value, 4);
}

QByteArray LeBytes::of(unsigned long long value)
{
    return writeLower(value, 8);
}
