// Search workers on real sockets, inside the lab's namespaces only: the test
// process is the host, tests/support/LanPeer.h plays the devices.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "LanPeer.h"
#include "SearchDeviceBroadcastThread.h"
#include "SearchDeviceMultiCommandThead.h"
#include "SearchDeviceMulticastThread.h"
#include "WorkerTestSupport.h"

using lab::UdpSocket;
using workertest::Eventually;
using workertest::HandedOver;
using workertest::LogTail;

namespace {

template <typename Base>
class LabWorker : public Base {
public:
    bool Running() { return this->ReceiveThreadRunning(); }
};
using Broadcast = LabWorker<CSearchDeviceBroadcastThread>;
using Multicast = LabWorker<CSearchDeviceMulticastThread>;
using Command = LabWorker<CSearchDeviceMultiCommandThead>;

// Workers are never deleted: their detached threads hold plain pointers.
template <typename W>
W* Start(const char* ip, int port, bool retry) {
    static auto* kept = new std::vector<W*>;
    kept->push_back(new W);
    kept->back()->InitSearchThread(ip, port, retry);
    return kept->back();
}

template <typename W>
void StopAndWait(W* worker) {
    worker->ExitSearchThread();
    ASSERT_TRUE(Eventually([&] { return !worker->Running(); })) << "receive thread did not end";
}

std::string SsdpAnswer(const std::string& uuid) {
    return "HTTP/1.1 200 OK\r\nLOCATION: http://198.51.100.10:5000/desc.xml\r\nSERVER: Linux RUZO/2.0,b1, "
           "acme/" +
           uuid + "/box\r\nUSN: uuid:" + uuid + "::urn:schemas-upnp-org:device:LarkvatDevice:1\r\n\r\n";
}

std::string SsdpNotify(const std::string& uuid, const char* nts) {
    return "NOTIFY * HTTP/1.1\r\nNT: upnp:rootdevice\r\nNTS: " + std::string(nts) +
           "\r\nSERVER: x RUZO/2.0,b1, acme/" + uuid + "/box\r\nUSN: uuid:" + uuid +
           "::upnp:rootdevice\r\n\r\n";
}

bool Has(const std::vector<HandedOver>& records, const char* id, int port, int type) {
    return std::any_of(records.begin(), records.end(), [&](const HandedOver& r) {
        return std::strcmp(r.info.id, id) == 0 && r.port == port && r.info.type == type;
    });
}

bool Received(const char* id, int port, int type) {
    return Eventually([&] { return Has(workertest::Records(), id, port, type); });
}

dhcppacket unused{};

class WorkerLab : public ::testing::Test {
protected:
    void SetUp() override { workertest::StartRecording(); }
};

TEST_F(WorkerLab, BroadcastPacketGoesOutByteForByteAndTheAnswerComesBack) {
    UdpSocket listener = UdpSocket::BindInLan("0.0.0.0", 68);
    UdpSocket device = UdpSocket::BindInLan(lab::kDeviceIp2, 0);
    LogTail log;
    auto* worker = Start<Broadcast>(nullptr, 67, false);
    ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();
    EXPECT_TRUE(log.Has("SendThread 67 : Init Search Device Work Thread Value, strIP : , nPort : 67  "));

    dhcppacket packet;
    auto* raw = reinterpret_cast<unsigned char*>(&packet);
    for (std::size_t i = 0; i < sizeof packet; ++i) raw[i] = static_cast<unsigned char>(i * 7 + 1);
    worker->SendSearchCommandToDevice(packet);
    auto got = listener.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, std::string(reinterpret_cast<char*>(raw), sizeof packet));
    EXPECT_EQ(got->fromIp, lab::kHostIp);
    EXPECT_EQ(got->fromPort, 67);

