// nasscout-bind67: the one file of nasscout that carries a capability
// (cap_net_bind_service, set by the package or `make install SETCAP=1`).
// The broadcast search of nasscout and nasscout-cli runs it when the user may
// not bind UDP port 67 itself: it opens a UDP socket, allows broadcast on it
// (the options the engine's own socket has), binds it to 0.0.0.0:67, passes
// it over the Unix socket on descriptor 3 (SCM_RIGHTS) and exits.
//
// Threat model. Any local user can run it and so obtain a UDP socket bound
// to port 67 on all IPv4 addresses: receive what arrives there and send from
// there, as the capability would allow for that one port. That is the whole
// grant. A user cannot choose another port, address, protocol or socket
// option: it takes no argument (any argument: exit 2 before any socket),
// reads no environment, no file and no input. It cannot share or take over a
// port 67 someone else holds: without address reuse the bind fails while
// any socket (a DHCP server's, another user's) has it. What runs with the
// capability is these lines and the C library's start-up, which the kernel
// marks secure (AT_SECURE) so that the loader ignores LD_PRELOAD and the like.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
constexpr int kCaller = 3;  // the caller's end of a socket pair

int Fail(const char* what) {
    std::fprintf(stderr, "nasscout-bind67: %s: %s\n", what, std::strerror(errno));
    return 1;
}
}  // namespace

int main(int argc, char**) {
    if (argc > 1) {
        std::fputs("nasscout-bind67: takes no arguments; nasscout and nasscout-cli run it to bind UDP port 67\n",
                   stderr);
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) return Fail("socket");
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) return Fail("SO_BROADCAST");
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(67);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) return Fail("bind 0.0.0.0:67");

    char byte = 0;
    iovec part{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof fd)] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof fd);
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    if (sendmsg(kCaller, &message, MSG_NOSIGNAL) != 1) return Fail("handing the socket to descriptor 3");
    return 0;
}
