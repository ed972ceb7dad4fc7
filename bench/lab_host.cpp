// A host-side probe for lab runs: counts the records the engine hands over
// (per worker port) or, in "bare" mode, the datagrams a plain recvfrom loop
// (or, with --batch N, a recvmmsg loop taking up to N at a time) receives on
// one port, and prints the figures as one JSON object.
//
//   lab_host engine [--search] [--searches N --every S] [--single-address] [--log-dir DIR]
//                   [--target SPEC --rate N] [--seconds S] [--quiet Q] [--expect N]
//   lab_host bare --bind IP:PORT [--rcvbuf BYTES] [--batch N] [--seconds S] [--quiet Q] [--expect N]
//   lab_host sink --bind IFACE --rate N [--seconds S] [--quiet Q] [--expect N]
//
// It stops after S seconds, or Q seconds after the last record/datagram (once
// one has come), or as soon as N have come. "ready" is written to stderr once
// the sockets are bound, so a driver knows when to start sending. Every mode
// reports the CPU time (user + system) it used from "ready" to its end; with
// --target the engine also sweeps those targets and reports the sweep. The
// engine mode also reports how long the calls that a window makes on its main
// thread took: the start, each search, a list copy and a clear ("calls_ms").
// The sink watches the datagrams to ports 68 and 1900 of 198.18.0.0/16 leaving
// through IFACE, with kernel time stamps, and reports the gaps between them
// against the nominal gap of rate N.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>  // before Asio (pulled in through the engine headers)
#include <vector>

#include "Common/CoverageDump.h"
#include "DeviceSearchInterface.h"
#include "Net/Message.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Args {
    std::string mode;
    bool search = false;
    int searches = 0;
    double every = 1;
    bool singleAddress = false;
    std::string logDir;
    std::string bind;
    double seconds = 10;
    double quiet = 1;
    long expect = 0;
    int rcvbuf = 0;
    int batch = 0;
    std::string target;
    int rate = kSearchRateDefault;
};


// The engine prints one line per record to standard output; keep the real
// stdout for the result and send the engine's lines to /dev/null.
FILE* g_out = stdout;

// Counters written by the hand-over (one record at a time) and read by main,
// one per port so that counting costs the engine no lock of ours.
std::atomic<long> g_perPort[65536];
std::atomic<long> g_total{0};
std::atomic<long long> g_firstNs{0}, g_lastNs{0};

double CpuSeconds() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return use.ru_utime.tv_sec + use.ru_stime.tv_sec + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

long Switches() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return use.ru_nvcsw + use.ru_nivcsw;
}

// CPU and wall time from "ready" on.
double g_cpuAtReady = 0;
long g_switchesAtReady = 0;
Clock::time_point g_wallAtReady;

void Ready() {
    g_cpuAtReady = CpuSeconds();
    g_switchesAtReady = Switches();
    g_wallAtReady = Clock::now();
    std::fprintf(stderr, "ready\n");
}

void PrintCpu() {
    std::fprintf(g_out, ",\"cpu_s\":%.6f,\"wall_s\":%.6f,\"switches\":%ld", CpuSeconds() - g_cpuAtReady,
                 std::chrono::duration<double>(Clock::now() - g_wallAtReady).count(), Switches() - g_switchesAtReady);
}

long long nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

void noteArrival() {
    long long t = nowNs();
    long long zero = 0;
    g_firstNs.compare_exchange_strong(zero, t);
    g_lastNs = t;
    ++g_total;
}

int countingListener(void*, int port) {
    g_perPort[port & 0xFFFF].fetch_add(1, std::memory_order_relaxed);
    noteArrival();
    return 0;
}

// UDP counters of this network namespace: drops for a full receive buffer.
long udpCounter(const char* name) {
    std::ifstream in("/proc/net/snmp");
    std::string header, values;
    while (std::getline(in, header) && std::getline(in, values)) {
        if (header.rfind("Udp:", 0) != 0) continue;
        std::istringstream h(header), v(values);
        std::string key, value;
        while (h >> key && v >> value)
            if (key == name) return std::atol(value.c_str());
    }
    return -1;
}

