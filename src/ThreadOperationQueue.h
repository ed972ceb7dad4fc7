#pragma once

#include <mutex>
#include <thread>
#include <vector>

#include "platform/OperationQueue.h"

// One background thread per queued operation.
class ThreadOperationQueue : public OperationQueue {
public:
    ThreadOperationQueue() = default;
    // Joins every thread: an operation that waits on the main thread must be
    // released first (see MainThread).
    ~ThreadOperationQueue() override;
    ThreadOperationQueue(const ThreadOperationQueue&) = delete;
    ThreadOperationQueue& operator=(const ThreadOperationQueue&) = delete;

    void addOperation(std::shared_ptr<Operation> operation) override;
    void waitUntilAllOperationsAreFinished();

private:
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};
