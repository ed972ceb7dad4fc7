#include "SearchDeviceThread/SearchDeviceThread.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

#include "Net/Ipv4.h"
#include "Net/Message.h"
#include "ShowLog/ShowLog.h"

using SearchDeviceShowLog::io_printf;
namespace ip = boost::asio::ip;

namespace {
constexpr std::size_t kReceiveBufferSize = 1025;
// One byte short of the buffer, so every datagram is followed by a zero.
constexpr std::size_t kMaxDatagram = kReceiveBufferSize - 1;
// Hundreds of devices answering one search within a few milliseconds overflow
// the default socket buffer (about 200 small datagrams) before the thread has
// drained it, and those answers are lost. The kernel caps the request at
// net.core.rmem_max; whatever it grants is logged.
constexpr int kReceiveBufferRequest = 4 * 1024 * 1024;

void EnlargeReceiveBuffer(ip::udp::socket& socket, int port) {
    boost::system::error_code ec;
    socket.set_option(boost::asio::socket_base::receive_buffer_size(kReceiveBufferRequest), ec);
    boost::asio::socket_base::receive_buffer_size granted;
    socket.get_option(granted, ec);
    io_printf("SendThread %d : Receive Buffer Size : %d  ", port, ec ? 0 : granted.value());
}
}  // namespace

CSearchDeviceThread::CSearchDeviceThread() : socket(ioService) {}

CSearchDeviceThread::~CSearchDeviceThread() {}

void CSearchDeviceThread::InitSearchThread(const char* strIP, int nPort, bool bRetry) {
    this->strIP = strIP != nullptr ? strIP : "";
    this->nPort = nPort;
    this->bRetry = bRetry;
    io_printf("SendThread %d : Init Search Device Work Thread Value, strIP : %s, nPort : %d  ", this->nPort,
              this->strIP.c_str(), this->nPort);
    InitSearchThread();
}

void CSearchDeviceThread::InitSearchThread() { StartOnSocket("   "); }

void CSearchDeviceThread::StartOnSocket(const char* blanks) {
    do {
        io_printf("SendThread %d : Create Search Device Work Thread%s", nPort, blanks);
        try {
            socket.open(ip::udp::v4());
            bShared = false;
            SetOwnOptions();
            BindSocket(ip::udp::endpoint(ip::address_v4::any(), static_cast<unsigned short>(nPort)));
            if (bShared) io_printf("SendThread %d : Port %d Shared With Another Program  ", nPort, nPort);
            StartReceiveThread();
            RecordStartSuccess();
            return;
        } catch (const std::exception& e) {
            RecordStartFailure(e.what());
        }
    } while (NextPortAfterFailure());
}

void CSearchDeviceThread::ExitSearchThread() {
    {
        std::lock_guard<std::mutex> lock(sockMutex);
        bExitSock = true;
        if (socket.is_open()) {
            // Closing does not wake a receive blocked on this socket here;
            // shutting it down does (the receive returns no bytes).
            boost::system::error_code ignored;
            ::shutdown(socket.native_handle(), SHUT_RDWR);
            // While a receive thread runs it owns the descriptor and closes
            // it on its way out, so its number cannot be reused under it.
            if (!bReceiving) socket.close(ignored);
        }
    }
    io_printf("SendThread %d : Exit Search Device Tread , bExitSock : %d  ", nPort, bExitSock.load() ? 1 : 0);
}

int CSearchDeviceThread::SendSearchCommandToDevice(dhcppacket&) { return 0; }

void CSearchDeviceThread::ClearOldDeviceInfo() {
    std::lock_guard<std::mutex> lock(oldMutex);
    oldDeviceInfo.clear();
}

int CSearchDeviceThread::HandleProtocolInfo() {
    try {
        io_printf("SendThread %d : Begin Search Device Work Thread  ", nPort);
        // The batched receive writes no per-datagram lines, so it serves only when no trace is wanted.
        if (SearchDeviceShowLog::io_log_traced()) {
            char buffer[kReceiveBufferSize];
            ReceiveEach(buffer);
        } else {
            ReceiveBatches();
        }
    } catch (const std::exception& e) {
        io_printf("SendThread %d : Create Socket Protocolt Server Error : %s  ", nPort, e.what());
    } catch (...) {
        io_printf("SendThread %d : Create Socket Protocolt Server Error : %s  ", nPort, "unknown error");
    }
    LeaveReceiveLoop();
    return 0;
}

void CSearchDeviceThread::ReceiveEach(char* buffer) {
    while (!bExitSock) {
        io_printf("SendThread %d : Wait Reciver Socket Protocol Info  ", nPort);
        std::memset(buffer, 0, kReceiveBufferSize);
        ip::udp::endpoint sender;
        boost::system::error_code ec;
        std::size_t length = socket.receive_from(boost::asio::buffer(buffer, kMaxDatagram), sender, 0, ec);
        if (ec) length = 0;
        io_printf("SendThread %d : Reciver Socket Protocol Info  ", nPort);
        // Released by a stop: whatever came with it is not handed on.
        if (bExitSock) break;
        if (length != 0) {
            std::string senderIP = sender.address().to_string();
            io_printf("SendThread %d : Recive Socket Protocol IP : %s, nLen : %d  ", nPort, senderIP.c_str(),
                      static_cast<int>(length));
            HandleReceiveInfo(buffer, static_cast<int>(length), senderIP);
        }
    }
}

