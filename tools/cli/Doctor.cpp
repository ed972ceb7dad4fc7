// clang-format off
#include <utility>  // before any Asio header pulled in through the engine
// clang-format on

#include "Doctor.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "Common/BindHelper.h"
#include "Common/CoverageDump.h"
#include "Common/SearchPorts.h"
#include "DeviceSearchInterface.h"
#include "DoctorChecks.h"
#include "StartWarnings.h"

extern char** environ;

namespace cli {
namespace {

using namespace doctor;

// The per-address workers' ports, as the packaged firewall rules open them.
const std::string kCommandPorts =
    std::to_string(SearchPorts::kFirstCommand) + "-" + std::to_string(SearchPorts::kLastCommand);
constexpr auto kLookupLimit = std::chrono::seconds(5);
const char kFirewalldFix[] =
    "sudo firewall-cmd --permanent --add-service=nasscout && sudo firewall-cmd --reload";

std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct CommandResult {
    int status = -1;  // exit status; 127 not installed, -1 did not end in time
    std::string output;
};

// Runs argv without a shell, its output and errors in one text, in the C locale.
CommandResult Run(const std::vector<std::string>& argv, int timeoutMs = 5000) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envText{"LC_ALL=C"};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "LC_ALL=", 7) != 0) envText.emplace_back(*e);
    std::vector<char*> env;
    for (std::string& e : envText) env.push_back(e.data());
    env.push_back(nullptr);

    CommandResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return result;
    const int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(devnull, STDIN_FILENO);
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        execvpe(args[0], args.data(), env.data());
        _exit(127);
    }
    close(fds[1]);
    if (devnull >= 0) close(devnull);
    if (pid < 0) {
        close(fds[0]);
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool timedOut = false;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fds[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) == 0) {
            timedOut = true;
            break;
        }
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (result.output.size() < (1u << 22)) result.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    if (timedOut) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!timedOut && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

struct Address {
    in_addr ip{}, mask{};
};

struct Interface {
    std::string name;
    unsigned flags = 0;
    std::vector<Address> v4;
};

std::string Text(in_addr a) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

std::vector<Interface> Interfaces() {
    std::vector<Interface> list;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) return list;
    for (ifaddrs* a = all; a != nullptr; a = a->ifa_next) {
        auto it =
            std::find_if(list.begin(), list.end(), [&](const Interface& i) { return i.name == a->ifa_name; });
        if (it == list.end()) it = list.insert(list.end(), Interface{a->ifa_name, a->ifa_flags, {}});
        if (a->ifa_addr != nullptr && a->ifa_addr->sa_family == AF_INET && a->ifa_netmask != nullptr)
            it->v4.push_back({reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr,
                              reinterpret_cast<sockaddr_in*>(a->ifa_netmask)->sin_addr});
    }
    freeifaddrs(all);
    return list;
}

// The interface whose network holds ip, else the one that has the address itself.
std::string InterfaceOf(const std::vector<Interface>& list, const std::string& ip,
                        const std::string& localIP) {
    in_addr box{};
    if (inet_pton(AF_INET, ip.c_str(), &box) == 1)
        for (const Interface& i : list)
            for (const Address& a : i.v4)
                if (!(i.flags & IFF_LOOPBACK) &&
                    (box.s_addr & a.mask.s_addr) == (a.ip.s_addr & a.mask.s_addr))
                    return i.name;
    for (const Interface& i : list)
        for (const Address& a : i.v4)
            if (Text(a.ip) == localIP) return i.name;
    return "an unknown interface";
}

// "python3 (pid 412)" for each process with a UDP socket on port; a socket
// whose process /proc does not show us is named by its owner.
std::vector<std::string> HoldersOf(int port) {
    std::set<unsigned long> inodes;
    std::set<unsigned> owners;
    for (const char* path : {"/proc/net/udp", "/proc/net/udp6"})
        for (const UdpSocket& s : ParseProcNetUdp(ReadFile(path).value_or("")))
            if (s.port == port) {
                inodes.insert(s.inode);
                owners.insert(s.uid);
            }
    std::vector<std::string> names;
    if (inodes.empty()) return names;
    std::set<unsigned long> named;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* e = readdir(proc)) {
            if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
            const std::string fdDir = std::string("/proc/") + e->d_name + "/fd";
            DIR* fds = opendir(fdDir.c_str());
            if (fds == nullptr) continue;
            bool holds = false;
            while (dirent* f = readdir(fds)) {
                char link[64] = {};
                if (readlink((fdDir + "/" + f->d_name).c_str(), link, sizeof link - 1) <= 0) continue;
                const std::optional<unsigned long> inode = SocketInode(link);
                if (inode && inodes.count(*inode)) {
                    holds = true;
                    named.insert(*inode);
                }
            }
            closedir(fds);
            if (!holds || std::atoi(e->d_name) == getpid()) continue;
            std::string comm = FirstLine(ReadFile(std::string("/proc/") + e->d_name + "/comm").value_or("?"));
            names.push_back(comm + " (pid " + e->d_name + ")");
        }
        closedir(proc);
    }
    if (named.size() < inodes.size())
        for (unsigned uid : owners) {
            const passwd* pw = getpwuid(uid);
            names.push_back("a program of user " + (pw ? std::string(pw->pw_name) : std::to_string(uid)) +
                            " (run as root to name it)");
        }
    return names;
}

