#include "Net/Ipv4.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace net {

void Ipv4Text(std::uint32_t address, std::string& text) {
    char out[16];
    char* p = out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned value = address >> shift & 0xFF;
        if (value >= 100) *p++ = static_cast<char>('0' + value / 100);
        if (value >= 10) *p++ = static_cast<char>('0' + value / 10 % 10);
        *p++ = static_cast<char>('0' + value % 10);
        if (shift > 0) *p++ = '.';
    }
    text.assign(out, static_cast<std::size_t>(p - out));
}

std::string Ipv4Text(std::uint32_t address) {
    std::string text;
    Ipv4Text(address, text);
    return text;
}

bool CanonicalIpv4(const std::string& text, std::string& dotted) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
    Ipv4Text(ntohl(address.s_addr), dotted);
    return true;
}

namespace {

// Inodes of this process's sockets, from /proc/self/fd.
std::set<unsigned long> OwnSocketInodes() {
    std::set<unsigned long> inodes;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return inodes;
    while (dirent* entry = readdir(dir)) {
        char link[64] = {};
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        if (readlink(path.c_str(), link, sizeof link - 1) <= 0) continue;
        unsigned long inode = 0;
        if (std::sscanf(link, "socket:[%lu]", &inode) == 1) inodes.insert(inode);
    }
    closedir(dir);
    return inodes;
}

}  // namespace

bool UdpPortHeldByOthers(int port) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    if (!std::getline(table, line)) return false;
    const std::set<unsigned long> own = OwnSocketInodes();
    while (std::getline(table, line)) {
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout inode
        std::istringstream fields(line);
        std::string slot, local, remote, st, queues, timer, retransmits, uid, timeout;
        unsigned long inode = 0;
        if (!(fields >> slot >> local >> remote >> st >> queues >> timer >> retransmits >> uid >> timeout >> inode))
            continue;
        const std::size_t colon = local.find(':');
        if (colon == std::string::npos) continue;
        if (std::strtol(local.c_str() + colon + 1, nullptr, 16) == port && own.count(inode) == 0) return true;
    }
    return false;
}

RouteFinder::RouteFinder() : fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    const int on = 1;
    if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
}

RouteFinder::~RouteFinder() {
    if (fd >= 0) close(fd);
}

int RouteFinder::SourceFor(std::uint32_t address, std::uint16_t port, std::uint32_t& source) {
    if (fd < 0) return EBADF;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return errno;
    source = ntohl(local.sin_addr.s_addr);
    return 0;
}

}  // namespace net
