#pragma once

#include <string>
#include <vector>

#include "Common/SearchWorkerStatus.h"
#include "LanguageTexts.h"

// One line naming every search that could not start, "" when all started;
// in the language of texts, English where it has no entry.
std::string workerStatusText(const std::vector<SearchWorkerStatus>& workers, const LanguageTexts& texts);

// One sentence when the last search's broadcast request could not leave
// through some interface, or through none, naming them; "" when it left
// everywhere, or when the broadcast search is not running at all (the line
// above names that, and no interface is to blame).
std::string broadcastSendText(const std::vector<SearchBroadcastSend>& sends,
                              const std::vector<SearchWorkerStatus>& workers, const LanguageTexts& texts);
