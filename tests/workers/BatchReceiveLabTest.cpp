// The receive loop while the log is off (this program never switches it on):
// datagrams taken in batches reach the protocol exactly as the loop with the
// log on gives them. Inside the lab's namespaces only.
#include <gtest/gtest.h>

#include <cstdio>

#include "LabSocket.h"
#include "SearchDeviceMultiCommandThead.h"
#include "WorkerTestSupport.h"

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

TEST(BatchReceive, QueuedDatagramsArriveWholeCutAndInOrderAndAStopEndsTheWaitHandingNothingOn) {
    ASSERT_FALSE(SearchDeviceShowLog::io_log_enabled());
    lab::UdpSocket device(lab::kHostIp, 0);
    static auto* worker = new RecordingWorker;  // never deleted: its thread holds it
    worker->InitSearchThread(lab::kHostIp, 1640, false);
    ASSERT_TRUE(worker->StartSucceeded()) << worker->LastStartError();

    std::string big(1500, 'x');
    std::vector<std::string> expected = {big.substr(0, 1024) + '\0' + "@198.51.100.1"};
    device.SendTo(lab::kHostIp, 1640, big);
    device.SendTo(lab::kHostIp, 1640, "");
    // A quick run queues up faster than one receive per datagram takes them.
    for (int i = 0; i < 300; ++i) {
        const std::string text = "answer " + std::to_string(i);
        device.SendTo(lab::kHostIp, 1640, text);
        expected.push_back(text + '\0' + "@198.51.100.1");
    }
    ASSERT_TRUE(workertest::Eventually([&] { return worker->Calls().size() >= expected.size(); }));
    EXPECT_EQ(worker->Calls(), expected);

    worker->ExitSearchThread();
    EXPECT_TRUE(workertest::Eventually([&] { return !worker->Running(); })) << "the wait was not released";

    // The stop's flag goes up while the receive waits, and a datagram wakes it.
    static auto* late = new RecordingWorker;
    late->InitSearchThread(lab::kHostIp, 1641, false);
    device.SendTo(lab::kHostIp, 1641, "first");  // handed on: the loop is waiting again
    ASSERT_TRUE(workertest::Eventually([&] { return late->Calls().size() == 1; }));
    late->RaiseExitFlag();
    device.SendTo(lab::kHostIp, 1641, "late");
    ASSERT_TRUE(workertest::Eventually([&] { return !late->Running(); }));
    EXPECT_EQ(late->Calls().size(), 1u) << "a datagram that came with the stop was handed on";
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string why;
    if (!lab::InsideLab(&why)) {
        std::fprintf(stderr, "quiet_lab_tests: SKIP: %s\n", why.c_str());
        return 77;
    }
    return RUN_ALL_TESTS();
}
