// The front end's device list: maker filter, merge by address, removal by
// id, ageing, copies, the size cap and the host's listener.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "DeviceSearchInterface.h"
#include "EngineTestSupport.h"
#include "SearchDeviceClient.h"
#include "SearchDeviceThread.h"
#include "ShowLog.h"

namespace {

using enginetest::countOf;
using enginetest::readFile;
using enginetest::TempDir;

deviceinfo makeRecord(const char* id, const char* ip, const char* factory = "ORVALE",
                      std::int32_t type = kDeviceAnswer) {
    deviceinfo d;
    std::strncpy(d.id, id, 31);
    std::strncpy(d.ip, ip, 31);
    std::strcpy(d.host, "box");
    std::strcpy(d.product, "NS-100");
    std::strncpy(d.factory, factory, 31);
    d.type = type;
    return d;
}

class DeviceList : public ::testing::Test {
protected:
    void SetUp() override {
        SearchDeviceShowLog::io_log_init(false, nullptr);
        list()->ClearDeviceList();
    }
    void TearDown() override { list()->ClearDeviceList(); }

    static CDeviceSearchInterface* list() { return CDeviceSearchInterface::GetInstance(); }

    static std::vector<deviceinfo> snapshot() {
        std::vector<deviceinfo> out;
        list()->GetDeviceList(out);
        return out;
    }
    static std::vector<std::string> ips() {
        std::vector<std::string> out;
        for (const deviceinfo& d : snapshot()) out.emplace_back(d.ip);
        return out;
    }
    // Adds a copy, so the caller's record is not upper-cased behind its back.
    static void add(deviceinfo d) { list()->AddDeviceInfo(d); }
    static int handOver(deviceinfo d, int port = 1900) {
        return CDeviceSearchInterface::SearchDeviceRecallHandle(&d, port);
    }
};

TEST_F(DeviceList, SingletonIsProcessWide) {
    EXPECT_EQ(CDeviceSearchInterface::GetInstance(), CDeviceSearchInterface::GetInstance());
}

TEST_F(DeviceList, AcceptsOnlyTheFiveMakersWhateverTheirCase) {
    deviceinfo lower = makeRecord("a", "198.51.100.10", "orvale");
    list()->AddDeviceInfo(lower);
    EXPECT_STREQ(lower.factory, "ORVALE") << "the given record is upper-cased in place";

    add(makeRecord("b", "198.51.100.11", "Kestil"));
    add(makeRecord("c", "198.51.100.12", "TAMBU"));
    add(makeRecord("d", "198.51.100.13", "virno"));
    add(makeRecord("e", "198.51.100.14", "solBrix"));
    std::vector<deviceinfo> accepted = snapshot();
    ASSERT_EQ(accepted.size(), 5u);
    EXPECT_STREQ(accepted[0].factory, "ORVALE");
    EXPECT_STREQ(accepted[1].factory, "KESTIL");
    EXPECT_STREQ(accepted[4].factory, "SOLBRIX");

    for (const char* maker : {"ORVALE ", "ORVALEX", " ORVALE", "", "ORVAL", "NOBODY", "orvale\t"}) {
        add(makeRecord("z", "198.51.100.99", maker));
        add(makeRecord("z", "198.51.100.10", maker));  // would replace an accepted one
        EXPECT_EQ(snapshot().size(), 5u) << '"' << maker << '"';
    }
    EXPECT_STREQ(snapshot()[0].id, "a");
}

TEST_F(DeviceList, EveryAddAttemptPrintsTheUpperCasedMaker) {
    testing::internal::CaptureStdout();
    add(makeRecord("a", "198.51.100.10", "tambu"));
    add(makeRecord("b", "198.51.100.11", "acme-nas"));
    handOver(makeRecord("c", "198.51.100.12", "virno", kDeviceAlive));
    handOver(makeRecord("a", "198.51.100.10", "tambu", kDeviceByebye));  // removal, not an add
    handOver(makeRecord("d", "198.51.100.13", "virno", 3));               // ignored kind
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "\nNewDeviceInfo.factory = TAMBU\n"
              "\nNewDeviceInfo.factory = ACME-NAS\n"
              "\nNewDeviceInfo.factory = VIRNO\n");
}

