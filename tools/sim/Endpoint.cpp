#include "Endpoint.h"

#include "Net/Ipv4.h"
#include "SimError.h"

#include <arpa/inet.h>

#include <charconv>

std::optional<std::uint32_t> Endpoint::parseAddress(std::string_view text) {
    if (text.empty() || text.size() > 15) return std::nullopt;
    std::string copy(text);
    in_addr addr{};
    if (inet_pton(AF_INET, copy.c_str(), &addr) != 1) return std::nullopt;
    return ntohl(addr.s_addr);
}

Endpoint Endpoint::parse(std::string_view text, bool portRequired, std::string_view what) {
    const auto fail = [&](const std::string& why) -> SimError {
        return SimError(SimError::kUsage, std::string(what) + ": " + why + ": \"" + std::string(text) + "\"");
    };
    Endpoint result;
    std::string_view addressPart = text;
    const auto colon = text.find(':');
    if (colon != std::string_view::npos) {
        addressPart = text.substr(0, colon);
        const std::string_view portPart = text.substr(colon + 1);
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(portPart.data(), portPart.data() + portPart.size(), value);
        if (portPart.empty() || ec != std::errc() || end != portPart.data() + portPart.size() || value > 65535)
            throw fail("not a port number 0..65535");
        if (portRequired && value == 0) throw fail("port 0 cannot be a destination");
        result.port = static_cast<std::uint16_t>(value);
    } else if (portRequired) {
        throw fail("expected IP:PORT");
    }
    const auto address = parseAddress(addressPart);
    if (!address) throw fail("not an IPv4 address");
    result.address = *address;
    return result;
}

std::string Endpoint::text() const { return net::Ipv4Text(address) + ":" + std::to_string(port); }
