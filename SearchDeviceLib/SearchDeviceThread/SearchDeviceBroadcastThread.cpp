#include "SearchDeviceBroadcastThread.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "Protocol/BroadcastCodec.h"
#include "SearchDeviceClient.h"
#include "ShowLog.h"

using SearchDeviceShowLog::io_printf;
namespace ip = boost::asio::ip;

namespace {
constexpr unsigned short kAnswerPort = 68;
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
    if (data == nullptr || length < 0) return;
    deviceinfo info;
    const BroadcastVerdict verdict =
        DecodeBroadcastAnswer({data, static_cast<std::size_t>(length)}, senderIP, info);
    if (verdict == BroadcastVerdict::Ignored) return;
    io_printf("SendThread %d : Handle Broadcast Recive Information  ", nPort);
    if (verdict == BroadcastVerdict::NotDevice) {
        io_printf("SendThread %d : Recive IP : %s is not Device ", nPort, senderIP.c_str());
        return;
    }

    bool fresh = false;
    {
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
