// Reads the JSON description of the simulated devices. Every mistake is a
// SimError (usage) whose message names the place: "devices[2].code: ...".
#pragma once

#include "DeviceProfile.h"

#include <string>
#include <vector>

class ConfigParser {
public:
    static std::vector<DeviceProfile> parse(const std::string& jsonText);
    static std::vector<DeviceProfile> load(const std::string& path);
};
