#pragma once

#include "commandrunner.h"
#include "datalayout.h"

#include <QString>

#include <memory>
#include <mutex>
#include <optional>

// A setting written on the GUI thread and read by the worker threads; every
// read and write is a whole value under its own lock.
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
        std::lock_guard<std::mutex> lock(m_mutex);
        m_value = value;
        return *this;
    }
    QString get() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_value;
    }
    operator QString() const { return get(); }
    bool isEmpty() const { return get().isEmpty(); }

private:
    mutable std::mutex m_mutex;
    QString m_value;
};

// The service's settings: one object, owned by the service and handed to the
// pieces that read or write them (session, requests, power schedule, status
// file, statistics, watchdog).
struct ServiceSettings
{
    SharedString connIp; // signage server host
    SharedString connPort; // signage server TCP port, as text
    SharedString terminalId; // terminal identifier
    SharedString mac; // MAC text as SystemProbe::macAddress gives it
    // Password fed to `sudo -S`; empty: `sudo -n`, allowed by the sudoers rule.
    SharedString sudoPassword;
    SharedString logUrl; // base URL of the log upload
    // Every external program the service starts goes through it (tests give
    // one that records instead). Set before the pieces start; never reset.
    std::shared_ptr<CommandRunner> runner = std::make_shared<ProcessRunner>();
    // Where the service keeps its files; set by the service before the
    // pieces start, never reset. Unset (settings made by a test or a tool):
    // the current user's home at each use.
    std::optional<DataLayout> layout;
    DataLayout dataLayout() const { return layout ? *layout : DataLayout(); }

    // Puts every setting back to its start value.
    void reset();
};