std::string Join(const std::vector<std::string>& items, const char* separator = ", ") {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
    return text;
}

// Whether this user may bind a port below 1024 without the helper, and how.
std::string OwnPrivilege() {
    if (geteuid() == 0) return "root";
    const std::string status = ReadFile("/proc/self/status").value_or("");
    const std::size_t at = status.find("CapEff:");
    if (at != std::string::npos && (std::stoull(status.substr(at + 7), nullptr, 16) & (1ull << 10)) != 0)
        return "cap_net_bind_service";
    const std::string start = ReadFile("/proc/sys/net/ipv4/ip_unprivileged_port_start").value_or("1024");
    if (std::atoi(start.c_str()) <= 67) return "net.ipv4.ip_unprivileged_port_start";
    return {};
}

enum class Helper { Missing, NoCapability, Granted };

Helper HelperState() {
    struct stat info {};
    if (stat(BindHelperPath(), &info) != 0 || !S_ISREG(info.st_mode)) return Helper::Missing;
    char xattr[64];
    const ssize_t n = getxattr(BindHelperPath(), "security.capability", xattr, sizeof xattr);
    if (n > 0 &&
        ParseBindCapability(std::string_view(xattr, static_cast<std::size_t>(n))) == BindCapability::Granted)
        return Helper::Granted;
    return Helper::NoCapability;
}

const SearchWorkerStatus* Worker(const std::vector<SearchWorkerStatus>& all, SearchWorkerStatus::Kind kind,
                                 const std::string& localIP = {}) {
    for (const SearchWorkerStatus& s : all)
        if (s.kind == kind && s.localIP == localIP) return &s;
    return nullptr;
}

Finding Port67(const std::vector<SearchWorkerStatus>& workers, const std::string& privilege, Helper helper) {
    const std::string path = BindHelperPath();
    const SearchWorkerStatus* b = Worker(workers, SearchWorkerStatus::Kind::Broadcast);
    if (b != nullptr && b->started)
        return {"port 67", Status::Ok,
                "the broadcast search started on UDP port " + std::to_string(b->port) +
                    (privilege.empty() ? " through the bind helper " + path : " (as " + privilege + ")"),
                ""};
    const std::string error = b == nullptr ? "it did not start" : b->error;
    const std::string lost = "; boxes that answer only the broadcast search are not found";
    if (error.find("in use") != std::string::npos) {
        const std::vector<std::string> holders = HoldersOf(67);
        return {
            "port 67", Status::Blocking,
            "UDP port 67 is held by " + (holders.empty() ? "another program" : Join(holders)) +
                " (often a DHCP server)" + lost,
            "stop " + (holders.empty() ? std::string("the program that holds UDP port 67") : Join(holders))};
    }
    if (!privilege.empty())
        return {"port 67", Status::Blocking, "the broadcast search could not start (" + error + ")" + lost,
                ""};
    std::string message = "this user may not bind UDP port 67 (" + error + ") and the bind helper " + path;
    switch (helper) {
        case Helper::Missing:
            return {"port 67", Status::Blocking, message + " is not installed" + lost,
                    "install the nasscout package, or from the source tree: sudo make install SETCAP=1"};
        case Helper::NoCapability:
            return {"port 67", Status::Blocking, message + " lacks cap_net_bind_service" + lost,
                    "sudo setcap cap_net_bind_service=ep " + path};
        case Helper::Granted:
            break;
    }
    return {"port 67", Status::Blocking,
            message + " carries cap_net_bind_service but did not hand over the socket" + lost,
            "check that its file system is not mounted nosuid: findmnt -T " + path};
}

