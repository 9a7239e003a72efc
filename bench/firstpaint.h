#pragma once

// Reports the first paint event of one widget on standard output as
// "paint <CLOCK_MONOTONIC nanoseconds>", a clock every process on the machine
// shares, so the starter can subtract the moment it started the program.

#include <QEvent>
#include <QObject>
#include <QWidget>

#include <cstdio>
#include <ctime>

class FirstPaint : public QObject
{
public:
    explicit FirstPaint(QWidget *watched) : QObject(watched) { watched->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::printf("paint %lld\n",
                        static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
            std::fflush(stdout);
            watched->removeEventFilter(this);
        }
        return false;
    }
};
