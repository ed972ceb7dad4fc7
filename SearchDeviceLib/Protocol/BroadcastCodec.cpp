#include "Protocol/BroadcastCodec.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::size_t kFieldMax = 31;
constexpr std::string_view kKeyId = "id=";
constexpr std::string_view kKeyHost = "host=";
constexpr std::string_view kKeyVendor = "vendor=";
constexpr std::string_view kKeyProduct = "product=";
}  // namespace

dhcppacket DefaultSearchPacket() {
    dhcppacket request;
    std::memset(&request, 0, sizeof request);
    request.op = kDhcpOpRequest;
    request.code = 1;
    std::memset(request.marker, 0xFF, sizeof request.marker);
    return request;
}

BroadcastVerdict DecodeBroadcastAnswer(std::string_view datagram, std::string_view sender,
                                       deviceinfo& record) {
    if (datagram.size() != sizeof(dhcppacket)) return BroadcastVerdict::Ignored;
    dhcppacket packet;
    std::memcpy(&packet, datagram.data(), sizeof packet);
    if (packet.op != kDhcpOpAnswer) return BroadcastVerdict::NotDevice;
    record = deviceinfo{};
    // Like strncpy from a C string: the address also stops at a zero byte.
    sender = sender.substr(0, kFieldMax);
    std::memcpy(record.ip, sender.data(), std::min(sender.size(), sender.find('\0')));
    ReadBroadcastFields(packet, record);
    return BroadcastVerdict::Device;
}

void ReadBroadcastFields(const dhcppacket& packet, deviceinfo& record) {
    record.type = packet.code;
    const std::string_view options = OptionText(packet.options);
    FindOptionValue(options, kKeyId, record.id, kFieldMax);
    FindOptionValue(options, kKeyHost, record.host, kFieldMax);
    FindOptionValue(options, kKeyVendor, record.factory, kFieldMax);
    FindOptionValue(options, kKeyProduct, record.product, kFieldMax);
}

std::string_view OptionText(const char* options) {
    return {options, strnlen(options, sizeof(dhcppacket::options))};
}

bool FindOptionValue(std::string_view options, std::string_view key, char* field, std::size_t maxLen) {
    if (key.empty()) return false;
    const char* const end = options.data() + options.size();
    // Only at a pair boundary: a plain substring match would let "uuid=" or
    // "vendorid=" stand in for "id=". Jumping from '&' to '&' also keeps the
    // lookup to a few comparisons per key.
    for (const char* pair = options.data(); pair < end;) {
        const char* amp =
            static_cast<const char*>(std::memchr(pair, '&', static_cast<std::size_t>(end - pair)));
        const char* pairEnd = amp != nullptr ? amp : end;
        if (static_cast<std::size_t>(pairEnd - pair) >= key.size() &&
            std::memcmp(pair, key.data(), key.size()) == 0) {
            const char* value = pair + key.size();
            const std::size_t n = std::min(static_cast<std::size_t>(pairEnd - value), maxLen);
            std::memcpy(field, value, n);
            field[n] = '\0';
            return true;
        }
        if (amp == nullptr) break;
        pair = amp + 1;
    }
    return false;
}
