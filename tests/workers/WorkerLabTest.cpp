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
using workertest::HandOverRecorder;
using workertest::LogTail;

namespace {

const std::string kSearchRequest =
    "M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nST: urn:schemas-upnp-org:device:LarkvatDevice:1\r\n"
    "MAN: \"ssdp:discover\"\r\nMX: 3\r\n\r\n";

template <typename Base>
class LabWorker : public Base {
public:
    bool Running() { return this->ReceiveThreadRunning(); }
};

// Workers are never deleted: their detached threads hold plain pointers.
template <typename W>
W* Keep(W* worker) {
    static auto* kept = new std::vector<CSearchDeviceThread*>;
    kept->push_back(worker);
    return worker;
}

std::string BroadcastAnswer(const std::string& options, std::uint8_t code = 1) {
    std::string bytes(148, '\0');
    bytes[0] = 12;
    bytes[1] = static_cast<char>(code);
    options.copy(bytes.data() + 20, std::min<std::size_t>(options.size(), 128));
    return bytes;
}

std::string SsdpAnswer(const std::string& uuid, const std::string& ip = lab::kDeviceIp) {
    return "HTTP/1.1 200 OK\r\nLOCATION: http://" + ip + ":5000/desc.xml\r\n" +
           "SERVER: Linux/5.10 UPnP/1.0 RUZO/2.0,b1, acme/" + uuid + "/box\r\n" + "USN: uuid:" + uuid +
           "::urn:schemas-upnp-org:device:LarkvatDevice:1\r\n\r\n";
}

std::string SsdpNotify(const std::string& uuid, const char* nts) {
    return "NOTIFY * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nNT: upnp:rootdevice\r\nNTS: " +
           std::string(nts) +
           "\r\nLOCATION: http://198.51.100.11:5000/d.xml\r\nSERVER: x RUZO/2.0,b1, acme/" + uuid +
           "/box\r\nUSN: uuid:" + uuid + "::upnp:rootdevice\r\n\r\n";
}

bool HasRecord(const std::vector<HandedOver>& records, const char* id, int port, int type) {
    return std::any_of(records.begin(), records.end(), [&](const HandedOver& r) {
        return std::strcmp(r.info.id, id) == 0 && r.port == port && r.info.type == type;
    });
}

template <typename W>
void StopAndWait(W* worker) {
    worker->ExitSearchThread();
    ASSERT_TRUE(Eventually([&] { return !worker->Running(); })) << "receive thread did not end";
}

class WorkerLab : public ::testing::Test {
protected:
    void SetUp() override { HandOverRecorder::Get().Clear(); }
};

TEST_F(WorkerLab, BroadcastRequestGoesOutAndAnswerComesBack) {
    UdpSocket listener = UdpSocket::BindInLan("0.0.0.0", 68);
    UdpSocket device = UdpSocket::BindInLan(lab::kDeviceIp2, 0);
    LogTail log;
    auto* worker = Keep(new LabWorker<CSearchDeviceBroadcastThread>);
    worker->InitSearchThread(nullptr, 67, false);
    ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();
    EXPECT_TRUE(log.Has("SendThread 67 : Init Search Device Work Thread Value, strIP : , nPort : 67  "));
    EXPECT_TRUE(log.Has("SendThread 67 : Create Search Device Work Thread "));

    dhcppacket request{};
    request.op = kDhcpOpRequest;
    request.code = 1;
    std::fill(std::begin(request.marker), std::end(request.marker), 0xFF);
    worker->SendSearchCommandToDevice(request);
    auto got = listener.Receive();
    ASSERT_TRUE(got);
    std::string expected = std::string("\x0B\x01\x00\x00\xFF\xFF\xFF\xFF", 8) + std::string(140, '\0');
    EXPECT_EQ(got->bytes, expected);
    EXPECT_EQ(got->fromIp, lab::kHostIp);
    EXPECT_EQ(got->fromPort, 67);

    // A caller's own packet goes out unchanged.
    dhcppacket custom;
    auto* raw = reinterpret_cast<unsigned char*>(&custom);
    for (std::size_t i = 0; i < sizeof custom; ++i) raw[i] = static_cast<unsigned char>(i * 7 + 1);
    worker->SendSearchCommandToDevice(custom);
    got = listener.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, std::string(reinterpret_cast<char*>(raw), sizeof custom));

