// The IPv4 addresses of this host (of the current network namespace).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct LocalAddress {
    std::uint32_t address = 0;
    int interfaceIndex = 0;
    std::string interfaceName;
};

class LocalAddresses {
public:
    static std::vector<LocalAddress> list();
    static std::optional<LocalAddress> find(const std::vector<LocalAddress>& all, std::uint32_t address);
};
