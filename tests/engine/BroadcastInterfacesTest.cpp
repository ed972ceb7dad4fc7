// Which interfaces the broadcast request leaves by, from what getifaddrs says.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <tuple>
#include <vector>

#include "SearchDeviceThread/SearchDeviceBroadcastThread.h"

namespace {

// What getifaddrs reports on a laptop with Wi-Fi, a dock, a VPN and a
// link-local cable: only the ones a limited broadcast can leave by.
TEST(BroadcastInterfaces, EveryUpBroadcastInterfaceOnceWithItsFirstIPv4Address) {
    const unsigned up = IFF_UP | IFF_BROADCAST;
    const std::tuple<const char*, int, const char*, unsigned> rows[] = {
        {"lo", AF_INET, "127.0.0.1", IFF_UP | IFF_LOOPBACK},
        {"eth0", AF_INET, "192.168.1.5", up},
        {"eth0", AF_INET, "192.168.7.5", up},  // a second address: one send is enough
        {"wlan0", AF_INET6, "0.0.0.0", up},
        {"wlan0", AF_INET, "10.0.0.8", up},
        {"tun0", AF_INET, "10.8.0.2", IFF_UP | IFF_POINTOPOINT},
        {"wg0", AF_INET, "10.9.0.2", up | IFF_POINTOPOINT},
        {"eth1", AF_INET, "169.254.3.4", up},
        {"eth2", AF_INET, "192.168.9.1", IFF_BROADCAST},  // down
        {"bond0", AF_INET, "192.168.8.1", IFF_UP}};       // cannot broadcast
    std::vector<sockaddr_in> addresses(std::size(rows));
    std::vector<ifaddrs> list(std::size(rows) + 1);  // zeroed, the last one without an address
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& [name, family, address, flags] = rows[i];
        addresses[i].sin_family = static_cast<sa_family_t>(family);
        inet_pton(AF_INET, address, &addresses[i].sin_addr);
        list[i].ifa_name = const_cast<char*>(name);
        list[i].ifa_flags = flags;
        list[i].ifa_addr = reinterpret_cast<sockaddr*>(&addresses[i]);
        list[i].ifa_next = &list[i + 1];
    }
    list.back().ifa_name = const_cast<char*>("eth3");
    list.back().ifa_flags = up;
    auto at = [](const char* dotted) { return ntohl(inet_addr(dotted)); };
    EXPECT_EQ(BroadcastInterfaces(list.data()), (std::vector<BroadcastInterface>{{"eth0", at("192.168.1.5")},
                                                                                 {"wlan0", at("10.0.0.8")},
                                                                                 {"eth1", at("169.254.3.4")}}));
    EXPECT_TRUE(BroadcastInterfaces(nullptr).empty());
}

}  // namespace
