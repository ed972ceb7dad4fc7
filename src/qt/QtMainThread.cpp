#include "QtMainThread.h"

#include <future>

#include <QMetaObject>
#include <QThread>

QtMainThread::QtMainThread() : context_(std::make_unique<QObject>()) {}

QtMainThread::~QtMainThread() { shutdown(); }

void QtMainThread::perform(std::function<void()> work, bool wait) {
    std::unique_lock lock(mutex_);
    if (closed_) return;
    if (wait && QThread::currentThread() == context_->thread()) {
        // Waiting on ourselves would never end.
        lock.unlock();
        work();
        return;
    }
    if (!wait) {
        QMetaObject::invokeMethod(context_.get(), std::move(work), Qt::QueuedConnection);
        return;
    }
    // Queued call plus a promise rather than a blocking connection: when the
    // queued call is dropped unrun at shutdown, the promise breaks and the
    // waiter goes on.
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    QMetaObject::invokeMethod(
        context_.get(),
        // The call holds the only reference to the promise.
        [work = std::move(work), done = std::move(done)] {
            work();
            done->set_value();
        },
        Qt::QueuedConnection);
    lock.unlock();
    try {
        finished.get();
    } catch (const std::future_error&) {
        // dropped at shutdown
    }
}

void QtMainThread::shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        closed_ = true;
    }
    // Deleting the context discards its queued calls.
    context_.reset();
}