    device.SendTo(lab::kHostIp, 67, BroadcastAnswer("id=LAB1&host=nas&vendor=acme&product=box", 2));
    ASSERT_TRUE(HandOverRecorder::Get().WaitFor([](auto& r) { return HandOverRecorder::Find(r, "LAB1"); }));
    auto records = HandOverRecorder::Get().Records();
    const HandedOver* r = HandOverRecorder::Find(records, "LAB1");
    EXPECT_STREQ(r->info.ip, lab::kDeviceIp2);
    EXPECT_STREQ(r->info.factory, "acme");
    EXPECT_EQ(r->info.type, 2);
    EXPECT_EQ(r->port, 67);

    StopAndWait(worker);
    EXPECT_TRUE(log.Has("SendThread 67 : Exit Search Device Tread , bExitSock : 1  "));
    worker->SendSearchCommandToDevice(request);
    EXPECT_TRUE(log.Has("SendThread 67 : Send Broadcast Search Error : send_to: Bad file descriptor   "));
}

TEST_F(WorkerLab, SearchAnswersAndAnnouncementsReachTheRightWorkers) {
    UdpSocket member = UdpSocket::BindInLan("0.0.0.0", 1900);
    member.JoinGroup(lab::kGroup);
    UdpSocket announcer = UdpSocket::BindInLan(lab::kDeviceIp2, 0);
    announcer.NoLoopback();

    LogTail log;
    auto* group = Keep(new LabWorker<CSearchDeviceMulticastThread>);
    auto* command = Keep(new LabWorker<CSearchDeviceMultiCommandThead>);
    group->InitSearchThread(nullptr, 1900, false);
    command->InitSearchThread(lab::kHostIp, 1530, true);
    ASSERT_TRUE(group->StartSucceeded()) << group->LastStartError();
    ASSERT_TRUE(command->StartSucceeded()) << command->LastStartError();
    EXPECT_TRUE(log.Has("SendThread 1900 : Add To Multicast Group Info "));
    EXPECT_EQ(log.CountFragment("SendThread 1530 : Add To"), 0u) << "the command worker never joins";

    dhcppacket unused{};
    group->SendSearchCommandToDevice(unused);
    command->SendSearchCommandToDevice(unused);
    std::set<int> fromPorts;
    for (int i = 0; i < 2; ++i) {
        auto got = member.Receive();
        ASSERT_TRUE(got) << "M-SEARCH " << i;
        EXPECT_EQ(got->bytes, kSearchRequest);
        EXPECT_EQ(got->fromIp, lab::kHostIp);
        fromPorts.insert(got->fromPort);
    }
    EXPECT_EQ(fromPorts, (std::set<int>{1530, 1900}));
    // The group worker hears the host's own requests and drops them.
    EXPECT_TRUE(Eventually([&] {
        return log.Count("SendThread 1900 : Recive Socket Protocol IP : 198.51.100.1, nLen : 129  ") == 2;
    }));

    member.SendTo(lab::kHostIp, 1900, SsdpAnswer("group-answer"));
    member.SendTo(lab::kHostIp, 1530, SsdpAnswer("command-answer"));
    ASSERT_TRUE(HandOverRecorder::Get().WaitFor([](auto& r) {
        return HasRecord(r, "group-answer", 1900, 1) && HasRecord(r, "command-answer", 1530, 1);
    }));

    announcer.SendTo(lab::kGroup, 1900, SsdpNotify("announced", "ssdp:alive"));
    announcer.SendTo(lab::kGroup, 1900, SsdpNotify("announced", "ssdp:byebye"));
    announcer.SendTo(lab::kHostIp, 1530, SsdpAnswer("after-announcements", lab::kDeviceIp2));
    ASSERT_TRUE(HandOverRecorder::Get().WaitFor([](auto& r) {
        return HasRecord(r, "announced", 1900, 2) && HasRecord(r, "announced", 1900, 4) &&
               HasRecord(r, "after-announcements", 1530, 1);
    }));
    auto records = HandOverRecorder::Get().Records();
    EXPECT_FALSE(HasRecord(records, "announced", 1530, 2));
    EXPECT_FALSE(HasRecord(records, "announced", 1530, 4));
    const HandedOver* answer = HandOverRecorder::Find(records, "group-answer");
    EXPECT_STREQ(answer->info.ip, lab::kDeviceIp);
    EXPECT_STREQ(answer->info.host, "group-answer");
    for (const HandedOver& r : records) EXPECT_STRNE(r.info.ip, lab::kHostIp);

    StopAndWait(group);
    StopAndWait(command);
    EXPECT_TRUE(log.Has("SendThread 1900 : Leave To Multicast Group Info "));
    EXPECT_TRUE(log.Has("SendThread 1900 : Exit Search Device Tread , bExitSock : 1  "));
    EXPECT_TRUE(log.Has("SendThread 1530 : Exit Search Device Tread , bExitSock : 1  "));
    EXPECT_EQ(log.CountFragment("SendThread 1530 : Leave"), 0u);
    group->SendSearchCommandToDevice(unused);
    command->SendSearchCommandToDevice(unused);
    EXPECT_TRUE(log.Has("SendThread 1900 : Send Search Device Error : send_to: Bad file descriptor   "));
    EXPECT_TRUE(log.Has("SendThread 1530 : Send Search Device Error : send_to: Bad file descriptor   "));
}