std::vector<Finding> InterfaceFindings(const std::vector<Interface>& list,
                                       const std::vector<SearchWorkerStatus>& workers,
                                       const std::vector<SearchBroadcastSend>& sends) {
    std::vector<Finding> findings;
    const SearchWorkerStatus* b = Worker(workers, SearchWorkerStatus::Kind::Broadcast);
    const bool broadcastStarted = b != nullptr && b->started;
    for (const Interface& i : list) {
        if (i.flags & IFF_LOOPBACK) continue;
        Finding f{"interface " + i.name, Status::Ok, "", ""};
        if (!(i.flags & IFF_UP)) {
            f.message = "down; not searched";
        } else if (i.v4.empty()) {
            f.message = "no IPv4 address; not searched";
        } else {
            std::vector<std::string> parts;
            for (const Address& a : i.v4)
                parts.push_back(Text(a.ip) + "/" + std::to_string(__builtin_popcount(a.mask.s_addr)));
            f.message = Join(parts, " ");
            if (IsTunnel(i.name, i.flags & IFF_POINTOPOINT)) {
                f.message += "; a tunnel, which carries no broadcast";
            } else if (!(i.flags & IFF_BROADCAST)) {
                f.message += "; cannot broadcast";
            } else if (!broadcastStarted) {
                f.message += "; no broadcast (the broadcast search did not start)";
            } else {
                std::vector<std::string> failed;
                bool sent = false;
                for (const SearchBroadcastSend& s : sends)
                    if (s.interfaceName == i.name) {
                        if (s.sent)
                            sent = true;
                        else
                            failed.push_back("from " + s.localIP + ": " + s.error);
                    }
                if (!failed.empty()) {
                    f.status = Status::Warning;
                    f.message += "; the broadcast could not be sent " + Join(failed);
                } else if (sent) {
                    f.message += "; broadcast sent";
                } else {
                    f.status = Status::Warning;
                    f.message += "; the broadcast did not go out here";
                }
            }
            for (const Address& a : i.v4) {
                const SearchWorkerStatus* w = Worker(workers, SearchWorkerStatus::Kind::Command, Text(a.ip));
                if (w != nullptr && w->started) {
                    f.message +=
                        "; SSDP search from " + Text(a.ip) + " (port " + std::to_string(w->port) + ")";
                    if (!SearchPorts::Opened(w->port)) {
                        f.status = Status::Warning;
                        f.message += ", which the packaged firewall rules do not open (" + FirewallPorts() + ")";
                    }
                } else {
                    f.status = Status::Warning;
                    f.message += "; no SSDP search from " + Text(a.ip) +
                                 (w != nullptr ? " (" + w->error + ")" : std::string());
                }
            }
        }
        findings.push_back(std::move(f));
    }
    return findings;
}

Finding DefaultRouteFinding() {
    const std::optional<Route> r = DefaultRoute(ParseProcNetRoute(ReadFile("/proc/net/route").value_or("")));
    if (!r)
        return {"default route", Status::Ok,
                "none (a direct cable or an isolated network): the searches still go out on every interface, "
                "boxes behind a router cannot be reached",
                ""};
    in_addr gw{r->gateway};
    const std::string via = (r->gateway != 0 ? "via " + Text(gw) + " " : std::string()) + "on " + r->iface;
    bool pointToPoint = false;
    for (const Interface& i : Interfaces())
        if (i.name == r->iface) pointToPoint = i.flags & IFF_POINTOPOINT;
    if (IsTunnel(r->iface, pointToPoint))
        return {
            "default route", Status::Warning,
            via +
                ", a tunnel (a VPN?): the searches still go out on the local networks, but a VPN that "
                "blocks the local network hides every box",
            "allow local network access in the VPN's settings; boxes beyond the tunnel: nasscout-cli scan "
            "--target ADDRESS/24"};
    return {"default route", Status::Ok, via, ""};
}

