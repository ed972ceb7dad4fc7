// The search client driven through the C entry points, with fake workers and
// fake address sources: no socket is opened.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "SearchDeviceHandle/HostNameLookup.h"
#include "SearchDeviceHandle/SearchDeviceClient.h"
#include "SearchDeviceThread/SearchDeviceThread.h"
#include "ShowLog/ShowLog.h"
#include "TestFiles.h"
#include "nasscout/SearchDeviceOpt.h"

using ::testing::ElementsAre;
using Kind = SearchWorkerStatus::Kind;

namespace {

std::string g_journal;  // "<worker><call> " for every call any fake receives

// Writes what it was given as "<B|M|C> <ip|-> <port>[ retry]".
struct FakeWorker : CSearchDeviceThread {
    FakeWorker(int index, Kind kind, bool fails) : index(index), kind(kind), fails(fails) {}
    void InitSearchThread(const char* ip, int port, bool retry) override {
        bStarted = !fails;
        ++starts;
        given = std::string(1, "BMC"[static_cast<int>(kind)]) + " " + (ip ? ip : "-") + " " + std::to_string(port) +
                (retry ? " retry" : "");
    }
    void ExitSearchThread() override {
        SearchDeviceShowLog::io_printf("fake %d exit", index);  // must come before the log's end
        g_journal += std::to_string(index) + "exit ";
    }
    int SendSearchCommandToDevice(dhcppacket& packet) override {
        sent.push_back(packet);
        g_journal += std::to_string(index) + "send ";
        return 0;
    }
    void ClearOldDeviceInfo() override { g_journal += std::to_string(index) + "clear "; }
    void Share() { bShared = true; }
    int index;
    Kind kind;
    bool fails;
    int starts = 0;
    std::string given;
    std::vector<dhcppacket> sent;
};

class SearchClient : public ::testing::Test {
protected:
    void SetUp() override {
        CSearchDeviceClient::ResetForTesting();
        g_journal.clear();
        CSearchDeviceClient::SetWorkerFactory([this](Kind kind) -> CSearchDeviceThread* {
            if (kind == Kind::Command && commandCreationFails) throw std::runtime_error("Too many open files");
            workers.push_back(std::make_unique<FakeWorker>(workers.size(), kind, startsFail));
            return workers.back().get();
        });
        CSearchDeviceClient::SetAddressSources(
            [this] {
                if (!resolverError.empty()) throw std::runtime_error(resolverError);
                return resolved;
            },
            [this] { return interfaces; });
    }
    void TearDown() override {
        SearchDeviceShowLog::io_log_init(false, nullptr);
        CSearchDeviceClient::ResetForTesting();
        CSearchDeviceClient::SetWorkerFactory(nullptr);
        CSearchDeviceClient::SetAddressSources(nullptr, nullptr);
    }
    void Start(bool multi) { search_dll_init([](void*, int) { return 0; }, true, logDir.slash().c_str(), multi); }
    std::vector<std::string> Given() const {
        std::vector<std::string> out;
        for (const auto& w : workers) out.push_back(w->given);
        return out;
    }
    // The log's messages that start with prefix, without their time stamps.
    std::vector<std::string> Log(const std::string& prefix = "") const {
        std::vector<std::string> lines;
        std::istringstream in(testfiles::readFile(logDir.slash() + testfiles::todaysLogName()));
        for (std::string line; std::getline(in, line);)
            if (line.rfind(prefix, 0) == 0) lines.push_back(line.substr(0, std::min(line.rfind("*["), line.size() - 1)));
        return lines;
    }

