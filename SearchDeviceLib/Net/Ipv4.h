// IPv4 addresses as numbers (host byte order) and as dotted text, the route
// the system would choose for one, and who else holds a UDP port. Plain
// system calls only: the engine, the simulator and the bench share it, and it
// knows nothing of workers, logs or threads.
#pragma once

#include <cstdint>
#include <string>

namespace net {

// "a.b.c.d" without leading zeros, as inet_ntop writes it, but without its
// sprintf: the receive loop writes one for every datagram.
void Ipv4Text(std::uint32_t address, std::string& text);
std::string Ipv4Text(std::uint32_t address);

// The dotted form of an IPv4 text inet_pton accepts; false for anything else
// (IPv6, names, junk).
bool CanonicalIpv4(const std::string& text, std::string& dotted);

// True when a socket of another process in this network namespace is bound to
// UDP `port` (from /proc/net/udp, this process's own sockets left out): a
// unicast datagram to the port may then be delivered to that program.
bool UdpPortHeldByOthers(int port);

// The local address the system sends a datagram to address:port from, by
// connecting a probe socket (which may broadcast) of its own.
class RouteFinder {
public:
    RouteFinder();
    ~RouteFinder();
    RouteFinder(const RouteFinder&) = delete;
    RouteFinder& operator=(const RouteFinder&) = delete;

    // 0 and the source, or the system's error number (no route, no socket).
    int SourceFor(std::uint32_t address, std::uint16_t port, std::uint32_t& source);

private:
    int fd;
};

}  // namespace net
