#include "SearchDeviceThread/SearchDeviceMulticastThread.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>

#include "Common/SearchPorts.h"
#include "Protocol/SsdpCodec.h"
#include "ShowLog/ShowLog.h"

using SearchDeviceShowLog::io_printf;
namespace ip = boost::asio::ip;

namespace {

constexpr const char* kGroupAddress = "239.143.255.250";
constexpr unsigned short kGroupPort = SearchPorts::kMulticast;
constexpr int kMaxRetries = SearchPorts::kMaxRetries;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Some other socket holds the port when a bind without address reuse fails.
bool PortHeldElsewhere(boost::asio::io_service& io, unsigned short port) {
    boost::system::error_code ec;
    ip::udp::socket probe(io);
    probe.open(ip::udp::v4(), ec);
    if (ec) return false;
    probe.bind(ip::udp::endpoint(ip::address_v4::any(), port), ec);
    return ec == boost::asio::error::address_in_use;
}

// The index of the interface that holds address now, 0 when none does.
unsigned InterfaceIndexOf(const std::string& address) {
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    unsigned index = 0;
    for (const struct ifaddrs* a = list; a != nullptr && index == 0; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
        if (address == text) index = if_nametoindex(a->ifa_name);
    }
    freeifaddrs(list);
    return index;
}

// Drops the membership on one interface by its index: the leave by address
// finds only the interface that holds the address now, not one gone since.
class LeaveOnInterface {
public:
    LeaveOnInterface(const ip::address_v4& group, unsigned index) {
        request_.imr_multiaddr.s_addr = htonl(group.to_uint());
        request_.imr_ifindex = static_cast<int>(index);
    }
    template <typename Protocol>
    int level(const Protocol&) const {
        return IPPROTO_IP;
    }
    template <typename Protocol>
    int name(const Protocol&) const {
        return IP_DROP_MEMBERSHIP;
    }
    template <typename Protocol>
    const void* data(const Protocol&) const {
        return &request_;
    }
    template <typename Protocol>
    std::size_t size(const Protocol&) const {
        return sizeof request_;
    }

private:
    ip_mreqn request_{};
};

}  // namespace

CSearchDeviceMulticastThread::CSearchDeviceMulticastThread() {}

CSearchDeviceMulticastThread::~CSearchDeviceMulticastThread() {}

void CSearchDeviceMulticastThread::InitSearchThread() { StartOnSocket("   "); }

void CSearchDeviceMulticastThread::SetOwnOptions() {
    AlterMulticastGroupInfo(true);
    // SSDP listeners on Linux share the port with address reuse, so that
    // every one of them hears the group; a program that holds it without
    // reuse still makes this bind fail (and retry).
    bShared = PortHeldElsewhere(ioService, static_cast<unsigned short>(nPort));
    SetSocketOption(boost::asio::socket_base::reuse_address(true));
}

bool CSearchDeviceMulticastThread::NextPortAfterFailure() {
    if (!bRetry) return false;
    const int tried = testCount;
    HandleInitSearchThreadError();
    return testCount != tried;
}

void CSearchDeviceMulticastThread::ExitSearchThread() {
    AlterMulticastGroupInfo(false);
    LeaveExtraGroups();
    CSearchDeviceThread::ExitSearchThread();
}

