#include "DoctorChecks.h"

#include <algorithm>
#include <charconv>
#include <sstream>

#include "CliOutput.h"
#include "Common/SearchPorts.h"

namespace cli::doctor {
namespace {

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (true) {
        at = text.find_first_not_of(" \t\r\n", at);
        if (at == std::string_view::npos) break;
        const std::size_t end = std::min(text.find_first_of(" \t\r\n", at), text.size());
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

template <typename T>
bool Number(std::string_view text, T& value, int base = 10) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// "67", "1530-1790": does it include port?
bool Covers(std::string_view item, int port) {
    int low = 0, high = 0;
    const std::size_t dash = item.find('-');
    if (dash == std::string_view::npos) return Number(item, low) && low == port;
    return Number(item.substr(0, dash), low) && Number(item.substr(dash + 1), high) && low <= port &&
           port <= high;
}

// Each port the search receives on is in one of the items ("67", "1530-1850").
bool CoverSearch(const std::vector<std::string>& items) {
    auto covered = [&](int port) {
        return std::any_of(items.begin(), items.end(), [&](const std::string& i) { return Covers(i, port); });
    };
    for (int port = SearchPorts::kFirstCommand; port <= SearchPorts::kLastCommand; ++port)
        if (!covered(port)) return false;
    return covered(SearchPorts::kBroadcast) && covered(SearchPorts::kMulticast);
}

const char* StatusWord(Status s) {
    switch (s) {
        case Status::Blocking:
            return "blocking";
        case Status::Warning:
            return "warning";
        case Status::Ok:
            break;
    }
    return "ok";
}

std::vector<const Finding*> WorstFirst(const std::vector<Finding>& findings) {
    std::vector<const Finding*> sorted;
    for (const Finding& f : findings) sorted.push_back(&f);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Finding* a, const Finding* b) {
        return static_cast<int>(a->status) > static_cast<int>(b->status);
    });
    return sorted;
}

// Lines of at most kWidth columns where words allow, the next ones indented
// under the message.
std::string Wrapped(std::string line, const std::string& text) {
    constexpr std::size_t kWidth = 100;
    std::string out;
    for (std::string_view word : Words(text)) {
        if (line.size() > 9 && line.size() + 1 + word.size() > kWidth) {
            out += line + "\n";
            line = std::string(9, ' ');
        } else if (line.back() != ' ') {
            line += ' ';
        }
        line += word;
    }
    return out + line + "\n";
}

}  // namespace

std::vector<UdpSocket> ParseProcNetUdp(std::string_view text) {
    std::vector<UdpSocket> sockets;
    for (std::string_view line : Lines(text)) {
        const std::vector<std::string_view> w = Words(line);
        UdpSocket s;
        if (w.size() < 10 || w[0].back() != ':') continue;  // the header, or a short line
        const std::size_t colon = w[1].rfind(':');
        if (colon == std::string_view::npos || !Number(w[1].substr(colon + 1), s.port, 16) ||
            !Number(w[7], s.uid) || !Number(w[9], s.inode))
            continue;
        sockets.push_back(s);
    }
    return sockets;
}

std::optional<unsigned long> SocketInode(std::string_view link) {
    unsigned long inode = 0;
    if (!StartsWith(link, "socket:[") || link.back() != ']' ||
        !Number(link.substr(8, link.size() - 9), inode))
        return std::nullopt;
    return inode;
}

std::vector<Route> ParseProcNetRoute(std::string_view text) {
    std::vector<Route> routes;
    for (std::string_view line : Lines(text)) {
        const std::vector<std::string_view> w = Words(line);
        Route r;
        if (w.size() < 8 || !Number(w[1], r.destination, 16) || !Number(w[2], r.gateway, 16) ||
            !Number(w[3], r.flags, 16) || !Number(w[7], r.mask, 16))
            continue;  // the header too
        r.iface = std::string(w[0]);
        routes.push_back(std::move(r));
    }
    return routes;
}

std::optional<Route> DefaultRoute(const std::vector<Route>& routes) {
    constexpr unsigned kUp = 0x1;  // RTF_UP
    for (const Route& r : routes)
        if (r.destination == 0 && r.mask == 0 && (r.flags & kUp) != 0) return r;
    return std::nullopt;
}

