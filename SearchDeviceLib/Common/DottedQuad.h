// Strict IPv4 dotted-quad text: four decimal octets 0-255, no leading zeros,
// nothing before or after. Addresses read from the network are checked with
// it before they are trusted as addresses (listed, or turned into URLs).
#pragma once

#include <array>
#include <string_view>

inline bool ParseDottedQuad(std::string_view text, std::array<int, 4>& octets) {
    std::size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        const std::size_t start = pos;
        int value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
            value = value * 10 + (text[pos] - '0');
            ++pos;
        }
        const std::size_t digits = pos - start;
        if (digits == 0 || value > 255) return false;
        if (digits > 1 && text[start] == '0') return false;
        octets[i] = value;
    }
    return pos == text.size();
}

inline bool IsDottedQuad(std::string_view text) {
    std::array<int, 4> octets{};
    return ParseDottedQuad(text, octets);
}
