#include "UdpSocket.h"

#include "Net/Ipv4.h"
#include "Net/Message.h"
#include "SimError.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

sockaddr_in toSockaddr(const Endpoint& endpoint) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(endpoint.address);
    addr.sin_port = htons(endpoint.port);
    return addr;
}

}  // namespace

std::string UdpSocket::errorText(int error) { return std::strerror(error); }

UdpSocket::UdpSocket() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    if (m_fd < 0) throw SimError(SimError::kRuntime, "cannot open a UDP socket: " + errorText(errno));
}

UdpSocket::~UdpSocket() {
    if (m_fd >= 0) ::close(m_fd);
}

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

void UdpSocket::option(int level, int name, const void* value, unsigned size, const char* what) {
    if (::setsockopt(m_fd, level, name, value, size) != 0)
        throw SimError(SimError::kRuntime, std::string("cannot set ") + what + ": " + errorText(errno));
}

void UdpSocket::reuseAddress() {
    const int on = 1;
    option(SOL_SOCKET, SO_REUSEADDR, &on, sizeof on, "SO_REUSEADDR");
}

void UdpSocket::allowBroadcast() {
    const int on = 1;
    option(SOL_SOCKET, SO_BROADCAST, &on, sizeof on, "SO_BROADCAST");
}

void UdpSocket::receivePacketInfo() {
    const int on = 1;
    option(IPPROTO_IP, IP_PKTINFO, &on, sizeof on, "IP_PKTINFO");
}

void UdpSocket::setNonBlocking() {
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags < 0 || ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK) != 0)
        throw SimError(SimError::kRuntime, "cannot make a socket non-blocking: " + errorText(errno));
}

void UdpSocket::multicastFrom(std::uint32_t address) {
    in_addr interface{};
    interface.s_addr = htonl(address);
    option(IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface, "IP_MULTICAST_IF");
    const unsigned char ttl = 1;
    option(IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl, "IP_MULTICAST_TTL");
}

void UdpSocket::joinGroup(std::uint32_t group, int interfaceIndex) {
    ip_mreqn request{};
    request.imr_multiaddr.s_addr = htonl(group);
    request.imr_ifindex = interfaceIndex;
    if (::setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0)
        throw SimError(SimError::kRuntime, "cannot join " + net::Ipv4Text(group) + " on interface " +
                                               std::to_string(interfaceIndex) + ": " + errorText(errno));
}

void UdpSocket::bind(const Endpoint& local, const std::string& what) {
    const sockaddr_in addr = toSockaddr(local);
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return;
    const int error = errno;
    const std::string where = what + " " + local.text();
    if (error == EADDRNOTAVAIL)
        throw SimError(SimError::kUsage, where + ": address " + net::Ipv4Text(local.address) +
                                             " is not on this host");
    if (error == EADDRINUSE)
        throw SimError(SimError::kRuntime, where + ": port " + std::to_string(local.port) +
                                               " is taken by a socket that does not allow sharing");
    throw SimError(SimError::kRuntime, "cannot bind " + where + ": " + errorText(error));
}

int UdpSocket::sendTo(const void* data, std::size_t size, const Endpoint& to) {
    const sockaddr_in addr = toSockaddr(to);
    for (;;) {
        const ssize_t sent = ::sendto(m_fd, data, size, 0, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        if (sent == static_cast<ssize_t>(size)) return 0;
        if (sent < 0 && errno == EINTR) continue;
        return sent < 0 ? errno : EMSGSIZE;
    }
}

std::optional<UdpSocket::Datagram> UdpSocket::receive(void* buffer, std::size_t capacity) {
    net::OneMessage<sockaddr_in, CMSG_SPACE(sizeof(in_pktinfo))> received(buffer, capacity);
    msghdr& message = received.header;
    const sockaddr_in& from = received.peer;
    const ssize_t size = ::recvmsg(m_fd, &message, 0);
    if (size < 0) return std::nullopt;

    Datagram datagram;
    datagram.size = static_cast<std::size_t>(size);
    datagram.from = {ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            datagram.interfaceIndex = info.ipi_ifindex;
            datagram.destination = ntohl(info.ipi_addr.s_addr);
        }
    }
    // A datagram cut to the buffer would be mistaken for a shorter one.
    if (message.msg_flags & MSG_TRUNC) datagram.size = capacity + 1;
    return datagram;
}

std::uint32_t UdpSocket::routeSource(const Endpoint& to) {
    net::RouteFinder routes;
    std::uint32_t source = 0;
    if (const int error = routes.SourceFor(to.address, to.port, source); error != 0)
        throw SimError(SimError::kRuntime, "no route to " + to.text() + ": " + errorText(error));
    return source;
}
