#include "miscfunc.h"
#include "datalayout.h"

#include "clock.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QThread>
#include <QTimer>

#include <mutex>

namespace {
std::mutex &logMutex()
{
    static std::mutex mutex;
    return mutex;
}

QString &programNameRef()
{
    static QString name = QStringLiteral("lumalink");
    return name;
}
} // namespace

void MiscFunc::setProgramName(const QString &name)
{
    std::lock_guard<std::mutex> lock(logMutex());
    programNameRef() = name;
}

QString MiscFunc::programName()
{
    std::lock_guard<std::mutex> lock(logMutex());
    return programNameRef();
}

QString MiscFunc::dataRoot()
{
    return DataLayout().root();
}

QString MiscFunc::dataPath(const QString &relative)
{
    return dataRoot() + QLatin1Char('/') + relative;
}

QString MiscFunc::logFilePath(const QString &date)
{
    return DataLayout().logFile(programName(), date);
}

namespace {
// What the writer remembers between lines (under the log mutex): the last
// line written, how often it came again since, and a day's file that is full.
struct LogState
{
    QString lastPath;
    QString lastKey;
    QString lastModule;
    QString lastLevel;
    qint64 lastWrittenMs = 0;
    int repeats = 0;
    QString fullPath;
};

LogState &logState()
{
    static LogState state;
    return state;
}

QByteArray logLine(
    const QString &time, const QString &module, const QString &level, const QString &message)
{
    return QStringLiteral("%1  [ %2 ] - [ %3 ]  %4\r\n").arg(time, module, level, message).toUtf8();
}
} // namespace

QString MiscFunc::logSafe(const QString &message)
{
    QString out;
    const int keep = qMin(message.size(), LOG_MESSAGE_MAX_CHARS);
    out.reserve(keep + 16);
    for (int i = 0; i < keep; ++i) {
        const QChar c = message.at(i);
        // One line per entry: line breaks and other control characters in a
        // message (server text among them) are written as escapes.
        if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c.unicode() < 0x20 && c != QLatin1Char('\t'))
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    if (keep < message.size())
        out += QStringLiteral(" ... (%1 more characters)").arg(message.size() - keep);
    return out;
}

void MiscFunc::writeLog(const QString &level, const QString &module, const QString &message)
{
    const QString path = logFilePath(getDate());
    const QString time = getTime();
    const qint64 nowMs = timestamp();
    const QString levelText = level.toUpper();
    const QString text = logSafe(message);
    const QString key = module + QLatin1Char('\x1f') + levelText + QLatin1Char('\x1f') + text;

    std::lock_guard<std::mutex> lock(logMutex());
    LogState &state = logState();
    // The same line again within a minute is counted, not written; the count
    // is written before the next different line (or the same one a minute on).
    if (key == state.lastKey && path == state.lastPath && nowMs >= state.lastWrittenMs
        && nowMs - state.lastWrittenMs < LOG_REPEAT_WINDOW_MS) {
        ++state.repeats;
        return;
    }
    QByteArray out;
    if (state.repeats > 0 && path == state.lastPath)
        out += logLine(time, state.lastModule, state.lastLevel,
            QStringLiteral("(the line before came %1 more times)").arg(state.repeats));
    out += logLine(time, module, levelText, text);
    state.lastPath = path;
    state.lastKey = key;
    state.lastModule = module;
    state.lastLevel = levelText;
    state.lastWrittenMs = nowMs;
    state.repeats = 0;

    if (path == state.fullPath)
        return;
    QFile file(path);
    // A missing logs folder loses the line; it is not created here.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    // A day's log has a ceiling, so a flood of lines cannot fill the disk.
    if (file.size() + out.size() > LOG_DAY_MAX_BYTES) {
        state.fullPath = path;
        file.write(logLine(time, QStringLiteral("LOG"), QStringLiteral("WARN"),
            QStringLiteral("Log of the day reached %1 bytes: further lines are dropped")
                .arg(LOG_DAY_MAX_BYTES)));
        return;
    }
    file.write(out);
    file.flush();
    file.close();
}

qint64 MiscFunc::timestamp()
{
    return Clock::nowMs();
}

QString MiscFunc::getDate()
{
    return Clock::now().date().toString(QStringLiteral("yyyy-MM-dd"));
}

QString MiscFunc::getDate(int days)
{
    return Clock::now().date().addDays(days).toString(QStringLiteral("yyyy-MM-dd"));
}

QString MiscFunc::getTime()
{
    return Clock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QJsonObject MiscFunc::strToJson(const QString &text)
{
    // UTF-8, not Latin-1: a password or name outside Latin-1 must survive.
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (doc.isNull() || error.error != QJsonParseError::NoError || !doc.isObject())
        return QJsonObject();
    return doc.object();
}

QString MiscFunc::getMacAddress()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const auto flags = iface.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning)
            || (flags & QNetworkInterface::IsLoopBack))
            continue;
        return iface.hardwareAddress().replace(QLatin1Char(':'), QLatin1Char('-')).toUpper();
    }
    return QString();
}

void MiscFunc::sleep(int ms)
{
    // A monotonic deadline: a wait across midnight or a clock change lasts ms.
    if (ms <= 0)
        return;
    if (!QCoreApplication::instance()) {
        QThread::msleep(static_cast<unsigned long>(ms));
        return;
    }
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < ms) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(static_cast<int>(ms - elapsed.elapsed()));
        loop.exec();
    }
}
