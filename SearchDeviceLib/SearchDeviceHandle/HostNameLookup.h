// Resolves the machine's own host name on a thread of its own, so that no
// search waits on a slow or unreachable name service (where the name is in
// no hosts file and DNS does not answer, one lookup takes 10 s and more).
//
// Used only by the thread that starts, searches and stops the engine.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class HostNameLookup {
public:
    using Source = std::function<std::vector<std::string>()>;
    using Clock = std::chrono::steady_clock;

    struct Outcome {
        bool answered = false;  // false: nothing new to report
        std::vector<std::string> addresses;
        std::string error;  // set when the lookup failed or ran out of time
    };

    // A lookup gets `grace` to answer inside the call that starts it (a hosts
    // file answers in microseconds); a later answer is kept for the next call
    // if it came within `budget` of the start, and dropped after that.
    HostNameLookup(Clock::duration grace, Clock::duration budget) : grace(grace), budget(budget) {}

    // Starts a lookup with `source` when none is running, waits at most the
    // rest of its grace, and returns what is new: its addresses or its error,
    // or the fact that it overran its budget (reported once).
    Outcome Take(const Source& source);
    // Forgets a running lookup; its thread ends on its own.
    void Reset();

private:
    struct Shared;
    Clock::duration grace, budget;
    std::shared_ptr<Shared> running;
    Clock::time_point started;
    bool overrunReported = false;
};