void CSearchDeviceMulticastThread::JoinGroupOn(const std::string& localIP) {
    // A worker without a socket has nothing to join with.
    if (!bStarted || bExitSock) return;
    auto join =
        std::find_if(vJoins.begin(), vJoins.end(), [&](const GroupJoin& j) { return j.localIP == localIP; });
    const bool first = join == vJoins.end();
    if (first) join = vJoins.insert(vJoins.end(), GroupJoin{localIP, false, 0, ""});
    std::string error;
    try {
        SetSocketOption(
            ip::multicast::join_group(ip::make_address_v4(kGroupAddress), ip::make_address_v4(localIP)));
    } catch (const boost::system::system_error& e) {
        // Still a member there, or the any-interface join already took the
        // default route's interface.
        if (e.code() == boost::asio::error::address_in_use) {
            if (first)
                io_printf("SendThread %d : Add To Multicast Group Info, Interface : %s, Already Joined ",
                          nPort, localIP.c_str());
            return;
        }
        error = e.what();
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (!error.empty()) {
        if (first || error != join->error)
            io_printf("SendThread %d : Alter Device Mulitcast Group Error, Interface : %s : %s  ", nPort,
                      localIP.c_str(), error.c_str());
        join->error = error;
        return;
    }
    // A membership made before went with its interface; the socket still
    // counts it against the system's limit until it is dropped.
    const unsigned index = InterfaceIndexOf(localIP);
    if (join->member && join->interfaceIndex != 0 && join->interfaceIndex != index) {
        try {
            SetSocketOption(LeaveOnInterface(ip::make_address_v4(kGroupAddress), join->interfaceIndex));
        } catch (const std::exception&) {
        }
    }
    *join = {localIP, true, index, ""};
    io_printf("SendThread %d : Add To Multicast Group Info, Interface : %s ", nPort, localIP.c_str());
}

void CSearchDeviceMulticastThread::LeaveExtraGroups() {
    for (GroupJoin& join : vJoins) {
        if (!join.member) continue;
        const std::string& localIP = join.localIP;
        try {
            SetSocketOption(
                ip::multicast::leave_group(ip::make_address_v4(kGroupAddress), ip::make_address_v4(localIP)));
            io_printf("SendThread %d : Leave To Multicast Group Info, Interface : %s ", nPort, localIP.c_str());
        } catch (const std::exception& e) {
            io_printf("SendThread %d : Alter Device Mulitcast Group Error, Interface : %s : %s  ", nPort,
                      localIP.c_str(), e.what());
        }
        join.member = false;
    }
}

int CSearchDeviceMulticastThread::SendSearchCommandToDevice(dhcppacket&) {
    io_printf("SendThread %d : Send Search Device Command  ", nPort);
    try {
        ip::udp::endpoint group(ip::make_address_v4(kGroupAddress), kGroupPort);
        const std::string_view request = SsdpSearchRequest();
        SendDatagram(request.data(), request.size(), group);
    } catch (const std::exception& e) {
        io_printf("SendThread %d : Send Search Device Error : %s   ", nPort, e.what());
    }
    return 0;
}

void CSearchDeviceMulticastThread::AlterMulticastGroupInfo(bool join) {
    try {
        ip::address_v4 group = ip::make_address_v4(kGroupAddress);
        if (join) {
            SetSocketOption(ip::multicast::join_group(group, ip::address_v4::any()));
            io_printf("SendThread %d : Add To Multicast Group Info ", nPort);
        } else {
            SetSocketOption(ip::multicast::leave_group(group, ip::address_v4::any()));
            io_printf("SendThread %d : Leave To Multicast Group Info ", nPort);
        }
    } catch (const std::exception& e) {
        io_printf("SendThread %d : Alter Device Mulitcast Group Error : %s  \r\n", nPort, e.what());
    }
}

// After a failed start: testCount is never reset, so a worker gets at most
// kMaxRetries further ports over its whole life.
void CSearchDeviceMulticastThread::HandleInitSearchThreadError() {
    io_printf("SendThread %d : Handle Create Search Device Work Thread Error  ", nPort);
    if (testCount >= kMaxRetries) return;
    ++testCount;
    ++nPort;
    io_printf("SendThread %d : Test Create Search Device Work Thread, testCount = %d, port = %d  ", nPort,
              testCount, nPort);
}

char* CSearchDeviceMulticastThread::str_ltrim(char* text) {
    if (text == nullptr) return nullptr;
    while (isBlank(*text)) ++text;
    return text;
}

void CSearchDeviceMulticastThread::HandleReceiveInfo(char* data, int length, std::string& senderIP) {
    // Read once: with no log and no echo every trace call below is skipped.
    const bool traced = SearchDeviceShowLog::io_log_traced();
    if (traced) io_printf("SendThread %d : Handle Mulitcast Recive Information  ", nPort);
    if (data == nullptr || length <= 0) return;
    deviceinfo info;
    if (!DecodeSsdpMessage({data, static_cast<std::size_t>(length)}, senderIP, info)) return;
    const std::int32_t type = info.type;

    bool repeated;
    {
        std::lock_guard<std::mutex> lock(oldMutex);
        repeated = info.compare(oldDeviceInfo);
        if (!repeated) oldDeviceInfo = info;
    }
    if (repeated) {
        // Forgetting it lets the next copy through: of a run of identical
        // announcements every second one is dropped.
        ClearOldDeviceInfo();
        if (traced)
            io_printf("SendThread %d : Handle Mulitcast Recive Information Fail : Old Device, type = %d ",
                      nPort, type);
        return;
    }
    if (traced)
        io_printf("SendThread %d : Handle Mulitcast Recive Information Success, type = %d ", nPort, type);
    if (handOver.device != nullptr) handOver.device(&info, sizeof info, nPort);
}
