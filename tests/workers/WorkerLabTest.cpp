// Search workers and sweeps on real sockets, inside the lab only. Run twice: as
// worker_lab with --log (each datagram received alone and traced) and as
// quiet_lab (log off, datagrams in batches); the protocol sees the same.
// clang-format off
#include <utility>  // before Asio: 1.74 uses std::exchange without it in C++20
// clang-format on

#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/stat.h>

#include <atomic>
#include <boost/asio.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <thread>
#include <tuple>

#include "DeviceSearchInterface.h"
#include "SearchDeviceHandle/SearchDeviceClient.h"
#include "SearchDeviceThread/SearchDeviceBroadcastThread.h"
#include "SearchDeviceThread/SearchDeviceMultiCommandThead.h"
#include "SearchDeviceThread/SearchDeviceMulticastThread.h"
#include "ShowLog/ShowLog.h"
#include "TestFiles.h"

namespace lab {

inline const char* kHostIp = "198.51.100.1";

// Empty only inside the lab: LAB_LAN_PID names a process in another network
// namespace, and ours holds only the lab's links, since any other interface
// could reach a real network. Anything that sends must refuse to run otherwise.
inline std::string OutsideLab() {
    const char* pid = std::getenv("LAB_LAN_PID");
    struct stat self {
    }, lan{};
    if (pid == nullptr || stat("/proc/self/ns/net", &self) != 0 ||
        stat((std::string("/proc/") + pid + "/ns/net").c_str(), &lan) != 0 || self.st_ino == lan.st_ino)
        return "not in the lab's host namespace (run under scripts/lab/lab.sh)";
    std::set<std::string> names;
    struct if_nameindex* links = if_nameindex();
    for (struct if_nameindex* l = links; l != nullptr && l->if_index != 0; ++l) names.insert(l->if_name);
    if (links != nullptr) if_freenameindex(links);
    const std::set<std::string> ours = {"lo", "lan0", "lan1"};
    const bool onlyOurs = names.count("lan0") && std::ranges::includes(ours, names);
    return onlyOurs ? "" : "network interfaces other than the lab's are present";
}

using Udp = boost::asio::ip::udp;

inline Udp::endpoint At(const std::string& ip, int port) {
    return {boost::asio::ip::make_address_v4(ip), static_cast<unsigned short>(port)};
}

// A UDP socket bound to ip:port (0 = any free port), without address reuse,
// so binding a taken port fails like the product's own bind.
inline Udp::socket Bound(const std::string& ip, int port) {
    static boost::asio::io_context io;  // synchronous calls only: it never runs
    return Udp::socket(io, At(ip, port));
}

// A plain socket on the lab's host address, playing the devices.
struct Device {
    Udp::socket socket = Bound(kHostIp, 0);
    void Send(int port, const std::string& bytes) {
        socket.send_to(boost::asio::buffer(bytes), At(kHostIp, port));
    }
};

}  // namespace lab

