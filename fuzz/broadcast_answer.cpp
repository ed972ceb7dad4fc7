// The broadcast answer decoder on the input as a received datagram.
#include <cstdint>
#include <cstring>

#include "FuzzCheck.h"
#include "Protocol/BroadcastCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzcheck::Datagram in(data, size);
    deviceinfo& d = in.record;
    const BroadcastVerdict verdict = DecodeBroadcastAnswer(in.text(), "198.51.100.20", d);
    FUZZ_CHECK((verdict == BroadcastVerdict::Ignored) == (in.size != sizeof(dhcppacket)));
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
