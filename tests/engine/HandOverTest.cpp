// The device hand-over: one record at a time into the device callback, on a
// private copy, with its lock released however the callback ends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "SearchDeviceClient.h"
#include "ShowLog.h"

namespace {

using enginetest::readFile;
using enginetest::TempDir;

deviceinfo makeRecord(const char* id, const char* ip) {
    deviceinfo d;
    std::strcpy(d.id, id);
    std::strcpy(d.ip, ip);
    std::strcpy(d.factory, "VIRNO");
    d.type = kDeviceAnswer;
    return d;
}

// What the callback saw; the callbacks are plain function pointers.
struct Seen {
    void* pointer = nullptr;
    int port = 0;
    deviceinfo record;
    int calls = 0;
};
Seen g_seen;

int recordingCallback(void* record, int port) {
    g_seen.pointer = record;
    g_seen.port = port;
    std::memcpy(&g_seen.record, record, sizeof g_seen.record);
    ++g_seen.calls;
    // Scribble on what we were given: the worker's record must not change.
    std::memset(record, 'X', sizeof(deviceinfo));
    return 0;
}

class HandOver : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        SearchDeviceShowLog::io_log_init(false, nullptr);
        g_seen = Seen{};
    }
    void TearDown() override {
        SearchDeviceShowLog::io_log_init(false, nullptr);
        CSearchDeviceClient::SetDeviceCallback(nullptr);
    }
    std::string logOn() {
        EXPECT_EQ(SearchDeviceShowLog::io_log_init(true, dir.slash().c_str()), 1);
        return dir.slash() + enginetest::todaysLogName();
    }

    TempDir dir;
};

bool sameFields(const deviceinfo& a, const deviceinfo& b) {
    return std::memcmp(a.id, b.id, 7 * 32) == 0 && a.type == b.type && a.lifetime == b.lifetime;
}

TEST_F(HandOver, CallbackGetsAPrivateWholeCopyAndThePort) {
    CSearchDeviceClient::SetDeviceCallback(&recordingCallback);
    deviceinfo worker = makeRecord("id-1", "198.51.100.10");
    std::strcpy(worker.version + 10, "behind");  // every byte travels, not just the texts
    worker.type = 2;
    worker.lifetime = 1234567890123;
    const deviceinfo original = worker;

    for (int length : {static_cast<int>(sizeof worker), 0, 1, -1}) {
        g_seen = Seen{};
        CSearchDeviceClient::HandleDeviceMessage(&worker, length, 1570);
        ASSERT_EQ(g_seen.calls, 1) << length;
        EXPECT_EQ(g_seen.port, 1570);
        EXPECT_NE(g_seen.pointer, static_cast<void*>(&worker));
        EXPECT_TRUE(sameFields(g_seen.record, original)) << "length " << length;
        EXPECT_TRUE(sameFields(worker, original)) << "the worker's record changed";
    }
}

TEST_F(HandOver, LogsItsFourSteps) {
    std::string file = logOn();
    CSearchDeviceClient::SetDeviceCallback(&recordingCallback);
    deviceinfo worker = makeRecord("0011AABB", "203.0.113.10");
    testing::internal::CaptureStdout();
    CSearchDeviceClient::HandleDeviceMessage(&worker, sizeof worker, 67);
    testing::internal::GetCapturedStdout();

    std::string log = readFile(file);
    const char* steps[] = {
        "Handle 67 : Search 67 Thread Find Device and wait for mutex  *[",
        "Handle 67 : Search 67 Thread Find Device have Mutex  *[",
        "Handle 67 : Search 67 Thread Find Device ID : 0011AABB, IP : 203.0.113.10  *[",
        "Handle 67 : Search 67 Thread Find Device Success Handle  *[",
    };
    std::size_t at = 0;
    for (const char* step : steps) {
        std::size_t found = log.find(step, at);
        ASSERT_NE(found, std::string::npos) << step << "\n" << log;
        at = found + 1;
    }
}

// Thread A's callback holds the hand-over until thread B has written its
// "wait for mutex" line; B may only get the lock after A's "Success Handle".
std::string g_logFile;
std::mutex g_gate;
std::condition_variable g_gateChanged;
bool g_firstInside = false;
std::atomic<int> g_inside{0};
std::atomic<int> g_mostInside{0};

