#include "DeviceUrl.h"

#include <array>

namespace {

bool parseDottedQuad(const std::string& text, std::array<int, 4>& octets) {
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

}  // namespace

std::string deviceUrl(const std::string& scheme, const std::string& ip) {
    std::array<int, 4> o{};
    if (!parseDottedQuad(ip, o)) return {};
    return scheme + "://" + std::to_string(o[0]) + "." + std::to_string(o[1]) + "." + std::to_string(o[2]) +
           "." + std::to_string(o[3]);
}
