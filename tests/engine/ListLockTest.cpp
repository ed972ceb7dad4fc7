// An allocation that fails while the list lock is held must not leave the lock
// taken: every later hand-over and list copy would wait for ever.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <new>
#include <thread>

#include "DeviceSearchInterface.h"

namespace {
thread_local bool g_failAllocations = false;
}  // namespace

void* operator new(std::size_t size) {
    if (g_failAllocations) throw std::bad_alloc();
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}
// Not inlined: the compiler would see a pointer from a new-expression reach free().
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Asked from another thread, as a worker's hand-over would; a list whose lock
// stayed taken is leaked to the blocked thread.
bool UsableFromAnotherThread(CDeviceSearchInterface* list) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> cleared = done->get_future();
    std::thread([list, done] {
        list->ClearDeviceList();
        done->set_value();
    }).detach();
    if (cleared.wait_for(std::chrono::seconds(10)) != std::future_status::ready) return false;
    delete list;
    return true;
}

TEST(ListLock, IsReleasedWhenCopyingOrAppendingFailsForWantOfMemory) {
    deviceinfo record;
    std::strcpy(record.ip, "198.51.100.10");
    std::strcpy(record.factory, "ORVALE");
    record.type = kDeviceAnswer;
    const std::function<void(CDeviceSearchInterface&)> failing[] = {
        [&](CDeviceSearchInterface& list) {
            deviceinfo copy = record;
            list.AddDeviceInfo(copy);  // the first record: the list must grow
        },
        [&](CDeviceSearchInterface& list) {
            std::vector<deviceinfo> copy;
            list.GetDeviceList(copy);
        }};
    for (int step = 0; step < 2; ++step) {
        auto* list = new CDeviceSearchInterface;
        if (step == 1) {
            deviceinfo copy = record;
            list->AddDeviceInfo(copy);
        }
        g_failAllocations = true;
        EXPECT_THROW(failing[step](*list), std::bad_alloc) << step;
        g_failAllocations = false;
        EXPECT_TRUE(UsableFromAnotherThread(list)) << "step " << step << " left the list locked";
    }
}

}  // namespace
