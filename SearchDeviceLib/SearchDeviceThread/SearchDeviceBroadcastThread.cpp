#include "SearchDeviceThread/SearchDeviceBroadcastThread.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "Common/BindHelper.h"
#include "Protocol/BroadcastCodec.h"
#include "ShowLog/ShowLog.h"

using SearchDeviceShowLog::io_printf;
namespace ip = boost::asio::ip;

namespace {
constexpr unsigned short kAnswerPort = 68;
}  // namespace

CSearchDeviceBroadcastThread::CSearchDeviceBroadcastThread() {}

CSearchDeviceBroadcastThread::~CSearchDeviceBroadcastThread() {}

void CSearchDeviceBroadcastThread::InitSearchThread() { StartOnSocket(" "); }

void CSearchDeviceBroadcastThread::SetOwnOptions() {
    socket.set_option(boost::asio::socket_base::broadcast(true));
}

// Port 67 may need the bind helper.
void CSearchDeviceBroadcastThread::BindSocket(const ip::udp::endpoint& local) {
    BindOrAskHelper(socket, local);
}

std::vector<BroadcastInterface> BroadcastInterfaces(const struct ifaddrs* list) {
    std::vector<BroadcastInterface> found;
    for (const struct ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET || i->ifa_name == nullptr) continue;
        const unsigned flags = i->ifa_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_BROADCAST) || (flags & (IFF_LOOPBACK | IFF_POINTOPOINT))) continue;
        if (std::any_of(found.begin(), found.end(), [&](const auto& f) { return f.name == i->ifa_name; })) continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        found.push_back({i->ifa_name, ntohl(address->sin_addr.s_addr)});
    }
    return found;
}

namespace {
std::vector<BroadcastInterface> LocalBroadcastInterfaces() {
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        throw boost::system::system_error(boost::system::error_code(errno, boost::system::system_category()),
                                          "getifaddrs");
    std::vector<BroadcastInterface> found = BroadcastInterfaces(list);
    freeifaddrs(list);
    return found;
}
}  // namespace

// Each send keeps its own command line, so a machine with one interface
// traces and sends exactly one request as before.
int CSearchDeviceBroadcastThread::SendSearchCommandToDevice(dhcppacket& packet) {
    const ip::udp::endpoint to(ip::address_v4::broadcast(), kAnswerPort);
    std::vector<SearchBroadcastSend> sends;
    std::vector<BroadcastInterface> interfaces;
    try {
        interfaces = LocalBroadcastInterfaces();
    } catch (const std::exception& e) {
        io_printf("SendThread %d : Send Broadcast Search Command  ", nPort);
        io_printf("SendThread %d : Send Broadcast Search Error : %s   ", nPort, e.what());
        if (handOver.broadcastSends != nullptr) handOver.broadcastSends({});
        return 0;
    }
    if (interfaces.empty()) {
        io_printf("SendThread %d : Send Broadcast Search Command  ", nPort);
        io_printf("SendThread %d : Send Broadcast Search Error : %s   ", nPort,
                  "send_to: no interface that can broadcast is up");
    }
    for (const BroadcastInterface& face : interfaces) {
        io_printf("SendThread %d : Send Broadcast Search Command  ", nPort);
        SearchBroadcastSend send;
        send.interfaceName = face.name;
        send.localIP = ip::address_v4(face.address).to_string();
        try {
            const unsigned index = if_nametoindex(face.name.c_str());
            if (index == 0)
                throw boost::system::system_error(
                    boost::system::error_code(errno, boost::system::system_category()), "if_nametoindex");
            SendDatagramThrough(&packet, sizeof packet, to, index, face.address);
            send.sent = true;
        } catch (const boost::system::system_error& e) {
            io_printf("SendThread %d : Send Broadcast Search Error : %s   ", nPort, e.what());
            // Without a socket no interface is to blame: the start failure says why.
            if (e.code() == boost::asio::error::bad_descriptor) {
                sends.clear();
                break;
            }
            send.error = e.code().message();
        }
        sends.push_back(std::move(send));
    }
    if (handOver.broadcastSends != nullptr) handOver.broadcastSends(std::move(sends));
    return 0;
}

void CSearchDeviceBroadcastThread::HandleReceiveInfo(char* data, int length, std::string& senderIP) {
    if (data == nullptr || length < 0) return;
    deviceinfo info;
    const BroadcastVerdict verdict =
        DecodeBroadcastAnswer({data, static_cast<std::size_t>(length)}, senderIP, info);
    if (verdict == BroadcastVerdict::Ignored) return;
    // Read once: with no log and no echo every trace call below is skipped.
    const bool traced = SearchDeviceShowLog::io_log_traced();
    if (traced) io_printf("SendThread %d : Handle Broadcast Recive Information  ", nPort);
    if (verdict == BroadcastVerdict::NotDevice) {
        if (traced) io_printf("SendThread %d : Recive IP : %s is not Device ", nPort, senderIP.c_str());
        return;
    }

    bool fresh = false;
    {
        std::lock_guard<std::mutex> lock(oldMutex);
        fresh = !info.compare(oldDeviceInfo);
        if (fresh) oldDeviceInfo = info;
    }
    if (!fresh) {
        if (traced) io_printf("SendThread %d : Handle Broadcast Recive Information Fail ", nPort);
        return;
    }
    if (traced) io_printf("SendThread %d : Handle Broadcast Recive Information Success ", nPort);
    if (handOver.device != nullptr) handOver.device(&info, sizeof info, nPort);
}

int CSearchDeviceBroadcastThread::HandleDeviceInfo(dhcppacket& packet, deviceinfo& info) {
    ReadBroadcastFields(packet, info);
    return 1;
}

int CSearchDeviceBroadcastThread::FindStringValue(const char* options, char* field, int maxLen,
                                                  const char* key, int keyLen) {
    if (options == nullptr || field == nullptr || key == nullptr || keyLen <= 0 || maxLen < 0) return 0;
    return FindOptionValue(OptionText(options), {key, static_cast<std::size_t>(keyLen)}, field,
                           static_cast<std::size_t>(maxLen))
               ? 1
               : 0;
}