TEST_F(DeviceList, IdenticalRepeatRefreshesOnlyTheLifetime) {
    add(makeRecord("a", "198.51.100.10"));
    add(makeRecord("b", "198.51.100.11"));
    list()->RefreshDeviceList();  // both down to 50

    add(makeRecord("a", "198.51.100.10"));

    std::vector<deviceinfo> now = snapshot();
    ASSERT_EQ(now.size(), 2u);
    EXPECT_STREQ(now[0].id, "a");
    EXPECT_EQ(now[0].lifetime, 60);
    EXPECT_EQ(now[1].lifetime, 50);
    EXPECT_TRUE(now[0].compare(makeRecord("a", "198.51.100.10")));
}

TEST_F(DeviceList, SameAddressReplacesInPlaceKeepingTheOrder) {
    add(makeRecord("a", "198.51.100.10"));
    add(makeRecord("b", "198.51.100.11"));
    add(makeRecord("c", "198.51.100.12"));
    list()->RefreshDeviceList();

    deviceinfo alive = makeRecord("b", "198.51.100.11", "orvale", kDeviceAlive);
    std::strcpy(alive.host, "renamed");
    add(alive);
    deviceinfo newId = makeRecord("c2", "198.51.100.12", "KESTIL");
    add(newId);

    std::vector<deviceinfo> now = snapshot();
    ASSERT_EQ(now.size(), 3u);
    EXPECT_EQ(ips(), (std::vector<std::string>{"198.51.100.10", "198.51.100.11", "198.51.100.12"}));
    EXPECT_EQ(now[1].type, kDeviceAlive);
    EXPECT_STREQ(now[1].host, "renamed");
    EXPECT_EQ(now[1].lifetime, 60) << "a replacement restarts the ageing";
    EXPECT_STREQ(now[2].id, "c2");
    EXPECT_STREQ(now[2].factory, "KESTIL");
    EXPECT_EQ(now[0].lifetime, 50);
}

TEST_F(DeviceList, SameIdFromANewAddressIsASecondRecord) {
    add(makeRecord("a", "198.51.100.10"));
    add(makeRecord("a", "203.0.113.10"));
    EXPECT_EQ(ips(), (std::vector<std::string>{"198.51.100.10", "203.0.113.10"}));
}

TEST_F(DeviceList, ByebyeRemovesTheFirstRecordWithThatId) {
    add(makeRecord("a", "198.51.100.10"));
    add(makeRecord("dup", "198.51.100.11"));
    add(makeRecord("b", "198.51.100.12"));
    add(makeRecord("dup", "198.51.100.13"));

    // The byebye's maker does not matter, nor does the stored one's case.
    handOver(makeRecord("dup", "0.0.0.0", "", kDeviceByebye));
    EXPECT_EQ(ips(), (std::vector<std::string>{"198.51.100.10", "198.51.100.12", "198.51.100.13"}));

    handOver(makeRecord("unknown", "198.51.100.10", "ORVALE", kDeviceByebye));
    handOver(makeRecord("", "198.51.100.10", "ORVALE", kDeviceByebye));
    EXPECT_EQ(snapshot().size(), 3u);

    char id[] = "dup";
    list()->DelDeviceInfo(id);
    EXPECT_EQ(ips(), (std::vector<std::string>{"198.51.100.10", "198.51.100.12"}));
}

TEST_F(DeviceList, OtherMessageKindsLeaveTheListAlone) {
    add(makeRecord("a", "198.51.100.10"));
    for (std::int32_t type : {0, 3, 5, 255, -1}) {
        handOver(makeRecord("b", "198.51.100.11", "ORVALE", type));
        handOver(makeRecord("a", "198.51.100.10", "KESTIL", type));
    }
    std::vector<deviceinfo> now = snapshot();
    ASSERT_EQ(now.size(), 1u);
    EXPECT_STREQ(now[0].factory, "ORVALE");
    EXPECT_EQ(now[0].type, kDeviceAnswer);

    handOver(makeRecord("b", "198.51.100.11", "tambu", kDeviceAlive));
    EXPECT_EQ(snapshot().size(), 2u);
}