void waitForEnd(const Args& a) {
    const auto start = Clock::now();
    const auto limit = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(a.seconds));
    const long long quietNs = static_cast<long long>(a.quiet * 1e9);
    while (Clock::now() < limit) {
        if (a.expect > 0 && g_total >= a.expect) break;
        if (g_total > 0 && nowNs() - g_lastNs > quietNs) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string jsonText(const char* text) {
    std::string out = "\"";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p == '"' || *p == '\\') out += '\\';
        if (*p < 0x20 || *p >= 0x7f) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", *p);
            out += esc;
        } else {
            out += static_cast<char>(*p);
        }
    }
    return out + "\"";
}

void printTiming(long received, long errorsBefore) {
    double span = (g_lastNs - g_firstNs) / 1e9;
    std::fprintf(g_out, "\"received\":%ld,\"span_s\":%.6f,\"per_s\":%.1f,\"rcvbuf_errors\":%ld", received, span,
                span > 0 && received > 1 ? (received - 1) / span : 0.0, udpCounter("RcvbufErrors") - errorsBefore);
}


void takeStandardOutput() {
    int fd = dup(STDOUT_FILENO);
    int sink = open("/dev/null", O_WRONLY);
    if (fd < 0 || sink < 0 || dup2(sink, STDOUT_FILENO) < 0) return;
    close(sink);
    g_out = fdopen(fd, "w");
}

