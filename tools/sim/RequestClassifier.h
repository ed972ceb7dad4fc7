// Tells which search, if any, a received datagram is.
#pragma once

#include <string_view>

class RequestClassifier {
public:
    enum class Kind { None, Broadcast, Ssdp };

    // Broadcast: exactly 148 bytes with op 11. Ssdp: text that starts with
    // "M-SEARCH" and whose ST header (name in any letter case) is the
    // device type or "ssdp:all".
    static Kind classify(std::string_view datagram);
};
