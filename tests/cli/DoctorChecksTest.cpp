// The doctor's readers on saved kernel and firewall text, and its report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "DoctorChecks.h"

using ::testing::ElementsAre;
using namespace cli::doctor;

namespace {

TEST(DoctorChecks, ProcNetUdpAndFdLinksNameTheSocketsOfAPort) {
    const char udp[] =
        "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode "
        "ref "
        "pointer drops\n"
        "  412: 00000000:076C 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000        0 48211 2 "
        "0000000000000000 0\n"
        "  600: 0164A8C0:0043 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 7 2 "
        "0000000000000000 0\n"
        " 1024: 00000000000000000000000000000000:076C 00000000000000000000000000000000:0000 07 "
        "00000000:00000000 "
        "00:00000000 00000000   116        0 9001 2 0000000000000000 0\n";
    std::vector<std::tuple<int, unsigned long, unsigned>> got;
    for (const UdpSocket& s : ParseProcNetUdp(udp)) got.emplace_back(s.port, s.inode, s.uid);
    EXPECT_THAT(got, ElementsAre(std::tuple(1900, 48211ul, 1000u), std::tuple(67, 7ul, 0u),
                                 std::tuple(1900, 9001ul, 116u)));
    EXPECT_EQ(SocketInode("socket:[48211]"), 48211ul);
    for (const char* other : {"pipe:[48211]", "socket:[]", "socket:[48a]", "/dev/null"})
        EXPECT_EQ(SocketInode(other), std::nullopt) << other;
}

TEST(DoctorChecks, DefaultRouteIsTheFirstUpOneAndTunnelsAreKnown) {
    const std::string header =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    const std::string lan = "eth0\t0064A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
    const std::string down = "eth1\t00000000\t0164A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n";  // not RTF_UP
    const std::string vpn = "tun0\t00000000\t00000000\t0001\t0\t0\t50\t00000000\t0\t0\t0\n";
    EXPECT_EQ(DefaultRoute(ParseProcNetRoute(header + lan + down)), std::nullopt);
    const std::optional<Route> r = DefaultRoute(ParseProcNetRoute(header + lan + down + vpn));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->iface, "tun0");
    for (auto [name, p2p, tunnel] : {std::tuple("wg0", false, true), std::tuple("ppp0", false, true),
                                     std::tuple("corp", true, true), std::tuple("wlp2s0", false, false)})
        EXPECT_EQ(IsTunnel(name, p2p), tunnel) << name;
}

TEST(DoctorChecks, FileCapabilityGrantsTheBindOnlyWhenPermittedAndEffective) {
    auto xattr = [](std::uint32_t magic, std::uint32_t permitted) {
        std::string bytes(20, '\0');
        for (int i = 0; i < 4; ++i) {
            bytes[i] = static_cast<char>(magic >> (8 * i));
            bytes[4 + i] = static_cast<char>(permitted >> (8 * i));
        }
        return bytes;
    };
    EXPECT_EQ(ParseBindCapability(xattr(0x02000001, 1u << 10)), BindCapability::Granted);
    EXPECT_EQ(ParseBindCapability(xattr(0x03000001, (1u << 10) | (1u << 12))), BindCapability::Granted);
    EXPECT_EQ(ParseBindCapability(xattr(0x02000000, 1u << 10)), BindCapability::NotEffective);
    EXPECT_EQ(ParseBindCapability(xattr(0x02000001, 1u << 12)), BindCapability::None);  // cap_net_admin only
    EXPECT_EQ(ParseBindCapability(xattr(0x02000001, 1u << 10).substr(0, 8)), BindCapability::None);
}

TEST(DoctorChecks, UfwConfAndUserRules) {
    EXPECT_TRUE(UfwEnabled("# comment\nENABLED=yes\nLOGLEVEL=low\n"));
    EXPECT_FALSE(UfwEnabled("ENABLED=no\n"));
    EXPECT_FALSE(UfwEnabled("#ENABLED=yes\n"));
    // One rule or several must open 67, 1900 and every per-address port, UDP and incoming.
    const std::string t = "### tuple ### ";
    const std::pair<bool, std::string> rows[] = {
        {false, t + "allow udp 67,1900 0.0.0.0/0 any 0.0.0.0/0 other - in\n" + t +
                    "deny udp 1900 0.0.0.0/0 any 0.0.0.0/0 nasscout - in\n" + t +
                    "allow udp 67 0.0.0.0/0 any 0.0.0.0/0 nasscout - out\n"},
        {true, t + "allow udp 67,1900,1530:1850 0.0.0.0/0 any 0.0.0.0/0 nasscout - in_wlan0 comment=x\n"},
        {true, t + "allow udp 67,1900 0.0.0.0/0 any 0.0.0.0/0 in\n" + t +
                   "allow any 1530:1850 0.0.0.0/0 any 0.0.0.0/0 in\n"},
        {false, t + "allow udp 67,1900,1530:1849 0.0.0.0/0 any 0.0.0.0/0 in\n"},  // the last retry's port
        {false, t + "allow tcp 67,1900,1530:1850 0.0.0.0/0 any 0.0.0.0/0 in\n"},
        {false, t + "allow udp 67,1900,1530:1850 0.0.0.0/0 any 0.0.0.0/0 out\n"},
    };
    for (const auto& [allows, rules] : rows) EXPECT_EQ(UfwAllowsSearch("*filter\n" + rules), allows) << rules;
}

