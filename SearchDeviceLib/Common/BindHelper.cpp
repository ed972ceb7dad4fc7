#include "Common/BindHelper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#ifndef NASSCOUT_BIND_HELPER
#define NASSCOUT_BIND_HELPER "../libexec/nasscout/nasscout-bind67"
#define NASSCOUT_BIN_DIR "/usr/bin"
#endif

namespace {
constexpr int kHelperEnd = 3;  // where the helper expects its end of the pair
constexpr int kWaitMs = 2000;

std::string ResolveHelperPath() {
    const std::filesystem::path helper(NASSCOUT_BIND_HELPER);
    if (helper.is_absolute()) return helper.string();
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::filesystem::path programs = ec ? std::filesystem::path(NASSCOUT_BIN_DIR) : self.parent_path();
    return (programs / helper).lexically_normal().string();
}

int ReceiveDescriptor(int from) {
    char byte;
    iovec part{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    do got = recvmsg(from, &message, MSG_CMSG_CLOEXEC);
    while (got < 0 && errno == EINTR);
    const cmsghdr* header = got == 1 ? CMSG_FIRSTHDR(&message) : nullptr;
    if (header == nullptr || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS ||
        header->cmsg_len != CMSG_LEN(sizeof(int))) {
        errno = got < 0 ? errno : EACCES;  // the helper said why on its own (silenced) stderr
        return -1;
    }
    int fd;
    std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    return fd;
}
}  // namespace

const char* BindHelperPath() {
    static const std::string path = ResolveHelperPath();
    return path.c_str();
}

int AcquirePort67FromHelper() {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return -1;
    // dup2 onto itself would keep close-on-exec.
    if (pair[1] == kHelperEnd) {
        const int moved = fcntl(pair[1], F_DUPFD_CLOEXEC, kHelperEnd + 1);
        close(pair[1]);
        pair[1] = moved;
        if (moved < 0) {
            close(pair[0]);
            return -1;
        }
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int standard = 0; standard < 3; ++standard)
        posix_spawn_file_actions_addopen(&actions, standard, "/dev/null", O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&actions, pair[1], kHelperEnd);
    posix_spawn_file_actions_addclosefrom_np(&actions, kHelperEnd + 1);
    char* const argv[] = {const_cast<char*>(BindHelperPath()), nullptr};
    char* const envp[] = {nullptr};
    pid_t pid;
    const int spawned = posix_spawn(&pid, BindHelperPath(), &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    close(pair[1]);
    if (spawned != 0) {
        close(pair[0]);
        errno = spawned;
        return -1;
    }
    pollfd ready{pair[0], POLLIN, 0};
    int polled;
    do polled = poll(&ready, 1, kWaitMs);
    while (polled < 0 && errno == EINTR);
    int fd = -1;
    if (polled == 1) fd = ReceiveDescriptor(pair[0]);
    else if (polled == 0) errno = ETIMEDOUT;
    const int reason = errno;
    close(pair[0]);
    if (fd < 0) kill(pid, SIGKILL);  // a hung helper must not outlive the start
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    errno = reason;
    return fd;
}

void BindOrAskHelper(boost::asio::ip::udp::socket& socket, const boost::asio::ip::udp::endpoint& at) {
    boost::system::error_code failed;
    socket.bind(at, failed);
    if (!failed) return;
    const bool denied = failed == boost::system::errc::permission_denied ||
                        failed == boost::system::errc::operation_not_permitted;
    if (denied && at.port() == 67 && at.address().is_unspecified()) {
        const int fd = AcquirePort67FromHelper();
        if (fd >= 0) {
            boost::system::error_code ec;
            socket.close(ec);
            socket.assign(at.protocol(), fd, ec);
            if (!ec) return;
            close(fd);
        }
    }
    boost::asio::detail::throw_error(failed, "bind");
}
