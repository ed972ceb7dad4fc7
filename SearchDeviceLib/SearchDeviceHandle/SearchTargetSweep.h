// Sweeps of the search targets: unicast probes, paced evenly, on a thread of
// their own. Static members only, like the search client it works beside.
#pragma once

#include <chrono>
#include <cstdint>

#include "SearchDeviceOpt.h"
#include "SearchTargets.h"

class CSearchTargetSweep {
public:
    // Stores the targets and rate (kSearchRateMin..kSearchRateMax) for later
    // sweeps; -1 and nothing changed when the rate is out of range.
    static int SetTargets(const CSearchTargetList& targets, int rate);
    static CSearchTargetList GetTargets();
    static int GetRate();

    // 0: a sweep started (a running one was cancelled first); 1: no targets,
    // nothing sent (a running sweep is cancelled all the same); -1: the engine
    // is not running.
    static int Start();
    static void Cancel();
    // True once no sweep runs; false after timeoutMs (< 0: no limit).
    static bool Wait(int timeoutMs);
    static sweepprogress Progress();
    // At engine stop: cancels, stops the workers made for sweeps, and refuses
    // further sweeps.
    static void Stop();

    // Even pacing on absolute deadlines: datagram i is due at start + i / rate,
    // so a late wake-up does not push every later datagram back. A datagram
    // that is behind schedule still keeps about two thirds of the nominal gap
    // from the one before, so catching up never becomes a burst.
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
};
