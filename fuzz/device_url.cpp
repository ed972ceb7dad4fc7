// The address-to-URL rule: a URL reaches the desktop's handlers only for a
// strict dotted quad, and then names exactly that address.
#include <arpa/inet.h>

#include <cstdint>
#include <string>

#include "DeviceUrl.h"
#include "FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string scheme = (data[0] & 1) ? "smb" : "http";
    const std::string ip(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::string url = deviceUrl(scheme, ip);

    // Independent oracle: glibc's inet_pton takes four decimal octets without
    // leading zeros; the round trip rules out anything around them.
    in_addr parsed{};
    char canonical[INET_ADDRSTRLEN] = {};
    const bool strict = ip.size() < INET_ADDRSTRLEN && ip.find('\0') == std::string::npos &&
                        inet_pton(AF_INET, ip.c_str(), &parsed) == 1 &&
                        inet_ntop(AF_INET, &parsed, canonical, sizeof canonical) != nullptr && ip == canonical;
    if (strict)
        FUZZ_CHECK(url == scheme + "://" + canonical);
    else
        FUZZ_CHECK(url.empty());
    return 0;
}