// Milliseconds that call() took.
template <typename Call>
double timed(Call call) {
    const auto start = Clock::now();
    call();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int runEngine(const Args& a) {
    takeStandardOutput();
    const long errorsBefore = udpCounter("RcvbufErrors");
    CDeviceSearchInterface* engine = CDeviceSearchInterface::GetInstance();
    double initMs = timed([&] {
        engine->DeviceSearchDllInit(countingListener, !a.logDir.empty(),
                                    a.logDir.empty() ? nullptr : a.logDir.c_str(), !a.singleAddress);
    });
    for (const SearchWorkerStatus& w : engine->GetWorkerStatus())
        if (!w.started) std::fprintf(stderr, "lab_host: worker on port %d did not start: %s\n", w.port, w.error.c_str());
    CSearchTargetList targets;
    SearchTargetError error;
    if (!a.target.empty() && !ParseSearchTargets(a.target, targets, error)) {
        std::fprintf(stderr, "lab_host: --target %s\n", error.Describe().c_str());
        _exit(2);
    }
    Ready();
    std::vector<double> searchMs;
    for (int k = 0; k < std::max(a.searches, a.search ? 1 : 0); ++k) {
        if (k > 0) std::this_thread::sleep_for(std::chrono::duration<double>(a.every));
        searchMs.push_back(timed([&] { engine->SendSearchDeviceCommand(nullptr); }));
    }
    SweepProgress sweep;
    double sweepCpu = 0;
    if (!targets.Empty()) {
        engine->SetSearchTargets(targets, a.rate);
        const double before = CpuSeconds();
        engine->SweepSearchTargets();
        engine->WaitSweep(-1);
        sweepCpu = CpuSeconds() - before;
        sweep = engine->GetSweepProgress();
    }
    waitForEnd(a);

    std::vector<deviceinfo> list;
    double copyMs = timed([&] { engine->GetDeviceList(list); });
    double clearMs = timed([&] { engine->ClearDeviceList(); });
    std::fprintf(g_out, "{\"mode\":\"engine\",\"calls_ms\":{\"init\":%.3f,\"copy\":%.3f,\"clear\":%.3f,\"searches\":[",
                 initMs, copyMs, clearMs);
    for (std::size_t k = 0; k < searchMs.size(); ++k) std::fprintf(g_out, "%s%.3f", k ? "," : "", searchMs[k]);
    std::fprintf(g_out, "]},");
    printTiming(g_total, errorsBefore);
    PrintCpu();
    if (sweep.number > 0)
        std::fprintf(g_out,
                     ",\"sweep\":{\"addresses\":%llu,\"sent\":%llu,\"failed\":%llu,\"rate\":%d,\"seconds\":%.6f,"
                     "\"achieved\":%.1f,\"cpu_s\":%.6f}",
                     sweep.done, sweep.sent, sweep.failed, sweep.rate, sweep.elapsed, sweep.achieved, sweepCpu);
    std::fprintf(g_out, ",\"handed\":{");
    const char* sep = "";
    for (int port = 0; port < 65536; ++port) {
        if (const long n = g_perPort[port].load(); n > 0) {
            std::fprintf(g_out, "%s\"%d\":%ld", sep, port, n);
            sep = ",";
        }
    }
    std::fprintf(g_out, "},\"listed\":[");
    sep = "";
    for (const deviceinfo& d : list) {
        std::fprintf(g_out, "%s%s", sep, jsonText(d.ip).c_str());
        sep = ",";
    }
    std::fprintf(g_out, "]}\n");
    std::fflush(g_out);
    // Detached receive threads may still run: leave without static teardown.
    FlushCoverage();
    _exit(0);
}

int runBare(const Args& a) {
    const long errorsBefore = udpCounter("RcvbufErrors");
    const std::size_t colon = a.bind.rfind(':');
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (colon == std::string::npos || inet_pton(AF_INET, a.bind.substr(0, colon).c_str(), &local.sin_addr) != 1) {
        std::fprintf(stderr, "lab_host: --bind IP:PORT\n");
        return 2;
    }
    local.sin_port = htons(static_cast<std::uint16_t>(std::atoi(a.bind.c_str() + colon + 1)));
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::perror("lab_host: bind");
        return 1;
    }
    if (a.rcvbuf > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &a.rcvbuf, sizeof a.rcvbuf);
    // Wake up now and then to test the end conditions.
    timeval tick{0, 20000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
    Ready();
    std::thread waiter([&] { waitForEnd(a); });
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        if (a.batch > 0) {
            // The floor of batched receives: recvmmsg, nothing done per datagram.
            static char buffers[64][1025];
            sockaddr_in from[64];
            iovec parts[64];
            mmsghdr messages[64];
            const unsigned batch = std::min(a.batch, 64);
            while (!done) {
                for (unsigned i = 0; i < batch; ++i) {
                    parts[i] = {buffers[i], 1024};
                    messages[i] = {};
                    messages[i].msg_hdr.msg_name = &from[i];
                    messages[i].msg_hdr.msg_namelen = sizeof from[i];
                    messages[i].msg_hdr.msg_iov = &parts[i];
                    messages[i].msg_hdr.msg_iovlen = 1;
                }
                const int n = recvmmsg(fd, messages, batch, MSG_WAITFORONE, nullptr);
                for (int i = 0; i < n; ++i) noteArrival();
            }
            return;
        }
        char buffer[1025];
        while (!done) {
            std::memset(buffer, 0, sizeof buffer);
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = recvfrom(fd, buffer, sizeof buffer - 1, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n > 0) noteArrival();
        }
    });
    waiter.join();
    done = true;
    receiver.join();
    std::fprintf(g_out, "{\"mode\":\"bare\",");
    printTiming(g_total, errorsBefore);
    PrintCpu();
    std::fprintf(g_out, "}\n");
    close(fd);
    return 0;
}

