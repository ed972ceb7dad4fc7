#include "DeviceUrl.h"

#include <array>

#include "Common/DottedQuad.h"

std::string deviceUrl(const std::string& scheme, const std::string& ip) {
    std::array<int, 4> o{};
    if (!ParseDottedQuad(ip, o)) return {};
    return scheme + "://" + std::to_string(o[0]) + "." + std::to_string(o[1]) + "." + std::to_string(o[2]) +
           "." + std::to_string(o[3]);
}
