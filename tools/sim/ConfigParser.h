// Reads the JSON description of the simulated devices. Every mistake is a
// SimError (usage) whose message names the place: "devices[2].code: ...".
#pragma once

#include "DeviceSpec.h"

#include <string>
#include <vector>

class ConfigParser {
public:
    static std::vector<DeviceSpec> parse(const std::string& jsonText);
    static std::vector<DeviceSpec> load(const std::string& path);
};
