#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "Common/CommonStruct.h"

// The boxes seen before, kept beside the device list between runs (and
// written by other programs at the same time).
class KnownBoxes {
public:
    struct Moved {
        std::string host, ip, from;
    };
    struct Facts {
        std::string version;  // the last one a box told, also when its current record has none
        std::time_t firstSeen = 0, lastSeen = 0;
    };
    struct Problem {
        bool damaged = false;  // set aside to file and started afresh; else file cannot be written
        std::string file, reason;
    };

    virtual ~KnownBoxes() = default;
    // Writes the list's boxes that answered in the current search; the ones
    // that answer from another address than before.
    virtual std::vector<Moved> record(const std::vector<deviceinfo>& list) = 0;
    virtual std::optional<Facts> facts(const deviceinfo& record) = 0;
    // Problems not yet shown, each once.
    virtual std::vector<Problem> problems() = 0;
};
