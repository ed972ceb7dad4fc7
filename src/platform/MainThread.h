#pragma once

#include <functional>

// Runs work on the main thread. With wait, the caller (never the main thread
// itself) blocks until the work has run, or until the main thread stops
// taking work, in which case the work is dropped.
class MainThread {
public:
    virtual ~MainThread() = default;
    virtual void perform(std::function<void()> work, bool wait) = 0;
};
