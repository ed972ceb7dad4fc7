// What `nasscout-cli doctor` reads from the machine, as pure functions over the
// text the kernel and the firewall tools give, and how it reports. The reading
// itself (files, sockets, commands) lives in Doctor.cpp.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Common/CommonStruct.h"

namespace cli::doctor {

enum class Status { Ok, Warning, Blocking };

struct Finding {
    std::string check;  // "port 67", "interface eth0", "firewalld", ...
    Status status = Status::Ok;
    std::string message;  // what was found
    std::string fix;      // what to do, the exact command where there is one; empty when nothing
};

// One socket of /proc/net/udp or /proc/net/udp6.
struct UdpSocket {
    int port = 0;
    unsigned long inode = 0;
    unsigned uid = 0;
};
std::vector<UdpSocket> ParseProcNetUdp(std::string_view text);

// The inode of a /proc/PID/fd link's target "socket:[12345]".
std::optional<unsigned long> SocketInode(std::string_view link);

// One line of /proc/net/route; addresses in network byte order, as the kernel prints them.
struct Route {
    std::string iface;
    std::uint32_t destination = 0, gateway = 0, mask = 0;
    unsigned flags = 0;
};
std::vector<Route> ParseProcNetRoute(std::string_view text);
// The default route that is up (the first, as the kernel prefers it), else none.
std::optional<Route> DefaultRoute(const std::vector<Route>& routes);
// A VPN or other tunnel: point-to-point, or named as the usual tunnel drivers name theirs.
bool IsTunnel(std::string_view name, bool pointToPoint);

// What a security.capability attribute says about cap_net_bind_service.
enum class BindCapability { None, NotEffective, Granted };
BindCapability ParseBindCapability(std::string_view xattr);

// /etc/ufw/ufw.conf: ENABLED=yes.
bool UfwEnabled(std::string_view conf);
// /etc/ufw/user.rules lets the answers in: an incoming allow rule for the
// nasscout profile, or for UDP on every port the search receives on.
bool UfwAllowsSearch(std::string_view userRules);

// firewall-cmd --get-active-zones: zone -> its interfaces.
std::map<std::string, std::vector<std::string>> ParseActiveZones(std::string_view text);
// firewall-cmd --list-ports ("67/udp 1900/udp 1530-1850/udp") opens every
// UDP port the search receives on.
bool PortsAllowSearch(std::string_view listPorts);

// Tables of `nft list ruleset` with an input hook that drops or rejects UDP,
// and no rule that accepts UDP to ports 67 and 1900: answers to a search die
// there. Each as "FAMILY TABLE CHAIN", the chain the first drop is in.
std::vector<std::string> NftTablesDroppingAnswers(std::string_view ruleset);

// What the one search got, per protocol ("broadcast", "SSDP") and interface.
struct AnswerCount {
    std::string protocol;
    std::string iface;
    int count = 0;
};

struct Report {
    std::vector<Finding> findings;
    double seconds = 0;  // how long the search waited
    std::vector<AnswerCount> answers;
    std::vector<deviceinfo> devices;

    bool Ok() const;
};

// For people: a summary line, then the findings, blocking ones first, then the search.
std::string FormatReportText(const Report& report);
// {"ok":…, "findings":[{"check","status","message","fix"}], "search":{"seconds","answers","devices"}}
std::string FormatReportJson(const Report& report);

}  // namespace cli::doctor
