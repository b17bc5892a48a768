#include "clock.h"

#include <QElapsedTimer>

#include <atomic>
#include <limits>

namespace {
constexpr qint64 kNotFixed = std::numeric_limits<qint64>::min();
std::atomic<qint64> s_offset {0};
std::atomic<qint64> s_fixed {kNotFixed};
std::atomic<qint64> s_monotonicExtra {0};

const QElapsedTimer &steadyTimer()
{
    static const QElapsedTimer timer = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return timer;
}
} // namespace

qint64 Clock::monotonicMs()
{
    return steadyTimer().elapsed() + s_monotonicExtra.load();
}

qint64 Clock::nowMs()
{
    const qint64 fixed = s_fixed.load();
    if (fixed != kNotFixed)
        return fixed;
    return QDateTime::currentMSecsSinceEpoch() + s_offset.load();
}

QDateTime Clock::now()
{
    return QDateTime::fromMSecsSinceEpoch(nowMs());
}

void Clock::setOffsetMs(qint64 offset)
{
    s_offset = offset;
}

void Clock::setFixedMs(qint64 msSinceEpoch)
{
    s_fixed = msSinceEpoch;
}

void Clock::advanceMs(qint64 ms)
{
    s_monotonicExtra += ms;
    qint64 fixed = s_fixed.load();
    while (fixed != kNotFixed) {
        if (s_fixed.compare_exchange_weak(fixed, fixed + ms))
            return;
    }
    s_offset += ms;
}

void Clock::reset()
{
    s_fixed = kNotFixed;
    s_offset = 0;
}
