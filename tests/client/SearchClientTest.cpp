// The search client driven through its public operations and the C entry
// points, with fake workers and fake address sources: no socket is opened.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "SearchDeviceClient.h"
#include "SearchDeviceOpt.h"
#include "SearchDeviceThread.h"
#include "ShowLog.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Kind = SearchWorkerStatus::Kind;

namespace {

// Every call any fake receives, in the order they happen.
struct Call {
    int worker;  // creation index
    std::string what;
};

struct StartOutcome {
    bool ok = true;
    int portShift = 0;  // as if the worker had retried on later ports
    std::string error;
};

class FakeWorker : public CSearchDeviceThread {
public:
    FakeWorker(int index, Kind kind, StartOutcome outcome, std::vector<Call>& journal)
        : index(index), kind(kind), outcome(std::move(outcome)), journal(journal) {}

    void InitSearchThread(const char* ip, int port, bool retry) override {
        address = ip ? ip : "(null)";
        givenPort = port;
        givenRetry = retry;
        nPort = port + outcome.portShift;
        bStarted = outcome.ok;
        strStartError = outcome.error;
        journal.push_back({index, "init"});
    }
    void InitSearchThread() override {}
    void ExitSearchThread() override {
        SearchDeviceShowLog::io_printf("fake %d exit", index);
        journal.push_back({index, "exit"});
    }
    int SendSearchCommandToDevice(dhcppacket& packet) override {
        sent.push_back(packet);
        journal.push_back({index, "send"});
        return 0;
    }
    void ClearOldDeviceInfo() override { journal.push_back({index, "clear"}); }

    int index;
    Kind kind;
    StartOutcome outcome;
    std::vector<Call>& journal;
    std::string address;
    int givenPort = 0;
    bool givenRetry = false;
    std::vector<dhcppacket> sent;
};

int NoteRecord(void*, int) { return 0; }

class SearchClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        CSearchDeviceClient::ResetForTesting();
        char pattern[] = "/tmp/client-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        logDir = pattern;
        CSearchDeviceClient::SetWorkerFactory([this](Kind kind) -> CSearchDeviceThread* {
            if (kind == Kind::Command && commandCreationFails)
                throw std::runtime_error("Too many open files");
            StartOutcome outcome = outcomes.count(workers.size()) ? outcomes[workers.size()] : StartOutcome{};
            workers.push_back(std::make_unique<FakeWorker>(workers.size(), kind, outcome, journal));
            return workers.back().get();
        });
        CSearchDeviceClient::SetAddressSources(
            [this] {
                ++resolverCalls;
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
        std::filesystem::remove_all(logDir);
    }

    void Start(bool multi) { search_dll_init(NoteRecord, true, (logDir + "/").c_str(), multi); }

    // The log's messages without their time-stamp suffix.
    std::vector<std::string> LogMessages() const {
        std::vector<std::string> lines;
        for (const auto& entry : std::filesystem::directory_iterator(logDir)) {
            std::ifstream in(entry.path(), std::ios::binary);
            std::stringstream all;
            all << in.rdbuf();
            std::string text = all.str();
            for (std::size_t pos = 0, end; (end = text.find("\r\n", pos)) != std::string::npos;
                 pos = end + 2) {
                std::string line = text.substr(pos, end - pos);
                if (auto star = line.rfind("*["); star != std::string::npos) line.erase(star);
                lines.push_back(line);
            }
        }
        return lines;
    }
    std::vector<std::string> LogMatching(const std::string& prefix) const {
        std::vector<std::string> hits;
        for (const std::string& line : LogMessages())
            if (line.rfind(prefix, 0) == 0) hits.push_back(line);
        return hits;
    }
    std::vector<std::string> JournalOf(const std::string& what) const {
        std::vector<std::string> out;
        for (const Call& c : journal)
            if (c.what == what) out.push_back(std::to_string(c.worker));
        return out;
    }
    void ExpectWorker(std::size_t i, Kind kind, const std::string& address, int port, bool retry) {
        ASSERT_LT(i, workers.size());
        EXPECT_EQ(workers[i]->kind, kind) << "worker " << i;
        EXPECT_EQ(workers[i]->address, address) << "worker " << i;
        EXPECT_EQ(workers[i]->givenPort, port) << "worker " << i;
        EXPECT_EQ(workers[i]->givenRetry, retry) << "worker " << i;
        EXPECT_EQ(CSearchDeviceClient::m_vSearchDeviceThread[i].pSearchThread, workers[i].get());
        EXPECT_EQ(CSearchDeviceClient::m_vSearchDeviceThread[i].localIP, address == "(null)" ? "" : address);
    }

    std::string logDir;
    std::vector<std::unique_ptr<FakeWorker>> workers;
    std::map<std::size_t, StartOutcome> outcomes;
    std::vector<Call> journal;
    std::vector<std::string> resolved{"192.168.1.5", "10.0.0.7"};
    std::vector<std::string> interfaces;
    std::string resolverError;
    int resolverCalls = 0;
    bool commandCreationFails = false;
};

TEST_F(SearchClientTest, MultiAddressStartCreatesWorkersInOrderWithPortSequence) {
    Start(true);
    ASSERT_EQ(workers.size(), 4u);
    ExpectWorker(0, Kind::Broadcast, "(null)", 67, false);
    ExpectWorker(1, Kind::Multicast, "(null)", 1900, false);
    ExpectWorker(2, Kind::Command, "192.168.1.5", 1530, true);
    ExpectWorker(3, Kind::Command, "10.0.0.7", 1550, true);
    EXPECT_EQ(CSearchDeviceClient::m_nPort, 1570);
    // The log is started before the client looks for addresses.
    auto log = LogMessages();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0], "------Start Log System-------");
    EXPECT_EQ(log[1], "Get Current Local IP Info ");
    EXPECT_EQ(log[2], "Get Current Local IP, IP = 192.168.1.5  ");
    EXPECT_EQ(log[3], "Get Current Local IP, IP = 10.0.0.7  ");
}