bool fileContains(const std::string& text) { return readFile(g_logFile).find(text) != std::string::npos; }

int holdingCallback(void*, int port) {
    int now = ++g_inside;
    for (int seen = g_mostInside; now > seen && !g_mostInside.compare_exchange_weak(seen, now);) {
    }
    if (port == 1530) {
        {
            std::lock_guard<std::mutex> lock(g_gate);
            g_firstInside = true;
        }
        g_gateChanged.notify_all();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!fileContains("Handle 1550 : Search 1550 Thread Find Device and wait for mutex") &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    --g_inside;
    return 0;
}

TEST_F(HandOver, SecondWorkerWaitsForTheFirst) {
    g_logFile = logOn();
    CSearchDeviceClient::SetDeviceCallback(&holdingCallback);
    g_firstInside = false;
    deviceinfo a = makeRecord("a", "198.51.100.10");
    deviceinfo b = makeRecord("b", "198.51.100.11");

    testing::internal::CaptureStdout();
    std::thread first([&] { CSearchDeviceClient::HandleDeviceMessage(&a, sizeof a, 1530); });
    {
        std::unique_lock<std::mutex> lock(g_gate);
        g_gateChanged.wait(lock, [] { return g_firstInside; });
    }
    std::thread second([&] { CSearchDeviceClient::HandleDeviceMessage(&b, sizeof b, 1550); });
    first.join();
    second.join();
    testing::internal::GetCapturedStdout();

    std::string log = readFile(g_logFile);
    auto where = [&](const std::string& text) {
        std::size_t at = log.find(text);
        EXPECT_NE(at, std::string::npos) << text;
        return at;
    };
    std::size_t secondWaits = where("Handle 1550 : Search 1550 Thread Find Device and wait for mutex  ");
    std::size_t firstDone = where("Handle 1530 : Search 1530 Thread Find Device Success Handle  ");
    std::size_t secondHas = where("Handle 1550 : Search 1550 Thread Find Device have Mutex  ");
    EXPECT_LT(secondWaits, firstDone);
    EXPECT_LT(firstDone, secondHas);
    EXPECT_EQ(g_mostInside.load(), 1) << "the callback ran on two threads at once";
}

int throwingCallback(void*, int port) {
    if (port == 1900) throw std::runtime_error("listener failed");
    ++g_seen.calls;
    return 0;
}

TEST_F(HandOver, ACallbackThatThrowsReleasesTheLock) {
    CSearchDeviceClient::SetDeviceCallback(&throwingCallback);
    deviceinfo d = makeRecord("a", "198.51.100.10");
    EXPECT_THROW(CSearchDeviceClient::HandleDeviceMessage(&d, sizeof d, 1900), std::runtime_error);

    // The lock must be free again; probing keeps the test from hanging if not.
    ASSERT_TRUE(CSearchDeviceClient::m_SearchMutex->try_lock());
    CSearchDeviceClient::m_SearchMutex->unlock();
    CSearchDeviceClient::HandleDeviceMessage(&d, sizeof d, 1530);
    EXPECT_EQ(g_seen.calls, 1);
}

TEST_F(HandOver, UnterminatedTextsAreCutInsideTheirFields) {
    std::string file = logOn();
    CSearchDeviceClient::SetDeviceCallback(&recordingCallback);
    deviceinfo garbage;
    std::memset(static_cast<void*>(&garbage), 'A', sizeof garbage);  // no terminator anywhere, not even in type
    testing::internal::CaptureStdout();
    CSearchDeviceClient::HandleDeviceMessage(&garbage, sizeof garbage, 1590);
    testing::internal::GetCapturedStdout();

    ASSERT_EQ(g_seen.calls, 1);
    const std::string a31(31, 'A');
    const deviceinfo& seen = g_seen.record;
    for (const char* text : {seen.id, seen.ip, seen.host, seen.product, seen.extra, seen.version, seen.factory})
        EXPECT_EQ(std::string(text, strnlen(text, 32)), a31);
    EXPECT_EQ(seen.type, garbage.type);
    EXPECT_EQ(seen.lifetime, garbage.lifetime);
    EXPECT_NE(readFile(file).find("Find Device ID : " + a31 + ", IP : " + a31 + "  *["), std::string::npos);
}

}  // namespace
