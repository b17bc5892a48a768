#pragma once

#include <QByteArray>

// A fixed set of inputs run through the code that turns values into bytes
// for the signage server (frame builder, handshake, terminal record), cuts
// the server's byte stream into frames and writes the disk and size figures
// of the reports. The text it returns must be the same on every machine the
// terminal runs on: a difference in byte order, char signedness or integer
// width shows as a differing line.
namespace WireDump {
QByteArray text();
}