// With nothing to log, the per-datagram cost is the system call: one call
// takes every datagram that has queued up (at most kBatch) and waits only
// when there is none. The decoders see exactly what the other loop gives
// them, a zero byte after every datagram included. A call that asks for more
// than has arrived pays for one more, empty, receive attempt, so the batch
// grows while calls come back full and shrinks to what the last one got.
void CSearchDeviceThread::ReceiveBatches() {
    constexpr unsigned kBatch = 32;
    static_assert(kBatch * kReceiveBufferSize < 64 * 1024, "the buffers live on the thread's stack");
    char buffers[kBatch][kReceiveBufferSize];
    sockaddr_in senders[kBatch];
    iovec parts[kBatch];
    mmsghdr messages[kBatch];
    std::string senderIP;
    const int fd = socket.native_handle();
    unsigned want = 1;
    while (!bExitSock) {
        for (unsigned i = 0; i < want; ++i) {
            parts[i] = {buffers[i], kMaxDatagram};
            messages[i] = {};
            messages[i].msg_hdr.msg_name = &senders[i];
            messages[i].msg_hdr.msg_namelen = sizeof senders[i];
            messages[i].msg_hdr.msg_iov = &parts[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int count = recvmmsg(fd, messages, want, MSG_WAITFORONE, nullptr);
        if (count > 0) want = static_cast<unsigned>(count) == want ? std::min(2 * want, kBatch) : count;
        for (int i = 0; i < count && !bExitSock; ++i) {
            const unsigned length = messages[i].msg_len;
            if (length == 0 || senders[i].sin_family != AF_INET) continue;
            buffers[i][length] = '\0';
            net::Ipv4Text(ntohl(senders[i].sin_addr.s_addr), senderIP);
            HandleReceiveInfo(buffers[i], static_cast<int>(length), senderIP);
        }
    }
}

void CSearchDeviceThread::HandleReceiveInfo(char*, int, std::string&) {}

void CSearchDeviceThread::StartReceiveThread() {
    const ip::udp::endpoint local = socket.local_endpoint();
    nBoundAddress = local.address().to_v4().to_uint();
    // Bound to port 0, the system chose one: it is this worker's number from
    // here on, so its log lines and hand-overs name the port answers go to.
    if (nPort == 0) nPort = local.port();
    EnlargeReceiveBuffer(socket, nPort);
    std::lock_guard<std::mutex> lock(sockMutex);
    bReceiving = true;
    try {
        std::thread([this] { HandleProtocolInfo(); }).detach();
    } catch (...) {
        bReceiving = false;
        throw;
    }
}

void CSearchDeviceThread::RecordStartSuccess() {
    bStarted = true;
    strStartError.clear();
}

void CSearchDeviceThread::RecordStartFailure(const char* what) {
    bool idle;
    {
        std::lock_guard<std::mutex> lock(sockMutex);
        idle = !bReceiving;
        // A start on a worker that is already running must leave its
        // socket and status alone.
        if (idle) {
            boost::system::error_code ignored;
            socket.close(ignored);
        }
    }
    if (idle) {
        bStarted = false;
        strStartError = what;
    }
    io_printf("SendThread %d : Create Search Device Work Thread Error : %s   ", nPort, what);
}

void CSearchDeviceThread::SendDatagram(const void* data, std::size_t size, const ip::udp::endpoint& to) {
    std::lock_guard<std::mutex> lock(sockMutex);
    if (bExitSock || !socket.is_open())
        throw boost::system::system_error(boost::asio::error::bad_descriptor, "send_to");
    socket.send_to(boost::asio::buffer(data, size), to);
}

void CSearchDeviceThread::SendDatagramThrough(const void* data, std::size_t size, const ip::udp::endpoint& to,
                                              unsigned interfaceIndex, std::uint32_t source) {
    std::lock_guard<std::mutex> lock(sockMutex);
    if (bExitSock || !socket.is_open())
        throw boost::system::system_error(boost::asio::error::bad_descriptor, "send_to");
    const int error = net::SendThrough(socket.native_handle(), data, size, to.address().to_v4().to_uint(), to.port(),
                                       interfaceIndex, source);
    if (error != 0)
        throw boost::system::system_error(boost::system::error_code(error, boost::system::system_category()),
                                          "send_to");
}

int CSearchDeviceThread::SendUnicast(const void* data, std::size_t size, std::uint32_t address,
                                     unsigned short port) {
    try {
        SendDatagram(data, size, ip::udp::endpoint(ip::address_v4(address), port));
        return 0;
    } catch (const boost::system::system_error& e) {
        return e.code().value() != 0 ? e.code().value() : EIO;
    }
}

bool CSearchDeviceThread::ReceiveThreadRunning() {
    std::lock_guard<std::mutex> lock(sockMutex);
    return bReceiving;
}

void CSearchDeviceThread::LeaveReceiveLoop() {
    std::lock_guard<std::mutex> lock(sockMutex);
    bReceiving = false;
    // A loop that ended on an error keeps its socket, so sends still work;
    // after a stop the socket is ours to close.
    if (bExitSock) {
        boost::system::error_code ignored;
        socket.close(ignored);
    }
}