TEST_F(DeviceList, AgeingKeepsFortySixAndAboveAndRemovesRunsOfExpired) {
    deviceinfo fresh = makeRecord("a", "198.51.100.10");
    deviceinfo keptAt46 = makeRecord("b", "198.51.100.11");
    keptAt46.lifetime = 56;
    deviceinfo goneAt45 = makeRecord("c", "198.51.100.12");
    goneAt45.lifetime = 55;
    add(fresh);
    add(keptAt46);
    add(goneAt45);

    list()->RefreshDeviceList();
    std::vector<deviceinfo> once = snapshot();
    ASSERT_EQ(once.size(), 2u);
    EXPECT_EQ(once[0].lifetime, 50);
    EXPECT_EQ(once[1].lifetime, 46);

    list()->RefreshDeviceList();
    EXPECT_TRUE(snapshot().empty());
    list()->RefreshDeviceList();  // an empty list is fine too
    EXPECT_TRUE(snapshot().empty());

    // Expired records next to each other, at the front and at the end.
    const std::int64_t lifetimes[] = {55, 50, 45, 60, 40, 41, 100, 0, -5};
    for (int i = 0; i < 9; ++i) {
        deviceinfo d = makeRecord("x", ("203.0.113." + std::to_string(10 + i)).c_str());
        d.lifetime = lifetimes[i];
        add(d);
    }
    list()->RefreshDeviceList();
    std::vector<deviceinfo> left = snapshot();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_STREQ(left[0].ip, "203.0.113.13");
    EXPECT_EQ(left[0].lifetime, 50);
    EXPECT_STREQ(left[1].ip, "203.0.113.16");
    EXPECT_EQ(left[1].lifetime, 90);
}

TEST_F(DeviceList, AgeingALifetimeAtTheBottomOfItsRangeRemovesIt) {
    deviceinfo d = makeRecord("a", "198.51.100.10");
    d.lifetime = std::numeric_limits<std::int64_t>::min();
    add(d);
    deviceinfo top = makeRecord("b", "198.51.100.11");
    top.lifetime = std::numeric_limits<std::int64_t>::max();
    add(top);
    list()->RefreshDeviceList();
    std::vector<deviceinfo> left = snapshot();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].lifetime, std::numeric_limits<std::int64_t>::max() - 10);
}

TEST_F(DeviceList, GetDeviceListReplacesWhatTheCallerHeld) {
    add(makeRecord("a", "198.51.100.10"));
    std::vector<deviceinfo> copy(3, makeRecord("old", "192.0.2.1"));
    list()->GetDeviceList(copy);
    ASSERT_EQ(copy.size(), 1u);
    EXPECT_STREQ(copy[0].id, "a");

    list()->ClearDeviceList();
    list()->GetDeviceList(copy);
    EXPECT_TRUE(copy.empty());
}

TEST_F(DeviceList, IsCappedAndStillMergesWhenFull) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::size_t cap = CDeviceSearchInterface::kMaxDevices;
    auto ipOf = [](std::size_t i) {
        return "10." + std::to_string(i >> 16 & 255) + "." + std::to_string(i >> 8 & 255) + "." +
               std::to_string(i & 255);
    };

    testing::internal::CaptureStdout();  // one line per add attempt
    for (std::size_t i = 0; i < cap; ++i) add(makeRecord(("n" + std::to_string(i)).c_str(), ipOf(i).c_str()));
    ASSERT_EQ(SearchDeviceShowLog::io_log_init(true, dir.slash().c_str()), 1);
    add(makeRecord("over1", "192.0.2.1"));
    add(makeRecord("over2", "192.0.2.2"));
    add(makeRecord("n0", ipOf(0).c_str(), "ORVALE", kDeviceAlive));  // replaces, needs no room
    char gone[] = "n1";
    list()->DelDeviceInfo(gone);
    add(makeRecord("late", "192.0.2.3"));  // room again
    SearchDeviceShowLog::io_log_init(false, nullptr);
    testing::internal::GetCapturedStdout();

    std::vector<deviceinfo> now = snapshot();
    ASSERT_EQ(now.size(), cap);
    EXPECT_EQ(now[0].type, kDeviceAlive);
    EXPECT_STREQ(now[1].id, "n2");
    EXPECT_STREQ(now.back().id, "late");
    for (const deviceinfo& d : now) ASSERT_NE(std::strncmp(d.id, "over", 4), 0);

    // A flood costs one log line per search; nothing here searched, so the
    // line appears only if this process had not reported a full list before.
    static bool firstOverflowInProcess = true;
    std::size_t lines = countOf(readFile(dir.slash() + enginetest::todaysLogName()), "Device list full (");
    EXPECT_EQ(lines, firstOverflowInProcess ? 1u : 0u);
    firstOverflowInProcess = false;
}

