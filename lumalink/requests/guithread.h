#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// Runs work that must happen on the GUI thread (desktop size, screen grab) and
// returns its result to a worker thread. The worker waits at most timeoutMs,
// so a GUI thread that is itself waiting for the worker (shutdown) cannot
// deadlock it; a late result is dropped.
template<typename T>
bool callOnGuiThread(const std::function<T()> &work, T &result, int timeoutMs = 10000)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        result = work();
        return true;
    }
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable ready;
        bool done = false;
        T value {};
    };
    auto shared = std::make_shared<Shared>();
    QMetaObject::invokeMethod(
        app,
        [shared, work] {
            T value = work();
            std::lock_guard<std::mutex> lock(shared->mutex);
            shared->value = std::move(value);
            shared->done = true;
            shared->ready.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (!shared->ready.wait_for(
            lock, std::chrono::milliseconds(timeoutMs), [&shared] { return shared->done; }))
        return false;
    result = shared->value;
    return true;
}
