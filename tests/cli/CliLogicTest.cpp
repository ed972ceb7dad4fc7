// The CLI's pure logic: output formats, snapshot diffs, start warnings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "CliOutput.h"
#include "Common/BindHelper.h"
#include "SnapshotDiff.h"
#include "StartWarnings.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace cli;
using Kind = DeviceEvent::Kind;

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
    d.type = 1;
    return d;
}

// Types and escaping are proven end to end by the lab scans; here the bytes
// that no JSON parser would accept.
TEST(CliJson, EveryKeyInOrderAndValidUtf8WhateverTheBytes) {
    deviceinfo d = Device("198.51.100.10", "q\"\x1B\xFF");
    std::memset(d.version, 'v', sizeof d.version);  // no terminator at all
    auto parsed = nlohmann::ordered_json::parse(FormatJsonArray({d}))[0];
    std::vector<std::string> keys;
    for (const auto& item : parsed.items()) keys.push_back(item.key());
    EXPECT_THAT(
        keys, ElementsAre("id", "ip", "host", "product", "extra", "version", "factory", "type", "lifetime"));
    EXPECT_EQ(parsed["host"], "q\"\x1B\uFFFD");
    EXPECT_EQ(parsed["version"], std::string(32, 'v'));
}

TEST(CliText, DeviceTextCannotReachTheTerminalOrAddRows) {
    const std::string R = "\uFFFD";
    // Octal escapes where a hex one would take the next letter in; "" is the column before unchanged.
    const struct {
        std::string bytes, valid, display;
    } cases[] = {
        {"\x1B[31mred\x7F\xC2\2331m\n", "", "?[31mred??1m?"},
        {"caf\xC3\xA9 \xC2\xA0x\xFE\xC1\x81", "caf\xC3\xA9 \xC2\xA0x" + R + R + R, ""},
        {"a\377b\300\257c\355\240\200d\342\202", "a" + R + "b" + R + R + "c" + R + R + R + "d" + R + R, ""},
    };
    for (const auto& c : cases) {
        const std::string valid = c.valid.empty() ? c.bytes : c.valid;
        EXPECT_EQ(ValidUtf8(c.bytes), valid) << c.bytes;
        EXPECT_EQ(DisplayText(c.bytes), c.display.empty() ? valid : c.display) << c.bytes;
    }
    std::string table = FormatTable(
        {Device("198.51.100.10", "nas-office"), Device("203.0.113.9", "n\xC3\xA4s", "MX-2"),
         Device("203.0.113.10", "evil\nFAKE 1.2.3.4\x1B]0;x\x07"), Device("203.0.113.11", "x", "", "")});
    EXPECT_EQ(table,
              "HOST NAME                IP ADDRESS     DEVICE TYPE  MAKER\n"
              "nas-office               198.51.100.10  DS-220       ORVALE\n"
              "n\xC3\xA4s                      203.0.113.9    MX-2         ORVALE\n"
              "evil?FAKE 1.2.3.4?]0;x?  203.0.113.10   DS-220       ORVALE\n"
              "x                        203.0.113.11\n");
    EXPECT_EQ(FormatTable({}), "No devices found.\n");
    deviceinfo nameless = Device("198.51.100.10", "");
    EXPECT_EQ(FormatEventText({Kind::Added, nameless}), "+ - 198.51.100.10 DS-220 ORVALE\n");
    EXPECT_EQ(FormatEventText({Kind::Removed, nameless}).substr(0, 2), "- ");
    EXPECT_EQ(FormatEventText({Kind::Changed, nameless}).substr(0, 2), "~ ");
}

TEST(CliDiff, ByAddressRemovalsFirstAndNoNewsInAgeingKindOrAProtocolSwitch) {
    deviceinfo a = Device("198.51.100.10", "a"), b = Device("198.51.100.11", "b"),
               c = Device("203.0.113.10", "c");
    deviceinfo renamed = a, moved = b, aged = b;
    Set(renamed.host, "a2");
    Set(moved.ip, "198.51.100.12");  // same id on a new address: a new entry
    std::vector<std::string> events;
    for (const DeviceEvent& e : DiffSnapshots({a, b, c}, {renamed, moved}))
        events.push_back(std::string(EventName(e.kind)) + " " + e.device.ip + " " + e.device.host);
    EXPECT_THAT(events, ElementsAre("removed 198.51.100.11 b", "removed 203.0.113.10 c",
                                    "changed 198.51.100.10 a2", "added 198.51.100.12 b"));

    aged.lifetime = 50;
    aged.type = 2;
    deviceinfo viaSsdp = aged, upgraded = aged, longName = a, longName2;
    Set(viaSsdp.version, "2.1.7");  // the SSDP answer carries a version, the broadcast one not
    Set(upgraded.version, "2.2.0");
    std::memset(longName.host, 'n',
                sizeof longName.host);  // 32 bytes without a terminator: the last one counts too
    longName2 = longName;
    longName2.host[31] = 'm';
    const struct {
        deviceinfo before, after;
        std::size_t events;
    } pairs[] = {{b, aged, 0}, {b, viaSsdp, 0}, {viaSsdp, upgraded, 1}, {longName, longName2, 1}};
    for (const auto& p : pairs)
        EXPECT_EQ(DiffSnapshots({p.before}, {p.after}).size(), p.events) << &p - pairs;
}

