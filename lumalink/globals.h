#pragma once

#include <QMutex>
#include <QString>

// A process-wide setting written on the GUI thread and read by the worker
// threads; every read and write is a whole value under its own lock.
class SharedString
{
public:
    explicit SharedString(const char *initial = "")
        : m_value(QString::fromUtf8(initial))
    { }
    SharedString(const SharedString &) = delete;
    SharedString &operator=(const SharedString &) = delete;

    SharedString &operator=(const QString &value)
    {
        QMutexLocker lock(&m_mutex);
        m_value = value;
        return *this;
    }
    QString get() const
    {
        QMutexLocker lock(&m_mutex);
        return m_value;
    }
    operator QString() const { return get(); }
    bool isEmpty() const { return get().isEmpty(); }

private:
    mutable QMutex m_mutex;
    QString m_value;
};

// Default sudo password until the installer enters the machine's own.
#define DEFAULT_SUDO_PASSWORD "480592"

extern SharedString gConnIp; // signage server host
extern SharedString gConnPort; // signage server TCP port, as text
extern SharedString gTerminalId; // terminal identifier
extern SharedString gMac; // MAC text as MiscFunc::getMacAddress gives it
extern SharedString gSudoPassword; // password fed to `sudo -S`
extern SharedString gLogUrl; // base URL of the log upload

// Puts every setting back to its start value (tests).
void resetGlobals();