TEST_F(WorkerLab, TakenGroupPortMovesToTheNextFreeOne) {
    UdpSocket blocker = UdpSocket::Bind("0.0.0.0", 1900);
    LogTail log;
    auto* worker = Keep(new LabWorker<CSearchDeviceMulticastThread>);
    worker->InitSearchThread(nullptr, 1900, true);
    ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();
    EXPECT_EQ(worker->Port(), 1901);
    EXPECT_TRUE(log.Has(
        "SendThread 1900 : Create Search Device Work Thread Error : bind: Address already in use   "));
    EXPECT_TRUE(log.Has("SendThread 1900 : Handle Create Search Device Work Thread Error  "));
    EXPECT_TRUE(
        log.Has("SendThread 1901 : Test Create Search Device Work Thread, testCount = 1, port = 1901  "));
    EXPECT_TRUE(Eventually([&] { return log.Has("SendThread 1901 : Begin Search Device Work Thread  "); }));
    StopAndWait(worker);
}

TEST_F(WorkerLab, RetriesEndAfterTwentyMorePorts) {
    std::vector<UdpSocket> blockers;
    for (int port = 1900; port <= 1920; ++port) blockers.push_back(UdpSocket::Bind("0.0.0.0", port));

    LogTail log;
    auto* retrying = Keep(new LabWorker<CSearchDeviceMulticastThread>);
    retrying->InitSearchThread(nullptr, 1900, true);
    EXPECT_FALSE(retrying->StartSucceeded());
    EXPECT_EQ(retrying->LastStartError(), "bind: Address already in use");
    EXPECT_EQ(retrying->Port(), 1920);
    EXPECT_FALSE(retrying->Running());
    EXPECT_EQ(log.CountFragment("Test Create Search Device Work Thread, testCount = "), 20u);
    EXPECT_EQ(log.CountFragment("Create Search Device Work Thread Error : bind: Address already in use"),
              21u);
    EXPECT_EQ(log.CountFragment("Handle Create Search Device Work Thread Error  "), 21u);
    EXPECT_TRUE(
        log.Has("SendThread 1920 : Test Create Search Device Work Thread, testCount = 20, port = 1920  "));
    EXPECT_EQ(log.CountFragment("Begin Search Device Work Thread"), 0u);

    LogTail once;
    auto* single = Keep(new LabWorker<CSearchDeviceMulticastThread>);
    single->InitSearchThread(nullptr, 1900, false);
    EXPECT_FALSE(single->StartSucceeded());
    EXPECT_EQ(single->Port(), 1900);
    EXPECT_EQ(once.CountFragment("Create Search Device Work Thread Error"), 1u);
    EXPECT_EQ(once.CountFragment("Handle Create Search Device Work Thread Error"), 0u);

    // A worker without socket still fails its sends and stops cleanly.
    dhcppacket unused{};
    retrying->SendSearchCommandToDevice(unused);
    retrying->ExitSearchThread();
    EXPECT_TRUE(once.Has("SendThread 1920 : Send Search Device Error : send_to: Bad file descriptor   "));
    EXPECT_TRUE(once.Has("SendThread 1920 : Exit Search Device Tread , bExitSock : 1  "));
}

