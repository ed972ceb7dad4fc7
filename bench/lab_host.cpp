// A host-side probe for lab runs: counts the records the engine hands over
// (per worker port) or, in "bare" mode, the datagrams a plain recvfrom loop
// receives on one port, and prints the figures as one JSON object.
//
//   lab_host engine [--search] [--single-address] [--log-dir DIR] [--seconds S] [--quiet Q] [--expect N]
//   lab_host bare --bind IP:PORT [--rcvbuf BYTES] [--seconds S] [--quiet Q] [--expect N]
//
// It stops after S seconds, or Q seconds after the last record/datagram (once
// one has come), or as soon as N have come. "ready" is written to stderr once
// the sockets are bound, so a driver knows when to start sending.
#include <utility>  // before Asio (pulled in through the engine headers)

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CoverageDump.h"
#include "DeviceSearchInterface.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Args {
    std::string mode;
    bool search = false;
    bool singleAddress = false;
    std::string logDir;
    std::string bind;
    double seconds = 10;
    double quiet = 1;
    long expect = 0;
    int rcvbuf = 0;
};

// The engine prints one line per record to standard output; keep the real
// stdout for the result and send the engine's lines to /dev/null.
FILE* g_out = stdout;

// Counters written by the hand-over (one record at a time) and read by main.
std::mutex g_mutex;
std::map<int, long> g_perPort;
std::atomic<long> g_total{0};
std::atomic<long long> g_firstNs{0}, g_lastNs{0};

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
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_perPort[port];
    }
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

int runEngine(const Args& a) {
    takeStandardOutput();
    const long errorsBefore = udpCounter("RcvbufErrors");
    CDeviceSearchInterface* engine = CDeviceSearchInterface::GetInstance();
    engine->DeviceSearchDllInit(countingListener, !a.logDir.empty(), a.logDir.empty() ? nullptr : a.logDir.c_str(),
                                !a.singleAddress);
    for (const SearchWorkerStatus& w : engine->GetWorkerStatus())
        if (!w.started) std::fprintf(stderr, "lab_host: worker on port %d did not start: %s\n", w.port, w.error.c_str());
    std::fprintf(stderr, "ready\n");
    if (a.search) engine->SendSearchDeviceCommand(nullptr);
    waitForEnd(a);

    std::vector<deviceinfo> list;
    engine->GetDeviceList(list);
    std::lock_guard<std::mutex> lock(g_mutex);
    std::fprintf(g_out, "{\"mode\":\"engine\",");
    printTiming(g_total, errorsBefore);
    std::fprintf(g_out, ",\"handed\":{");
    const char* sep = "";
    for (const auto& [port, n] : g_perPort) {
        std::fprintf(g_out, "%s\"%d\":%ld", sep, port, n);
        sep = ",";
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
    std::fprintf(stderr, "ready\n");
    std::thread waiter([&] { waitForEnd(a); });
    std::atomic<bool> done{false};
    std::thread receiver([&] {
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
    std::fprintf(g_out, "}\n");
    close(fd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Args a;
    if (argc < 2) {
        std::fprintf(stderr, "usage: lab_host engine|bare [options]\n");
        return 2;
    }
    a.mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string o = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (o == "--search") a.search = true;
        else if (o == "--single-address") a.singleAddress = true;
        else if (o == "--log-dir") a.logDir = next();
        else if (o == "--bind") a.bind = next();
        else if (o == "--seconds") a.seconds = std::atof(next());
        else if (o == "--quiet") a.quiet = std::atof(next());
        else if (o == "--expect") a.expect = std::atol(next());
        else if (o == "--rcvbuf") a.rcvbuf = std::atoi(next());
        else {
            std::fprintf(stderr, "lab_host: unknown option %s\n", o.c_str());
            return 2;
        }
    }
    if (a.mode == "engine") return runEngine(a);
    if (a.mode == "bare") return runBare(a);
    std::fprintf(stderr, "lab_host: mode is engine or bare\n");
    return 2;
}
