// The sweep's timing: when each datagram is due, and a wait that meets those
// deadlines closely. No sockets, no shared state.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

// Even pacing on absolute deadlines: datagram i is due at start + i / rate,
// so a late wake-up does not push every later datagram back. A datagram that
// is behind schedule still keeps about two thirds of the nominal gap from the
// one before, so catching up never becomes a burst.
class Pacer {
public:
    using Clock = std::chrono::steady_clock;
    Pacer(int rate, Clock::time_point start) : nRate(rate), tStart(start) {}
    // When datagram number `index` may go, given when the one before went.
    Clock::time_point Due(std::uint64_t index, Clock::time_point previous) const;

private:
    int nRate;
    Clock::time_point tStart;
};

// Waits for deadlines: sleeps until shortly before one, by the wake-up
// latency it usually sees, and spins the rest. A plain sleep is late by that
// latency every time; that alone keeps the spacing even, but a sweep that has
// fallen behind (the machine was busy) could then never catch up at high
// rates. Spinning costs CPU, so it is bounded by a quarter of the gap, and
// gaps long enough for a sleep's latency not to matter are not spun at all.
class PacerWaiter {
public:
    using Clock = Pacer::Clock;
    explicit PacerWaiter(int rate);

    // False as soon as `cancel` is set.
    bool Until(Clock::time_point due, const std::atomic<bool>& cancel);

private:
    const Clock::duration most;
    Clock::duration margin;
};