TEST(CliWarnings, SayOnceForEachWorkerWhichPortWhyAndWhatToDo) {
    using K = SearchWorkerStatus::Kind;
    auto failed = [](K kind, int port, std::string error, std::string ip = "") {
        return SearchWorkerStatus{kind, std::move(ip), port, error.empty(), std::move(error)};
    };
    const std::pair<SearchWorkerStatus, std::string> cases[] = {
        {failed(K::Broadcast, 67, "Permission denied"),
         "sudo setcap cap_net_bind_service=ep " + std::string(BindHelperPath())},
        {failed(K::Multicast, 1920, "Address already in use"), "UDP ports 1900 to 1920"},
        {failed(K::Command, 1570, "Cannot assign requested address", "10.9.8.7"), "from 10.9.8.7"},
        // Started, but past the ports the packaged firewall rules open.
        {failed(K::Command, 1851, "", "10.9.8.7"), "come to UDP port 1851, which the packaged firewall"},
        {failed(K::Multicast, 1901, ""), "without --single-address"},
    };
    for (const auto& [worker, advice] : cases) EXPECT_THAT(StartWarning(worker), HasSubstr(advice));
    EXPECT_EQ(StartWarning(failed(K::Command, 1850, "", "10.9.8.7")), "");  // the last port they open

    // Once per worker; one failing later gets its own. The lab runs prove that working ones say nothing.
    StartWarningTracker tracker;
    EXPECT_EQ(tracker.NewWarnings({cases[0].first}).size(), 1u);
    EXPECT_THAT(tracker.NewWarnings({cases[0].first, cases[2].first}), ElementsAre(HasSubstr("10.9.8.7")));
}

TEST(CliWarnings, ABroadcastThatMissedAnInterfaceNamesItOnce) {
    const SearchBroadcastSend wired{"eth0", "198.51.100.1", true, ""};
    const SearchBroadcastSend wifi{"wlan0", "169.254.7.9", false, "Network is unreachable"};
    const SearchBroadcastSend usb{"usb0", "203.0.113.1", false, "No buffer space available"};
    EXPECT_EQ(BroadcastSendWarning({wired}, true), "");
    EXPECT_EQ(BroadcastSendWarning({}, false), "");  // its start failure is said instead
    EXPECT_THAT(BroadcastSendWarning({}, true), HasSubstr("no network interface can carry"));
    const std::string both = BroadcastSendWarning({wired, wifi, usb}, true);
    EXPECT_THAT(both, HasSubstr("through wlan0 (169.254.7.9: Network is unreachable), usb0 (203.0.113.1"));
    EXPECT_EQ(both.find("eth0"), std::string::npos);
}

// Trace lines in between would overwrite a rewritten line: under --verbose, whole lines.
TEST(CliSweep, ProgressIsRewrittenOnATerminalAndWholeLinesUnderVerbose) {
    SweepProgress p{};
    std::tie(p.done, p.total, p.achieved, p.remaining) = std::tuple(64ull, 254ull, 1000.0, 75.4);
    const std::string line = "asking targets: 64/254 addresses, 1000 datagrams/s, 1:15 left";
    const std::tuple<bool, bool, std::string> cases[] = {
        {false, true, ""}, {true, false, "\r" + line + "   "}, {true, true, "nasscout-cli: " + line + "\n"}};
    for (const auto& [terminal, verbose, shown] : cases)
        EXPECT_EQ(SweepProgressText(p, terminal, verbose), shown);
    EXPECT_THAT(SweepRefusedWarning(-1, "Resource temporarily unavailable"),
                HasSubstr("not asked: no thread could be made for them (Resource temporarily unavailable)"));
}

}  // namespace