TEST(DoctorChecks, FirewalldZonesAndPorts) {
    const auto zones = ParseActiveZones(
        "home\n  interfaces: wlan0\npublic (default)\n  interfaces: eth0 eth1\n"
        "trusted\n  sources: 10.0.0.0/8\n");
    EXPECT_THAT(zones.at("public"), ElementsAre("eth0", "eth1"));
    EXPECT_THAT(zones.at("home"), ElementsAre("wlan0"));
    EXPECT_TRUE(zones.at("trusted").empty());
    for (auto [ports, open] : {std::pair("67/udp 1900/udp 1530-1850/udp\n", true),
                               std::pair("1530-1850/udp 67/udp 1900/tcp", false), std::pair("67/udp 1900/udp", false),
                               std::pair("67/udp 1900/udp 1530-1790/udp 1791-1850/udp", true),
                               std::pair("67/udp 1900/udp 1531-1850/udp", false)})
        EXPECT_EQ(PortsAllowSearch(ports), open) << ports;
}

TEST(DoctorChecks, NftTablesThatDropTheAnswers) {
    const std::string stateful =
        "table inet filter {\n\tchain input {\n\t\ttype filter hook input priority filter; policy drop;\n"
        "\t\tct state established,related accept\n\t\tiif \"lo\" accept\n";
    const std::string end = "\t}\n}\n";
    const std::string output =
        "table ip nat {\n\tchain output {\n\t\ttype filter hook output priority 0; policy "
        "accept;\n\t\tdrop\n\t}\n}\n";
    const std::pair<std::string, std::vector<std::string>> rows[] = {
        {stateful + end, {"inet filter input"}},
        {stateful + "\t\tudp dport { 67, 1900, 1530-1790 } accept\n" + end, {}},
        {stateful + "\t\tudp dport 1900 accept\n" + end, {"inet filter input"}},  // port 67 still dropped
        {"table inet fw {\n\tchain in {\n\t\ttype filter hook input priority 0; policy accept;\n"
         "\t\tct state invalid drop\n\t\tcounter packets 3 bytes 120 reject with icmpx admin-prohibited\n" +
             end,
         {"inet fw in"}},
        {"table ip t {\n\tchain in {\n\t\ttype filter hook input priority 0; policy accept;\n"
         "\t\tmeta l4proto udp drop\n" +
             end + output,
         {"ip t in"}},
        {output, {}},  // only what leaves is dropped
    };
    for (const auto& [ruleset, dropping] : rows)
        EXPECT_EQ(NftTablesDroppingAnswers(ruleset), dropping) << ruleset;
}

TEST(DoctorChecks, ReportPutsBlockingFirstAndIsNotOk) {
    Report report;
    report.findings = {{"port 1900", Status::Ok, "free", ""},
                       {"ufw", Status::Warning, "enabled", "sudo ufw allow nasscout"},
                       {"port 67", Status::Blocking, "this user may not bind", "sudo setcap x"}};
    report.answers = {{"SSDP", "eth0", 2}};
    report.seconds = 3;
    const auto doc = nlohmann::json::parse(FormatReportJson(report));
    EXPECT_EQ(std::tuple(doc["ok"], doc["findings"][0]["check"], doc["findings"][0]["status"],
                         doc["findings"][1]["status"], doc["search"]["answers"][0]["count"]),
              std::tuple(false, "port 67", "blocking", "warning", 2));
    const std::string text = FormatReportText(report);
    EXPECT_LT(text.find("BLOCKING port 67"), text.find("WARNING  ufw"));
    EXPECT_LT(text.find("fix: sudo setcap x"), text.find("ok       port 1900"));
    report.findings.pop_back();
    EXPECT_TRUE(nlohmann::json::parse(FormatReportJson(report))["ok"]);
}

}  // namespace