    std::string answer(148, '\0');
    answer[0] = 12;
    answer[1] = 2;
    answer.replace(20, 17, "id=LAB1&vendor=ac");
    device.SendTo(lab::kHostIp, 67, answer);
    ASSERT_TRUE(Received("LAB1", 67, 2));
    EXPECT_STREQ(workertest::Records().back().info.ip, lab::kDeviceIp2);

    StopAndWait(worker);
    worker->SendSearchCommandToDevice(packet);
    EXPECT_TRUE(log.Has("SendThread 67 : Exit Search Device Tread , bExitSock : 1  "));
    EXPECT_TRUE(log.Has("SendThread 67 : Send Broadcast Search Error : send_to: Bad file descriptor   "));
}

TEST_F(WorkerLab, SearchAnswersAndAnnouncementsReachTheRightWorkers) {
    UdpSocket member = UdpSocket::BindInLan("0.0.0.0", 1900);
    member.JoinGroup(lab::kGroup);
    UdpSocket announcer = UdpSocket::BindInLan(lab::kDeviceIp2, 0);
    announcer.NoLoopback();
    LogTail log;
    auto* group = Start<Multicast>(nullptr, 1900, false);
    auto* command = Start<Command>(lab::kHostIp, 1530, true);
    ASSERT_TRUE(group->StartSucceeded() && command->StartSucceeded()) << group->LastStartError();
    EXPECT_TRUE(log.Has("SendThread 1900 : Add To Multicast Group Info "));

    group->SendSearchCommandToDevice(unused);
    command->SendSearchCommandToDevice(unused);
    std::set<int> fromPorts;
    for (int i = 0; i < 2; ++i) {
        auto got = member.Receive();
        ASSERT_TRUE(got) << "M-SEARCH " << i;
        EXPECT_EQ(got->bytes,
                  "M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nST: "
                  "urn:schemas-upnp-org:device:LarkvatDevice:1\r\nMAN: \"ssdp:discover\"\r\nMX: 3\r\n\r\n");
        fromPorts.insert(got->fromPort);
    }
    EXPECT_EQ(fromPorts, (std::set<int>{1530, 1900}));

    member.SendTo(lab::kHostIp, 1900, SsdpAnswer("group-answer"));
    member.SendTo(lab::kHostIp, 1530, SsdpAnswer("command-answer"));
    announcer.SendTo(lab::kGroup, 1900, SsdpNotify("announced", "ssdp:alive"));
    announcer.SendTo(lab::kGroup, 1900, SsdpNotify("announced", "ssdp:byebye"));
    announcer.SendTo(lab::kHostIp, 1530, SsdpAnswer("after-announcements"));
    ASSERT_TRUE(Received("group-answer", 1900, 1) && Received("command-answer", 1530, 1) &&
                Received("announced", 1900, 2) && Received("announced", 1900, 4) &&
                Received("after-announcements", 1530, 1));
    const auto records = workertest::Records();
    EXPECT_FALSE(Has(records, "announced", 1530, 2) || Has(records, "announced", 1530, 4));
    for (const HandedOver& r : records)
        EXPECT_STRNE(r.info.ip, lab::kHostIp) << "the host's own M-SEARCH is dropped";

    StopAndWait(group);
    StopAndWait(command);
    EXPECT_TRUE(log.Has("SendThread 1900 : Leave To Multicast Group Info "));
    EXPECT_EQ(log.Count("SendThread 1530 : Add To") + log.Count("SendThread 1530 : Leave"), 0u);
    EXPECT_TRUE(log.Has("SendThread 1530 : Exit Search Device Tread , bExitSock : 1  "));
}

