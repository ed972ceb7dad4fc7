// The sweep's deadlines on a made-up clock: no sleeping, no timing.
#include <gtest/gtest.h>

#include "SearchDeviceHandle/Pacer.h"

namespace {

using namespace std::chrono_literals;
using Clock = Pacer::Clock;

TEST(Pacer, DeadlinesFollowTheRateAcrossSecondsAndCatchUpWithoutABurst) {
    const Clock::time_point start{1000s};
    const Clock::time_point never{};  // a previous datagram long ago: the schedule alone decides
    const struct {
        int rate;
        std::uint64_t index;
        Clock::time_point previous;
        Clock::duration due;  // after the start
    } cases[] = {
        {4, 0, never, 0s},
        {4, 3, never, 750ms},
        {4, 4, never, 1s},  // whole seconds count once
        {4, 9, never, 2250ms},
        {1000, 2500, never, 2500ms},
        {3, 1, never, 333333333ns},
        {1, 86400, never, 86400s},
        // On time: the previous datagram went as planned.
        {10, 5, start + 400ms, 500ms},
        // Behind after a stall: two thirds of a gap after the last send, not
        // the start, and at least half a gap and 3 us at high rates.
        {10, 5, start + 2s, 2065ms},
        {2, 100, start + 60s, 60325ms},
        {200000, 7, start + 1s, 1s + 5500ns},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Pacer(c.rate, start).Due(c.index, c.previous) - start, c.due)
            << "rate " << c.rate << ", datagram " << c.index;
}

}  // namespace
