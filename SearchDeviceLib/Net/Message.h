// One datagram's message header for sendmsg/recvmsg: one buffer, the peer's
// address and room for control data, wired together once. It points into
// itself, so it is neither copied nor moved.
#pragma once

#include <sys/socket.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

namespace net {

template <typename Address, std::size_t ControlSize>
struct OneMessage {
    OneMessage(const void* data, std::size_t size) : part{const_cast<void*>(data), size} {
        header.msg_name = &peer;
        header.msg_namelen = sizeof peer;
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
    }
    OneMessage(const OneMessage&) = delete;
    OneMessage& operator=(const OneMessage&) = delete;

    Address peer{};
    iovec part;
    alignas(cmsghdr) char control[ControlSize] = {};
    msghdr header{};
};

// One datagram to address:port (host byte order) out of interface `index`
// with `source` as its source address (IP_PKTINFO): a limited broadcast from
// an any-address socket would otherwise leave only where the default route
// points. 0 or the system's error number; EINTR is retried.
int SendThrough(int fd, const void* data, std::size_t size, std::uint32_t address, std::uint16_t port,
                unsigned index, std::uint32_t source);

}  // namespace net
