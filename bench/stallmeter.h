#pragma once

// The longest gap between two ticks of a 1 ms timer in this thread: how long
// the event loop was held at most since the last reset. A window whose loop
// is never held longer than a frame (17 ms) never misses one.

#include <QObject>
#include <QTimer>

#include <algorithm>
#include <ctime>

class StallMeter
{
public:
    StallMeter()
    {
        tick_.setTimerType(Qt::PreciseTimer);
        tick_.setInterval(1);
        QObject::connect(&tick_, &QTimer::timeout, [this] {
            const long long now = nowNs();
            longestNs_ = std::max(longestNs_, now - lastNs_);
            lastNs_ = now;
        });
        reset();
        tick_.start();
    }
    void reset()
    {
        lastNs_ = nowNs();
        longestNs_ = 0;
    }
    // Counting a gap still open now.
    double longestMs() const { return double(std::max(longestNs_, nowNs() - lastNs_)) / 1e6; }

private:
    static long long nowNs()
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    }
    QTimer tick_;
    long long lastNs_ = 0;
    long long longestNs_ = 0;
};
