// The device hand-over: one record at a time, on a private terminated copy,
// its lock released however the callback ends, and an exit at any moment.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "DeviceSearchInterface.h"
#include "SearchDeviceHandle/SearchDeviceClient.h"

namespace {

std::vector<std::pair<void*, int>> g_calls;  // record and port of each call
deviceinfo g_seen;
bool g_underLock = false;

int recordingCallback(void* record, int port) {
    g_calls.emplace_back(record, port);
    std::memcpy(&g_seen, record, sizeof g_seen);
    g_underLock = !CSearchDeviceClient::m_SearchMutex->try_lock();
    if (!g_underLock) CSearchDeviceClient::m_SearchMutex->unlock();
    if (port == 1900) throw std::runtime_error("listener failed");
    std::memset(record, 'X', sizeof(deviceinfo));  // the worker's record must not change
    return 0;
}

TEST(HandOver, CallbackGetsAPrivateTerminatedCopyAndThePortUnderTheLockWhichAThrowReleases) {
    CSearchDeviceClient::SetDeviceCallback(&recordingCallback);
    deviceinfo garbage;
    std::memset(static_cast<void*>(&garbage), 'A', sizeof garbage);  // no terminator anywhere
    const deviceinfo original = garbage;
    for (int length : {static_cast<int>(sizeof garbage), 0, -1}) {
        g_calls.clear();
        CSearchDeviceClient::HandleDeviceMessage(&garbage, length, 1570);
        ASSERT_EQ(g_calls, (std::vector<std::pair<void*, int>>{{g_calls[0].first, 1570}})) << length;
        EXPECT_NE(g_calls[0].first, static_cast<void*>(&garbage));
        EXPECT_TRUE(g_underLock) << "records are handed over one at a time";
        EXPECT_EQ(std::memcmp(&garbage, &original, sizeof garbage), 0) << "the worker's record changed";
        for (const char* text :
             {g_seen.id, g_seen.ip, g_seen.host, g_seen.product, g_seen.extra, g_seen.version, g_seen.factory})
            EXPECT_EQ(std::string(text, strnlen(text, 32)), std::string(31, 'A'));
        EXPECT_EQ(g_seen.type + g_seen.lifetime, original.type + original.lifetime);
    }
    EXPECT_THROW(CSearchDeviceClient::HandleDeviceMessage(&garbage, sizeof garbage, 1900), std::runtime_error);
    ASSERT_TRUE(CSearchDeviceClient::m_SearchMutex->try_lock());  // probing keeps a failure from hanging
    CSearchDeviceClient::m_SearchMutex->unlock();
    CSearchDeviceClient::SetDeviceCallback(nullptr);
}

// exit(), at a moment chosen by the seed, while worker-like threads hand records
// to the device list and copy, age and clear it: nothing may be torn down under them.
[[noreturn]] void exitDuringHandOvers(unsigned seed) {
    alarm(20);  // a hang fails as a signal
    std::freopen("/dev/null", "w", stdout);
    CSearchDeviceClient::SetDeviceCallback(&CDeviceSearchInterface::SearchDeviceRecallHandle);
    static std::atomic<long> handed{0};
    for (int port : {67, 1900, 1530})
        std::thread([port, front = CDeviceSearchInterface::GetInstance(),
                     copy = std::vector<deviceinfo>()]() mutable {
            for (unsigned i = port;; ++i, ++handed) {
                deviceinfo d;
                std::snprintf(d.id, sizeof d.id, "dev%u", i % 16);
                std::snprintf(d.ip, sizeof d.ip, "198.51.100.%u", 10 + i % 16);
                std::strcpy(d.factory, i % 3 ? "orvale" : "acme");
                d.type = static_cast<int>(1 + i % 4);  // answer, alive, 3, byebye
                CSearchDeviceClient::HandleDeviceMessage(&d, sizeof d, port);
                front->GetDeviceList(copy);
                if (i % 7 == 0) front->RefreshDeviceList();
                if (i % 101 == 0) front->ClearDeviceList();
            }
        }).detach();
    while (handed < static_cast<long>(seed % 200)) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::microseconds(seed / 200 % 3000));
    std::exit(0);
}

TEST(HandOver, ExitAtAnyMomentOfHandOversIsClean) {
    GTEST_FLAG_SET(death_test_style, "fast");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const unsigned first = std::random_device()();
    for (unsigned seed = first; seed - first < 100 && std::chrono::steady_clock::now() < end; ++seed)
        EXPECT_EXIT(exitDuringHandOvers(seed), testing::ExitedWithCode(0), "") << "seed " << seed;
}

}  // namespace
