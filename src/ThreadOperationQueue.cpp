#include "ThreadOperationQueue.h"

ThreadOperationQueue::~ThreadOperationQueue() { waitUntilAllOperationsAreFinished(); }

void ThreadOperationQueue::addOperation(std::shared_ptr<Operation> operation) {
    std::lock_guard lock(mutex_);
    threads_.emplace_back([op = std::move(operation)] { op->main(); });
}

void ThreadOperationQueue::waitUntilAllOperationsAreFinished() {
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(threads_);
    }
    for (std::thread& t : threads) t.join();
}
