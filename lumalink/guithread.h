#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QSemaphore>
#include <QThread>

#include <functional>
#include <memory>

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
        QSemaphore done;
        T value {};
    };
    auto shared = std::make_shared<Shared>();
    QMetaObject::invokeMethod(
        app,
        [shared, work] {
            shared->value = work();
            shared->done.release();
        },
        Qt::QueuedConnection);
    if (!shared->done.tryAcquire(1, timeoutMs))
        return false;
    result = shared->value;
    return true;
}
