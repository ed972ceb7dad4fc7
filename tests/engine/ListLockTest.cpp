// An allocation that fails while the list lock is held must not leave the lock
// taken: every later hand-over and list copy would wait for ever.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <new>
#include <thread>

#include "DeviceSearchInterface.h"

namespace {
thread_local bool g_failAllocations = false;
}  // namespace

// Not inlined: the compiler would see malloc() and free() meet a new-expression.
__attribute__((noinline)) void* operator new(std::size_t size) {
    void* p = g_failAllocations ? nullptr : std::malloc(size != 0 ? size : 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }

TEST(ListLock, IsReleasedWhenAppendingOrCopyingFailsForWantOfMemory) {
    for (bool copying : {false, true}) {
        auto* list = new CDeviceSearchInterface;  // left to the thread below if it stays blocked
        deviceinfo record{.ip = "198.51.100.10", .factory = "ORVALE", .type = kDeviceAnswer};
        if (copying) list->AddDeviceInfo(record);
        std::vector<deviceinfo> copy;
        g_failAllocations = true;
        EXPECT_THROW(copying ? (void)list->GetDeviceList(copy) : list->AddDeviceInfo(record), std::bad_alloc);
        g_failAllocations = false;
        // Asked from another thread, as a worker's hand-over would.
        std::packaged_task<int()> clear([list] { return list->ClearDeviceList(); });
        std::future<int> cleared = clear.get_future();
        std::thread(std::move(clear)).detach();
        ASSERT_EQ(cleared.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "copying " << copying;
        delete list;
    }
}