TEST_F(WorkerLab, ATakenPortMovesTheWorkerOnAtMostTwentyTimesAndOnlyWithRetry) {
    UdpSocket blocker = UdpSocket::Bind("0.0.0.0", 1900);
    LogTail log;
    auto* moved = Start<Multicast>(nullptr, 1900, true);
    ASSERT_TRUE(moved->StartSucceeded()) << moved->LastStartError();
    EXPECT_EQ(moved->Port(), 1901);
    EXPECT_TRUE(log.Has(
        "SendThread 1900 : Create Search Device Work Thread Error : bind: Address already in use   "));
    EXPECT_TRUE(
        log.Has("SendThread 1901 : Test Create Search Device Work Thread, testCount = 1, port = 1901  "));
    EXPECT_TRUE(Eventually([&] { return log.Has("SendThread 1901 : Begin Search Device Work Thread  "); }));

    std::vector<UdpSocket> blockers;
    for (int port = 1902; port <= 1920; ++port) blockers.push_back(UdpSocket::Bind("0.0.0.0", port));
    LogTail full;
    auto* stuck = Start<Multicast>(nullptr, 1900, true);
    EXPECT_FALSE(stuck->StartSucceeded());
    EXPECT_EQ(stuck->Port(), 1920);
    EXPECT_EQ(full.Count("Test Create Search Device Work Thread, testCount = "), 20u);
    EXPECT_EQ(full.Count("Create Search Device Work Thread Error : bind: Address already in use"), 21u);
    EXPECT_EQ(full.Count("Begin Search Device Work Thread"), 0u);
    stuck->SendSearchCommandToDevice(unused);
    stuck->ExitSearchThread();
    EXPECT_TRUE(full.Has("SendThread 1920 : Send Search Device Error : send_to: Bad file descriptor   "));
    EXPECT_TRUE(full.Has("SendThread 1920 : Exit Search Device Tread , bExitSock : 1  "));

    LogTail once;
    auto* single = Start<Multicast>(nullptr, 1900, false);
    EXPECT_FALSE(single->StartSucceeded());
    EXPECT_EQ(single->Port(), 1900);
    EXPECT_EQ(once.Count("Create Search Device Work Thread Error"), 1u);
    EXPECT_EQ(once.Count("Handle Create Search Device Work Thread Error"), 0u);
    StopAndWait(moved);
}

TEST_F(WorkerLab, CommandWorkerOnATakenPortAnswersOnTheNextUnderItsNewNumber) {
    UdpSocket blocker = UdpSocket::Bind(lab::kHostIp, 1530);
    UdpSocket device = UdpSocket::BindInLan(lab::kDeviceIp, 0);
    LogTail log;
    auto* worker = Start<Command>(lab::kHostIp, 1530, true);
    ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();
    EXPECT_EQ(worker->Port(), 1531);
    EXPECT_TRUE(log.Has("SendThread 1531 : Create Search Device Work Thread   "));
    device.SendTo(lab::kHostIp, 1531, SsdpAnswer("moved"));
    ASSERT_TRUE(Received("moved", 1531, 1));
    StopAndWait(worker);

    LogTail bad;
    auto* unparsable = Start<Command>("198.51.100.x", 1700, true);
    EXPECT_FALSE(unparsable->StartSucceeded());
    EXPECT_EQ(unparsable->Port(), 1720);
    EXPECT_EQ(bad.Count("Test Create Search Device Work Thread, testCount = "), 20u);
}

