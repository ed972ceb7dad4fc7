#pragma once

#include <string>
#include <vector>

#include "LanguageTexts.h"
#include "Common/SearchWorkerStatus.h"

// One line naming every search that could not start, "" when all started;
// in the language of texts, English where it has no entry.
std::string workerStatusText(const std::vector<SearchWorkerStatus>& workers, const LanguageTexts& texts);
