// The SSDP decoder (answers, alive, byebye) on the input as a received datagram.
#include <cstdint>

#include "FuzzCheck.h"
#include "Protocol/SsdpCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzcheck::Datagram in(data, size);
    deviceinfo& d = in.record;
    if (!DecodeSsdpMessage(in.text(), "203.0.113.20", d)) return 0;
    fuzzcheck::checkTexts(d);
    FUZZ_CHECK(d.type == 0 || d.type == kDeviceAnswer || d.type == kDeviceAlive || d.type == kDeviceByebye);
    FUZZ_CHECK(d.lifetime == 60);
    return 0;
}
