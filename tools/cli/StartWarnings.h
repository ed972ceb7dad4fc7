// Tells the user, once per worker, which search could not start and what to do.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "SearchWorkerStatus.h"

namespace cli {

// The warning for one worker that did not start; empty when it started.
std::string StartWarning(const SearchWorkerStatus& status);

// The registry only grows and keeps its order, so workers already looked at
// are simply the first `seen` entries.
class StartWarningTracker {
public:
    std::vector<std::string> NewWarnings(const std::vector<SearchWorkerStatus>& statuses);

private:
    std::size_t seen = 0;
};

}  // namespace cli