bool IsTunnel(std::string_view name, bool pointToPoint) {
    if (pointToPoint) return true;
    for (std::string_view prefix : {"tun", "wg", "ppp", "ipsec", "vti", "gre"})
        if (StartsWith(name, prefix)) return true;
    return false;
}

BindCapability ParseBindCapability(std::string_view xattr) {
    // struct vfs_cap_data: le32 magic_etc, then le32 permitted and inheritable (revision 1 to 3).
    if (xattr.size() < 12) return BindCapability::None;
    auto le32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(xattr[at + i]);
        return v;
    };
    constexpr std::uint32_t kNetBindService = 1u << 10, kEffective = 0x1;
    if ((le32(4) & kNetBindService) == 0) return BindCapability::None;
    return (le32(0) & kEffective) != 0 ? BindCapability::Granted : BindCapability::NotEffective;
}

bool UfwEnabled(std::string_view conf) {
    bool enabled = false;
    for (std::string_view line : Lines(conf)) {
        line = Trim(line);
        if (StartsWith(line, "ENABLED=")) enabled = line == "ENABLED=yes" || line == "ENABLED=\"yes\"";
    }
    return enabled;
}

bool UfwAllowsSearch(std::string_view userRules) {
    // ### tuple ### ACTION PROTO DPORT DST SPORT SRC [DAPP SAPP] DIRECTION[_IFACE] [comment=…]
    std::vector<std::string> ports;
    for (std::string_view line : Lines(userRules)) {
        if (!StartsWith(line, "### tuple ###")) continue;
        std::vector<std::string_view> w = Words(line.substr(13));
        if (!w.empty() && StartsWith(w.back(), "comment=")) w.pop_back();
        const bool app = w.size() >= 9;
        if (w.size() < 7 || !StartsWith(w[0], "allow") || !StartsWith(w[app ? 8 : 6], "in")) continue;
        if (app && w[6] == "nasscout") return true;
        if (w[1] != "udp" && w[1] != "any") continue;
        std::string_view list = w[2];  // "67,1900,1530:1850", "any"
        if (list == "any") return true;
        while (!list.empty()) {
            const std::size_t comma = std::min(list.find(','), list.size());
            std::string item(list.substr(0, comma));
            std::replace(item.begin(), item.end(), ':', '-');
            ports.push_back(std::move(item));
            list.remove_prefix(std::min(comma + 1, list.size()));
        }
    }
    return CoverSearch(ports);
}

std::map<std::string, std::vector<std::string>> ParseActiveZones(std::string_view text) {
    std::map<std::string, std::vector<std::string>> zones;
    std::string zone;
    for (std::string_view line : Lines(text)) {
        const std::vector<std::string_view> w = Words(line);
        if (w.empty()) continue;
        if (line[0] != ' ' && line[0] != '\t') {
            zone = std::string(w[0]);  // "public (default)" names the zone "public"
            zones[zone];
        } else if (!zone.empty() && w[0] == "interfaces:") {
            zones[zone].assign(w.begin() + 1, w.end());
        }
    }
    return zones;
}

bool PortsAllowSearch(std::string_view listPorts) {
    std::vector<std::string> udp;
    for (std::string_view item : Words(listPorts)) {
        const std::size_t slash = item.find('/');
        if (slash != std::string_view::npos && item.substr(slash) == "/udp")
            udp.emplace_back(item.substr(0, slash));
    }
    return CoverSearch(udp);
}

