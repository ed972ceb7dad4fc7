// Forged distinct devices through the hand-over: the list stops at its cap and
// the log gets one line per search, not one per record. Nothing is sent.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "DeviceSearchInterface.h"
#include "SearchDeviceClient.h"
#include "ShowLog.h"
#include "TestFiles.h"

namespace {

deviceinfo forged(int search, int n) {
    deviceinfo d;
    std::snprintf(d.id, sizeof d.id, "F%d-%d", search, n);
    std::snprintf(d.ip, sizeof d.ip, "10.%d.%d.%d", search, n >> 8, n & 255);
    std::strcpy(d.factory, "kestil");
    d.type = kDeviceAnswer;
    return d;
}

TEST(ListCapFlood, FiveThousandDistinctDevicesPerSearchKeepTheFirst4096AndLogOncePerSearch) {
    CSearchDeviceClient::SetWorkerFactory([](SearchWorkerStatus::Kind) { return nullptr; });
    CSearchDeviceClient::SetAddressSources([] { return std::vector<std::string>{}; },
                                           [] { return std::vector<std::string>{}; });
    CSearchDeviceClient::SetDeviceCallback(&CDeviceSearchInterface::SearchDeviceRecallHandle);
    CDeviceSearchInterface* list = CDeviceSearchInterface::GetInstance();
    testfiles::TempDir dir;
    ASSERT_EQ(SearchDeviceShowLog::io_log_init(true, dir.slash().c_str()), 1);

    testing::internal::CaptureStdout();  // the front end prints one line per record
    for (int search = 1; search <= 2; ++search) {
        list->SendSearchDeviceCommand(nullptr);
        for (int n = 0; n < 5000; ++n) {
            deviceinfo d = forged(search, n);
            CSearchDeviceClient::HandleDeviceMessage(&d, sizeof d, 1530);
        }
    }
    testing::internal::GetCapturedStdout();
    SearchDeviceShowLog::io_log_init(false, nullptr);

    std::vector<deviceinfo> now;
    list->GetDeviceList(now);
    ASSERT_EQ(now.size(), CDeviceSearchInterface::kMaxDevices);
    EXPECT_STREQ(now.front().id, "F1-0");
    EXPECT_STREQ(now.back().id, "F1-4095");
    const std::string log = testfiles::readFile(dir.slash() + testfiles::todaysLogName());
    EXPECT_EQ(testfiles::countOf(log, "Device list full ("), 2u);
    EXPECT_EQ(testfiles::countOf(log, "new device IP : 10.1.16.0 dropped"), 1u);
    EXPECT_EQ(testfiles::countOf(log, "new device IP : 10.2.0.0 dropped"), 1u);
}

}  // namespace