TEST_F(SearchClientTest, SearchesAddWorkersOnlyForNewAddressesAndNeverRemoveAny) {
    Start(true);
    SendMessageToDevice(nullptr);
    EXPECT_EQ(workers.size(), 4u);

    resolved = {"10.0.0.7", "172.16.0.2", "172.16.0.2"};  // 192.168.1.5 vanished, one repeated
    SendMessageToDevice(nullptr);
    ASSERT_EQ(workers.size(), 5u);
    ExpectWorker(4, Kind::Command, "172.16.0.2", 1570, true);
    EXPECT_EQ(CSearchDeviceClient::m_vSearchDeviceThread.size(), 5u);
    EXPECT_EQ(CSearchDeviceClient::m_nPort, 1590);
    // Each search clears then sends, worker by worker, in creation order.
    std::vector<std::string> lastSearch;
    for (std::size_t i = journal.size() - 10; i < journal.size(); ++i)
        lastSearch.push_back(std::to_string(journal[i].worker) + journal[i].what);
    EXPECT_THAT(lastSearch, ElementsAre("0clear", "0send", "1clear", "1send", "2clear", "2send", "3clear",
                                        "3send", "4clear", "4send"));
}

TEST_F(SearchClientTest, SingleAddressModeKeepsTwoWorkersAndLetsMulticastRetry) {
    Start(false);
    SendMessageToDevice(nullptr);
    SendMessageToDevice(nullptr);
    ASSERT_EQ(workers.size(), 2u);
    ExpectWorker(0, Kind::Broadcast, "(null)", 67, false);
    ExpectWorker(1, Kind::Multicast, "(null)", 1900, true);
    EXPECT_EQ(resolverCalls, 0);
    EXPECT_EQ(JournalOf("send"), (std::vector<std::string>{"0", "1", "0", "1"}));
}

TEST_F(SearchClientTest, FailedLookupIsLoggedOnceAndRetriedAtTheNextSearch) {
    resolverError = "Host not found (authoritative)";
    Start(true);
    EXPECT_EQ(workers.size(), 2u);
    EXPECT_THAT(LogMatching("Add To Mulitcast Group Error"),
                ElementsAre("Add To Mulitcast Group Error : Host not found (authoritative)   "));
    SendMessageToDevice(nullptr);
    EXPECT_EQ(JournalOf("send").size(), 2u);  // still goes out on the two any-address workers

    resolverError.clear();
    SendMessageToDevice(nullptr);
    ASSERT_EQ(workers.size(), 4u);
    ExpectWorker(2, Kind::Command, "192.168.1.5", 1530, true);
}

TEST_F(SearchClientTest, NonIPv4ResolutionGivesNoWorkersAndNoErrorLine) {
    resolved = {"fe80::1", "::1", "not-an-address"};
    Start(true);
    EXPECT_EQ(workers.size(), 2u);
    EXPECT_THAT(LogMatching("Add To Mulitcast Group Error"), IsEmpty());
    EXPECT_THAT(LogMatching("Get Current Local IP, IP"), IsEmpty());
}

TEST_F(SearchClientTest, InterfaceAddressesFollowResolvedOnesWithoutLoopbackOrDuplicates) {
    SearchDeviceShowLog::io_log_init(true, (logDir + "/").c_str());
    resolved = {"127.0.1.1", "198.51.100.1"};
    interfaces = {"198.51.100.1", "127.0.0.1", "203.0.113.1", "fe80::2", "203.0.113.1"};
    std::vector<std::string> ips{"stale"};
    CSearchDeviceClient::GetCurrentDeviceLocalIP(ips);
    // The resolver's loopback is kept as described; interfaces add no loopback.
    EXPECT_THAT(ips, ElementsAre("127.0.1.1", "198.51.100.1", "203.0.113.1"));
    EXPECT_THAT(
        LogMatching("Get Current Local IP"),
        ElementsAre("Get Current Local IP Info ", "Get Current Local IP, IP = 127.0.1.1  ",
                    "Get Current Local IP, IP = 198.51.100.1  ", "Get Current Local IP, IP = 203.0.113.1  "));
}

