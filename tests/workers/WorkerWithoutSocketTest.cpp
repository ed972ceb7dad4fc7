// Workers whose start never happened: what a failed start leaves behind.
// Nothing here opens a socket.
#include <gtest/gtest.h>

#include "SearchDeviceBroadcastThread.h"
#include "SearchDeviceMultiCommandThead.h"
#include "SearchDeviceMulticastThread.h"
#include "WorkerTestSupport.h"

using workertest::LogTail;

namespace {

template <typename Worker>
class Numbered : public Worker {
public:
    explicit Numbered(int port) { this->nPort = port; }
};

class WorkerWithoutSocket : public ::testing::Test {
protected:
    void SetUp() override { workertest::TestLog::Get(); }
};

TEST_F(WorkerWithoutSocket, SendsFailAndAreLogged) {
    LogTail log;
    dhcppacket packet{};
    Numbered<CSearchDeviceBroadcastThread> broadcast(7067);
    Numbered<CSearchDeviceMulticastThread> multicast(7900);
    Numbered<CSearchDeviceMultiCommandThead> command(7530);
    EXPECT_EQ(broadcast.SendSearchCommandToDevice(packet), 0);
    EXPECT_EQ(multicast.SendSearchCommandToDevice(packet), 0);
    EXPECT_EQ(command.SendSearchCommandToDevice(packet), 0);
    EXPECT_TRUE(log.Has("SendThread 7067 : Send Broadcast Search Command  "));
    EXPECT_TRUE(log.Has("SendThread 7067 : Send Broadcast Search Error : send_to: Bad file descriptor   "));
    EXPECT_TRUE(log.Has("SendThread 7900 : Send Search Device Command  "));
    EXPECT_TRUE(log.Has("SendThread 7900 : Send Search Device Error : send_to: Bad file descriptor   "));
    EXPECT_TRUE(log.Has("SendThread 7530 : Send Search Device Error : send_to: Bad file descriptor   "));
    EXPECT_FALSE(broadcast.StartSucceeded());
}

TEST_F(WorkerWithoutSocket, StopWritesTheExitLineAndLeavesOnlyTheGroup) {
    LogTail log;
    Numbered<CSearchDeviceMulticastThread> multicast(7901);
    Numbered<CSearchDeviceMultiCommandThead> command(7531);
    Numbered<CSearchDeviceBroadcastThread> broadcast(7068);
    multicast.ExitSearchThread();
    command.ExitSearchThread();
    broadcast.ExitSearchThread();
    EXPECT_TRUE(log.Has("SendThread 7901 : Exit Search Device Tread , bExitSock : 1  "));
    EXPECT_TRUE(log.Has("SendThread 7531 : Exit Search Device Tread , bExitSock : 1  "));
    EXPECT_TRUE(log.Has("SendThread 7068 : Exit Search Device Tread , bExitSock : 1  "));
    // The leave fails on a socket that was never opened; the stop goes on.
    EXPECT_TRUE(log.Has(
        "SendThread 7901 : Alter Device Mulitcast Group Error : set_option: Bad file descriptor  \r\n"));
    EXPECT_EQ(log.CountFragment("SendThread 7531 : Alter"), 0u);
    EXPECT_EQ(log.CountFragment("SendThread 7531 : Leave"), 0u);
}

}  // namespace
