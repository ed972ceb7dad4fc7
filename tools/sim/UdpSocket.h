// A move-only IPv4 UDP socket with the few options the simulator needs.
// Failures throw SimError: a missing local address is a usage error, the
// rest (port taken, no permission) are runtime errors.
#pragma once

#include "Endpoint.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

class UdpSocket {
public:
    struct Datagram {
        std::size_t size = 0;
        Endpoint from;
        int interfaceIndex = 0;     // 0 unless packet info is on
        std::uint32_t destination = 0;  // the header's destination address; 0 unless packet info is on
    };

    UdpSocket();
    ~UdpSocket();
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    int fd() const { return m_fd; }

    void reuseAddress();
    void allowBroadcast();
    void receivePacketInfo();
    void setNonBlocking();
    // Multicast leaves from this address with TTL 1: one hop, no further.
    void multicastFrom(std::uint32_t address);
    void joinGroup(std::uint32_t group, int interfaceIndex);
    void bind(const Endpoint& local, const std::string& what);

    // Returns 0 when the whole datagram went out, else the errno value.
    int sendTo(const void* data, std::size_t size, const Endpoint& to);
    static std::string errorText(int error);
    // nullopt when nothing is waiting (non-blocking) or on a transient error.
    std::optional<Datagram> receive(void* buffer, std::size_t capacity);

    // The source address the kernel would choose for `to`.
    static std::uint32_t routeSource(const Endpoint& to);

private:
    void option(int level, int name, const void* value, unsigned size, const char* what);
    int m_fd = -1;
};
