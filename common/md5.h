#pragma once

#include <QString>

// MD5 digests as lower-case hex text.
class Md5
{
public:
    static QString ofText(const QString &text); // of its UTF-8 bytes
    // An unreadable file hashes as empty input.
    static QString ofFile(const QString &path);
};
