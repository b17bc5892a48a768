#include "wiredump.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

// Prints the wire bytes of a fixed set of inputs; the same text on every
// architecture (scripts/build-arm64.sh compares x86_64 and arm64).
int main(int argc, char **argv)
{
    // Nothing the dump calls should write, but a log line would land in a
    // throw-away home, never the user's.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    const QByteArray text = WireDump::text();
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    return 0;
}