// --- The host's listener -------------------------------------------------

// Stands in for every search worker, so starting the engine opens no socket.
class InertWorker : public CSearchDeviceThread {
public:
    void InitSearchThread(const char*, int, bool) override {}
    void InitSearchThread() override {}
    void ExitSearchThread() override {}
    int SendSearchCommandToDevice(dhcppacket&) override { return 0; }
    void ClearOldDeviceInfo() override {}
};

struct ListenerCall {
    void* record;
    int port;
    std::string factory;
};
std::vector<ListenerCall> g_listenerCalls;

int recordingListener(void* record, int port) {
    g_listenerCalls.push_back({record, port, static_cast<deviceinfo*>(record)->factory});
    return 42;
}

// The listener can be given only once per process: at engine start.
void startEngineWithListenerOnce() {
    static bool started = false;
    if (started) return;
    started = true;
    static std::vector<std::unique_ptr<InertWorker>> workers;
    CSearchDeviceClient::SetAddressSources([] { return std::vector<std::string>{}; },
                                           [] { return std::vector<std::string>{}; });
    CSearchDeviceClient::SetWorkerFactory([](SearchWorkerStatus::Kind) -> CSearchDeviceThread* {
        workers.push_back(std::make_unique<InertWorker>());
        return workers.back().get();
    });
    CDeviceSearchInterface::GetInstance()->DeviceSearchDllInit(&recordingListener, false, nullptr, false);
    CSearchDeviceClient::SetWorkerFactory(nullptr);
    CSearchDeviceClient::SetAddressSources(nullptr, nullptr);
}

TEST_F(DeviceList, ListenerSeesEveryMessageAsTheWorkerWroteIt) {
    startEngineWithListenerOnce();
    g_listenerCalls.clear();

    deviceinfo answer = makeRecord("a", "198.51.100.10", "orvale", kDeviceAnswer);
    deviceinfo rejected = makeRecord("b", "198.51.100.11", "acme", kDeviceAlive);
    deviceinfo none = makeRecord("c", "198.51.100.12", "orvale", 0);
    deviceinfo three = makeRecord("d", "198.51.100.13", "orvale", 3);
    deviceinfo bye = makeRecord("a", "198.51.100.10", "orvale", kDeviceByebye);

    testing::internal::CaptureStdout();
    EXPECT_EQ(CDeviceSearchInterface::SearchDeviceRecallHandle(&answer, 67), 42);
    EXPECT_EQ(snapshot().size(), 1u);
    EXPECT_EQ(CDeviceSearchInterface::SearchDeviceRecallHandle(&rejected, 1900), 42);
    EXPECT_EQ(CDeviceSearchInterface::SearchDeviceRecallHandle(&none, 1530), 42);
    EXPECT_EQ(CDeviceSearchInterface::SearchDeviceRecallHandle(&three, 1550), 42);
    EXPECT_EQ(snapshot().size(), 1u);
    EXPECT_EQ(CDeviceSearchInterface::SearchDeviceRecallHandle(&bye, 1900), 42);
    EXPECT_TRUE(snapshot().empty());
    testing::internal::GetCapturedStdout();

    ASSERT_EQ(g_listenerCalls.size(), 5u);
    const void* expectedRecords[] = {&answer, &rejected, &none, &three, &bye};
    const int expectedPorts[] = {67, 1900, 1530, 1550, 1900};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(g_listenerCalls[i].record, expectedRecords[i]) << i;
        EXPECT_EQ(g_listenerCalls[i].port, expectedPorts[i]) << i;
    }
    EXPECT_EQ(g_listenerCalls[0].factory, "orvale") << "the listener sees the maker as written";
    EXPECT_STREQ(answer.factory, "orvale") << "the worker's record is left untouched";
}

}  // namespace
