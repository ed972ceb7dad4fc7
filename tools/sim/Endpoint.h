// An IPv4 address (host byte order) with an optional UDP port, and the
// parsing of the "IP" / "IP:PORT" texts of the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;

    // Strict dotted decimal ("198.51.100.10"); nullopt otherwise.
    static std::optional<std::uint32_t> parseAddress(std::string_view text);
    // "IP:PORT" when portRequired, else "IP" or "IP:PORT"; port 0 is allowed
    // only when the port is optional. Throws SimError (usage) naming `what`.
    static Endpoint parse(std::string_view text, bool portRequired, std::string_view what);

    std::string text() const;  // "IP:PORT"
    bool operator==(const Endpoint&) const = default;
};
