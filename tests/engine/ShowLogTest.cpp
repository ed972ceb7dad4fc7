// The search log: switch, file name and place, line formats, length limits.
// The log's state is process-wide, so every test starts it afresh.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "ShowLog.h"

namespace {

namespace fs = std::filesystem;
using enginetest::countOf;
using enginetest::readFile;
using enginetest::TempDir;
using namespace SearchDeviceShowLog;

const std::string kBanner = "------Start Log System-------\r\n";
const std::string kExitBanner = "------Exit Log System-------\r\n";
// "*[dd::hh:mm:ss]\r\n": always 17 characters.
const std::string kStamp = R"(\*\[\d\d::\d\d:\d\d:\d\d\]\r\n)";

std::vector<std::string> regularFilesUnder(const std::string& root) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) out.push_back(e.path().string());
    return out;
}

class ShowLog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        io_log_init(false, nullptr);
    }
    void TearDown() override { io_log_init(false, nullptr); }

    // Starts the log in the scratch directory; returns the file's path.
    std::string start() {
        std::string before = enginetest::todaysLogName();
        EXPECT_EQ(io_log_init(true, dir.slash().c_str()), 1);
        std::vector<std::string> files = regularFilesUnder(dir.path());
        EXPECT_EQ(files.size(), 1u);
        if (files.empty()) return dir.slash() + before;
        std::string name = fs::path(files[0]).filename().string();
        // Tolerates a start right at midnight.
        EXPECT_TRUE(name == before || name == enginetest::todaysLogName()) << name;
        return files[0];
    }
    std::string body(const std::string& file) {
        std::string all = readFile(file);
        EXPECT_EQ(all.compare(0, kBanner.size(), kBanner), 0) << all;
        return all.size() >= kBanner.size() ? all.substr(kBanner.size()) : all;
    }

    TempDir dir;
};

TEST_F(ShowLog, OffOrWithoutDirectoryWritesNothingAnywhere) {
    for (int on = 0; on < 2; ++on) {
        SCOPED_TRACE(on ? "on without directory" : "off");
        EXPECT_EQ(io_log_init(on, on ? nullptr : dir.slash().c_str()), 0);
        testing::internal::CaptureStdout();
        EXPECT_EQ(io_printf("hello %d", 1), 0);
        EXPECT_EQ(io_printf_time("hello %d", 2), 0);
        EXPECT_EQ(io_log("a", "b", 3, "c"), 0);
        io_log_exit();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_TRUE(regularFilesUnder(dir.path()).empty());
    }
}

TEST_F(ShowLog, StartCreatesOrExtendsTheDayFileWithABanner) {
    std::string file = start();
    EXPECT_EQ(readFile(file), kBanner);
    EXPECT_EQ(io_log_init(true, dir.slash().c_str()), 1);
    EXPECT_EQ(readFile(file), kBanner + kBanner);
    EXPECT_EQ(regularFilesUnder(dir.path()).size(), 1u);
}

