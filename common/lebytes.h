#pragma once

#include <QByteArray>

// Little-endian integers in the server's frames. Reads past the end count
// the missing bytes as 0.
class LeBytes
{
public:
    static unsigned short read16(QByteArray data, int index);
    static unsigned int read32(QByteArray data, int index);
    static unsigned long long read64(QByteArray data, int index);
    static QByteArray of(unsigned short value);
    static QByteArray of(unsigned int value);
    static QByteArray of(unsigned long long value);
};
