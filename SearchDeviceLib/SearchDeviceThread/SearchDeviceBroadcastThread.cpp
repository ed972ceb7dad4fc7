#include "SearchDeviceBroadcastThread.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "SearchDeviceClient.h"
#include "ShowLog.h"

using SearchDeviceShowLog::io_printf;
namespace ip = boost::asio::ip;

namespace {
constexpr int kFieldMax = 31;
constexpr int kOptionsSize = sizeof(dhcppacket::options);
constexpr unsigned short kAnswerPort = 68;

char kKeyId[] = "id=";
char kKeyHost[] = "host=";
char kKeyVendor[] = "vendor=";
char kKeyProduct[] = "product=";
}  // namespace

CSearchDeviceBroadcastThread::CSearchDeviceBroadcastThread() {}

CSearchDeviceBroadcastThread::~CSearchDeviceBroadcastThread() {}

void CSearchDeviceBroadcastThread::InitSearchThread() {
    io_printf("SendThread %d : Create Search Device Work Thread ", nPort);
    try {
        socket.open(ip::udp::v4());
        socket.set_option(boost::asio::socket_base::broadcast(true));
        socket.bind(ip::udp::endpoint(ip::address_v4::any(), static_cast<unsigned short>(nPort)));
        StartReceiveThread();
        RecordStartSuccess();
    } catch (const std::exception& e) {
        RecordStartFailure(e.what());
    }
}

int CSearchDeviceBroadcastThread::SendSearchCommandToDevice(dhcppacket& packet) {
    io_printf("SendThread %d : Send Broadcast Search Command  ", nPort);
    try {
        SendDatagram(&packet, sizeof packet, ip::udp::endpoint(ip::address_v4::broadcast(), kAnswerPort));
    } catch (const std::exception& e) {
        io_printf("SendThread %d : Send Broadcast Search Error : %s   ", nPort, e.what());
    }
    return 0;
}

void CSearchDeviceBroadcastThread::HandleReceiveInfo(char* data, int length, std::string& senderIP) {
    if (data == nullptr || length != static_cast<int>(sizeof(dhcppacket))) return;
    io_printf("SendThread %d : Handle Broadcast Recive Information  ", nPort);

    deviceinfo info;
    dhcppacket packet;
    std::memcpy(&packet, data, sizeof packet);
    if (packet.op != kDhcpOpAnswer) {
        io_printf("SendThread %d : Recive IP : %s is not Device ", nPort, senderIP.c_str());
        return;
    }
    std::strncpy(info.ip, senderIP.c_str(), kFieldMax);

    bool fresh = false;
    if (HandleDeviceInfo(packet, info) == 1) {
        std::lock_guard<std::mutex> lock(oldMutex);
        fresh = !info.compare(oldDeviceInfo);
        if (fresh) oldDeviceInfo = info;
    }
    if (!fresh) {
        io_printf("SendThread %d : Handle Broadcast Recive Information Fail ", nPort);
        return;
    }
    io_printf("SendThread %d : Handle Broadcast Recive Information Success ", nPort);
    CSearchDeviceClient::HandleDeviceMessage(&info, sizeof info, nPort);
}

int CSearchDeviceBroadcastThread::HandleDeviceInfo(dhcppacket& packet, deviceinfo& info) {
    info.type = packet.code;
    FindStringValue(packet.options, info.id, kFieldMax, kKeyId, sizeof kKeyId - 1);
    FindStringValue(packet.options, info.host, kFieldMax, kKeyHost, sizeof kKeyHost - 1);
    FindStringValue(packet.options, info.factory, kFieldMax, kKeyVendor, sizeof kKeyVendor - 1);
    FindStringValue(packet.options, info.product, kFieldMax, kKeyProduct, sizeof kKeyProduct - 1);
    return 1;
}

// The option text is the packet's 128-byte area up to its first zero byte;
// a sender need not terminate it, so nothing here reads past the area.
int CSearchDeviceBroadcastThread::FindStringValue(char* options, char* field, int maxLen, char* key,
                                                  int keyLen) {
    if (options == nullptr || field == nullptr || key == nullptr || keyLen <= 0 || maxLen < 0) return 0;
    const char* const end = options + strnlen(options, kOptionsSize);
    // Only at a pair boundary: a plain substring match would let "uuid=" or
    // "vendorid=" stand in for "id=". Jumping from '&' to '&' also keeps the
    // lookup to a few comparisons per key.
    for (const char* pair = options; pair < end;) {
        const char* amp = static_cast<const char*>(std::memchr(pair, '&', static_cast<std::size_t>(end - pair)));
        const char* pairEnd = amp != nullptr ? amp : end;
        if (pairEnd - pair >= keyLen && std::memcmp(pair, key, static_cast<std::size_t>(keyLen)) == 0) {
            const char* value = pair + keyLen;
            const int n = std::min(static_cast<int>(pairEnd - value), maxLen);
            std::memcpy(field, value, static_cast<std::size_t>(n));
            field[n] = '\0';
            return 1;
        }
        if (amp == nullptr) break;
        pair = amp + 1;
    }
    return 0;
}
