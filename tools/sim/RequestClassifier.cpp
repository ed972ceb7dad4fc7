#include "RequestClassifier.h"

#include <cctype>

#include "Common/CommonStruct.h"
#include "MessageBuilder.h"

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

bool isStHeaderName(std::string_view name) {
    name = trim(name);
    return name.size() == 2 && std::toupper(static_cast<unsigned char>(name[0])) == 'S' &&
           std::toupper(static_cast<unsigned char>(name[1])) == 'T';
}

}  // namespace

RequestClassifier::Kind RequestClassifier::classify(std::string_view datagram) {
    if (datagram.size() == sizeof(dhcppacket) && static_cast<std::uint8_t>(datagram[0]) == kDhcpOpRequest)
        return Kind::Broadcast;
    if (!datagram.starts_with("M-SEARCH")) return Kind::None;

    std::size_t lineStart = datagram.find('\n');
    while (lineStart != std::string_view::npos) {
        const std::size_t lineEnd = datagram.find('\n', lineStart + 1);
        const std::string_view line = datagram.substr(lineStart + 1, lineEnd == std::string_view::npos
                                                                          ? std::string_view::npos
                                                                          : lineEnd - lineStart - 1);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && isStHeaderName(line.substr(0, colon))) {
            const std::string_view target = trim(line.substr(colon + 1));
            return target == MessageBuilder::kDeviceType || target == "ssdp:all" ? Kind::Ssdp : Kind::None;
        }
        lineStart = lineEnd;
    }
    return Kind::None;
}
