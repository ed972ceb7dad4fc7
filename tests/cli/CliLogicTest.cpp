// The CLI's pure logic: output formats, snapshot diffs, start warnings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "CliOutput.h"
#include "SnapshotDiff.h"
#include "StartWarnings.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace cli;

namespace {

void Set(char (&field)[32], const std::string& bytes) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, bytes.data(), std::min(bytes.size(), sizeof field));
}

deviceinfo Device(const std::string& ip, const std::string& host, const std::string& product = "DS-220",
                  const std::string& maker = "ORVALE") {
    deviceinfo d;
    Set(d.id, "ID-" + ip);
    Set(d.ip, ip);
    Set(d.host, host);
    Set(d.product, product);
    Set(d.factory, maker);
    Set(d.version, "2.1.7");
    d.type = 1;
    return d;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t pos = 0, end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
        lines.push_back(text.substr(pos, end - pos));
    return lines;
}

TEST(CliJson, ArrayHasEveryKeyInOrderWithTypes) {
    deviceinfo d = Device("198.51.100.10", "nas-office");
    Set(d.extra, "rack");
    d.type = 2;
    d.lifetime = 50;
    auto parsed = nlohmann::ordered_json::parse(FormatJsonArray({d, Device("198.51.100.11", "b")}));
    ASSERT_TRUE(parsed.is_array());
    ASSERT_EQ(parsed.size(), 2u);
    std::vector<std::string> keys;
    for (const auto& item : parsed[0].items()) keys.push_back(item.key());
    EXPECT_THAT(
        keys, ElementsAre("id", "ip", "host", "product", "extra", "version", "factory", "type", "lifetime"));
    EXPECT_EQ(parsed[0]["extra"], "rack");
    EXPECT_TRUE(parsed[0]["type"].is_number_integer());
    EXPECT_EQ(parsed[0]["type"], 2);
    EXPECT_EQ(parsed[0]["lifetime"], 50);
    EXPECT_EQ(parsed[1]["ip"], "198.51.100.11");
    EXPECT_EQ(nlohmann::json::parse(FormatJsonArray({})), nlohmann::json::array());
}

TEST(CliJson, HostileBytesStillGiveValidJson) {
    deviceinfo d = Device("198.51.100.10", "");
    Set(d.host,
        "a\xFF"
        "b\xC0\xAF"
        "c\xED\xA0\x80"
        "d\xE2\x82");  // stray, overlong, surrogate, cut short
    Set(d.product, "q\"\\\n\x01\x1B[2J");
    Set(d.extra, "Z\xC3\xBCrich \xF0\x9F\x98\x80");  // valid multi-byte text is kept
    std::memset(d.version, 'v', sizeof d.version);   // no terminator at all
    std::string text = FormatJsonArray({d});
    auto parsed = nlohmann::json::parse(text);  // throws on invalid UTF-8 or bad escapes
    EXPECT_EQ(parsed[0]["host"],
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD\xEF\xBF\xBD"
              "c\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
              "d\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(parsed[0]["product"], "q\"\\\n\x01\x1B[2J");
    EXPECT_EQ(parsed[0]["extra"], "Z\xC3\xBCrich \xF0\x9F\x98\x80");
    EXPECT_EQ(parsed[0]["version"], std::string(32, 'v'));
    EXPECT_EQ(Lines(FormatEventJsonl({DeviceEvent::Kind::Added, d})).size(), 1u);
}

TEST(CliText, TerminalTextLosesControlCharacters) {
    EXPECT_EQ(DisplayText("\x1B[31mred\x7F\xC2\x9B"
                          "1m\n"),
              "?[31mred??1m?");
    EXPECT_EQ(DisplayText("caf\xC3\xA9 \xC2\xA0x"), "caf\xC3\xA9 \xC2\xA0x");
    EXPECT_EQ(DisplayText("\xFE"), "\xEF\xBF\xBD");
}

TEST(CliTable, ColumnsAlignUnderHeaderInListOrder) {
    std::string table = FormatTable(
        {Device("198.51.100.10", "nas-office"), Device("203.0.113.9", "n\xC3\xA4s", "MX-2", "KESTIL")});
    EXPECT_THAT(Lines(table), ElementsAre("HOST NAME   IP ADDRESS     DEVICE TYPE  MAKER",
                                          "nas-office  198.51.100.10  DS-220       ORVALE",
                                          "n\xC3\xA4s         203.0.113.9    MX-2         KESTIL"));
    EXPECT_EQ(FormatTable({}), "No devices found.\n");
}

TEST(CliTable, DeviceTextCannotAddRowsOrEscapes) {
    std::string table = FormatTable({Device("198.51.100.10", "evil\nFAKE 1.2.3.4\x1B]0;x\x07")});
    EXPECT_EQ(Lines(table).size(), 2u);
    EXPECT_THAT(table, Not(HasSubstr("\x1B")));
}

