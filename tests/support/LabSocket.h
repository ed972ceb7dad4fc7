// For tests that run in the host namespace of the lab (tests/lab/lab.sh): the
// check that we are there, and plain UDP sockets to play the other side.
#pragma once

// clang-format off
#include <utility>  // before Asio: 1.74 uses std::exchange without it in C++20
// clang-format on

#include <net/if.h>
#include <sys/stat.h>

#include <boost/asio.hpp>
#include <cstdlib>
#include <string>

namespace lab {

inline const char* kHostIp = "198.51.100.1";

// True only inside the lab: LAB_LAN_PID names a process in another network
// namespace, and ours holds only the lab's links, since any other interface
// could reach a real network. Anything that sends must refuse to run otherwise.
inline bool InsideLab(std::string* why) {
    const char* pid = std::getenv("LAB_LAN_PID");
    struct stat self {
    }, lan{};
    if (pid == nullptr || stat("/proc/self/ns/net", &self) != 0 ||
        stat((std::string("/proc/") + pid + "/ns/net").c_str(), &lan) != 0 || self.st_ino == lan.st_ino)
        return *why = "not in the lab's host namespace (run under tests/lab/lab.sh)", false;
    struct if_nameindex* links = if_nameindex();
    bool haveLan0 = false, foreign = links == nullptr;
    for (struct if_nameindex* l = links; l != nullptr && l->if_index != 0; ++l) {
        const std::string name = l->if_name;
        haveLan0 |= name == "lan0";
        foreign |= name != "lo" && name != "lan0" && name != "lan1";
    }
    if (links != nullptr) if_freenameindex(links);
    if (foreign || !haveLan0) return *why = "network interfaces other than the lab's are present", false;
    return true;
}

using Udp = boost::asio::ip::udp;

inline Udp::endpoint At(const std::string& ip, int port) {
    return {boost::asio::ip::make_address_v4(ip), static_cast<unsigned short>(port)};
}

// A UDP socket bound to ip:port (0 = any free port), without address reuse,
// so binding a taken port fails like the product's own bind.
inline Udp::socket Bound(const std::string& ip, int port) {
    static boost::asio::io_context io;  // synchronous calls only: it never runs
    return Udp::socket(io, At(ip, port));
}

inline void SendTo(Udp::socket& from, const std::string& ip, int port, const std::string& bytes) {
    from.send_to(boost::asio::buffer(bytes), At(ip, port));
}

}  // namespace lab
