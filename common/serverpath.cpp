#include "serverpath.h"

QString ServerPath::join(QString a, QString b)
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

QString ServerPath::materialFile(const QString &a, const QString &b)
{
    if (a.lastIndexOf(QLatin1Char('.')) >= 1)
        return a;
    return join(a, b);
}
