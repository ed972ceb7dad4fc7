// The SSDP decoder (answers, alive, byebye) on a worker that never opens a
// socket, with a capturing hand-over that checks every record it is given.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "SearchDeviceClient.h"
#include "SearchDeviceMulticastThread.h"

namespace {

int g_handed = 0;

int capture(void* record, int) {
    const deviceinfo& d = *static_cast<const deviceinfo*>(record);
    fuzzcheck::checkTexts(d);
    FUZZ_CHECK(d.type == 0 || d.type == kDeviceAnswer || d.type == kDeviceAlive || d.type == kDeviceByebye);
    ++g_handed;
    return 0;
}

CSearchDeviceMulticastThread& worker() {
    static CSearchDeviceMulticastThread* w = [] {
        CSearchDeviceClient::SetDeviceCallback(capture);
        return new CSearchDeviceMulticastThread;
    }();
    return *w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (size > 1024) size = 1024;
    std::unique_ptr<char[]> buffer(new char[1025]());
    std::memcpy(buffer.get(), data, size);
    g_handed = 0;
    std::string sender = "203.0.113.20";
    worker().ClearOldDeviceInfo();
    // Three in a row: handed on, dropped as a repeat, handed on again.
    for (int i = 0; i < 3; ++i) worker().HandleReceiveInfo(buffer.get(), static_cast<int>(size), sender);
    FUZZ_CHECK(g_handed == 0 || g_handed == 2);
    return 0;
}