namespace {

// The whole log, switched on before any worker exists, in a directory kept on
// purpose: detached threads may still write during exit.
std::string LogText() {
    static const std::string file = [] {
        testfiles::TempDir dir;
        dir.keep = true;
        SearchDeviceShowLog::io_log_init(true, dir.slash().c_str());
        return dir.slash() + testfiles::todaysLogName();
    }();
    return testfiles::readFile(file);
}

bool Eventually(const std::function<bool()>& cond) {
    using namespace std::chrono_literals;
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (!cond() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
    return cond();
}

// A worker that decodes as shipped.
template <typename Base>
struct Decoding : Base {
    bool Running() { return this->ReceiveThreadRunning(); }
};
// One that sees what the receive loop hands to the protocol instead.
template <typename Base>
struct LabWorker : Decoding<Base> {
    void HandleReceiveInfo(char* data, int length, std::string& senderIP) override {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(std::string(data, static_cast<std::size_t>(length) + 1) + "@" + senderIP);
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    void RaiseExitFlag() { this->bExitSock = true; }
    std::mutex mutex;
    std::vector<std::string> calls;
};
using Command = LabWorker<CSearchDeviceMultiCommandThead>;
using Multicast = LabWorker<CSearchDeviceMulticastThread>;

// Workers are never deleted: their detached threads hold plain pointers.
template <typename W = Command>
W* Make() {
    static auto* kept = new std::vector<CSearchDeviceThread*>;  // reachable for the leak check
    kept->push_back(new W);
    kept->back()->SetHandOver(CSearchDeviceClient::HandOver());
    return static_cast<W*>(kept->back());
}

template <typename W = Command>
W* Start(const char* ip, int port, bool retry = false) {
    W* worker = Make<W>();
    worker->InitSearchThread(ip, port, retry);
    return worker;
}

void Stop(auto* worker) {
    worker->ExitSearchThread();
    ASSERT_TRUE(Eventually([&] { return !worker->Running(); })) << "the receive thread did not end";
}

dhcppacket unused{};

// ThreadSanitizer watches the receive thread meet the caller's: at the start
// (another thread asks whether it runs), and at a stop amid traffic and sends.
TEST(Worker, ReceivesCutDatagramsInOrderAndAStopEndsTheWaitHandingNothingOn) {
    lab::Device device;
    static Command* worker = Make();
    std::thread asker([] {
        while (!worker->Running()) std::this_thread::yield();
    });
    worker->InitSearchThread(lab::kHostIp, 1660, false);
    asker.join();
    ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();

    // Cut to 1024 bytes, each followed by a zero, empty ones skipped; a quick
    // run queues up faster than one receive per datagram takes them.
    const std::string big(1500, 'x');
    std::vector<std::string> expected = {big.substr(0, 1024) + '\0' + "@198.51.100.1"};
    device.Send(1660, big);
    device.Send(1660, "");
    for (int i = 0; i < 300; ++i) {
        device.Send(1660, "answer " + std::to_string(i));
        expected.push_back("answer " + std::to_string(i) + '\0' + "@198.51.100.1");
    }
    ASSERT_TRUE(Eventually([&] { return worker->Calls().size() >= expected.size(); }));
    EXPECT_EQ(worker->Calls(), expected);
    Stop(worker);  // releases a waiting receive
    EXPECT_NO_THROW(lab::Bound(lab::kHostIp, 1660)) << "the thread closed the socket on its way out";
    worker->ExitSearchThread();  // a second stop is harmless

    // The stop's flag goes up while the receive waits, and a datagram wakes it.
    Command* late = Start(lab::kHostIp, 1661);
    device.Send(1661, "first");
    ASSERT_TRUE(Eventually([&] { return late->Calls().size() == 1; }));
    ASSERT_TRUE(!SearchDeviceShowLog::io_log_enabled() ||  // its line tells when the receive waits again
                Eventually([] {
                    return testfiles::countOf(LogText(), "SendThread 1661 : Wait Reciver Socket") == 2;
                }));
    late->RaiseExitFlag();
    device.Send(1661, "late");
    ASSERT_TRUE(Eventually([&] { return !late->Running(); }));
    EXPECT_EQ(late->Calls().size(), 1u) << "a datagram that came with the stop was handed on";

    // The search request goes to the group byte for byte (our own multicast
    // comes back through the loop), sent while answers pour in.
    auto member = lab::Bound("0.0.0.0", 1900);
    member.set_option(
        boost::asio::ip::multicast::join_group(boost::asio::ip::make_address_v4("239.143.255.250")));
    Command* flooded = Start(lab::kHostIp, 1662);
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        while (flooding) device.Send(1662, "flood");
    });
    ASSERT_TRUE(Eventually([&] { return flooded->Calls().size() >= 10; }));
    flooded->SendSearchCommandToDevice(unused);
    ASSERT_TRUE(Eventually([&] { return member.available() > 0; }));
    std::string request(2048, '\0');
    request.resize(member.receive(boost::asio::buffer(request)));
    EXPECT_EQ(request,
              "M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nST: "
              "urn:schemas-upnp-org:device:LarkvatDevice:1\r\nMAN: \"ssdp:discover\"\r\nMX: 3\r\n\r\n");
    Stop(flooded);
    const std::size_t handed = flooded->Calls().size();
    flooded->SendSearchCommandToDevice(unused);
    flooding = false;
    flood.join();
    EXPECT_EQ(flooded->Calls().size(), handed) << "nothing is handed on after the stop";
}

// Hand-overs as "id/type", in their order.
std::mutex g_handedMutex;
std::vector<std::string> g_handed;
int Handed(void* record, int) {
    const deviceinfo& d = *static_cast<const deviceinfo*>(record);
    std::lock_guard<std::mutex> lock(g_handedMutex);
    g_handed.push_back(std::string(d.id) + "/" + std::to_string(d.type));
    return 0;
}
std::vector<std::string> HandedOnce(std::size_t count) {
    EXPECT_TRUE(Eventually([&] {
        std::lock_guard<std::mutex> lock(g_handedMutex);
        return g_handed.size() >= count;
    }));
    std::lock_guard<std::mutex> lock(g_handedMutex);
    return std::exchange(g_handed, {});
}

std::string BroadcastAnswer(const char* id, char code = 1, std::size_t size = 148) {
    std::string bytes = std::string("\x0C") + code + std::string(2, '\0') + std::string(4, '\xFF');
    bytes += std::string(12, '\0') + "id=" + id + "&vendor=acme";
    bytes.resize(size, '\0');
    return bytes;
}

// The repeat filters behind the real receive loop. Datagrams from one socket
// are decoded in turn, so a hand-over says that those before it were seen.
TEST(Worker, ARepeatIsDroppedAsEachProtocolSaysAndOnlyWhatMayBeADeviceIsTraced) {
    CSearchDeviceClient::SetDeviceCallback(&Handed);
    const bool traced = SearchDeviceShowLog::io_log_enabled();
    const std::size_t logStart = traced ? LogText().size() : 0;
    lab::Device device;

    // Broadcast: a repeat is dropped until another record or the next search.
    auto* broadcast = Start<Decoding<CSearchDeviceBroadcastThread>>(lab::kHostIp, 1664);
    std::string request = BroadcastAnswer("A1");
    request[0] = 11;
    for (const std::string& bytes :
         {BroadcastAnswer("A1", 1, 147), BroadcastAnswer("A1", 1, 149), request, BroadcastAnswer("A1"),
          BroadcastAnswer("A1"), BroadcastAnswer("A1"), BroadcastAnswer("B2"), BroadcastAnswer("A1")})
        device.Send(1664, bytes);
    EXPECT_EQ(HandedOnce(3), (std::vector<std::string>{"A1/1", "B2/1", "A1/1"}));
    broadcast->ClearOldDeviceInfo();
    device.Send(1664, BroadcastAnswer("A1"));
    device.Send(1664, BroadcastAnswer("A1", 4));
    EXPECT_EQ(HandedOnce(2), (std::vector<std::string>{"A1/1", "A1/4"}));

    // SSDP: of a run of identical messages every second one is dropped.
    auto* ssdp = Start<Decoding<CSearchDeviceMultiCommandThead>>(lab::kHostIp, 1665);
    const std::string alive =
        "NOTIFY * HTTP/1.1\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\nX: RUZO\r\nUSN: uuid:A1::x\r\n\r\n";
    const std::string other = "HTTP/1.1 200 OK\r\nX: RUZO\r\nUSN: uuid:B2::x\r\n\r\n";
    for (const std::string* text : {&alive, &alive, &alive, &other, &alive, &other}) device.Send(1665, *text);
    EXPECT_EQ(HandedOnce(5), (std::vector<std::string>{"A1/2", "A1/2", "B2/1", "A1/2", "B2/1"}));

    const std::string log = traced ? LogText().substr(logStart) : "";
    using Trace = std::pair<const char*, std::size_t>;
    for (const auto& [line, count] :
         {Trace{"1664 : Handle Broadcast Recive Information  ", 8},  // not for sizes
          {"1664 : Recive IP : 198.51.100.1 is not Device *[", 1},
          {"1664 : Handle Broadcast Recive Information Fail *[", 2},
          {"1664 : Handle Broadcast Recive Information Success *[", 5},
          {"1665 : Handle Mulitcast Recive Information Fail : Old Device, type = 2 *[", 1},
          {"1665 : Handle Mulitcast Recive Information Success, type = 1 *[", 2}})
        EXPECT_TRUE(!traced || testfiles::countOf(log, std::string("SendThread ") + line) == count) << line;

    // The client clears the last record before each search while the receive
    // thread compares with it: ThreadSanitizer checks that they never meet unguarded.
    std::atomic<bool> done{false};
    std::thread clearer([&] {
        while (!done) ssdp->ClearOldDeviceInfo();
    });
    for (int i = 0; i < 300; ++i) device.Send(1665, alive);
    device.Send(1665, other);
    std::vector<std::string> raced;
    ASSERT_TRUE(Eventually([&] {
        for (std::string& h : HandedOnce(0)) raced.push_back(std::move(h));
        return !raced.empty() && raced.back() == "B2/1";
    }));
    done = true;
    clearer.join();
    EXPECT_GE(raced.size(), 151u) << "every second one at most is dropped";
    Stop(broadcast);
    Stop(ssdp);
}

// The SSDP worker binds with address reuse, which another program's plain
// socket still refuses; it then moves on, at most twenty ports.
TEST(Worker, ATakenPortMovesTheWorkerOnAtMostTwentyTimesAndOnlyWithRetry) {
    std::vector<lab::Udp::socket> blockers;
    blockers.push_back(lab::Bound("0.0.0.0", 1900));
    auto* moved = Start<Multicast>(nullptr, 1900, true);
    ASSERT_TRUE(moved->StartSucceeded()) << moved->LastStartError();
    EXPECT_EQ(moved->Port(), 1901);
    // lan0 carries the any-interface membership; lan1's is an extra one, which the stop leaves again.
    moved->JoinGroupOn("198.51.100.1");
    moved->JoinGroupOn("203.0.113.1");
    Stop(moved);  // it would share 1901 with the next one
    EXPECT_TRUE(!SearchDeviceShowLog::io_log_enabled() ||
                testfiles::countOf(LogText(), "Leave To Multicast Group Info, Interface : 203.0.113.1 ") ==
                    1);

    for (int port = 1901; port <= 1920; ++port) blockers.push_back(lab::Bound("0.0.0.0", port));
    auto* stuck = Start<Multicast>(nullptr, 1900, true);
    EXPECT_EQ(std::pair(stuck->StartSucceeded(), stuck->Port()), std::pair(false, 1920));
    stuck->SendSearchCommandToDevice(unused);  // no socket: only an error line
    stuck->ExitSearchThread();
    auto* single = Start<Multicast>(nullptr, 1900, false);
    EXPECT_EQ(std::pair(single->StartSucceeded(), single->Port()), std::pair(false, 1900));
}

// The SSDP worker's membership on a second network: failed while it had no
// interface, then lost when its interface is deleted and made again (a VPN
// reconnect). Each later search makes it again, and traces a change only.
TEST(Worker, AGroupJoinThatFailedOrWentWithItsInterfaceIsMadeAgainAtTheNextSearch) {
    const std::string pid = std::getenv("LAB_LAN_PID"), lan = " && nsenter -t " + pid + " -n ";
    const std::string make = "ip link add nic9 type veth peer name box9 netns " + pid +
                             " && ip addr add 198.18.213.1/24 dev nic9 && ip link set nic9 up" + lan +
                             "ip addr add 198.18.213.9/24 dev box9" + lan + "ip link set box9 up";
    const std::string announce = "true" + lan +
                                 "python3 -c \"import socket as s; u = s.socket(2, 2); u.setsockopt("
                                 "0, s.IP_MULTICAST_IF, s.inet_aton('198.18.213.9')); u.sendto(b'NOTIFY', "
                                 "('239.143.255.250', 1900))\" 2>/dev/null";
    auto* ssdp = Start<Multicast>(nullptr, 1900);
    auto searchesThenHeard = [&] {
        const std::size_t before = ssdp->Calls().size();
        for (int search = 0; search < 2; ++search) ssdp->JoinGroupOn("198.18.213.1");
        return Eventually(
            [&] { return std::system(announce.c_str()) == 0 && ssdp->Calls().size() > before; });
    };
    ssdp->JoinGroupOn("198.18.213.1");
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    EXPECT_TRUE(searchesThenHeard()) << "after a failed join";
    ASSERT_EQ(std::system(("ip link del nic9 && " + make).c_str()), 0);
    EXPECT_TRUE(searchesThenHeard()) << "after the interface came back";
    Stop(ssdp);
    std::system("ip link del nic9");
    if (SearchDeviceShowLog::io_log_enabled()) {
        for (const auto& [line, count] :
             {std::pair{"Add To Multicast Group Info, Interface : 198.18.213.1 ", 2u},
              {"Alter Device Mulitcast Group Error, Interface : 198.18.213.1", 1u}})
            EXPECT_EQ(testfiles::countOf(LogText(), std::string("SendThread 1900 : ") + line), count) << line;
    }
}

// A sweep driven as the window does (log off): started without blocking, readable
// while it runs, cancelled by a new sweep, by a cancel and by the engine's exit.
TEST(Sweep, RunsAloneUntilANewSweepACancelOrTheExitStopsIt) {
    CDeviceSearchInterface* engine = CDeviceSearchInterface::GetInstance();
    auto setTargets = [engine](const char* text, int rate) {
        CSearchTargetList list;
        SearchTargetError error;
        EXPECT_TRUE(ParseSearchTargets(text, list, error)) << error.Describe();
        return engine->SetSearchTargets(list, rate);
    };
    EXPECT_EQ(engine->SweepSearchTargets(), -1) << "no engine yet";
    // The real workers, also kept here: the registry is destroyed at exit.
    CSearchDeviceClient::SetWorkerFactory([](SearchWorkerStatus::Kind kind) -> CSearchDeviceThread* {
        if (kind == SearchWorkerStatus::Kind::Broadcast) return Make<CSearchDeviceBroadcastThread>();
        return Make<CSearchDeviceMulticastThread>();
    });
    engine->DeviceSearchDllInit(nullptr, false, nullptr, false);
    EXPECT_EQ(engine->SweepSearchTargets(), 1) << "no targets yet";
    EXPECT_EQ(setTargets("198.18.10.0/24", 0), -1);

    // 508 datagrams at 2 per second: it runs for minutes unless stopped.
    ASSERT_EQ(setTargets("198.18.10.0/24", 2), 0);
    ASSERT_EQ(engine->SweepSearchTargets(), 0);
    EXPECT_FALSE(engine->WaitSweep(50));
    SweepProgress p = engine->GetSweepProgress();
    EXPECT_EQ(std::tuple(p.state, p.total, p.rate), std::tuple(SweepProgress::State::Running, 254ull, 2));
    EXPECT_GT(p.remaining, 200.0);
    ASSERT_EQ(engine->SweepSearchTargets(), 0);
    EXPECT_EQ(engine->GetSweepProgress().number, p.number + 1);
    engine->CancelSweep();
    p = engine->GetSweepProgress();
    EXPECT_EQ(p.state, SweepProgress::State::Cancelled);
    EXPECT_LT(p.done, p.total);
    EXPECT_TRUE(engine->WaitSweep(0));

    // The lab refuses sends to 198.19.0.0/24: the first target's failures
    // are counted and named, and the target after it is still asked.
    ASSERT_EQ(setTargets("198.19.0.1,203.0.113.10", kSearchRateMax), 0);
    ASSERT_EQ(engine->SweepSearchTargets(), 0);
    EXPECT_TRUE(engine->WaitSweep(-1));
    p = engine->GetSweepProgress();
    EXPECT_EQ(std::tuple(p.state, p.done, p.sent, p.failed),
              std::tuple(SweepProgress::State::Finished, 2ull, 2ull, 2ull));
    EXPECT_NE(p.error.find("(198.19.0.1:68)"), std::string::npos) << p.error;

    ASSERT_EQ(setTargets("198.18.10.0/24", 2), 0);
    ASSERT_EQ(engine->SweepSearchTargets(), 0);
    engine->DeviceSearchDllExit();
    EXPECT_EQ(engine->GetSweepProgress().state, SweepProgress::State::Cancelled);
    EXPECT_EQ(engine->SweepSearchTargets(), -1) << "no sweep after the exit";
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (const std::string why = lab::OutsideLab(); !why.empty())
        return std::fprintf(stderr, "%s: SKIP: %s\n", argv[0], why.c_str()), 77;
    // Before any worker starts: a receive loop picks its form at its start.
    if (argc > 1 && std::string(argv[1]) == "--log") LogText();
    return RUN_ALL_TESTS();
}
