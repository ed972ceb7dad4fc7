// The search log: switch, file name and place, line formats, length limits.
// The log's state is process-wide, so every test starts it afresh.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <regex>

#include "ShowLog/ShowLog.h"
#include "TestFiles.h"

namespace {

using namespace SearchDeviceShowLog;

// "*[dd::hh:mm:ss]\r\n": always 17 characters.
const std::string kStamp = R"(\*\[\d\d::\d\d:\d\d:\d\d\]\r\n)";

class ShowLog : public ::testing::Test {
protected:
    void SetUp() override { testing::internal::CaptureStdout(); }
    void TearDown() override { io_log_init(false, nullptr), testing::internal::GetCapturedStdout(); }
    std::string echoed() {
        std::string out = testing::internal::GetCapturedStdout();
        return testing::internal::CaptureStdout(), out;
    }
    std::string written() { return testfiles::readFile(dir.slash() + testfiles::todaysLogName()); }
    testfiles::TempDir dir;
};

TEST_F(ShowLog, LinesAreStampedEchoedAndAppendedOnlyWhenOnWithADirectoryThatFits) {
    // The file name takes 30 characters, the path buffer 4095 plus a terminator.
    std::string tooDeep = dir.slash() + "b/";
    while (tooDeep.size() < 4066)
        tooDeep += std::string(std::min<std::size_t>(200, 4065 - tooDeep.size()), 'd') + "/";
    std::filesystem::create_directories(tooDeep);
    const std::string tooLong(10000, 'z');
    for (auto [on, where] : {std::pair{false, dir.slash().c_str()},
                             {true, nullptr},
                             {true, tooDeep.c_str()},
                             {true, tooLong.c_str()}}) {
        EXPECT_EQ(io_log_init(on, where), 0) << on << (where ? std::strlen(where) : 0);
        EXPECT_EQ(io_printf("hello %d", 1) + io_printf_time("hello") + io_log("a", "b", 3, "c"), 0);
        io_log_exit();
    }
    EXPECT_FALSE(std::ranges::any_of(std::filesystem::recursive_directory_iterator(dir.path),
                                     [](const auto& e) { return e.is_regular_file(); }));
    EXPECT_EQ(io_log_init(true, dir.slash().c_str()), 1);
    EXPECT_EQ(io_printf("worker %d up", 67) + io_printf_time("at %s", "noon") + io_log("a", "b", 1, "c"), 3);
    io_log_exit();
    const std::string time = R"(\[--\d\d:\d\d:\d\d(\.\d{6})?--\]\*at noon\r\n)";
    EXPECT_TRUE(std::regex_match(echoed(), std::regex("worker 67 up" + kStamp + time)));
    EXPECT_TRUE(std::regex_match(written(),
                                 std::regex("------Start Log System-------\r\nworker 67 up" + kStamp + time +
                                            "\\[a\\]:b\\(1\\): c\r\n------Exit Log System-------\r\n")));
}

TEST_F(ShowLog, EmptyOrOverlongLinesAreRefusedWholeNeverCut) {
    EXPECT_EQ(io_log_init(true, dir.slash().c_str()), 1);
    EXPECT_EQ(io_printf("%s", "") + io_printf_time("%s", "") + io_printf(static_cast<const char*>(nullptr)) +
                  io_log(nullptr, "b", 5, "c") + io_log("a", "b", 5, nullptr),
              0);
    const std::string fits(1006, 'm');  // + the 17-character stamp = 1023
    EXPECT_EQ(io_printf("%s", fits.c_str()), 1);
    for (std::size_t len : {1007u, 1024u, 5000u})
        EXPECT_EQ(io_printf("%s", std::string(len, 'x').c_str()) + io_printf_time("%s", std::string(len, 'y').c_str()),
                  0)
            << len;
    const std::string tail(1011, 'l');  // "[a]:b(1): " + 1011 + CR LF = 1023
    EXPECT_EQ(io_log("a", "b", 1, tail.c_str()) + io_log("a", "b", 1, (tail + "l").c_str()), 1);
    EXPECT_TRUE(std::regex_match(echoed(), std::regex(fits + kStamp)));
    ASSERT_EQ(written().size(), 31 + 2046u);
    EXPECT_EQ(written().substr(31 + 1023), "[a]:b(1): " + tail + "\r\n");
}

}  // namespace