TEST_F(SearchClientTest, FailingInterfaceListKeepsResolvedAddresses) {
    SearchDeviceShowLog::io_log_init(true, (logDir + "/").c_str());
    CSearchDeviceClient::SetAddressSources(
        [] { return std::vector<std::string>{"10.1.1.1"}; },
        []() -> std::vector<std::string> { throw std::runtime_error("no ifaddrs"); });
    std::vector<std::string> ips;
    CSearchDeviceClient::GetCurrentDeviceLocalIP(ips);
    EXPECT_THAT(ips, ElementsAre("10.1.1.1"));
    EXPECT_THAT(LogMatching("Add To Mulitcast Group Error"),
                ElementsAre("Add To Mulitcast Group Error : no ifaddrs   "));
}

TEST_F(SearchClientTest, SearchBeforeStartSendsNothing) {
    EXPECT_EQ(SendMessageToDevice(nullptr), 0);
    EXPECT_TRUE(workers.empty());
    EXPECT_TRUE(journal.empty());
    EXPECT_EQ(resolverCalls, 0);
}

TEST_F(SearchClientTest, StopAsksEveryWorkerThenLaterSearchesStillReachThem) {
    Start(true);
    search_dll_exit();
    EXPECT_EQ(JournalOf("exit"), (std::vector<std::string>{"0", "1", "2", "3"}));
    // Workers stop before the log closes.
    auto log = LogMessages();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "------Exit Log System-------");
    EXPECT_EQ(log[log.size() - 2], "fake 3 exit");

    journal.clear();
    SendMessageToDevice(nullptr);
    EXPECT_EQ(JournalOf("clear"), (std::vector<std::string>{"0", "1", "2", "3"}));
    EXPECT_EQ(JournalOf("send"), (std::vector<std::string>{"0", "1", "2", "3"}));
    EXPECT_EQ(CSearchDeviceClient::m_nPort, 1570);
}

TEST_F(SearchClientTest, StatusSnapshotReportsEachWorkersStartOutcome) {
    outcomes[0] = {false, 0, "Permission denied"};
    outcomes[1] = {true, 0, ""};
    outcomes[3] = {true, 1, ""};
    outcomes[2] = {false, 20, "Address already in use"};
    Start(true);
    auto status = CSearchDeviceClient::GetWorkerStatus();
    ASSERT_EQ(status.size(), 4u);
    EXPECT_EQ(status[0].kind, Kind::Broadcast);
    EXPECT_EQ(status[0].port, 67);
    EXPECT_FALSE(status[0].started);
    EXPECT_EQ(status[0].error, "Permission denied");
    EXPECT_EQ(status[1].kind, Kind::Multicast);
    EXPECT_TRUE(status[1].started);
    EXPECT_EQ(status[1].error, "");
    EXPECT_EQ(status[2].kind, Kind::Command);
    EXPECT_EQ(status[2].localIP, "192.168.1.5");
    EXPECT_EQ(status[2].port, 1550);
    EXPECT_FALSE(status[2].started);
    EXPECT_EQ(status[2].error, "Address already in use");
    EXPECT_EQ(status[3].localIP, "10.0.0.7");
    EXPECT_EQ(status[3].port, 1551);
    EXPECT_TRUE(status[3].started);
}

TEST_F(SearchClientTest, WorkerThatCannotBeMadeIsLoggedAndTriedAgainLater) {
    commandCreationFails = true;
    Start(true);
    EXPECT_EQ(workers.size(), 2u);
    EXPECT_EQ(LogMatching("Create Search Device Worker Error").size(), 2u);
    EXPECT_EQ(CSearchDeviceClient::m_nPort, 1530);
    commandCreationFails = false;
    SendMessageToDevice(nullptr);
    ASSERT_EQ(workers.size(), 4u);
    ExpectWorker(2, Kind::Command, "192.168.1.5", 1530, true);
}

TEST_F(SearchClientTest, DefaultSearchPacketAndCallersPacketReachEveryWorker) {
    Start(true);
    EXPECT_EQ(SendMessageToDevice(nullptr), 0);
    unsigned char expected[148] = {0x0B, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    for (const auto& w : workers) {
        ASSERT_EQ(w->sent.size(), 1u);
        EXPECT_EQ(std::memcmp(&w->sent[0], expected, sizeof expected), 0) << "worker " << w->index;
    }

    dhcppacket own;
    for (std::size_t i = 0; i < sizeof own; ++i)
        reinterpret_cast<unsigned char*>(&own)[i] = static_cast<unsigned char>(i * 7 + 3);
    dhcppacket copy = own;
    EXPECT_EQ(SendMessageToDevice(&own), 0);
    for (const auto& w : workers) EXPECT_EQ(std::memcmp(&w->sent[1], &copy, sizeof copy), 0);
    EXPECT_THAT(LogMatching("SendMessage"),
                ElementsAre("SendMessage : pdhcp is NULL ", "SendMessage : pdhcp is not NULL "));
}

}  // namespace
