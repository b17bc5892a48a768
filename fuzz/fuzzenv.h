#pragma once

#include <memory>

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares: a private HOME (both programs keep all their
// files under $HOME/.local/share/lumaview), a command runner that runs
// nothing, a fixed clock and time zone (an input gives the same run every
// time), and the check that nothing was written outside the data folder.
class CommandRunner;

namespace FuzzEnv {

// The clock of every run: 2023-08-10 10:00:00 UTC.
constexpr qint64 NOW_MS = 1691661600000;

// Once per process, before anything reads HOME. gui makes a QGuiApplication
// on the offscreen platform (screens, screen grabs), otherwise a
// QCoreApplication.
void init(bool gui = false);

// A runner that starts no program: every command succeeds at once and
// prints nothing. Every piece a target builds gets it.
std::shared_ptr<CommandRunner> noCommands();

QString dataRoot();
QString dataPath(const QString &relative);
// The data folder emptied and made again: data, data/tpl, data/zone, data/mtl.
// The logs folder is left out, so log lines are formatted but not written.
void freshDataFolder();
bool writeFile(const QString &path, const QByteArray &bytes);
// Aborts when HOME holds anything outside the data folder that was not there
// after init().
void checkNothingOutside();

QByteArray bytes(const uint8_t *data, size_t size);
// bytes cut into pieces of 1 to maxPiece bytes; the sizes follow from seed.
QList<QByteArray> pieces(const QByteArray &bytes, quint32 seed, int maxPiece);

// Prints what failed and aborts, so the fuzzer keeps the input.
[[noreturn]] void fail(const char *what, const char *file, int line);

} // namespace FuzzEnv

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            FuzzEnv::fail(#condition, __FILE__, __LINE__);                                         \
    } while (false)
