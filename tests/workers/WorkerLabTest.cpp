// The search request on the wire and ports taken by others, with the log on,
// inside the lab's namespaces only; main(), the receive loop and its stops are
// in ReceiveLoopLabTest.cpp.
#include <gtest/gtest.h>


#include "LabSocket.h"
#include "SearchDeviceMultiCommandThead.h"
#include "SearchDeviceMulticastThread.h"
#include "WorkerTestSupport.h"

using lab::Bound;
using lab::SendTo;
using namespace workertest;

namespace {

// On before any test starts a worker: a receive loop picks its form at its start.
struct LogOn : ::testing::Environment {
    void SetUp() override { LogText(); }
};
[[maybe_unused]] const auto* const kLogOn = ::testing::AddGlobalTestEnvironment(new LogOn);

template <typename Base>
struct LabWorker : Base {
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

dhcppacket unused{};

struct WorkerLab : ::testing::Test {
    void SetUp() override { StartRecording(); }
};

TEST_F(WorkerLab, TheSearchRequestGoesToTheGroupByteForByte) {
    auto member = Bound("0.0.0.0", 1900);
    member.set_option(boost::asio::ip::multicast::join_group(boost::asio::ip::make_address_v4("239.143.255.250")));
    auto* worker = Start<Command>(lab::kHostIp, 1640, false);
    worker->SendSearchCommandToDevice(unused);  // our own multicast comes back through the loop
    ASSERT_TRUE(Eventually([&] { return member.available() > 0; }));
    std::string got(2048, '\0');
    got.resize(member.receive(boost::asio::buffer(got)));
    EXPECT_EQ(got,
              "M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nST: urn:schemas-upnp-org:device:LarkvatDevice:1"
              "\r\nMAN: \"ssdp:discover\"\r\nMX: 3\r\n\r\n");
    StopAndWait(worker);
}

TEST_F(WorkerLab, ATakenPortMovesTheWorkerOnAtMostTwentyTimesAndOnlyWithRetry) {
    std::vector<lab::Udp::socket> blockers;
    blockers.push_back(Bound("0.0.0.0", 1900));
    LogTail log;
    auto* moved = Start<Multicast>(nullptr, 1900, true);
    ASSERT_TRUE(moved->StartSucceeded()) << moved->LastStartError();
    EXPECT_EQ(moved->Port(), 1901);
    EXPECT_TRUE(log.Has("SendThread 1901 : Test Create Search Device Work Thread, testCount = 1, port = 1901  "));
    StopAndWait(moved);  // it would share 1901: the SSDP socket binds with address reuse

    for (int port = 1901; port <= 1920; ++port) blockers.push_back(Bound("0.0.0.0", port));
    LogTail full;
    auto* stuck = Start<Multicast>(nullptr, 1900, true);
    EXPECT_FALSE(stuck->StartSucceeded());
    EXPECT_EQ(stuck->Port(), 1920);
    EXPECT_EQ(full.Count("Test Create Search Device Work Thread, testCount = "), 20u);
    stuck->SendSearchCommandToDevice(unused);
    stuck->ExitSearchThread();
    EXPECT_TRUE(full.Has("SendThread 1920 : Send Search Device Error : send_to: Bad file descriptor   "));

    LogTail once;
    auto* single = Start<Multicast>(nullptr, 1900, false);
    EXPECT_FALSE(single->StartSucceeded());
    EXPECT_EQ(single->Port(), 1900);
    EXPECT_EQ(once.Count("Create Search Device Work Thread Error"), 1u);

    // Moved workers hand answers over under their new number: targets_lab's
    // sweep_falls_back_when_ports_67_and_1900_are_taken sees that end to end.
}

}  // namespace