TEST(CliDiff, ReportsAddedChangedAndRemovedByAddress) {
    deviceinfo a = Device("198.51.100.10", "a"), b = Device("198.51.100.11", "b"),
               c = Device("203.0.113.10", "c");
    EXPECT_TRUE(DiffSnapshots({a, b}, {a, b}).empty());

    deviceinfo aRenamed = a;
    Set(aRenamed.host, "a2");
    deviceinfo moved = b;  // same id on a new address: a new entry
    Set(moved.ip, "198.51.100.12");
    auto events = DiffSnapshots({a, b, c}, {aRenamed, moved});
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, DeviceEvent::Kind::Removed);
    EXPECT_STREQ(events[0].device.ip, "198.51.100.11");
    EXPECT_EQ(events[1].kind, DeviceEvent::Kind::Removed);
    EXPECT_STREQ(events[1].device.ip, "203.0.113.10");
    EXPECT_EQ(events[2].kind, DeviceEvent::Kind::Changed);
    EXPECT_STREQ(events[2].device.host, "a2");
    EXPECT_EQ(events[3].kind, DeviceEvent::Kind::Added);
    EXPECT_STREQ(events[3].device.ip, "198.51.100.12");
}

TEST(CliDiff, AgeingAnnouncementKindAndProtocolSwitchAreNotChanges) {
    deviceinfo a = Device("198.51.100.10", "a");
    deviceinfo aged = a;
    aged.lifetime = 50;
    aged.type = 2;
    EXPECT_TRUE(DiffSnapshots({a}, {aged}).empty());

    // The same device answering by SSDP (with a version) after a broadcast answer.
    deviceinfo viaSsdp = a;
    Set(viaSsdp.version, "2.1.7");
    EXPECT_TRUE(DiffSnapshots({a}, {viaSsdp}).empty());
    deviceinfo upgraded = viaSsdp;
    Set(upgraded.version, "2.2.0");
    EXPECT_EQ(DiffSnapshots({viaSsdp}, {upgraded}).size(), 1u);
}

TEST(CliEvents, TextAndJsonlLines) {
    deviceinfo d = Device("198.51.100.10", "nas-office");
    EXPECT_EQ(FormatEventText({DeviceEvent::Kind::Added, d}), "+ nas-office 198.51.100.10 DS-220 ORVALE\n");
    Set(d.host, "");
    EXPECT_EQ(FormatEventText({DeviceEvent::Kind::Removed, d}), "- - 198.51.100.10 DS-220 ORVALE\n");
    EXPECT_EQ(FormatEventText({DeviceEvent::Kind::Changed, d}).substr(0, 2), "~ ");
    auto j = nlohmann::json::parse(FormatEventJsonl({DeviceEvent::Kind::Changed, d}));
    EXPECT_EQ(j["event"], "changed");
    EXPECT_EQ(j["device"]["ip"], "198.51.100.10");
    EXPECT_EQ(j.size(), 2u);
}

SearchWorkerStatus Status(SearchWorkerStatus::Kind kind, int port, bool started, std::string error,
                          std::string ip = "") {
    SearchWorkerStatus s;
    s.kind = kind;
    s.port = port;
    s.started = started;
    s.error = std::move(error);
    s.localIP = std::move(ip);
    return s;
}

TEST(CliWarnings, SayWhichPortWhyAndWhatToDo) {
    using K = SearchWorkerStatus::Kind;
    EXPECT_EQ(StartWarning(Status(K::Broadcast, 67, true, "")), "");

    std::string denied = StartWarning(Status(K::Broadcast, 67, false, "Permission denied"));
    EXPECT_THAT(denied, HasSubstr("UDP port 67 (Permission denied)"));
    EXPECT_THAT(denied, HasSubstr("run as root or grant cap_net_bind_service: "
                                  "sudo setcap cap_net_bind_service=+ep $(command -v nasscout-cli)"));

    std::string held = StartWarning(Status(K::Broadcast, 67, false, "Address already in use"));
    EXPECT_THAT(held, HasSubstr("Another program holds UDP port 67"));
    EXPECT_THAT(held, Not(HasSubstr("setcap")));

    std::string ssdp = StartWarning(Status(K::Multicast, 1900, false, "Address already in use"));
    EXPECT_THAT(ssdp, HasSubstr("UDP port 1900 (Address already in use)"));
    EXPECT_THAT(ssdp, HasSubstr("Another SSDP program holds the port"));
    EXPECT_THAT(StartWarning(Status(K::Multicast, 1920, false, "Address already in use")),
                HasSubstr("UDP ports 1900 to 1920"));

    std::string command =
        StartWarning(Status(K::Command, 1570, false, "Cannot assign requested address", "10.9.8.7"));
    EXPECT_THAT(command, HasSubstr("from 10.9.8.7"));
    EXPECT_THAT(command, HasSubstr("UDP port 1570: Cannot assign requested address"));
}

TEST(CliWarnings, EachWorkerIsReportedOnce) {
    using K = SearchWorkerStatus::Kind;
    StartWarningTracker tracker;
    std::vector<SearchWorkerStatus> statuses{Status(K::Broadcast, 67, false, "Permission denied"),
                                             Status(K::Multicast, 1900, true, "")};
    EXPECT_EQ(tracker.NewWarnings(statuses).size(), 1u);
    EXPECT_TRUE(tracker.NewWarnings(statuses).empty());
    statuses.push_back(Status(K::Command, 1530, false, "Address already in use", "198.51.100.1"));
    auto later = tracker.NewWarnings(statuses);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_THAT(later[0], HasSubstr("198.51.100.1"));
}

}  // namespace
