// The device record's equality and copy, and the front end's device list.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "DeviceSearchInterface.h"
#include "SearchDeviceHandle/SearchDeviceClient.h"
#include "ShowLog/ShowLog.h"
#include "TestFiles.h"

namespace {

deviceinfo rec(const std::string& id, const std::string& ip, const char* maker = "ORVALE", int type = 1,
               std::int64_t lifetime = 60) {
    deviceinfo d;
    std::strncpy(d.id, id.c_str(), 31);
    std::strncpy(d.ip, ip.c_str(), 31);
    std::strncpy(d.factory, maker, 31);
    std::strcpy(d.host, "box");
    d.type = type;
    d.lifetime = lifetime;
    return d;
}

// The i-th of the seven 32-byte texts, which open the record.
char* text(deviceinfo& d, int i) { return reinterpret_cast<char*>(&d) + 32 * i; }

TEST(DeviceRecord, CompareAndCopyTakeEachTextUpToItsTerminatorOrAll32BytesAndTypeButCompareNotLifetime) {
    const deviceinfo a = rec("0011AABB", "198.51.100.10");
    for (int i = 0; i < 7; ++i) {
        deviceinfo stray = a, changed = a, longer = a, full = a, fullOther, copy = a;
        char* f = text(stray, i);
        f[std::strlen(f) + 1] = f[31] = 'Z';
        text(changed, i)[0] ^= 0x20;
        std::strcat(text(longer, i), "+");
        std::memset(text(full, i), 'F', 32);  // no terminator: all 32 bytes count
        fullOther = full;
        text(fullOther, i)[31] = 'G';
        EXPECT_TRUE(a.compare(stray) && stray.compare(a)) << i;
        EXPECT_FALSE(a.compare(changed) || a.compare(longer) || full.compare(fullOther)) << i;
        copy.alterValue(fullOther);
        EXPECT_EQ(std::memcmp(text(copy, i), text(fullOther, i), 32), 0) << i;
        copy.alterValue(stray);
        EXPECT_EQ(std::memcmp(&copy, &a, 7 * 32), 0) << "bytes after a terminator become zero " << i;
    }
    deviceinfo aged = a, alive = a;
    aged.lifetime = 10;
    alive.type = kDeviceAlive;
    EXPECT_TRUE(a.compare(aged) && !a.compare(alive));
}

class DeviceList : public ::testing::Test {
protected:
    void SetUp() override {
        list()->ClearDeviceList();
        testing::internal::CaptureStdout();  // one line per add attempt
    }
    void TearDown() override {
        testing::internal::GetCapturedStdout();
        SearchDeviceShowLog::io_log_init(false, nullptr);
    }
    static CDeviceSearchInterface* list() { return CDeviceSearchInterface::GetInstance(); }
    static void add(deviceinfo d) { list()->AddDeviceInfo(d); }
    static void handOver(deviceinfo d) { CDeviceSearchInterface::SearchDeviceRecallHandle(&d, 1900); }
    static std::vector<deviceinfo> snapshot() {
        std::vector<deviceinfo> out(3);  // whatever the caller held is replaced
        return list()->GetDeviceList(out), out;
    }
    // "id:lifetime " for each stored record, in list order.
    static std::string summary() {
        std::string s;
        for (const deviceinfo& d : snapshot()) s += std::string(d.id) + ":" + std::to_string(d.lifetime) + " ";
        return s;
    }
};

// Which makers are accepted is cli_lab's scan_lists_accepted_devices_as_clean_json_and_logs.
TEST_F(DeviceList, MergesByAddressInPlaceAppendsNewAddressesAndByebyeRemovesTheFirstWithItsId) {
    for (auto [id, ip] : {std::pair{"a", "10.0.0.1"}, std::pair{"b", "10.0.0.2"}, std::pair{"c", "10.0.0.3"}})
        add(rec(id, ip));
    list()->RefreshDeviceList();           // all at 50
    add(rec("z", "10.0.0.1", "ORVALEX"));  // refused: replaces nothing
    add(rec("a", "10.0.0.1"));             // identical: only the lifetime is refreshed
    deviceinfo alive = rec("b", "10.0.0.2", "orvale", kDeviceAlive);
    std::strcpy(alive.host, "renamed");
    list()->AddDeviceInfo(alive);  // same address, new kind and name
    EXPECT_STREQ(alive.factory, "ORVALE") << "the given record is upper-cased in place";
    add(rec("c2", "10.0.0.3", "KESTIL"));  // same address, new id
    add(rec("a", "10.0.0.9"));             // same id, new address
    EXPECT_EQ(summary(), "a:60 b:60 c2:60 a:60 ");
    EXPECT_EQ(std::string(snapshot()[1].host) + snapshot()[1].factory, "renamedORVALE");
    EXPECT_EQ(snapshot()[1].type, kDeviceAlive);
    for (int type : {0, 3, 5, 255, -1}) handOver(rec("x", "10.0.0.9", "ORVALE", type));  // changes nothing
    handOver(rec("a", "0.0.0.0", "", kDeviceByebye));  // whatever its maker and address
    handOver(rec("unknown", "10.0.0.1", "ORVALE", kDeviceByebye));
    EXPECT_EQ(summary(), "b:60 c2:60 a:60 ");
    EXPECT_STREQ(snapshot()[2].ip, "10.0.0.9");
}

TEST_F(DeviceList, AgeingKeepsWhatStays46OrMoreAndRemovesRunsOfExpiredRecords) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const std::int64_t lifetimes[] = {60, 56, 55, 50, 45, std::numeric_limits<std::int64_t>::min(), 100, kMax};
    for (int i = 0; i < 8; ++i)
        add(rec(std::string(1, 'a' + i), "10.0.0." + std::to_string(i), "ORVALE", 1, lifetimes[i]));
    list()->RefreshDeviceList();
    EXPECT_EQ(summary(), "a:50 b:46 g:90 h:" + std::to_string(kMax - 10) + " ");
    list()->RefreshDeviceList();
    EXPECT_EQ(summary(), "g:80 h:" + std::to_string(kMax - 20) + " ");
}

