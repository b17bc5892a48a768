#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

// The reports the server asks of the terminal: its environment (screen,
// volume, version, CPU use) and a screenshot, each as the XML the server reads.
class CommandRunner;

namespace TerminalReports {

QByteArray environmentXml(QSize desktop, double volume, double cpuUsage);
// Appends the environment report of the desktop as it is now (read on the GUI
// thread).
void environment(CommandRunner &runner, QByteArray &out, double volume);
QByteArray screenshotXml(const QImage &grab);
// Appends a screenshot of the primary screen (grabbed on the GUI thread);
// nothing when no grab could be made.
void screenshot(QByteArray &out);

} // namespace TerminalReports
