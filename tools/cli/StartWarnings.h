// Tells the user, once per worker, which search could not start and what to do.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Common/SearchWorkerStatus.h"

namespace cli {

// The ports the packaged firewall rules open, for people.
std::string FirewallPorts();

// The warning for one worker that did not start, or started on a port the
// packaged firewall rules do not open; empty when it started as it should. In
// single-address mode an SSDP socket that shares its port is warned about
// too: the answers to its search may reach the other program.
std::string StartWarning(const SearchWorkerStatus& status, bool singleAddress = false);

// The registry only grows and keeps its order, so workers already looked at
// are simply the first `seen` entries.
class StartWarningTracker {
public:
    std::vector<std::string> NewWarnings(const std::vector<SearchWorkerStatus>& statuses);

    bool singleAddress = false;

private:
    std::size_t seen = 0;
};

// One warning for the last search's broadcast, naming every interface it
// could not leave through; empty when it left through all of them.
// `broadcastStarted` is false when the broadcast worker never started (its start failure is
// warned about already).
std::string BroadcastSendWarning(const std::vector<SearchBroadcastSend>& sends, bool broadcastStarted);

// The warning for a sweep of targets that the engine would not start
// (SweepSearchTargets gave `result`, not 0); `threadError` says why no
// thread could be made for it, when that was the cause.
std::string SweepRefusedWarning(int result, const std::string& threadError);

}  // namespace cli
