// The SSDP decoder (answers, alive, byebye) on an exactly sized copy of the
// input, into a record full of stale bytes that it must overwrite.
#include <cstdint>
#include <cstring>
#include <memory>

#include "FuzzCheck.h"
#include "Protocol/SsdpCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1024) size = 1024;  // the receive loop's cut
    std::unique_ptr<char[]> exact(new char[size]);
    std::memcpy(exact.get(), data, size);
    deviceinfo d;
    std::memset(static_cast<void*>(&d), 0x5A, sizeof d);
    if (!DecodeSsdpMessage({exact.get(), size}, "203.0.113.20", d)) return 0;
    fuzzcheck::checkTexts(d);
    FUZZ_CHECK(d.type == 0 || d.type == kDeviceAnswer || d.type == kDeviceAlive || d.type == kDeviceByebye);
    FUZZ_CHECK(d.lifetime == 60);
    return 0;
}
