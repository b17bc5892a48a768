#pragma once

#include <QString>

class QUrl;

// What the player takes from content a server sent, besides file names
// (SafePath): the addresses of web pages and streams, and the colours that
// go into style sheets. Plain functions, driven by tests without a screen.
namespace ContentRules {

// The page of a web material: http and https anywhere; a local file only
// without a host and below contentFolder (what the service downloaded).
// Anything else (javascript:, data:, ftp:, qrc:, about: ...) is refused.
bool isPageAllowed(const QUrl &url, const QString &contentFolder);

// What a page on screen may load or open besides itself: anything but a
// local file outside contentFolder and the player's own resources (qrc:).
bool isPageResourceAllowed(const QUrl &url, const QString &contentFolder);

// The address of a stream material: one of the network schemes http, https,
// rtsp, rtsps, rtmp, rtmps, rtp, udp, mms and mmsh.
bool isStreamAllowed(const QUrl &url);

// The colour as given when Qt reads it as one, else the empty string that a
// colour left out of the content gives.
QString styleColor(const QString &color);

} // namespace ContentRules
