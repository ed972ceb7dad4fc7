// The bytes a simulated device puts on the wire; no sockets here.
#pragma once

#include "DeviceProfile.h"

#include <array>
#include <cstdint>
#include <string>

class MessageBuilder {
public:
    static constexpr const char* kDeviceType = "urn:schemas-upnp-org:device:LarkvatDevice:1";

    // 148-byte answer: op 12, the device's code, marker FF FF FF FF, and
    // "id=..&host=..&vendor=..&product=.." from offset 20, cut at 128 bytes.
    static std::array<std::uint8_t, 148> broadcastAnswer(const DeviceProfile& device);
    // HTTP answer to an M-SEARCH.
    static std::string ssdpAnswer(const DeviceProfile& device);
    // NOTIFY for the group; nts "alive" gives "NTS: ssdp:alive".
    static std::string ssdpNotify(const DeviceProfile& device, const std::string& nts);

    static std::string location(const DeviceProfile& device);
    static std::string server(const DeviceProfile& device);
};