    testfiles::TempDir logDir;
    std::vector<std::unique_ptr<FakeWorker>> workers;
    std::vector<std::string> resolved{"192.168.1.5", "10.0.0.7"}, interfaces;
    std::string resolverError;
    bool commandCreationFails = false;
    bool startsFail = false;
};

// Addresses: resolved ones, then those of interfaces that are up (the source
// lists only those), IPv4 only, no loopback from interfaces, each once.
TEST_F(SearchClient, MultiAddressModeGivesEveryNewLocalAddressACommandWorkerOnTheNextPort) {
    resolved = {"127.0.1.1", "198.51.100.1", "fe80::1", "not-an-address"};
    interfaces = {"198.51.100.1", "127.0.0.1", "203.0.113.1", "::1", "203.0.113.1"};
    Start(true);
    EXPECT_THAT(Given(), ElementsAre("B - 67", "M - 1900", "C 127.0.1.1 1530 retry", "C 198.51.100.1 1550 retry",
                                     "C 203.0.113.1 1570 retry"));
    EXPECT_THAT(Log(), ElementsAre("------Start Log System-------", "Get Current Local IP Info ",
                                   "Get Current Local IP, IP = 127.0.1.1  ", "Get Current Local IP, IP = 198.51.100.1  ",
                                   "Get Current Local IP, IP = 203.0.113.1  "));
    resolved = {"198.51.100.1", "172.16.0.2", "172.16.0.2"};  // two gone, one new twice
    interfaces.clear();
    SendMessageToDevice(nullptr);
    ASSERT_EQ(workers.size(), 6u);
    EXPECT_EQ(workers[5]->given, "C 172.16.0.2 1590 retry");
    EXPECT_EQ(g_journal, "0clear 0send 1clear 1send 2clear 2send 3clear 3send 4clear 4send 5clear 5send ");
    search_dll_exit();
    EXPECT_EQ(g_journal.substr(g_journal.find("0exit")), "0exit 1exit 2exit 3exit 4exit 5exit ");
    EXPECT_EQ(Log().back(), "------Exit Log System-------") << "the workers stop before the log closes";
}

TEST_F(SearchClient, LookupAndCreationFailuresAreLoggedAndRetriedAtTheNextSearch) {
    resolverError = "Host not found (authoritative)";
    commandCreationFails = true;
    Start(true);
    SendMessageToDevice(nullptr);
    EXPECT_EQ(g_journal, "0clear 0send 1clear 1send ");
    EXPECT_EQ(Log("Add To Mulitcast Group Error : Host not found (authoritative)   ").size(), 2u);
    resolverError.clear();
    SendMessageToDevice(nullptr);
    EXPECT_EQ(Log("Create Search Device Worker Error").size(), 2u);
    commandCreationFails = false;
    CSearchDeviceClient::SetAddressSources([] { return std::vector<std::string>{"10.1.1.1"}; },
                                           []() -> std::vector<std::string> { throw std::runtime_error("no ifaddrs"); });
    SendMessageToDevice(nullptr);
    EXPECT_EQ(workers.back()->given, "C 10.1.1.1 1530 retry") << "failed creations take no port";
    EXPECT_EQ(Log("Add To Mulitcast Group Error").back(), "Add To Mulitcast Group Error : no ifaddrs   ");
}

// Single-address mode: two workers, the multicast one may move on; no address lookup.
TEST_F(SearchClient, DefaultPacketAndACallersOwnPacketReachEveryWorkerUnchanged) {
    EXPECT_EQ(SendMessageToDevice(nullptr), 0);
    EXPECT_TRUE(g_journal.empty()) << "nothing before the start";
    Start(false);
    EXPECT_THAT(Given(), ElementsAre("B - 67", "M - 1900 retry"));
    EXPECT_TRUE(Log("Get Current Local IP").empty());
    // Only a port that another program holds too is reported as shared.
    workers[1]->Share();
    std::vector<bool> shared;
    for (const SearchWorkerStatus& s : CSearchDeviceClient::GetWorkerStatus()) shared.push_back(s.started && s.shared);
    EXPECT_THAT(shared, ElementsAre(false, true));
    dhcppacket own;
    std::memset(&own, 0x5A, sizeof own);
    const dhcppacket copy = own;
    EXPECT_EQ(SendMessageToDevice(nullptr) + SendMessageToDevice(&own), 0);
    const unsigned char request[148] = {0x0B, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    for (const auto& w : workers) {
        ASSERT_EQ(w->sent.size(), 2u);
        EXPECT_EQ(std::memcmp(&w->sent[0], request, sizeof request), 0) << w->index;
        EXPECT_EQ(std::memcmp(&w->sent[1], &copy, sizeof copy), 0) << w->index;
    }
}

// Where the search workers did not start, a sweep's own workers come from the
// same factory and join the status in creation order; a failed one is started
// again, not made anew. None of the fakes has a socket: nothing is sent.
TEST_F(SearchClient, ASweepMakesItsStandInWorkersThroughTheFactory) {
    startsFail = true;
    Start(false);
    ASSERT_EQ(search_set_targets("198.51.100.7", 100000, nullptr, 0), 0);
    for (int sweep = 0; sweep < 2; ++sweep) {
        ASSERT_EQ(search_sweep_targets(), 0);
        ASSERT_EQ(search_sweep_wait(5000), 1);
    }
    EXPECT_THAT(Given(), ElementsAre("B - 67", "M - 1900 retry", "B - 0", "C - 0"));
    EXPECT_EQ(workers[2]->starts + workers[3]->starts, 4);
    std::vector<std::pair<Kind, bool>> listed;
    for (const SearchWorkerStatus& s : CSearchDeviceClient::GetWorkerStatus())
        listed.emplace_back(s.kind, s.forSweeps);
    EXPECT_THAT(listed, ElementsAre(std::pair(Kind::Broadcast, false), std::pair(Kind::Multicast, false),
                                    std::pair(Kind::Broadcast, true), std::pair(Kind::Command, true)));
    sweepprogress p;
    search_sweep_progress(&p);
    EXPECT_EQ(p.failed, 2u) << "no socket to send from";
}

// A lookup that hangs past its budget is reported once, not at every search.
TEST(SearchClientLookup, AHangingLookupIsReportedOnce) {
    using namespace std::chrono_literals;
    HostNameLookup lookup(1ms, 20ms);
    auto gate = std::make_shared<std::promise<void>>();
    const auto hangs = [opened = gate->get_future().share()] {
        opened.wait();
        return std::vector<std::string>{};
    };
    EXPECT_FALSE(lookup.Take(hangs).answered);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(lookup.Take(hangs).error, "no answer to the host name lookup within 0.02 s");
    for (int search = 0; search < 2; ++search) EXPECT_FALSE(lookup.Take(hangs).answered);
    gate->set_value();
}

}  // namespace
