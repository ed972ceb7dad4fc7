#include "SearchDeviceHandle/HostNameLookup.h"

#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

// Between the lookup's thread and the caller; the thread keeps its own
// reference, so a lookup that is forgotten or outlives the caller is safe.
struct HostNameLookup::Shared {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    Clock::time_point finishedAt;
    std::vector<std::string> addresses;
    std::string error;
};

namespace {

std::string OverrunText(HostNameLookup::Clock::duration budget) {
    char text[96];
    std::snprintf(text, sizeof text, "no answer to the host name lookup within %g s",
                  std::chrono::duration<double>(budget).count());
    return text;
}

}  // namespace

HostNameLookup::Outcome HostNameLookup::Take(const Source& source) {
    Outcome outcome;
    if (!running) {
        auto shared = std::make_shared<Shared>();
        started = Clock::now();
        overrunReported = false;
        try {
            std::thread([shared, source] {
                std::vector<std::string> addresses;
                std::string error;
                try {
                    addresses = source();
                } catch (const std::exception& e) {
                    error = e.what();
                } catch (...) {
                    error = "unknown error";
                }
                std::lock_guard<std::mutex> lock(shared->mutex);
                shared->finished = true;
                shared->finishedAt = Clock::now();
                shared->addresses = std::move(addresses);
                shared->error = std::move(error);
                shared->done.notify_all();
            }).detach();
        } catch (const std::exception& e) {
            outcome.answered = true;
            outcome.error = e.what();
            return outcome;
        }
        running = std::move(shared);
    }

    std::unique_lock<std::mutex> lock(running->mutex);
    running->done.wait_until(lock, started + grace, [this] { return running->finished; });
    if (running->finished) {
        if (running->finishedAt - started <= budget) {
            outcome.answered = true;
            outcome.addresses = std::move(running->addresses);
            outcome.error = std::move(running->error);
        } else if (!overrunReported) {
            outcome.answered = true;
            outcome.error = OverrunText(budget);
        }
        lock.unlock();
        running.reset();
    } else if (Clock::now() - started > budget && !overrunReported) {
        overrunReported = true;
        outcome.answered = true;
        outcome.error = OverrunText(budget);
    }
    return outcome;
}

void HostNameLookup::Reset() {
    running.reset();
    overrunReported = false;
}
