#pragma once

#include <QImage>
#include <QString>

// The demo's content: what a shop would schedule, made from nothing at build
// time. Two templates in rotation (pictures with transitions, weather, clock
// and a scrolling caption; a video, a PDF, a local web page and a clock) and an
// insert programme, whose window day-play.xml leaves as @INSERT_BEGIN@ and
// @INSERT_END@ (seconds of the day) for the demo to fill in when it starts.
// The web page is a downloaded file, and its zone names it by a local address
// under @DATA_ROOT@, the terminal's data root (~/.local/share/lumaview), which
// the demo also fills in.
namespace DemoContent {

// Frames of the demo video (frame000.png ...), for GStreamer to encode.
bool writeVideoFrames(const QString &dir, int count, QString *error);

// The content folder; videoFile may be empty (no video zone then).
// templates.txt lists "<template file>\t<title>" for the demo's messages.
bool writeContent(const QString &dir, const QString &videoFile, QString *error);

// Painted pictures, exposed for tests and the frames.
QImage poster(QSize size, int index);
QImage videoFrame(QSize size, int frame, int count);
QByteArray priceListPdf();
QByteArray webPage();

} // namespace DemoContent
