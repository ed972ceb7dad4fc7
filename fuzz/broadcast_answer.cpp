// The broadcast answer decoder on an exactly sized copy of the input, into a
// record full of stale bytes that it must overwrite.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "FuzzCheck.h"
#include "Protocol/BroadcastCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1024) size = 1024;  // the receive loop's cut
    std::unique_ptr<char[]> exact(new char[size]);
    std::memcpy(exact.get(), data, size);
    deviceinfo d;
    std::memset(static_cast<void*>(&d), 0x5A, sizeof d);
    const BroadcastVerdict verdict = DecodeBroadcastAnswer({exact.get(), size}, "198.51.100.20", d);
    FUZZ_CHECK((verdict == BroadcastVerdict::Ignored) == (size != sizeof(dhcppacket)));
    if (verdict != BroadcastVerdict::Device) return 0;
    // Only a 148-byte answer (op 12) is a device; its record carries the
    // sender and the packet's code, and nothing of the SSDP-only fields.
    fuzzcheck::checkTexts(d);
    FUZZ_CHECK(data[0] == kDhcpOpAnswer);
    FUZZ_CHECK(std::strcmp(d.ip, "198.51.100.20") == 0);
    FUZZ_CHECK(d.type == data[1]);
    FUZZ_CHECK(d.extra[0] == 0 && d.version[0] == 0);
    FUZZ_CHECK(d.lifetime == 60);
    return 0;
}
