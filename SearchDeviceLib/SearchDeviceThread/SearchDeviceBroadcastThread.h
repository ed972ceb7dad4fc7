// Broadcast search: the fixed 148-byte request to 255.255.255.255:68 from
// port 67, and decoding of the devices' 148-byte answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SearchDeviceThread/SearchDeviceThread.h"

struct ifaddrs;

// A local interface the broadcast request goes out of, with the address it
// carries as its source (host byte order).
struct BroadcastInterface {
    std::string name;
    std::uint32_t address = 0;
    bool operator==(const BroadcastInterface&) const = default;
};

// The interfaces of a getifaddrs list that can carry a limited broadcast: up,
// broadcast-capable, neither loopback nor point-to-point, with an IPv4
// address (link-local ones too). One entry per interface, its first address.
std::vector<BroadcastInterface> BroadcastInterfaces(const struct ifaddrs* list);

class CSearchDeviceBroadcastThread : public CSearchDeviceThread {
public:
    CSearchDeviceBroadcastThread();
    ~CSearchDeviceBroadcastThread() override;
    void InitSearchThread() override;
    using CSearchDeviceThread::InitSearchThread;
    void SetOwnOptions() override;
    void BindSocket(const boost::asio::ip::udp::endpoint& local) override;
    // One datagram out of every broadcast interface, each with its own
    // address as source; the outcome goes to the client's send record.
    int SendSearchCommandToDevice(dhcppacket& packet) override;
    void HandleReceiveInfo(char* data, int length, std::string& senderIP) override;

    int HandleDeviceInfo(dhcppacket& packet, deviceinfo& info);
    // Looks up one key in the 128-byte option area (text up to its first zero
    // byte or the area's end); 1 when found. Keys match only at the start of
    // the text or right after '&'. field needs maxLen + 1 bytes.
    int FindStringValue(const char* options, char* field, int maxLen, const char* key, int keyLen);
};
