#include "Net/Message.h"

#include <netinet/in.h>

#include <cerrno>
#include <cstring>

namespace net {

int SendThrough(int fd, const void* data, std::size_t size, std::uint32_t address, std::uint16_t port,
                unsigned index, std::uint32_t source) {
    OneMessage<sockaddr_in, CMSG_SPACE(sizeof(in_pktinfo))> message(data, size);
    message.peer.sin_family = AF_INET;
    message.peer.sin_port = htons(port);
    message.peer.sin_addr.s_addr = htonl(address);
    cmsghdr* header = CMSG_FIRSTHDR(&message.header);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = static_cast<int>(index);
    info.ipi_spec_dst.s_addr = htonl(source);
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
    ssize_t sent;
    do sent = ::sendmsg(fd, &message.header, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent < 0 ? errno : 0;
}

}  // namespace net
