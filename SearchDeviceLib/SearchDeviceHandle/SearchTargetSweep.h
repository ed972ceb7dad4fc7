// Sweeps of the search targets: unicast probes, paced evenly, on a thread of
// their own. Static members only, like the search client it works beside.
#pragma once

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
};
