// The option-key lookup over the 128-byte option area of a broadcast answer,
// which need not hold a terminator: the lookup must stay inside it.
#include <cstdint>
#include <cstring>
#include <memory>

#include "FuzzCheck.h"
#include "Protocol/BroadcastCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char* const kKeys[] = {"id=", "host=", "vendor=", "product="};
    if (size == 0) return 0;
    const char* key = kKeys[data[0] % 4];
    ++data;
    --size;

    constexpr std::size_t kArea = sizeof(dhcppacket::options);
    // Exactly the area, on the heap, so ASan sees a read one byte past it.
    std::unique_ptr<char[]> options(new char[kArea]);
    std::memset(options.get(), 0, kArea);
    std::memcpy(options.get(), data, size < kArea ? size : kArea);
    std::unique_ptr<char[]> field(new char[32]());

    const bool found = FindOptionValue(OptionText(options.get()), key, field.get(), 31);
    FUZZ_CHECK(fuzzcheck::wellTerminated(*reinterpret_cast<char(*)[32]>(field.get())));
    if (!found) FUZZ_CHECK(field[0] == 0);
    return 0;
}