// A flood of forged addresses stops at the cap with one log line per search;
// known addresses still merge, and freed room takes new devices.
TEST_F(DeviceList, WhenFullRefusesNewAddressesWithOneLogLinePerSearchButStillMerges) {
    testfiles::TempDir dir;
    ASSERT_EQ(SearchDeviceShowLog::io_log_init(true, dir.slash().c_str()), 1);
    const std::size_t cap = CDeviceSearchInterface::kMaxDevices;
    for (std::size_t i = 0; i < cap; ++i)
        add(rec("n" + std::to_string(i), "10.0." + std::to_string(i >> 8) + "." + std::to_string(i & 255)));
    for (int search = 1; search <= 2; ++search) {
        list()->SendSearchDeviceCommand(nullptr);  // no worker: only the cap's report is reset
        for (int n = 0; n < 3; ++n) handOver(rec("over", "192.0.2." + std::to_string(search * 10 + n)));
    }
    add(rec("n0", "10.0.0.0", "ORVALE", kDeviceAlive));
    char gone[] = "n1";
    list()->DelDeviceInfo(gone);
    add(rec("late", "192.0.2.3"));
    const std::vector<deviceinfo> now = snapshot();
    ASSERT_EQ(now.size(), cap);
    EXPECT_EQ(std::string(now[0].id) + now[1].id + now.back().id + std::to_string(now[0].type), "n0n2late2");
    const std::string log = testfiles::readFile(dir.slash() + testfiles::todaysLogName());
    EXPECT_EQ(testfiles::countOf(log, "Device list full (4096 devices) : new device IP : "), 2u) << log;
    for (const std::string ip : {"192.0.2.10", "192.0.2.20"})
        EXPECT_EQ(testfiles::countOf(log, "new device IP : " + ip + " dropped  *["), 1u) << ip;
}

std::vector<std::string> g_heard;  // "<port> <maker>" of each call
void* g_expected = nullptr;

int listener(void* record, int port) {
    g_heard.push_back(std::to_string(port) + (record == g_expected ? " " : " copy ") +
                      static_cast<deviceinfo*>(record)->factory);
    return 42;
}

TEST_F(DeviceList, StartsOnceAndItsListenerHearsEveryMessageAsTheWorkerWroteIt) {
    int made = 0;  // no worker is really made
    CSearchDeviceClient::SetWorkerFactory([&made](SearchWorkerStatus::Kind) { return ++made, nullptr; });
    list()->DeviceSearchDllInit(&listener, false, nullptr, false);
    list()->DeviceSearchDllInit(nullptr, false, nullptr, false);
    CSearchDeviceClient::SetWorkerFactory(nullptr);
    EXPECT_EQ(made, 2) << "a second start makes no second set of workers";
    const std::pair<int, const char*> messages[] = {{1, "orvale"}, {2, "acme"}, {0, "orvale"}, {3, "orvale"}, {4, "x"}};
    for (auto [type, maker] : messages) {
        deviceinfo d = rec("a", "10.0.0.1", maker, type);
        g_expected = &d;
        EXPECT_EQ(CDeviceSearchInterface::SearchDeviceRecallHandle(&d, 1530 + type), 42);
        EXPECT_EQ(summary(), type == 4 ? "" : "a:60 ");
    }
    EXPECT_EQ(g_heard, (std::vector<std::string>{"1531 orvale", "1532 acme", "1530 orvale", "1533 orvale", "1534 x"}));
}

}  // namespace
