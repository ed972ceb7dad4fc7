#include "LocalAddresses.h"

#include "SimError.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <cerrno>
#include <cstring>

std::vector<LocalAddress> LocalAddresses::list() {
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0)
        throw SimError(SimError::kRuntime, std::string("cannot list the local addresses: ") + std::strerror(errno));
    std::vector<LocalAddress> result;
    for (ifaddrs* item = all; item; item = item->ifa_next) {
        if (!item->ifa_addr || item->ifa_addr->sa_family != AF_INET) continue;
        LocalAddress local;
        local.address = ntohl(reinterpret_cast<const sockaddr_in*>(item->ifa_addr)->sin_addr.s_addr);
        local.interfaceName = item->ifa_name;
        // Labels such as "eth0:1" name the device before the colon.
        local.interfaceIndex = static_cast<int>(
            ::if_nametoindex(local.interfaceName.substr(0, local.interfaceName.find(':')).c_str()));
        result.push_back(local);
    }
    ::freeifaddrs(all);
    return result;
}

std::optional<LocalAddress> LocalAddresses::find(const std::vector<LocalAddress>& all, std::uint32_t address) {
    for (const auto& local : all)
        if (local.address == address) return local;
    return std::nullopt;
}
