#pragma once

#include <QTimer>

#include "platform/Timer.h"

class QtTimer : public Timer {
public:
    // intervalOverrideMs > 0 replaces the interval asked for (tests, screenshots).
    explicit QtTimer(int intervalOverrideMs = 0) : overrideMs_(intervalOverrideMs) {}

    void scheduleRepeating(double seconds, std::function<void()> onTick) override {
        const int ms = overrideMs_ > 0 ? overrideMs_ : static_cast<int>(seconds * 1000.0 + 0.5);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, std::move(onTick));
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.start(ms);
    }
    QTimer& timer() { return timer_; }

private:
    int overrideMs_;
    QTimer timer_;
};