// Sees what the receive loop hands to the protocol.
class RecordingWorker : public Command {
public:
    void HandleReceiveInfo(char* data, int length, std::string& senderIP) override {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(std::string(data, static_cast<std::size_t>(length) + 1) + "@" + senderIP);
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    std::mutex mutex;
    std::vector<std::string> calls;
};

TEST_F(WorkerLab, ReceiveLoopCutsLongDatagramsAndSkipsEmptyOnes) {
    UdpSocket device = UdpSocket::BindInLan(lab::kDeviceIp2, 0);
    LogTail log;
    auto* worker = Start<RecordingWorker>(lab::kHostIp, 1600, false);
    ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();
    std::string big(1500, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('A' + i % 26);
    for (const std::string& datagram : {std::string(), big, std::string("hello")})
        device.SendTo(lab::kHostIp, 1600, datagram);
    ASSERT_TRUE(Eventually([&] { return worker->Calls().size() >= 2; }));
    // Each followed by a zero byte; the empty datagram is not handed on.
    EXPECT_EQ(worker->Calls(), (std::vector<std::string>{big.substr(0, 1024) + '\0' + "@198.51.100.11",
                                                         std::string("hello\0@198.51.100.11", 20)}));
    EXPECT_TRUE(log.Has("SendThread 1600 : Recive Socket Protocol IP : 198.51.100.11, nLen : 1024  "));
    StopAndWait(worker);
}

TEST_F(WorkerLab, StopReleasesAWaitingReceiveAndOnlyThenIsTheSocketClosed) {
    LogTail log;
    auto* idle = Start<Command>(lab::kHostIp, 1610, false);
    ASSERT_TRUE(Eventually([&] { return log.Has("SendThread 1610 : Wait Reciver Socket Protocol Info  "); }));
    StopAndWait(idle);
    EXPECT_NO_THROW(UdpSocket::Bind(lab::kHostIp, 1610)) << "the thread closed the socket on its way out";
    idle->ExitSearchThread();
    EXPECT_EQ(log.Count("SendThread 1610 : Exit Search Device Tread , bExitSock : 1  "), 2u);

    // Stops while answers keep arriving, with sends from the stopping thread,
    // so the sanitizers see every path of the socket's hand-off.
    UdpSocket device = UdpSocket::BindInLan(lab::kDeviceIp, 0);
    for (int port = 1620; port < 1625; ++port) {
        auto* worker = Start<Command>(lab::kHostIp, port, false);
        ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();
        std::atomic<bool> flooding{true};
        std::thread flood([&] {
            try {
                for (int i = 0; flooding; ++i)
                    device.SendTo(lab::kHostIp, port, SsdpAnswer("flood-" + std::to_string(i % 2)));
            } catch (const std::exception& e) {
                ADD_FAILURE() << e.what();
            }
        });
        auto fromThisWorker = [port] {
            const auto r = workertest::Records();
            return std::count_if(r.begin(), r.end(), [port](const HandedOver& h) { return h.port == port; });
        };
        ASSERT_TRUE(Eventually([&] { return fromThisWorker() >= 10; }));
        worker->SendSearchCommandToDevice(unused);
        StopAndWait(worker);
        const auto handed = fromThisWorker();
        worker->SendSearchCommandToDevice(unused);
        flooding = false;
        flood.join();
        EXPECT_EQ(fromThisWorker(), handed) << "nothing is handed on after the stop";
    }
}

TEST_F(WorkerLab, FailingHandOverEndsOnlyTheReceiveThread) {
    UdpSocket member = UdpSocket::BindInLan("0.0.0.0", 1900);
    member.JoinGroup(lab::kGroup);
    LogTail log;
    auto* worker = Start<Command>(lab::kHostIp, 1630, false);
    ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();
    member.SendTo(lab::kHostIp, 1630, SsdpAnswer("throw-1"));
    ASSERT_TRUE(Eventually([&] { return !worker->Running(); }));
    EXPECT_TRUE(log.Has("SendThread 1630 : Create Socket Protocolt Server Error : callback failed  "));
    worker->SendSearchCommandToDevice(unused);
    auto got = member.Receive();
    ASSERT_TRUE(got) << "the socket stays open: searches still go out";
    EXPECT_EQ(got->fromPort, 1630);
    worker->ExitSearchThread();
    EXPECT_NO_THROW(UdpSocket::Bind(lab::kHostIp, 1630)) << "the stop closes a socket no thread owns";
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string why;
    if (!lab::InsideLab(&why)) {
        std::fprintf(stderr, "worker_lab_tests: SKIP: %s\n", why.c_str());
        return 77;
    }
    return RUN_ALL_TESTS();
}
