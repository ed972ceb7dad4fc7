// One simulated device as the configuration describes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Announcement {
    double at = 0;     // seconds after start
    std::string nts;   // sent as "NTS: ssdp:<nts>"
};

struct DeviceProfile {
    std::string id;
    std::uint32_t address = 0;  // host byte order
    std::string host;
    std::string maker = "ORVALE";
    std::string product = "SIM-1";
    std::string version = "1.0";
    std::string extra;
    bool broadcast = true;
    bool ssdp = true;
    int code = 1;         // code byte of the broadcast answer
    double delay = 0;     // fixed delay before answering
    double maxDelay = 0;  // > 0: random delay in [0, maxDelay] instead
    int answers = 0;      // searches it answers: 0 unlimited, -1 never
    std::vector<Announcement> announce;
};
