#pragma once

#include <string>
#include <vector>

#include "SearchWorkerStatus.h"

// One line naming every search that could not start, "" when all started.
std::string workerStatusText(const std::vector<SearchWorkerStatus>& workers);
