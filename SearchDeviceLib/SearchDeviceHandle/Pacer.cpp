#include "SearchDeviceHandle/Pacer.h"

#include <algorithm>
#include <ctime>

using Clock = Pacer::Clock;

namespace {

// Longest single sleep: a cancel is seen within this time even at rate 1.
constexpr Clock::duration kLongestSleep = std::chrono::milliseconds(20);
constexpr Clock::duration kShortestSleep = std::chrono::microseconds(5);
constexpr Clock::duration kLeastMargin = std::chrono::microseconds(2);
constexpr Clock::duration kMostMargin = std::chrono::microseconds(200);
constexpr Clock::duration kSpinGapsBelow = std::chrono::microseconds(250);

void SleepUntil(Clock::time_point wake) {
    // steady_clock is CLOCK_MONOTONIC, so its time points are absolute
    // deadlines for the sleep as they are.
    const auto since = wake.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    timespec ts{};
    ts.tv_sec = static_cast<std::time_t>(seconds.count());
    ts.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}

}  // namespace

Clock::time_point Pacer::Due(std::uint64_t index, Clock::time_point previous) const {
    const std::uint64_t rate = static_cast<std::uint64_t>(nRate);
    // index / rate whole seconds plus the rest, exact in integers for any index.
    const auto offset = std::chrono::seconds(index / rate) + std::chrono::nanoseconds(index % rate * 1000000000 / rate);
    const Clock::time_point due = tStart + std::chrono::duration_cast<Clock::duration>(offset);
    if (index == 0) return due;
    // Behind schedule: about two thirds of the gap, and at least 3 us more
    // than half of it, for the jitter between here and the wire.
    const auto spacing = std::max(std::chrono::nanoseconds(650000000 / rate),
                                  std::chrono::nanoseconds(500000000 / rate + 3000));
    return std::max(due, previous + std::chrono::duration_cast<Clock::duration>(spacing));
}

PacerWaiter::PacerWaiter(int rate)
    : most(std::chrono::nanoseconds(1000000000 / rate) < kSpinGapsBelow
               ? std::clamp<Clock::duration>(std::chrono::nanoseconds(250000000 / rate), kLeastMargin, kMostMargin)
               : Clock::duration::zero()),
      margin(std::min<Clock::duration>(std::chrono::microseconds(20), most)) {}

bool PacerWaiter::Until(Clock::time_point due, const std::atomic<bool>& cancel) {
    for (;;) {
        if (cancel.load(std::memory_order_relaxed)) return false;
        const Clock::time_point now = Clock::now();
        if (now >= due) return true;
        if (due - now <= margin + kShortestSleep) continue;
        const Clock::time_point wake = std::min<Clock::time_point>(due - margin, now + kLongestSleep);
        SleepUntil(wake);
        // A running average of the latency, deaf to the rare long stall of a
        // busy machine.
        const Clock::duration late =
            std::clamp<Clock::duration>(Clock::now() - wake, Clock::duration::zero(), 4 * margin + kLeastMargin);
        margin = std::clamp<Clock::duration>(margin + (late - margin) / 8, Clock::duration::zero(), most);
    }
}
