// The receive loop in both its forms: this file runs in worker_lab_tests,
// where the log is on and each datagram is taken alone, and in
// quiet_lab_tests, where the log is off and datagrams come in batches. The
// protocol sees the same either way. Inside the lab's namespaces only.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

#include "LabSocket.h"
#include "SearchDeviceMultiCommandThead.h"
#include "WorkerTestSupport.h"

using workertest::Eventually;

namespace {

class RecordingWorker : public CSearchDeviceMultiCommandThead {
public:
    void HandleReceiveInfo(char* data, int length, std::string& senderIP) override {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(std::string(data, static_cast<std::size_t>(length) + 1) + "@" + senderIP);
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    bool Running() { return ReceiveThreadRunning(); }
    void RaiseExitFlag() { bExitSock = true; }
    std::mutex mutex;
    std::vector<std::string> calls;
};

// ThreadSanitizer watches the receive thread meet the caller's: at the start
// (another thread asks whether it runs), and at a stop amid traffic and sends.
TEST(ReceiveLoop, DatagramsArriveCutAndInOrderAndAStopEndsTheWaitHandingNothingOn) {
    auto device = lab::Bound(lab::kHostIp, 0);
    auto send = [&](int port, const std::string& bytes) { lab::SendTo(device, lab::kHostIp, port, bytes); };
    static auto* worker = new RecordingWorker;  // never deleted: its thread holds it
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
    send(1660, big);
    send(1660, "");
    for (int i = 0; i < 300; ++i) {
        send(1660, "answer " + std::to_string(i));
        expected.push_back("answer " + std::to_string(i) + '\0' + "@198.51.100.1");
    }
    ASSERT_TRUE(Eventually([&] { return worker->Calls().size() >= expected.size(); }));
    EXPECT_EQ(worker->Calls(), expected);

    worker->ExitSearchThread();
    EXPECT_TRUE(Eventually([&] { return !worker->Running(); })) << "the wait was not released";
    EXPECT_NO_THROW(lab::Bound(lab::kHostIp, 1660)) << "the thread closed the socket on its way out";
    worker->ExitSearchThread();  // a second stop is harmless

    // The stop's flag goes up while the receive waits, and a datagram wakes it.
    static auto* late = new RecordingWorker;
    late->InitSearchThread(lab::kHostIp, 1661, false);
    send(1661, "first");
    ASSERT_TRUE(Eventually([&] { return late->Calls().size() == 1; }));
    if (SearchDeviceShowLog::io_log_enabled()) {  // its line tells when the receive waits again
        ASSERT_TRUE(Eventually([] {
            return testfiles::countOf(workertest::LogText(), "SendThread 1661 : Wait Reciver Socket") == 2;
        }));
    }
    late->RaiseExitFlag();
    send(1661, "late");
    ASSERT_TRUE(Eventually([&] { return !late->Running(); }));
    EXPECT_EQ(late->Calls().size(), 1u) << "a datagram that came with the stop was handed on";

    static auto* flooded = new RecordingWorker;
    flooded->InitSearchThread(lab::kHostIp, 1662, false);
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        while (flooding) send(1662, "flood");
    });
    ASSERT_TRUE(Eventually([&] { return flooded->Calls().size() >= 10; }));
    dhcppacket unused{};
    flooded->SendSearchCommandToDevice(unused);
    flooded->ExitSearchThread();
    ASSERT_TRUE(Eventually([&] { return !flooded->Running(); }));
    const std::size_t handed = flooded->Calls().size();
    flooded->SendSearchCommandToDevice(unused);
    flooding = false;
    flood.join();
    EXPECT_EQ(flooded->Calls().size(), handed) << "nothing is handed on after the stop";
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string why;
    if (!lab::InsideLab(&why)) {
        std::fprintf(stderr, "%s: SKIP: %s\n", argv[0], why.c_str());
        return 77;
    }
    return RUN_ALL_TESTS();
}