Finding Port1900() {
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(1900);
    const int error = bind(s, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0 ? 0 : errno;
    close(s);
    const std::vector<std::string> holders = HoldersOf(1900);
    if (error == EADDRINUSE)
        return {"port 1900", Status::Warning,
                "held without sharing by " +
                    (holders.empty() ? std::string("another program") : Join(holders)) +
                    ": announcements (alive, byebye) are not heard; the per-address searches still run",
                "stop " + (holders.empty() ? std::string("that program") : Join(holders)) +
                    ", or have it open the port with SO_REUSEADDR"};
    if (error != 0)
        return {"port 1900", Status::Warning, std::string("cannot be bound: ") + std::strerror(error), ""};
    if (holders.empty()) return {"port 1900", Status::Ok, "free", ""};
    return {"port 1900", Status::Ok,
            "shared with " + Join(holders) +
                "; nasscout's per-address searches get their answers on ports of "
                "their own",
            ""};
}

bool Installed(const char* tool) {
    std::istringstream dirs(getenv("PATH") != nullptr ? getenv("PATH") : "");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && access((dir + "/" + tool).c_str(), X_OK) == 0) return true;
    return access((std::string("/usr/sbin/") + tool).c_str(), X_OK) == 0;
}

std::vector<Finding> Firewalld(const std::vector<Interface>& list) {
    if (!Installed("firewall-cmd")) return {};
    const CommandResult state = Run({"firewall-cmd", "--state"});
    if (state.status == -1)
        return {{"firewalld", Status::Warning, "firewall-cmd --state gave no answer within 5 s", ""}};
    if (state.output.find("Authorization failed") != std::string::npos)
        return {{"firewalld", Status::Warning,
                 "runs, but tells this user nothing without a polkit agent: whether it drops the answers is "
                 "unknown",
                 "sudo nasscout-cli doctor, or allow nasscout at once: " + std::string(kFirewalldFix)}};
    if (FirstLine(state.output) != "running") return {{"firewalld", Status::Ok, "not running", ""}};
    const auto zones = ParseActiveZones(Run({"firewall-cmd", "--get-active-zones"}).output);
    const std::string fallback = FirstLine(Run({"firewall-cmd", "--get-default-zone"}).output);
    std::map<std::string, std::vector<std::string>> used;  // zone -> the searched interfaces in it
    for (const Interface& i : list) {
        if ((i.flags & IFF_LOOPBACK) || !(i.flags & IFF_UP) || i.v4.empty()) continue;
        std::string zone;
        for (const auto& [name, members] : zones)
            if (std::find(members.begin(), members.end(), i.name) != members.end()) zone = name;
        if (zone.empty()) {
            const CommandResult r = Run({"firewall-cmd", "--get-zone-of-interface=" + i.name});
            zone = r.status == 0 ? FirstLine(r.output) : fallback;
        }
        used[zone].push_back(i.name);
    }
    std::vector<Finding> findings;
    for (const auto& [zone, members] : used) {
        const std::string where = "zone " + zone + " (" + Join(members) + ")";
        const CommandResult service = Run({"firewall-cmd", "--zone=" + zone, "--query-service=nasscout"});
        if (FirstLine(service.output) == "yes") {
            findings.push_back({"firewalld", Status::Ok, where + " allows the nasscout service", ""});
            continue;
        }
        const std::string ports = Run({"firewall-cmd", "--zone=" + zone, "--list-ports"}).output;
        if (PortsAllowSearch(ports)) {
            findings.push_back({"firewalld", Status::Ok, where + " opens " + FirewallPorts(), ""});
            continue;
        }
        const bool known = service.output.find("INVALID_SERVICE") == std::string::npos;
        const std::string zoneOption = zone == fallback ? "" : " --zone=" + zone;
        findings.push_back(
            {"firewalld", Status::Blocking,
             "firewalld runs and " + where + " does not allow the nasscout service" +
                 (known ? "" : " (it is not installed: /usr/lib/firewalld/services/nasscout.xml)") +
                 ": it drops every answer to a search",
             "sudo firewall-cmd --permanent" + zoneOption +
                 (known ? std::string(" --add-service=nasscout")
                        : " --add-port=67/udp --add-port=1900/udp --add-port=" + kCommandPorts + "/udp") +
                 " && sudo firewall-cmd --reload"});
    }
    return findings;
}

