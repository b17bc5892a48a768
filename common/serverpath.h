#pragma once

#include <QString>

// Paths as the server's lists write them ("\" or "/").
class ServerPath
{
public:
    // a and b joined by exactly one "/".
    static QString join(QString a, QString b);
    // A path that names a file (it has an extension) stays; a folder gets the
    // file name b.
    static QString materialFile(const QString &a, const QString &b);
};
