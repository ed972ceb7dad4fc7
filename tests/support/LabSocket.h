// For tests that run in the host namespace of the lab (tests/lab/lab.sh): the
// check that we are there, and plain UDP sockets to play the other side.
#pragma once

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace lab {

inline const char* kHostIp = "198.51.100.1";

// True only inside the lab: LAB_LAN_PID names a process in another network
// namespace, and ours holds only the lab's links, since any other interface
// could reach a real network. (PID 1 is the lab's own first process there, so
// its namespace tells nothing.) Anything that sends must refuse to run otherwise.
inline bool InsideLab(std::string* why) {
    auto fail = [&](const char* text) { return *why = text, false; };
    const char* pid = std::getenv("LAB_LAN_PID");
    if (pid == nullptr || *pid == '\0') return fail("LAB_LAN_PID is not set (run under tests/lab/lab.sh)");
    struct stat self {
    }, lan{};
    if (stat("/proc/self/ns/net", &self) != 0 ||
        stat((std::string("/proc/") + pid + "/ns/net").c_str(), &lan) != 0)
        return fail("cannot read the network namespaces");
    if (self.st_ino == lan.st_ino) return fail("LAN namespace equals ours");
    struct if_nameindex* links = if_nameindex();
    if (links == nullptr) return fail("cannot list network interfaces");
    bool haveLan0 = false, foreign = false;
    for (struct if_nameindex* l = links; l->if_index != 0; ++l) {
        const std::string name = l->if_name;
        haveLan0 |= name == "lan0";
        foreign |= name != "lo" && name != "lan0" && name != "lan1";
    }
    if_freenameindex(links);
    if (foreign || !haveLan0) return fail("network interfaces other than the lab's are present");
    return true;
}

inline sockaddr_in Address(const std::string& ip, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1) throw std::runtime_error("bad address " + ip);
    return a;
}

// One UDP socket bound to ip:port (0 = any free port), without address reuse,
// so binding a taken port fails like the product's own bind.
class UdpSocket {
public:
    UdpSocket(const std::string& ip, int port) : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a = Address(ip, port);
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("bind " + ip + ":" + std::to_string(port) + ": " + std::strerror(errno));
    }
    UdpSocket(UdpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    ~UdpSocket() {
        if (fd_ >= 0) close(fd_);
    }
    void SendTo(const std::string& ip, int port, const std::string& bytes) const {
        sockaddr_in to = Address(ip, port);
        if (sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) !=
            static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error(std::string("sendto: ") + std::strerror(errno));
    }

    void JoinGroup(const std::string& group) const {
        ip_mreq m{};
        m.imr_multiaddr = Address(group, 0).sin_addr;
        if (setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) != 0)
            throw std::runtime_error(std::string("join: ") + std::strerror(errno));
    }
    // The next datagram, or "" after 10 s without one.
    std::string Receive() const {
        timeval limit{10, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char buffer[2048];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    }

private:
    int fd_;
};

}  // namespace lab