std::vector<Finding> Ufw() {
    const std::optional<std::string> conf = ReadFile("/etc/ufw/ufw.conf");
    if (!conf) return {};
    if (!UfwEnabled(*conf)) return {{"ufw", Status::Ok, "not enabled", ""}};
    const bool profile = access("/etc/ufw/applications.d/nasscout", F_OK) == 0;
    const std::string noProfile =
        profile ? "" : " (its profile /etc/ufw/applications.d/nasscout is not installed)";
    // Without the profile, ufw knows no "nasscout": its ports then.
    const std::string fix = profile ? "sudo ufw allow nasscout"
                                    : "sudo ufw allow " + std::to_string(SearchPorts::kBroadcast) + "," +
                                          std::to_string(SearchPorts::kMulticast) + "," +
                                          std::to_string(SearchPorts::kFirstCommand) + ":" +
                                          std::to_string(SearchPorts::kLastCommand) + "/udp";
    const std::optional<std::string> rules = ReadFile("/etc/ufw/user.rules");
    if (!rules)
        return {
            {"ufw", Status::Warning,
             "enabled; only root can read its rules, so whether the nasscout profile is allowed is unknown" +
                 noProfile,
             fix}};
    if (UfwAllowsSearch(*rules))
        return {{"ufw", Status::Ok, "enabled and allows nasscout (" + FirewallPorts() + ")", ""}};
    return {{"ufw", Status::Blocking,
             "enabled and does not allow the nasscout profile" + noProfile +
                 ": it drops every answer to a search",
             fix}};
}

std::vector<Finding> Nft(bool skipFirewalld, bool skipUfw) {
    if (!Installed("nft")) return {};
    if (geteuid() != 0)
        return {{"nftables", Status::Ok, "not read (needs root: sudo nasscout-cli doctor)", ""}};
    const CommandResult r = Run({"nft", "list", "ruleset"});
    if (r.status != 0)
        return {{"nftables", Status::Warning, "nft list ruleset failed: " + FirstLine(r.output), ""}};
    std::vector<std::string> dropping;
    for (const std::string& table : NftTablesDroppingAnswers(r.output)) {
        if (skipFirewalld && table.rfind("inet firewalld ", 0) == 0) continue;  // told above
        if (skipUfw && r.output.find("ufw-") != std::string::npos &&
            table.find("filter") != std::string::npos)
            continue;
        dropping.push_back(table);
    }
    if (dropping.empty()) return {{"nftables", Status::Ok, "no rule drops the answers", ""}};
    return {
        {"nftables", Status::Blocking,
         "the chain " + Join(dropping) +
             " drops incoming UDP and accepts none to ports 67 and 1900: it drops every answer to a search",
         "sudo nft insert rule " + dropping.front() + " udp dport { 67, 1900, " + kCommandPorts +
             " } accept"}};
}

struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    double seconds = 0;
    std::string error;
};

// The lookup runs apart so that a name server that never answers costs the
// doctor no more than kLookupLimit.
std::shared_ptr<Lookup> StartHostLookup(const std::string& host) {
    auto state = std::make_shared<Lookup>();
    std::thread([state, host] {
        const auto start = std::chrono::steady_clock::now();
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        addrinfo* result = nullptr;
        const int error = getaddrinfo(host.c_str(), nullptr, &hints, &result);
        if (result != nullptr) freeaddrinfo(result);
        std::lock_guard<std::mutex> lock(state->mutex);
        state->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (error != 0) state->error = gai_strerror(error);
        state->finished = true;
        state->done.notify_all();
    }).detach();
    return state;
}

Finding HostLookup(const std::string& host, Lookup& state, std::chrono::steady_clock::time_point started) {
    std::unique_lock<std::mutex> lock(state.mutex);
    state.done.wait_until(lock, started + kLookupLimit, [&] { return state.finished; });
    const std::string fix = "echo '127.0.1.1 " + host + "' | sudo tee -a /etc/hosts";
    char took[64];
    std::snprintf(took, sizeof took, "%.2f s", state.seconds);
    if (!state.finished)
        return {
            "host name", Status::Warning,
            "looking up " + host + " took more than 5 s: programs that look up their own name wait for it",
            fix};
    if (!state.error.empty())
        return {"host name", Status::Warning,
                "looking up " + host + " failed after " + took + ": " + state.error, fix};
    if (state.seconds >= 1)
        return {"host name", Status::Warning, "looking up " + host + " took " + took, fix};
    return {"host name", Status::Ok, "looking up " + host + " took " + took, ""};
}

struct Heard {
    int port;
    std::string ip;
    int type;
};
std::mutex g_heardMutex;
std::vector<Heard> g_heard;

int OnRecord(void* record, int port) {
    const auto* d = static_cast<const deviceinfo*>(record);
    std::lock_guard<std::mutex> lock(g_heardMutex);
    if (g_heard.size() < 100000)
        g_heard.push_back({port, std::string(d->ip, strnlen(d->ip, sizeof d->ip)), d->type});
    return 0;
}

}  // namespace

