// The broadcast answer decoder on a worker that never opens a socket: the
// input is laid into a zeroed 1025-byte buffer as the receive loop does.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "SearchDeviceBroadcastThread.h"
#include "SearchDeviceClient.h"

namespace {

const char kSender[] = "198.51.100.20";
const std::uint8_t* g_input = nullptr;
std::size_t g_size = 0;
int g_handed = 0;

int capture(void* record, int) {
    const deviceinfo& d = *static_cast<const deviceinfo*>(record);
    fuzzcheck::checkTexts(d);
    // Only a 148-byte answer (op 12) is a device; its record carries the
    // sender and the packet's code, and nothing of the SSDP-only fields.
    FUZZ_CHECK(g_size == sizeof(dhcppacket) && g_input[0] == kDhcpOpAnswer);
    FUZZ_CHECK(std::strcmp(d.ip, kSender) == 0);
    FUZZ_CHECK(d.type == g_input[1]);
    FUZZ_CHECK(d.extra[0] == 0 && d.version[0] == 0);
    FUZZ_CHECK(d.lifetime == 60);
    ++g_handed;
    return 0;
}

CSearchDeviceBroadcastThread& worker() {
    static CSearchDeviceBroadcastThread* w = [] {
        CSearchDeviceClient::SetDeviceCallback(capture);
        return new CSearchDeviceBroadcastThread;
    }();
    return *w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;  // the receive loop never hands on an empty datagram
    if (size > 1024) size = 1024;
    std::unique_ptr<char[]> buffer(new char[1025]());
    std::memcpy(buffer.get(), data, size);
    g_input = data;
    g_size = size;
    g_handed = 0;
    std::string sender = kSender;
    worker().ClearOldDeviceInfo();
    worker().HandleReceiveInfo(buffer.get(), static_cast<int>(size), sender);
    FUZZ_CHECK(g_handed <= 1);
    // The same answer again, with no search in between, is a repeat.
    worker().HandleReceiveInfo(buffer.get(), static_cast<int>(size), sender);
    FUZZ_CHECK(g_handed <= 1);
    return 0;
}
