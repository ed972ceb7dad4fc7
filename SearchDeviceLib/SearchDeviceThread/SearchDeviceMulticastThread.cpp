#include "SearchDeviceThread/SearchDeviceMulticastThread.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>

#include "Protocol/SsdpCodec.h"
#include "Common/SearchPorts.h"
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
    if (std::find(vJoinTried.begin(), vJoinTried.end(), localIP) != vJoinTried.end()) return;
    vJoinTried.push_back(localIP);
    try {
        SetSocketOption(ip::multicast::join_group(ip::make_address_v4(kGroupAddress), ip::make_address_v4(localIP)));
        vJoined.push_back(localIP);
        io_printf("SendThread %d : Add To Multicast Group Info, Interface : %s ", nPort, localIP.c_str());
    } catch (const boost::system::system_error& e) {
        // The any-interface join already took the default route's interface.
        if (e.code() == boost::asio::error::address_in_use)
            io_printf("SendThread %d : Add To Multicast Group Info, Interface : %s, Already Joined ", nPort,
                      localIP.c_str());
        else
            io_printf("SendThread %d : Alter Device Mulitcast Group Error, Interface : %s : %s  ", nPort,
                      localIP.c_str(), e.what());
    } catch (const std::exception& e) {
        io_printf("SendThread %d : Alter Device Mulitcast Group Error, Interface : %s : %s  ", nPort,
                  localIP.c_str(), e.what());
    }
}

void CSearchDeviceMulticastThread::LeaveExtraGroups() {
    for (const std::string& localIP : vJoined) {
        try {
            SetSocketOption(
                ip::multicast::leave_group(ip::make_address_v4(kGroupAddress), ip::make_address_v4(localIP)));
            io_printf("SendThread %d : Leave To Multicast Group Info, Interface : %s ", nPort, localIP.c_str());
        } catch (const std::exception& e) {
            io_printf("SendThread %d : Alter Device Mulitcast Group Error, Interface : %s : %s  ", nPort,
                      localIP.c_str(), e.what());
        }
    }
    vJoined.clear();
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
    io_printf("SendThread %d : Handle Mulitcast Recive Information  ", nPort);
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
        io_printf("SendThread %d : Handle Mulitcast Recive Information Fail : Old Device, type = %d ", nPort,
                  type);
        return;
    }
    io_printf("SendThread %d : Handle Mulitcast Recive Information Success, type = %d ", nPort, type);
    if (handOver.device != nullptr) handOver.device(&info, sizeof info, nPort);
}
