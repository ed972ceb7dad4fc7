// The option-key lookup over the 128-byte option area of a broadcast answer,
// which need not hold a terminator: the lookup must stay inside it.
#include <cstdint>
#include <cstring>
#include <memory>

#include "FuzzCheck.h"
#include "SearchDeviceBroadcastThread.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CSearchDeviceBroadcastThread* worker = new CSearchDeviceBroadcastThread;
    static const char* const kKeys[] = {"id=", "host=", "vendor=", "product="};
    if (size == 0) return 0;
    char key[16] = {};
    std::strcpy(key, kKeys[data[0] % 4]);
    ++data;
    --size;

    constexpr std::size_t kArea = sizeof(dhcppacket::options);
    // Exactly the area, on the heap, so ASan sees a read one byte past it.
    std::unique_ptr<char[]> options(new char[kArea]);
    std::memset(options.get(), 0, kArea);
    std::memcpy(options.get(), data, size < kArea ? size : kArea);
    std::unique_ptr<char[]> field(new char[32]());

    int found = worker->FindStringValue(options.get(), field.get(), 31, key, static_cast<int>(std::strlen(key)));
    FUZZ_CHECK(found == 0 || found == 1);
    FUZZ_CHECK(fuzzcheck::wellTerminated(*reinterpret_cast<char(*)[32]>(field.get())));
    if (found == 0) FUZZ_CHECK(field[0] == 0);
    return 0;
}
