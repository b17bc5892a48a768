#include "miscfunc.h"

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
    return QDir::homePath() + QStringLiteral("/.local/share/lumaview");
}

QString MiscFunc::dataPath(const QString &relative)
{
    return dataRoot() + QLatin1Char('/') + relative;
}

QString MiscFunc::logFilePath(const QString &date)
{
    return dataPath(QStringLiteral("logs/%1.%2.0.log").arg(programName(), date));
}

void MiscFunc::writeLog(const QString &level, const QString &module, const QString &message)
{
    const QString path = logFilePath(getDate());
    const QString line = QStringLiteral("%1  [ %2 ] - [ %3 ]  %4\r\n")
                             .arg(getTime(), module, level.toUpper(), message);
    std::lock_guard<std::mutex> lock(logMutex());
    QFile file(path);
    // A missing logs folder loses the line; it is not created here.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(line.toUtf8());
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
