#pragma once

#include <memory>
#include <mutex>

#include <QObject>

#include "platform/MainThread.h"

// Work for the main thread goes through the Qt event loop. A waiting caller
// is released without the work having run once shutdown() was called, so a
// window can be torn down while the parse thread waits on it.
class QtMainThread : public MainThread {
public:
    QtMainThread();
    ~QtMainThread() override;
    void perform(std::function<void()> work, bool wait) override;
    // Main thread: drop queued work and take no more.
    void shutdown();

private:
    std::mutex mutex_;
    bool closed_ = false;
    std::unique_ptr<QObject> context_;
};