int RunDoctor(double timeoutSeconds, bool json) {
    // Standard output carries the report alone; the engine's own lines go to /dev/null.
    const int fd = dup(STDOUT_FILENO);
    FILE* results = fd >= 0 ? fdopen(fd, "w") : nullptr;
    const int sink = open("/dev/null", O_WRONLY);
    if (results == nullptr || sink < 0 || dup2(sink, STDOUT_FILENO) < 0) {
        std::fprintf(stderr, "nasscout-cli: cannot write to standard output: %s\n", std::strerror(errno));
        return 1;
    }
    close(sink);

    const auto started = std::chrono::steady_clock::now();
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::shared_ptr<Lookup> lookup = StartHostLookup(host);

    const std::vector<Interface> list = Interfaces();
    const std::string privilege = OwnPrivilege();
    const Helper helper = HelperState();
    Report report;
    std::vector<Finding> machine;
    machine.push_back(DefaultRouteFinding());
    machine.push_back(Port1900());  // before the engine binds it itself
    std::vector<Finding> walls = Firewalld(list);
    const bool firewalldRuns =
        std::any_of(walls.begin(), walls.end(), [](const Finding& f) { return f.message != "not running"; });
    const std::vector<Finding> ufw = Ufw();
    const bool ufwOn = !ufw.empty() && ufw.front().message != "not enabled";
    walls.insert(walls.end(), ufw.begin(), ufw.end());
    for (Finding& f : Nft(firewalldRuns, ufwOn)) walls.push_back(std::move(f));

    CDeviceSearchInterface* engine = CDeviceSearchInterface::GetInstance();
    engine->DeviceSearchDllInit(&OnRecord, false, nullptr, true);
    engine->SendSearchDeviceCommand(nullptr);
    std::this_thread::sleep_for(std::chrono::duration<double>(timeoutSeconds));
    const std::vector<SearchWorkerStatus> workers = engine->GetWorkerStatus();
    engine->GetDeviceList(report.devices);
    report.seconds = timeoutSeconds;

    report.findings.push_back(Port67(workers, privilege, helper));
    if (!privilege.empty() && helper == Helper::NoCapability)
        report.findings.push_back(
            {"bind helper", Status::Warning,
             std::string(BindHelperPath()) +
                 " lacks cap_net_bind_service: other users' broadcast search cannot start",
             "sudo setcap cap_net_bind_service=ep " + std::string(BindHelperPath())});
    for (Finding& f : InterfaceFindings(list, workers, engine->GetBroadcastSends()))
        report.findings.push_back(std::move(f));
    for (Finding& f : machine) report.findings.push_back(std::move(f));
    for (Finding& f : walls) report.findings.push_back(std::move(f));
    report.findings.push_back(HostLookup(host, *lookup, started));

    int heard = 0;
    {
        std::lock_guard<std::mutex> lock(g_heardMutex);
        for (const Heard& h : g_heard) {
            if (h.type != kDeviceAnswer) continue;
            ++heard;
            std::string protocol = "SSDP", localIP;
            for (const SearchWorkerStatus& s : workers)
                if (s.port == h.port) {
                    if (s.kind == SearchWorkerStatus::Kind::Broadcast) protocol = "broadcast";
                    localIP = s.localIP;
                }
            const std::string iface = InterfaceOf(list, h.ip, localIP);
            auto it = std::find_if(report.answers.begin(), report.answers.end(), [&](const AnswerCount& a) {
                return a.protocol == protocol && a.iface == iface;
            });
            if (it == report.answers.end())
                it = report.answers.insert(report.answers.end(), {protocol, iface, 0});
            ++it->count;
        }
    }
    char waited[32];
    std::snprintf(waited, sizeof waited, "%g s", timeoutSeconds);
    if (!report.devices.empty())
        report.findings.push_back({"search", Status::Ok,
                                   std::to_string(report.devices.size()) + " box(es) found within " + waited,
                                   ""});
    else if (heard > 0)
        report.findings.push_back(
            {"search", Status::Warning,
             std::to_string(heard) + " answer(s) within " + waited + ", none from a maker nasscout lists",
             "nasscout-cli scan --verbose shows every answer"});
    else
        report.findings.push_back(
            {"search", Status::Warning, std::string("no box answered within ") + waited,
             "a box behind a router is found only as a target: nasscout-cli scan --target "
             "ADDRESS/24"});

    const std::string text = json ? FormatReportJson(report) : FormatReportText(report);
    std::fputs(text.c_str(), results);
    std::fflush(results);
    std::fflush(stderr);
    FlushCoverage();
    // Workers are detached and may be receiving; leave without destructors.
    _exit(report.Ok() ? 0 : 1);
}

}  // namespace cli
