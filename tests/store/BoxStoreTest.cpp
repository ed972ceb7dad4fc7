// The store of known boxes, fed through the listener's log as the programs feed it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AnswerLog.h"
#include "BoxStore.h"
#include "TestFiles.h"

using namespace store;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::SizeIs;

namespace {

deviceinfo Record(const std::string& id, const std::string& ip, const std::string& version = "") {
    deviceinfo d;
    std::snprintf(d.id, sizeof d.id, "%s", id.c_str());
    std::snprintf(d.ip, sizeof d.ip, "%s", ip.c_str());
    std::snprintf(d.version, sizeof d.version, "%s", version.c_str());
    std::strcpy(d.host, "nas-office");
    std::strcpy(d.factory, "orvale");
    d.type = kDeviceAnswer;
    return d;
}

// One search: the listener hears each (record, port), the list holds the records.
std::vector<Move> Search(BoxStore& boxes, const std::vector<std::pair<deviceinfo, int>>& heard,
                         std::vector<deviceinfo> list, std::time_t now) {
    AnswerLog log;
    for (const auto& [record, port] : heard) log.Note(record, port);
    return boxes.Record(log.Sightings(list), now);
}

Sighting Box(int n) {
    Sighting s;
    s.factory = "ORVALE";
    s.id = "ID" + std::to_string(n);
    s.keys = {BoxKey(s.factory, s.id)};
    s.ip = "198.51.100." + std::to_string(n % 250);
    return s;
}

mode_t Mode(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info), info.st_mode & 0777;
}

TEST(BoxStore, RemembersABoxOnceUnderItsNewAddressAndReportsTheMove) {
    testfiles::TempDir dir;
    BoxStore boxes(dir.path + "/boxes.db");
    // Two ids at one address in one search (one per protocol) are one box;
    // the broadcast answer carries no version, which keeps the known one. An
    // address text that is no IPv4 address (it may come from the answer) is never remembered.
    const deviceinfo ssdp = Record("A1", "198.51.100.10", "2.1"), bcast = Record("a1-b", "198.51.100.10"),
                     evil = Record("E1", "1.2.3.4@evil.example/");
    EXPECT_THAT(Search(boxes, {{ssdp, 1900}, {bcast, 67}, {evil, 1900}}, {bcast, evil}, 1000), SizeIs(0));
    // Later it answers by broadcast alone from a new address, and the list still holds the old record.
    const deviceinfo moved = Record("a1-b", "198.51.100.23");
    const std::vector<Move> moves = Search(boxes, {{moved, 67}}, {bcast, moved}, 2000);
    ASSERT_THAT(moves, SizeIs(1));
    EXPECT_EQ(moves[0].from + " " + moves[0].box.ip, "198.51.100.10 198.51.100.23");
    const std::vector<KnownBox> all = boxes.All();
    ASSERT_THAT(all, SizeIs(1));
    EXPECT_EQ(std::tuple(all[0].version, all[0].protocols, all[0].firstSeen, all[0].lastSeen),
              std::tuple("2.1", kBroadcast | kSsdp, 1000, 2000));
    EXPECT_THAT(all[0].addresses, ElementsAre(Field(&EarlierAddress::ip, "198.51.100.10")));
    EXPECT_EQ(all[0].addresses[0].lastSeen, 1000);
    // Asked by its other id it is the same box; the same address again is no move.
    ASSERT_TRUE(boxes.Find(BoxKey("ORVALE", "A1")));
    EXPECT_THAT(Search(boxes, {{moved, 67}}, {moved}, 3000), SizeIs(0));
    EXPECT_EQ(boxes.Forget({BoxKey("ORVALE", "A1")}), 1);
    EXPECT_THAT(boxes.All(), SizeIs(0));
    EXPECT_THAT(boxes.TakeNotices(), SizeIs(0));
}

TEST(BoxStore, KeepsTheMostRecentlySeenWithinTheBound) {
    testfiles::TempDir dir;
    BoxStore boxes(dir.path + "/boxes.db");
    const int bound = static_cast<int>(BoxStore::kMaxBoxes), extra = 5;
    for (int n = 0; n < bound + extra; ++n) {
        // The first box is seen again last: recency, not age, decides.
        boxes.Record({Box(n)}, 1000 + n);
        if (n == bound) boxes.Record({Box(0)}, 1000 + n);
    }
    const std::vector<KnownBox> all = boxes.All();
    ASSERT_THAT(all, SizeIs(BoxStore::kMaxBoxes));
    EXPECT_TRUE(boxes.Find(Box(0).keys[0]));
    for (int n = 1; n <= extra; ++n) EXPECT_FALSE(boxes.Find(Box(n).keys[0])) << n;
    EXPECT_EQ(all.front().id, "ID" + std::to_string(bound + extra - 1));
}

// Told once, and nothing is kept. A damaged file set aside is known_lab's moved_box case.
TEST(BoxStore, AnUnwritableStoreStaysQuietAfterItsOneNotice) {
    BoxStore boxes("/dev/null/nasscout/boxes.db");
    const std::vector<Notice> notices = boxes.TakeNotices();
    ASSERT_THAT(notices, SizeIs(1));
    EXPECT_EQ(notices[0].kind, Notice::Kind::Unwritable);
    boxes.Record({Box(1)}, 1000);
    EXPECT_THAT(boxes.TakeNotices(), SizeIs(0));
    EXPECT_THAT(boxes.All(), SizeIs(0));
}

TEST(BoxStore, TwoProcessesWritingAtOnceBothKeepTheirBoxes) {
    testfiles::TempDir dir;
    const std::string path = dir.path + "/state/nasscout/boxes.db";
    const int each = 150;
    std::vector<pid_t> writers;
    for (int w = 0; w < 2; ++w) {
        writers.push_back(fork());
        ASSERT_GE(writers.back(), 0);
        if (writers.back() == 0) {
            BoxStore boxes(path);
            for (int n = 0; n < each; ++n) boxes.Record({Box(w * each + n)}, 1000 + n);
            _exit(boxes.TakeNotices().empty() ? 0 : 1);
        }
    }
    for (pid_t pid : writers) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_THAT(BoxStore(path).All(), SizeIs(2 * each));
    EXPECT_EQ(std::pair(Mode(path), Mode(dir.path + "/state/nasscout")), std::pair(0600u, 0700u));
}

}  // namespace