TEST_F(WorkerLab, CommandWorkerMovesToTheNextPortAndKeepsItsNumber) {
    UdpSocket blocker = UdpSocket::Bind(lab::kHostIp, 1530);
    UdpSocket device = UdpSocket::BindInLan(lab::kDeviceIp, 0);
    LogTail log;
    auto* worker = Keep(new LabWorker<CSearchDeviceMultiCommandThead>);
    worker->InitSearchThread(lab::kHostIp, 1530, true);
    ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();
    EXPECT_EQ(worker->Port(), 1531);
    EXPECT_TRUE(log.Has("SendThread 1531 : Create Search Device Work Thread   "));
    EXPECT_TRUE(Eventually([&] { return log.Has("SendThread 1531 : Begin Search Device Work Thread  "); }));

    device.SendTo(lab::kHostIp, 1531, SsdpAnswer("moved"));
    ASSERT_TRUE(HandOverRecorder::Get().WaitFor([](auto& r) { return HasRecord(r, "moved", 1531, 1); }));
    StopAndWait(worker);
    EXPECT_TRUE(log.Has("SendThread 1531 : Exit Search Device Tread , bExitSock : 1  "));

    LogTail bad;
    auto* unparsable = Keep(new LabWorker<CSearchDeviceMultiCommandThead>);
    unparsable->InitSearchThread("198.51.100.x", 1700, true);
    EXPECT_FALSE(unparsable->StartSucceeded());
    EXPECT_EQ(unparsable->Port(), 1720);
    EXPECT_EQ(bad.CountFragment("Test Create Search Device Work Thread, testCount = "), 20u);
    EXPECT_FALSE(unparsable->Running());
}

// Sees what the receive loop hands to the protocol.
class RecordingWorker : public LabWorker<CSearchDeviceMultiCommandThead> {
public:
    void HandleReceiveInfo(char* data, int length, std::string& senderIP) override {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(
            {std::string(data, static_cast<std::size_t>(length)), data[length] == '\0', senderIP});
    }
    struct Call {
        std::string bytes;
        bool terminated;
        std::string sender;
    };
    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    std::mutex mutex;
    std::vector<Call> calls;
};

