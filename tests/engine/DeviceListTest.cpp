// The device record's equality and the front end's device list: maker filter,
// merge by address, removal by id, ageing, the size cap and the host's listener.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "DeviceSearchInterface.h"
#include "SearchDeviceClient.h"
#include "ShowLog.h"
#include "TestFiles.h"

namespace {

deviceinfo rec(const std::string& id, const std::string& ip, const char* factory = "ORVALE",
               std::int32_t type = kDeviceAnswer, std::int64_t lifetime = 60) {
    deviceinfo d;
    std::strncpy(d.id, id.c_str(), 31);
    std::strncpy(d.ip, ip.c_str(), 31);
    std::strcpy(d.host, "box");
    std::strcpy(d.product, "NS-100");
    std::strncpy(d.factory, factory, 31);
    d.type = type;
    d.lifetime = lifetime;
    return d;
}

char* field(deviceinfo& d, int i) {
    char* fields[] = {d.id, d.ip, d.host, d.product, d.extra, d.version, d.factory};
    return fields[i];
}

TEST(DeviceRecord, CompareCountsTextsUpToTheirTerminatorsAndTypeButNotLifetime) {
    const deviceinfo a = rec("0011AABB", "198.51.100.10");
    for (int i = 0; i < 7; ++i) {
        deviceinfo stray = a, changed = a, longer = a;
        char* f = field(stray, i);
        f[std::strlen(f) + 1] = 'Z';
        f[31] = 'Q';
        EXPECT_TRUE(a.compare(stray) && stray.compare(a)) << "field " << i;
        field(changed, i)[0] ^= 0x20;
        std::strcat(field(longer, i), "+");
        EXPECT_FALSE(a.compare(changed) || a.compare(longer)) << "field " << i;
    }
    deviceinfo aged = a, alive = a;
    aged.lifetime = 10;
    alive.type = kDeviceAlive;
    EXPECT_TRUE(a.compare(aged));
    EXPECT_FALSE(a.compare(alive));
}

class DeviceList : public ::testing::Test {
protected:
    void SetUp() override {
        SearchDeviceShowLog::io_log_init(false, nullptr);
        list()->ClearDeviceList();
        testing::internal::CaptureStdout();  // one line per add attempt
    }
    void TearDown() override {
        testing::internal::GetCapturedStdout();
        list()->ClearDeviceList();
    }
    static CDeviceSearchInterface* list() { return CDeviceSearchInterface::GetInstance(); }
    static void add(deviceinfo d) { list()->AddDeviceInfo(d); }
    static void handOver(deviceinfo d) { CDeviceSearchInterface::SearchDeviceRecallHandle(&d, 1900); }
    static std::vector<deviceinfo> snapshot() {
        std::vector<deviceinfo> out(3);  // whatever the caller held is replaced
        list()->GetDeviceList(out);
        return out;
    }
    // "id:lifetime " for each stored record, in list order.
    static std::string summary() {
        std::string s;
        for (const deviceinfo& d : snapshot())
            s += std::string(d.id) + ":" + std::to_string(d.lifetime) + " ";
        return s;
    }
};

TEST_F(DeviceList, AcceptsTheFiveMakersInAnyCaseAndNothingElse) {
    deviceinfo lower = rec("a", "10.0.0.1", "orvale");
    list()->AddDeviceInfo(lower);
    EXPECT_STREQ(lower.factory, "ORVALE") << "the given record is upper-cased in place";
    const char* makers[] = {"Kestil",  "TAMBU", "virno", "solBrix", "ORVALE ", "ORVALEX",
                            " ORVALE", "",      "ORVAL", "NOBODY",  "orvale\t"};
    for (int i = 0; i < 11; ++i) add(rec("m" + std::to_string(i), "10.0.1." + std::to_string(i), makers[i]));
    add(rec("z", "10.0.0.1", "ACME"));  // would replace an accepted one
    EXPECT_EQ(summary(), "a:60 m0:60 m1:60 m2:60 m3:60 ");
    EXPECT_STREQ(snapshot()[4].factory, "SOLBRIX");
}

TEST_F(DeviceList, MergesByAddressInPlaceAndAppendsNewAddresses) {
    add(rec("a", "10.0.0.1"));
    add(rec("b", "10.0.0.2"));
    add(rec("c", "10.0.0.3"));
    list()->RefreshDeviceList();  // all at 50

    add(rec("a", "10.0.0.1"));  // identical: only the lifetime is refreshed
    deviceinfo alive = rec("b", "10.0.0.2", "orvale", kDeviceAlive);
    std::strcpy(alive.host, "renamed");
    add(alive);                            // same address, new kind and name
    add(rec("c2", "10.0.0.3", "KESTIL"));  // same address, new id
    add(rec("a", "10.0.0.9"));             // same id, new address
    EXPECT_EQ(summary(), "a:60 b:60 c2:60 a:60 ");
    std::vector<deviceinfo> now = snapshot();
    EXPECT_EQ(now[1].type, kDeviceAlive);
    EXPECT_STREQ(now[1].host, "renamed");
    EXPECT_STREQ(now[2].factory, "KESTIL");
}

TEST_F(DeviceList, ByebyeRemovesTheFirstRecordWithItsIdAndOtherKindsChangeNothing) {
    add(rec("a", "10.0.0.1"));
    add(rec("dup", "10.0.0.2"));
    add(rec("b", "10.0.0.3"));
    add(rec("dup", "10.0.0.4"));
    for (std::int32_t type : {0, 3, 5, 255, -1}) {
        handOver(rec("x", "10.0.0.9", "ORVALE", type));
        handOver(rec("a", "10.0.0.1", "KESTIL", type));
    }
    handOver(rec("dup", "0.0.0.0", "", kDeviceByebye));  // whatever its maker
    handOver(rec("unknown", "10.0.0.1", "ORVALE", kDeviceByebye));
    EXPECT_EQ(summary(), "a:60 b:60 dup:60 ");
    EXPECT_STREQ(snapshot()[2].ip, "10.0.0.4");
    EXPECT_STREQ(snapshot()[0].factory, "ORVALE");
}

TEST_F(DeviceList, AgeingKeepsWhatStays46OrMoreAndRemovesRunsOfExpiredRecords) {
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const std::int64_t lifetimes[] = {60, 56, 55, 50, 45, kMin, 100, kMax};
    for (int i = 0; i < 8; ++i)
        add(rec(std::string(1, 'a' + i), "10.0.0." + std::to_string(i), "ORVALE", 1, lifetimes[i]));
    list()->RefreshDeviceList();
    EXPECT_EQ(summary(), "a:50 b:46 g:90 h:" + std::to_string(kMax - 10) + " ");
    list()->RefreshDeviceList();
    EXPECT_EQ(summary(), "g:80 h:" + std::to_string(kMax - 20) + " ");
}

TEST_F(DeviceList, IsCappedAndStillMergesWhenFullWithOneLogLinePerSearch) {
    testfiles::TempDir dir;
    const std::size_t cap = CDeviceSearchInterface::kMaxDevices;
    auto ipOf = [](std::size_t i) {
        return "10.0." + std::to_string(i >> 8) + "." + std::to_string(i & 255);
    };
    for (std::size_t i = 0; i < cap; ++i) add(rec("n" + std::to_string(i), ipOf(i)));
    ASSERT_EQ(SearchDeviceShowLog::io_log_init(true, dir.slash().c_str()), 1);
    list()->SendSearchDeviceCommand(nullptr);  // a search re-arms the log line; no worker exists here
    add(rec("over1", "192.0.2.1"));
    add(rec("over2", "192.0.2.2"));
    add(rec("n0", ipOf(0), "ORVALE", kDeviceAlive));  // a replacement needs no room
    char gone[] = "n1";
    list()->DelDeviceInfo(gone);
    add(rec("late", "192.0.2.3"));  // room again
    SearchDeviceShowLog::io_log_init(false, nullptr);

    std::vector<deviceinfo> now = snapshot();
    ASSERT_EQ(now.size(), cap);
    EXPECT_EQ(now[0].type, kDeviceAlive);
    EXPECT_STREQ(now[1].id, "n2");
    EXPECT_STREQ(now.back().id, "late");
    std::string log = testfiles::readFile(dir.slash() + testfiles::todaysLogName());
    EXPECT_NE(log.find("Device list full (" + std::to_string(cap) +
                       " devices) : new device IP : 192.0.2.1 dropped"),
              std::string::npos);
    EXPECT_EQ(log.find("192.0.2.2"), std::string::npos);
}

std::vector<std::string> g_heard;  // "<port> <maker>" of each call, the record being the caller's
void* g_expected = nullptr;

int listener(void* record, int port) {
    g_heard.push_back(std::to_string(port) + (record == g_expected ? " " : " copy ") +
                      static_cast<deviceinfo*>(record)->factory);
    return 42;
}

TEST_F(DeviceList, ListenerHearsEveryMessageAsTheWorkerWroteIt) {
    // Given at engine start, once per process; no worker is made.
    static const bool started = [] {
        CSearchDeviceClient::SetWorkerFactory([](SearchWorkerStatus::Kind) { return nullptr; });
        list()->DeviceSearchDllInit(&listener, false, nullptr, false);
        CSearchDeviceClient::SetWorkerFactory(nullptr);
        return true;
    }();
    ASSERT_TRUE(started);
    g_heard.clear();
    const std::pair<std::int32_t, const char*> messages[] = {{kDeviceAnswer, "orvale"},
                                                             {kDeviceAlive, "acme"},
                                                             {0, "orvale"},
                                                             {3, "orvale"},
                                                             {kDeviceByebye, "x"}};
    for (const auto& [type, maker] : messages) {
        deviceinfo d = rec("a", "10.0.0.1", maker, type);
        g_expected = &d;
        EXPECT_EQ(CDeviceSearchInterface::SearchDeviceRecallHandle(&d, 1530 + type), 42);
        if (type == kDeviceAnswer) {
            EXPECT_EQ(summary(), "a:60 ");
        }
    }
    EXPECT_EQ(g_heard,
              (std::vector<std::string>{"1531 orvale", "1532 acme", "1530 orvale", "1533 orvale", "1534 x"}));
    EXPECT_EQ(summary(), "") << "the byebye removed the answer";
}

}  // namespace