TEST_F(ShowLog, DirectoryWithoutSlashGluesTheNameToItsLastComponent) {
    fs::create_directory(dir.slash() + "logs");
    std::string before = enginetest::todaysLogName();
    EXPECT_EQ(io_log_init(true, (dir.slash() + "logs").c_str()), 1);
    std::vector<std::string> files = regularFilesUnder(dir.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(fs::path(files[0]).parent_path(), fs::path(dir.path()));
    std::string name = fs::path(files[0]).filename().string();
    EXPECT_TRUE(name == "logs" + before || name == "logs" + enginetest::todaysLogName()) << name;
}

TEST_F(ShowLog, MissingDirectoryStillEchoesToStandardOutput) {
    EXPECT_EQ(io_log_init(true, (dir.slash() + "missing/").c_str()), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(io_printf("worker %d up", 67), 1);
    EXPECT_EQ(io_printf_time("worker %d up", 68), 1);
    EXPECT_EQ(io_log("a", "b", 1, "c"), 0);
    io_log_exit();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(std::regex_match(out, std::regex("worker 67 up" + kStamp + R"(\[--.*--\]\*worker 68 up\r\n)")))
        << out;
    EXPECT_TRUE(regularFilesUnder(dir.path()).empty());
}

TEST_F(ShowLog, EventLinesGoToFileAndStandardOutputAlike) {
    std::string file = start();
    testing::internal::CaptureStdout();
    EXPECT_EQ(io_printf("Handle %d : Search %d  ", 1900, 1900), 1);
    EXPECT_EQ(io_printf("ends in a break\r\n"), 1);
    EXPECT_EQ(io_printf_time("time %s", "line"), 1);
    std::string out = testing::internal::GetCapturedStdout();

    std::string written = body(file);
    EXPECT_EQ(written, out);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(written, m,
                                 std::regex("Handle 1900 : Search 1900  " + kStamp + "ends in a break\r\n" + kStamp +
                                            R"(\[--(.*)--\]\*time line\r\n)")))
        << written;
    EXPECT_TRUE(std::regex_match(m[1].str(), std::regex(R"(\d\d:\d\d:\d\d(\.\d{6})?)"))) << m[1];

}

TEST_F(ShowLog, StampIsTheLocalDayAndTimeOfDay) {
    std::string file = start();
    auto now = [] {
        std::time_t t = std::time(nullptr);
        std::tm local{};
        localtime_r(&t, &local);
        return local;
    };
    std::tm before = now();
    testing::internal::CaptureStdout();
    io_printf("x");
    testing::internal::GetCapturedStdout();
    std::tm after = now();

    std::smatch m;
    std::string written = body(file);
    ASSERT_TRUE(std::regex_match(written, m, std::regex(R"(x\*\[(\d\d)::(\d\d):(\d\d):(\d\d)\]\r\n)")))
        << written;
    auto secondsOf = [](const std::tm& t) { return (t.tm_mday * 24 + t.tm_hour) * 3600 + t.tm_min * 60 + t.tm_sec; };
    int stamped = ((std::stoi(m[1]) * 24 + std::stoi(m[2])) * 3600) + std::stoi(m[3]) * 60 + std::stoi(m[4]);
    if (before.tm_mday == after.tm_mday) {  // skip the check across midnight
        EXPECT_GE(stamped, secondsOf(before));
        EXPECT_LE(stamped, secondsOf(after));
    }
}

TEST_F(ShowLog, EmptyOrMissingMessageWritesNothing) {
    std::string file = start();
    testing::internal::CaptureStdout();
    EXPECT_EQ(io_printf("%s", ""), 0);
    EXPECT_EQ(io_printf_time("%s", ""), 0);
    const char* none = nullptr;
    EXPECT_EQ(io_printf(none), 0);
    EXPECT_EQ(io_printf_time(none), 0);
    for (int i = 0; i < 3; ++i) {
        const char* t[3] = {"a", "b", "c"};
        t[i] = nullptr;
        EXPECT_EQ(io_log(t[0], t[1], 5, t[2]), 0) << i;
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(body(file), "");
}

TEST_F(ShowLog, OverlongLinesAreRefusedWholeNeverCut) {
    std::string file = start();
    testing::internal::CaptureStdout();
    const std::string fits(1006, 'm');  // + 17 = 1023
    EXPECT_EQ(io_printf("%s", fits.c_str()), 1);
    for (std::size_t len : {1007u, 1017u, 1023u, 1024u, 5000u}) {
        EXPECT_EQ(io_printf("%s", std::string(len, 'x').c_str()), 0) << len;
        EXPECT_EQ(io_printf_time("%s", std::string(len, 'y').c_str()), 0) << len;
    }
    const std::string timed(990, 't');  // the stamp takes 17 to 24
    EXPECT_EQ(io_printf_time("%s", timed.c_str()), 1);
    EXPECT_EQ(io_log("a", "b", 1, std::string(1012, 'z').c_str()), 0);
    const std::string tail(1011, 'l');  // "[a]:b(1): " + 1011 + CR LF = 1023
    EXPECT_EQ(io_log("a", "b", 1, tail.c_str()), 1);
    std::string out = testing::internal::GetCapturedStdout();

    std::vector<std::string> lines;
    std::string written = body(file);
    for (std::size_t at = 0, end; (end = written.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(written.substr(at, end + 2 - at));
    ASSERT_EQ(lines.size(), 3u) << written;
    EXPECT_EQ(lines[0].size(), 1023u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(fits + kStamp)));
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\[--[0-9:.]+--\]\*)" + timed + "\r\n")));
    EXPECT_EQ(lines[2], "[a]:b(1): " + tail + "\r\n");
    EXPECT_EQ(lines[2].size(), 1023u);
    EXPECT_EQ(out, lines[0] + lines[1]) << "io_log does not echo";
}

TEST_F(ShowLog, LinesAfterExitStillReachTheFile) {
    std::string file = start();
    testing::internal::CaptureStdout();
    io_printf("before");
    io_log_exit();
    EXPECT_EQ(io_printf("after"), 1);
    EXPECT_EQ(io_log("f", "g", 2, "h"), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(std::regex_match(body(file), std::regex("before" + kStamp + kExitBanner + "after" + kStamp +
                                                        R"(\[f\]:g\(2\): h\r\n)")))
        << body(file);
}

TEST_F(ShowLog, CurrentTimeIsTimeOfDayWithOptionalMicroseconds) {
    for (int i = 0; i < 20; ++i) {
        std::string t = get_curtime();
        std::smatch m;
        ASSERT_TRUE(std::regex_match(t, m, std::regex(R"((\d\d):(\d\d):(\d\d)(\.(\d{6}))?)"))) << t;
        EXPECT_LT(std::stoi(m[1]), 24);
        EXPECT_LT(std::stoi(m[2]), 60);
        EXPECT_LT(std::stoi(m[3]), 61);
        if (m[5].matched) {
            EXPECT_NE(m[5].str(), "000000");
        }
    }
}

// Builds an existing directory whose text, trailing '/' included, is exactly
// `length` characters long.
std::string existingDirOfLength(const std::string& base, std::size_t length) {
    std::string path = base;
    while (path.size() < length) {
        std::size_t room = length - path.size();
        // Names stay under the 255-character limit; the last one is 56..255.
        path += std::string(room > 256 ? 200 : room - 1, 'd') + "/";
    }
    fs::create_directories(path);
    return path;
}

TEST_F(ShowLog, PathAtTheBufferLimit) {
    // The file name takes 30 characters, the buffer 4095 plus a terminator.
    std::string longest = existingDirOfLength(dir.slash() + "a/", 4065);
    ASSERT_EQ(longest.size(), 4065u);
    EXPECT_EQ(io_log_init(true, longest.c_str()), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(io_printf("deep"), 1);
    testing::internal::GetCapturedStdout();
    std::vector<std::string> files = regularFilesUnder(dir.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].size(), 4095u);
    fs::remove(files[0]);

    std::string tooLong = existingDirOfLength(dir.slash() + "b/", 4066);
    ASSERT_EQ(tooLong.size(), 4066u);
    EXPECT_EQ(io_log_init(true, tooLong.c_str()), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(io_printf("deep"), 0);
    EXPECT_EQ(io_printf_time("deep"), 0);
    EXPECT_EQ(io_log("a", "b", 1, "c"), 0);
    io_log_exit();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(regularFilesUnder(dir.path()).empty());

    std::string huge(10000, 'z');
    EXPECT_EQ(io_log_init(true, huge.c_str()), 0);
    EXPECT_EQ(io_printf("deep"), 0);
}

TEST_F(ShowLog, ConcurrentWritersKeepEveryLineWhole) {
    std::string file = start();
    constexpr int kThreads = 4, kLines = 100;
    testing::internal::CaptureStdout();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            std::string filler(200 + 50 * t, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) io_printf("T%d L%03d %s", t, i, filler.c_str());
        });
    for (std::thread& th : threads) th.join();
    testing::internal::GetCapturedStdout();

    std::string written = body(file);
    std::regex line(R"(T(\d) L\d{3} ([a-d])\2*)" + kStamp);
    std::size_t count = 0;
    for (std::size_t at = 0; at < written.size(); ++count) {
        std::size_t end = written.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        std::string one = written.substr(at, end + 2 - at);
        ASSERT_TRUE(std::regex_match(one, line)) << one;
        at = end + 2;
    }
    EXPECT_EQ(count, static_cast<std::size_t>(kThreads * kLines));
}

}  // namespace