TEST_F(WorkerLab, ReceiveLoopCutsLongDatagramsAndSkipsEmptyOnes) {
    UdpSocket device = UdpSocket::BindInLan(lab::kDeviceIp2, 0);
    LogTail log;
    auto* worker = Keep(new RecordingWorker);
    worker->InitSearchThread(lab::kHostIp, 1600, false);
    ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();

    std::string big(1500, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('A' + i % 26);
    device.SendTo(lab::kHostIp, 1600, "");
    device.SendTo(lab::kHostIp, 1600, big);
    device.SendTo(lab::kHostIp, 1600, "hello");
    ASSERT_TRUE(Eventually([&] { return worker->Calls().size() >= 2; }));
    auto calls = worker->Calls();
    ASSERT_EQ(calls.size(), 2u) << "the empty datagram is not handed on";
    EXPECT_EQ(calls[0].bytes, big.substr(0, 1024));
    EXPECT_TRUE(calls[0].terminated);
    EXPECT_EQ(calls[0].sender, lab::kDeviceIp2);
    EXPECT_EQ(calls[1].bytes, "hello");
    EXPECT_TRUE(calls[1].terminated);
    EXPECT_TRUE(log.Has("SendThread 1600 : Recive Socket Protocol IP : 198.51.100.11, nLen : 1024  "));
    StopAndWait(worker);
}

TEST_F(WorkerLab, StopReleasesAWaitingReceiveAndFreesThePort) {
    LogTail log;
    auto* worker = Keep(new LabWorker<CSearchDeviceMultiCommandThead>);
    worker->InitSearchThread(lab::kHostIp, 1610, false);
    ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();
    ASSERT_TRUE(Eventually([&] { return log.Has("SendThread 1610 : Wait Reciver Socket Protocol Info  "); }));
    StopAndWait(worker);
    EXPECT_TRUE(log.Has("SendThread 1610 : Exit Search Device Tread , bExitSock : 1  "));
    // The thread closed the socket on its way out.
    EXPECT_NO_THROW(UdpSocket::Bind(lab::kHostIp, 1610));
    // A second stop changes nothing.
    worker->ExitSearchThread();
    EXPECT_EQ(log.Count("SendThread 1610 : Exit Search Device Tread , bExitSock : 1  "), 2u);
}

TEST_F(WorkerLab, FailingHandOverEndsOnlyTheReceiveThread) {
    UdpSocket member = UdpSocket::BindInLan("0.0.0.0", 1900);
    member.JoinGroup(lab::kGroup);
    LogTail log;
    auto* worker = Keep(new LabWorker<CSearchDeviceMultiCommandThead>);
    worker->InitSearchThread(lab::kHostIp, 1630, false);
    ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();
    member.SendTo(lab::kHostIp, 1630, SsdpAnswer("throw-1"));
    ASSERT_TRUE(Eventually([&] { return !worker->Running(); }));
    EXPECT_TRUE(log.Has("SendThread 1630 : Create Socket Protocolt Server Error : callback failed  "));

    // The socket stays open: searches still go out.
    dhcppacket unused{};
    worker->SendSearchCommandToDevice(unused);
    auto got = member.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->fromPort, 1630);
    EXPECT_EQ(log.CountFragment("SendThread 1630 : Send Search Device Error"), 0u);

    worker->ExitSearchThread();
    EXPECT_NO_THROW(UdpSocket::Bind(lab::kHostIp, 1630)) << "the stop closes a socket no thread owns";
}

// Stops while answers keep arriving, and sends from the stopping thread, so
// the sanitizers see every path of the socket's hand-off between threads.
TEST_F(WorkerLab, StopUnderTrafficEndsTheThreadAndNothingIsHandedOnAfterwards) {
    UdpSocket device = UdpSocket::BindInLan(lab::kDeviceIp, 0);
    for (int round = 0; round < 5; ++round) {
        const int port = 1620 + round;
        auto* worker = Keep(new LabWorker<CSearchDeviceMultiCommandThead>);
        worker->InitSearchThread(lab::kHostIp, port, false);
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
        auto fromThisWorker = [port](const std::vector<HandedOver>& r) {
            return std::count_if(r.begin(), r.end(), [port](const HandedOver& h) { return h.port == port; });
        };
        ASSERT_TRUE(HandOverRecorder::Get().WaitFor([&](auto& r) { return fromThisWorker(r) >= 10; }));
        dhcppacket unused{};
        worker->SendSearchCommandToDevice(unused);
        StopAndWait(worker);
        const auto handed = fromThisWorker(HandOverRecorder::Get().Records());
        worker->SendSearchCommandToDevice(unused);
        flooding = false;
        flood.join();
        EXPECT_EQ(fromThisWorker(HandOverRecorder::Get().Records()), handed);
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
    workertest::TestLog::Get();
    HandOverRecorder::Get();
    return RUN_ALL_TESTS();
}
