#pragma once

#include <functional>

// A repeating timer on the main thread's event loop; the first firing comes
// one interval after scheduling. It runs for the life of its owner.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void scheduleRepeating(double seconds, std::function<void()> onTick) = 0;
};
