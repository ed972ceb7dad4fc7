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

TEST_F(WorkerLab, ATakenPortMovesTheWorkerOnAtMostTwentyTimesAndOnlyWithRetry) {
    UdpSocket blocker("0.0.0.0", 1900);
    LogTail log;
    auto* moved = Start<Multicast>(nullptr, 1900, true);
    ASSERT_TRUE(moved->StartSucceeded()) << moved->LastStartError();
    EXPECT_EQ(moved->Port(), 1901);
    const std::string inUse = "Create Search Device Work Thread Error : bind: Address already in use";
    EXPECT_TRUE(log.Has("SendThread 1900 : " + inUse + "   "));
    EXPECT_TRUE(
        log.Has("SendThread 1901 : Test Create Search Device Work Thread, testCount = 1, port = 1901  "));
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
}

TEST_F(WorkerLab, CommandWorkerOnATakenPortAnswersOnTheNextUnderItsNewNumber) {
    UdpSocket blocker(lab::kHostIp, 1530);
    UdpSocket device(lab::kHostIp, 0);
    LogTail log;
    auto* worker = Start<Command>(lab::kHostIp, 1530, true);
    ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();
    EXPECT_EQ(worker->Port(), 1531);
    EXPECT_TRUE(log.Has("SendThread 1531 : Create Search Device Work Thread   "));
    device.SendTo(lab::kHostIp, 1531, SsdpAnswer("moved"));
    ASSERT_TRUE(Eventually([] { return HandedBy(1531) == 1; }));
    EXPECT_STREQ(Records().back().info.id, "moved");
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

TEST_F(WorkerLab, StopReleasesAWaitingReceiveAndOnlyThenIsTheSocketClosed) {
    LogTail log;
    auto* idle = Start<Command>(lab::kHostIp, 1610, false);
    ASSERT_TRUE(Eventually([&] { return log.Has("SendThread 1610 : Wait Reciver Socket Protocol Info  "); }));
    StopAndWait(idle);
    EXPECT_NO_THROW(UdpSocket(lab::kHostIp, 1610)) << "the thread closed the socket on its way out";
    idle->ExitSearchThread();
    EXPECT_EQ(log.Count("SendThread 1610 : Exit Search Device Tread , bExitSock : 1  "), 2u);

    // Stops while answers arrive, with sends around the stop.
    UdpSocket device(lab::kHostIp, 0);
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
