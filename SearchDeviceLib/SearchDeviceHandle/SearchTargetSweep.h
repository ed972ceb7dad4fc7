// Sweeps of the search targets: unicast probes, paced evenly, on a thread of
// their own. Static members only, like the search client it works beside.
// Owns the targets, the rate and the latest sweep's state; sends from the
// workers the client names (StartedSenders, SweepWorker) and never touches
// the client's registry, the workers' receiving or the front end's list.
#pragma once

#include <string>

#include "Common/SearchTargets.h"

// A snapshot of the latest sweep.
struct SweepProgress {
    enum class State { Idle, Running, Finished, Cancelled };  // Idle: no sweep since the start
    unsigned long long done = 0;                              // addresses probed so far
    unsigned long long total = 0;                             // addresses in the sweep
    unsigned long long sent = 0;                              // datagrams sent
    unsigned long long failed = 0;                            // datagrams the system refused
    int rate = 0;                                             // datagrams per second asked for
    double achieved = 0;                                      // datagrams per second so far (sent and failed)
    double elapsed = 0;    // seconds since the start (until the end, once ended)
    double remaining = 0;  // seconds left at the rate (two datagrams per address); 0 once ended
    State state = State::Idle;
    unsigned number = 0;  // 1 for the first sweep, one more for each further one
    std::string error;    // the first send error's text, empty when none
};

class CSearchTargetSweep {
public:
    // Stores the targets and rate (kSearchRateMin..kSearchRateMax) for later
    // sweeps; -1 and nothing changed when the rate is out of range.
    static int SetTargets(const CSearchTargetList& targets, int rate);

    // 0: a sweep started (a running one was cancelled first); 1: no targets,
    // nothing sent (a running sweep is cancelled all the same); -1: the engine
    // is not running.
    static int Start();
    static void Cancel();
    // True once no sweep runs; false after timeoutMs (< 0: no limit).
    static bool Wait(int timeoutMs);
    static SweepProgress Progress();
    // At engine stop: cancels, stops the workers made for sweeps, and refuses
    // further sweeps.
    static void Stop();
};
