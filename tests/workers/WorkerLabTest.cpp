// Socket edge cases of the search workers, inside the lab's namespaces only.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "LabSocket.h"
#include "SearchDeviceMultiCommandThead.h"
#include "SearchDeviceMulticastThread.h"
#include "WorkerTestSupport.h"

using lab::UdpSocket;
using namespace workertest;

namespace {

template <typename Base>
class LabWorker : public Base {
public:
    bool Running() { return this->ReceiveThreadRunning(); }
    void RaiseExitFlag() { this->bExitSock = true; }
};
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

std::string SsdpAnswer(const std::string& id) {
    return "HTTP/1.1 200 OK\r\nSERVER: RUZO/2.0,b, acme/" + id + "/box\r\nUSN: uuid:" + id + "::x\r\n\r\n";
}

long HandedBy(int port) {
    const auto r = Records();
    return std::count_if(r.begin(), r.end(), [port](const HandedOver& h) { return h.port == port; });
}

dhcppacket unused{};

struct WorkerLab : ::testing::Test {
    void SetUp() override { StartRecording(); }
};

TEST_F(WorkerLab, TheSearchRequestGoesToTheGroupByteForByte) {
    UdpSocket member("0.0.0.0", 1900);
    member.JoinGroup("239.143.255.250");  // our own multicast comes back through the loop
    auto* worker = Start<Command>(lab::kHostIp, 1640, false);
    worker->SendSearchCommandToDevice(unused);
    EXPECT_EQ(member.Receive(),
              "M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nST: urn:schemas-upnp-org:device:LarkvatDevice:1"
              "\r\nMAN: \"ssdp:discover\"\r\nMX: 3\r\n\r\n");
    StopAndWait(worker);
}

TEST_F(WorkerLab, ATakenPortMovesTheWorkerOnAtMostTwentyTimesAndOnlyWithRetry) {
    UdpSocket blocker("0.0.0.0", 1900);
    LogTail log;
    auto* moved = Start<Multicast>(nullptr, 1900, true);
    ASSERT_TRUE(moved->StartSucceeded()) << moved->LastStartError();
    EXPECT_EQ(moved->Port(), 1901);
    const std::string inUse = "Create Search Device Work Thread Error : bind: Address already in use";
    EXPECT_TRUE(log.Has("SendThread 1900 : " + inUse + "   "));
    EXPECT_TRUE(log.Has("SendThread 1901 : Test Create Search Device Work Thread, testCount = 1, port = 1901  "));
    EXPECT_TRUE(Eventually([&] { return log.Has("SendThread 1901 : Begin Search Device Work Thread  "); }));

    StopAndWait(moved);  // it would share 1901: the SSDP socket binds with address reuse
    std::vector<UdpSocket> blockers;
    for (int port = 1901; port <= 1920; ++port) blockers.push_back(UdpSocket("0.0.0.0", port));
    LogTail full;
    auto* stuck = Start<Multicast>(nullptr, 1900, true);
    EXPECT_FALSE(stuck->StartSucceeded());
    EXPECT_EQ(stuck->Port(), 1920);
    EXPECT_EQ(full.Count("Test Create Search Device Work Thread, testCount = "), 20u);
    EXPECT_EQ(full.Count(inUse), 21u);
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

    // A command worker moves on too, and answers count under its new number.
    UdpSocket taken(lab::kHostIp, 1530), device(lab::kHostIp, 0);
    auto* command = Start<Command>(lab::kHostIp, 1530, true);
    ASSERT_EQ(command->Port(), 1531) << command->LastStartError();
    device.SendTo(lab::kHostIp, 1531, SsdpAnswer("moved"));
    ASSERT_TRUE(Eventually([] { return HandedBy(1531) == 1; }));
    EXPECT_STREQ(Records().back().info.id, "moved");
    StopAndWait(command);
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
    UdpSocket device(lab::kHostIp, 0);
    LogTail log;
    auto* worker = Start<RecordingWorker>(lab::kHostIp, 1600, false);
    ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();
    std::string big(1500, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('A' + i % 26);
    for (const std::string& datagram : {std::string(), big, std::string("hello")})
        device.SendTo(lab::kHostIp, 1600, datagram);
    ASSERT_TRUE(Eventually([&] { return worker->Calls().size() >= 2; }));
    EXPECT_EQ(worker->Calls(), (std::vector<std::string>{big.substr(0, 1024) + '\0' + "@198.51.100.1",
                                                         std::string("hello\0@198.51.100.1", 19)}));
    EXPECT_TRUE(log.Has("SendThread 1600 : Recive Socket Protocol IP : 198.51.100.1, nLen : 1024  "));
    StopAndWait(worker);
}

TEST_F(WorkerLab, StopReleasesAWaitingReceiveAndWhatArrivesWithItIsNotHandedOn) {
    LogTail log;
    auto* idle = Start<Command>(lab::kHostIp, 1610, false);
    ASSERT_TRUE(Eventually([&] { return log.Has("SendThread 1610 : Wait Reciver Socket Protocol Info  "); }));
    StopAndWait(idle);
    EXPECT_NO_THROW(UdpSocket(lab::kHostIp, 1610)) << "the thread closed the socket on its way out";
    idle->ExitSearchThread();
    EXPECT_EQ(log.Count("SendThread 1610 : Exit Search Device Tread , bExitSock : 1  "), 2u);

    // The stop's flag goes up while the receive waits, and a datagram wakes it.
    UdpSocket device(lab::kHostIp, 0);
    auto* late = Start<RecordingWorker>(lab::kHostIp, 1615, false);
    ASSERT_TRUE(Eventually([&] { return log.Has("SendThread 1615 : Wait Reciver Socket Protocol Info  "); }));
    late->RaiseExitFlag();
    device.SendTo(lab::kHostIp, 1615, "late");
    ASSERT_TRUE(Eventually([&] { return !late->Running(); }));
    EXPECT_TRUE(late->Calls().empty());

    // Stops while answers arrive, with sends around the stop.
    for (int port = 1620; port < 1622; ++port) {
        auto* worker = Start<Command>(lab::kHostIp, port, false);
        ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();
        std::atomic<bool> flooding{true};
        std::thread flood([&] {
            for (int i = 0; flooding; ++i) device.SendTo(lab::kHostIp, port, SsdpAnswer("flood-" + std::to_string(i % 2)));
        });
        ASSERT_TRUE(Eventually([&] { return HandedBy(port) >= 10; }));
        worker->SendSearchCommandToDevice(unused);
        StopAndWait(worker);
        const auto handed = HandedBy(port);
        worker->SendSearchCommandToDevice(unused);
        flooding = false;
        flood.join();
        EXPECT_EQ(HandedBy(port), handed) << "nothing is handed on after the stop";
    }
}

// Another thread may ask whether the receive thread runs while the worker
// starts: ThreadSanitizer checks that the start publishes it under the lock.
TEST_F(WorkerLab, RunningMayBeAskedWhileTheWorkerStarts) {
    static auto* worker = new Command;  // never deleted, like every worker
    std::thread asker([] {
        while (!worker->Running()) std::this_thread::yield();
    });
    worker->InitSearchThread(lab::kHostIp, 1650, false);
    asker.join();
    StopAndWait(worker);
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