std::vector<std::string> NftTablesDroppingAnswers(std::string_view ruleset) {
    struct Table {
        std::string name, dropChain;
        bool accepts67 = false, accepts1900 = false;
    };
    std::vector<Table> tables;
    bool inputHook = false;
    std::string chain;
    for (std::string_view raw : Lines(ruleset)) {
        const std::string_view line = Trim(raw);
        std::vector<std::string_view> w = Words(line);
        if (w.empty()) continue;
        if (w[0] == "table" && w.size() >= 3) {
            tables.push_back(Table{std::string(w[1]) + " " + std::string(w[2]), {}});
            continue;
        }
        if (tables.empty()) continue;
        Table& t = tables.back();
        auto drops = [&] {
            if (t.dropChain.empty()) t.dropChain = chain;
        };
        if (w[0] == "chain" && w.size() >= 2) {
            inputHook = false;
            chain = std::string(w[1]);
        }
        if (line.find("hook input") != std::string_view::npos) {
            inputHook = true;
            if (line.find("policy drop") != std::string_view::npos) drops();
            continue;
        }
        const std::string_view verdict = w.back();
        if (verdict == "accept") {
            for (std::size_t i = 0; i + 1 < w.size(); ++i) {
                if (w[i] != "dport" || i == 0 || w[i - 1] != "udp") continue;
                for (std::size_t j = i + 1; j < w.size(); ++j) {
                    std::string_view item = w[j];
                    while (!item.empty() && (item.front() == '{')) item.remove_prefix(1);
                    while (!item.empty() && (item.back() == ',' || item.back() == '}')) item.remove_suffix(1);
                    if (item.empty()) continue;
                    if (item.find_first_not_of("0123456789-") != std::string_view::npos) break;
                    t.accepts67 = t.accepts67 || Covers(item, 67);
                    t.accepts1900 = t.accepts1900 || Covers(item, 1900);
                }
            }
        }
        if (!inputHook) continue;
        // An unconditional drop, or one of all UDP; counters and the udp match aside.
        std::size_t k = 0;
        auto skip = [&](std::initializer_list<std::string_view> words, std::size_t thenSkip = 0) {
            std::size_t at = k;
            for (std::string_view word : words)
                if (at >= w.size() || w[at++] != word) return false;
            k = at + thenSkip;
            return true;
        };
        skip({"meta", "l4proto", "udp"}) || skip({"ip", "protocol", "udp"});
        if (skip({"counter"})) skip({"packets"}, 1) && skip({"bytes"}, 1);
        if (k < w.size() && (w[k] == "drop" || w[k] == "reject")) drops();
    }
    std::vector<std::string> dropping;
    for (const Table& t : tables)
        if (!t.dropChain.empty() && !(t.accepts67 && t.accepts1900))
            dropping.push_back(t.name + " " + t.dropChain);
    return dropping;
}

bool Report::Ok() const {
    return std::none_of(findings.begin(), findings.end(),
                        [](const Finding& f) { return f.status == Status::Blocking; });
}

std::string FormatReportText(const Report& report) {
    int blocking = 0, warnings = 0;
    for (const Finding& f : report.findings) {
        blocking += f.status == Status::Blocking;
        warnings += f.status == Status::Warning;
    }
    std::ostringstream out;
    if (blocking > 0)
        out << blocking << " thing(s) block the search";
    else
        out << "Nothing blocks the search";
    out << ", " << warnings << " warning(s).\n\n";
    for (const Finding* f : WorstFirst(report.findings)) {
        const char* tag = f->status == Status::Blocking  ? "BLOCKING"
                          : f->status == Status::Warning ? "WARNING "
                                                         : "ok      ";
        out << Wrapped(std::string(tag) + " ", f->check + ": " + DisplayText(f->message));
        // A command stays on one line, to be copied whole.
        if (!f->fix.empty()) out << "         fix: " << DisplayText(f->fix) << "\n";
    }
    out << "\nSearch (" << report.seconds << " s, the default request and M-SEARCH):";
    if (report.answers.empty()) out << " no answers";
    out << "\n";
    for (const AnswerCount& a : report.answers)
        out << "  " << a.protocol << " on " << DisplayText(a.iface) << ": " << a.count << " answer(s)\n";
    out << "\n" << FormatTable(report.devices);
    return out.str();
}

std::string FormatReportJson(const Report& report) {
    nlohmann::ordered_json findings = nlohmann::ordered_json::array();
    for (const Finding* f : WorstFirst(report.findings))
        findings.push_back({{"check", ValidUtf8(f->check)},
                            {"status", StatusWord(f->status)},
                            {"message", ValidUtf8(f->message)},
                            {"fix", ValidUtf8(f->fix)}});
    nlohmann::ordered_json answers = nlohmann::ordered_json::array();
    for (const AnswerCount& a : report.answers)
        answers.push_back({{"protocol", a.protocol}, {"interface", ValidUtf8(a.iface)}, {"count", a.count}});
    nlohmann::ordered_json devices = nlohmann::ordered_json::array();
    for (const deviceinfo& d : report.devices) devices.push_back(DeviceJson(d));
    nlohmann::ordered_json doc = {
        {"ok", report.Ok()},
        {"findings", findings},
        {"search", {{"seconds", report.seconds}, {"answers", answers}, {"devices", devices}}}};
    return doc.dump() + "\n";
}

}  // namespace cli::doctor
