#pragma once

// The longest gap between two ticks of a 1 ms timer in this thread: how long
// the event loop was held at most since the last reset. A window whose loop
// is never held longer than a frame (17 ms) never misses one.

#include <QObject>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <functional>

// A frame at 60 Hz: the longest the loop may be held.
constexpr double kFrameMs = 17;

class StallMeter
{
public:
    StallMeter()
    {
        tick_.setTimerType(Qt::PreciseTimer);
        tick_.setInterval(1);
        QObject::connect(&tick_, &QTimer::timeout, [this] {
            const long long now = nowNs();
            const long long cpu = threadCpuNs();
            const long long gap = now - lastNs_;
            longestNs_ = std::max(longestNs_, gap);
            if (onLongGap_ && gap > longGapNs_)
                onLongGap_(double(gap) / 1e6, double(cpu - lastCpuNs_) / 1e6);
            lastNs_ = now;
            lastCpuNs_ = cpu;
        });
        reset();
        tick_.start();
    }
    void reset()
    {
        lastNs_ = nowNs();
        lastCpuNs_ = threadCpuNs();
        longestNs_ = 0;
    }
    // Called after each gap longer than thresholdMs, with its length and the
    // CPU time this thread used in it (much less than the gap: the thread
    // waited, for the machine or a lock): to find out what held the loop.
    void watchGaps(double thresholdMs, std::function<void(double, double)> onLongGap)
    {
        longGapNs_ = static_cast<long long>(thresholdMs * 1e6);
        onLongGap_ = std::move(onLongGap);
    }
    // Counting a gap still open now.
    double longestMs() const { return double(std::max(longestNs_, nowNs() - lastNs_)) / 1e6; }

private:
    static long long read(clockid_t clock)
    {
        timespec now{};
        clock_gettime(clock, &now);
        return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    }
    static long long nowNs() { return read(CLOCK_MONOTONIC); }
    static long long threadCpuNs() { return read(CLOCK_THREAD_CPUTIME_ID); }
    QTimer tick_;
    long long lastNs_ = 0;
    long long longestNs_ = 0;
    long long lastCpuNs_ = 0;
    long long longGapNs_ = 0;
    std::function<void(double, double)> onLongGap_;
};