// Watches what a sweep sends where it leaves the host: a packet socket on the
// host's interface sees each outgoing datagram with the time the interface
// took it, before any receiver's batching blurs the spacing.
int runSink(const Args& a) {
    // ETH_P_ALL: outgoing packets reach only the taps that take every protocol.
    const int fd = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_ALL));
    const int size = 16 << 20, on = 1;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ALL);
    link.sll_ifindex = static_cast<int>(if_nametoindex(a.bind.c_str()));
    if (fd < 0 || link.sll_ifindex == 0 || bind(fd, reinterpret_cast<sockaddr*>(&link), sizeof link) != 0) {
        std::perror("lab_host: packet socket");
        return 1;
    }
    Ready();
    std::vector<long long> stamps;
    stamps.reserve(a.expect > 0 ? static_cast<std::size_t>(a.expect) : 1 << 20);
    std::thread waiter([&] { waitForEnd(a); });
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        pollfd polls[1] = {{fd, POLLIN, 0}};
        unsigned char packet[1600];
        while (!done) {
            if (poll(polls, 1, 20) <= 0) continue;
            net::OneMessage<sockaddr_ll, 256> received(packet, sizeof packet);
            msghdr& m = received.header;
            const sockaddr_ll& from = received.peer;
            const ssize_t n = recvmsg(fd, &m, MSG_DONTWAIT);
            // Outgoing UDP to port 68 or 1900 of the swept block.
            if (n < 28 || from.sll_pkttype != PACKET_OUTGOING || from.sll_protocol != htons(ETH_P_IP) ||
                packet[9] != IPPROTO_UDP)
                continue;
            const std::size_t header = (packet[0] & 0x0F) * 4u;
            const unsigned port = packet[header + 2] << 8 | packet[header + 3];
            if (packet[16] != 198 || packet[17] != 18 || (port != 68 && port != 1900)) continue;
            for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c)) {
                if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
                timespec ts{};
                std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                stamps.push_back(ts.tv_sec * 1000000000LL + ts.tv_nsec);
            }
            noteArrival();
        }
    });
    waiter.join();
    done = true;
    receiver.join();
    std::vector<long long> gaps;
    for (std::size_t i = 1; i < stamps.size(); ++i) gaps.push_back(stamps[i] - stamps[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    const double nominal = 1e9 / a.rate;
    const auto below = std::lower_bound(gaps.begin(), gaps.end(), static_cast<long long>(nominal / 2)) - gaps.begin();
    auto at = [&](double q) { return gaps.empty() ? 0.0 : gaps[static_cast<std::size_t>(q * (gaps.size() - 1))] / 1e3; };
    const double span = stamps.size() > 1 ? (stamps.back() - stamps.front()) / 1e9 : 0;
    std::fprintf(g_out,
                 "{\"mode\":\"sink\",\"received\":%zu,\"span_s\":%.6f,\"per_s\":%.1f,\"nominal_gap_us\":%.2f,"
                 "\"gap_us\":{\"min\":%.2f,\"p1\":%.2f,\"p10\":%.2f,\"p50\":%.2f,\"p90\":%.2f,\"p99\":%.2f,"
                 "\"max\":%.2f},\"below_half_nominal\":%ld,\"below_half_share\":%.5f",
                 stamps.size(), span, span > 0 ? (stamps.size() - 1) / span : 0.0, nominal / 1e3, at(0), at(0.01),
                 at(0.1), at(0.5), at(0.9), at(0.99), at(1), static_cast<long>(below),
                 gaps.empty() ? 0.0 : static_cast<double>(below) / gaps.size());
    PrintCpu();
    std::fprintf(g_out, "}\n");
    close(fd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Args a;
    if (argc < 2) {
        std::fprintf(stderr, "usage: lab_host engine|bare|sink [options]\n");
        return 2;
    }
    a.mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string o = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (o == "--search") a.search = true;
        else if (o == "--searches") a.searches = std::atoi(next());
        else if (o == "--every") a.every = std::atof(next());
        else if (o == "--single-address") a.singleAddress = true;
        else if (o == "--log-dir") a.logDir = next();
        else if (o == "--bind") a.bind = next();
        else if (o == "--seconds") a.seconds = std::atof(next());
        else if (o == "--quiet") a.quiet = std::atof(next());
        else if (o == "--expect") a.expect = std::atol(next());
        else if (o == "--rcvbuf") a.rcvbuf = std::atoi(next());
        else if (o == "--batch") a.batch = std::atoi(next());
        else if (o == "--target") a.target = next();
        else if (o == "--rate") a.rate = std::atoi(next());
        else {
            std::fprintf(stderr, "lab_host: unknown option %s\n", o.c_str());
            return 2;
        }
    }
    if (a.mode == "engine") return runEngine(a);
    if (a.mode == "bare") return runBare(a);
    if (a.mode == "sink") return runSink(a);
    std::fprintf(stderr, "lab_host: mode is engine, bare or sink\n");
    return 2;
}
