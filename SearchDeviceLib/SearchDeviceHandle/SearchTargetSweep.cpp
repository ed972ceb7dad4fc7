// clang-format off
#include <utility>  // before Asio: 1.74 uses std::exchange without it in C++20
// clang-format on

#include "SearchDeviceHandle/SearchTargetSweep.h"

#include <sys/prctl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Common/NoDestructor.h"
#include "Net/Ipv4.h"
#include "Protocol/BroadcastCodec.h"
#include "Protocol/SsdpCodec.h"
#include "SearchDeviceHandle/Pacer.h"
#include "SearchDeviceHandle/SearchDeviceClient.h"
#include "SearchDeviceThread/SearchDeviceThread.h"
#include "ShowLog/ShowLog.h"

using SearchDeviceShowLog::io_printf;
using Clock = std::chrono::steady_clock;
using Kind = SearchWorkerStatus::Kind;
using SweepState = SweepProgress::State;

namespace {

constexpr unsigned short kRequestPort = 68;  // where devices hear the broadcast protocol
constexpr unsigned short kSsdpPort = 1900;

struct State {
    std::mutex mutex;  // guards everything below but the atomics
    std::condition_variable changed;
    CSearchTargetList targets;
    int rate = kSearchRateDefault;
    std::atomic<bool> cancel{false};
    bool stopped = false;

    // The latest sweep. The counters are written by its thread alone.
    std::atomic<std::uint64_t> done{0}, sent{0}, failed{0};
    std::uint64_t total = 0;
    int sweepRate = 0;
    Clock::time_point started, ended;
    SweepState state = SweepState::Idle;
    unsigned number = 0;
    std::string error;
};

// Never destroyed: the window ends the process with exit() while a sweep may
// still be sending.
State& S() {
    static NoDestructor<State> state;
    return *state;
}

// Senders chosen when a sweep starts.
struct Plan {
    CSearchDeviceThread* broadcast = nullptr;
    CSearchDeviceThread* ssdp = nullptr;  // null: the per-address worker of each target's route
    std::vector<std::pair<std::uint32_t, CSearchDeviceThread*>> byAddress;
};

// The local address the system would send a datagram to `address` from; 0
// when there is no route. Routes finer than a /24 are rare enough to look up
// once per /24, which keeps a /16 to 256 lookups.
class CachedRoutes {
public:
    std::uint32_t SourceFor(std::uint32_t address) {
        const std::uint32_t net = address & 0xFFFFFF00u;
        if (cached && net == cachedNet) return cachedSource;
        std::uint32_t source = 0;
        if (routes.SourceFor(address, kSsdpPort, source) != 0) source = 0;
        cached = true;
        cachedNet = net;
        cachedSource = source;
        return source;
    }

private:
    net::RouteFinder routes;
    bool cached = false;
    std::uint32_t cachedNet = 0, cachedSource = 0;
};

// A worker on a port the system chooses, made by the client when a search
// worker could not start; kept there for later sweeps once it runs.
CSearchDeviceThread* OwnWorker(Kind kind) {
    try {
        return CSearchDeviceClient::SweepWorker(kind);
    } catch (const std::exception& e) {
        io_printf("Sweep Targets : Create Worker Error : %s  ", e.what());
        return nullptr;
    }
}

Plan MakePlan(const CSearchDeviceClient::Senders& senders) {
    Plan plan;
    plan.broadcast = senders.broadcast;
    plan.byAddress = senders.byAddress;
    CSearchDeviceThread* multicast = senders.multicast;
    if (plan.broadcast == nullptr) plan.broadcast = OwnWorker(Kind::Broadcast);
    if (plan.broadcast != nullptr)
        io_printf("Sweep Targets : Broadcast Request From %d  ", plan.broadcast->Port());
    else
        io_printf("Sweep Targets : Broadcast Request Has No Socket  ");

    if (multicast != nullptr && !net::UdpPortHeldByOthers(multicast->Port())) plan.ssdp = multicast;
    if (plan.ssdp != nullptr)
        io_printf("Sweep Targets : Search Command From %d  ", plan.ssdp->Port());
    else
        io_printf("Sweep Targets : Search Command From The Worker Of Each Route  ");
    return plan;
}

class Sweep {
public:
    Sweep(Plan plan, CSearchTargetList targets, int rate, Clock::time_point start)
        : plan(std::move(plan)), targets(std::move(targets)), pacer(rate, start), waiter(rate), previous(start) {}

    void Run() {
        State& s = S();
        // The default slack of 50 us would blur every deadline.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        const dhcppacket request = DefaultSearchPacket();
        const std::string_view search = SsdpSearchRequest();
        bool cancelled = false;
        for (const CSearchTargetList::Range& range : targets.Ranges()) {
            for (std::uint64_t a = range.first; a <= range.last && !cancelled; ++a) {
                const auto address = static_cast<std::uint32_t>(a);
                cancelled = !Send(plan.broadcast, &request, sizeof request, address, kRequestPort) ||
                            !Send(SsdpSender(address), search.data(), search.size(), address, kSsdpPort);
                if (!cancelled) s.done.fetch_add(1, std::memory_order_relaxed);
            }
            if (cancelled) break;
        }
        io_printf("Sweep Targets : %s, Addresses %llu, Sent %llu, Failed %llu  ", cancelled ? "Cancelled" : "End",
                  static_cast<unsigned long long>(s.done.load()), static_cast<unsigned long long>(s.sent.load()),
                  static_cast<unsigned long long>(s.failed.load()));
        // The last thing this thread does with shared state: whoever waits
        // for the end may stop the workers or start the next sweep at once.
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.state = cancelled ? SweepState::Cancelled : SweepState::Finished;
            s.ended = Clock::now();
        }
        s.changed.notify_all();
    }

private:
    CSearchDeviceThread* SsdpSender(std::uint32_t address) {
        if (plan.ssdp != nullptr) return plan.ssdp;
        const std::uint32_t source = routes.SourceFor(address);
        for (const auto& [local, worker] : plan.byAddress)
            if (local == source && source != 0) return worker;
        // Made on first need only, and tried once per sweep: a socket that
        // could not be made (no descriptors left) would fail again for each
        // of a /16's 65,534 addresses.
        if (!ownSsdpTried) {
            ownSsdpTried = true;
            ownSsdp = OwnWorker(Kind::Command);
        }
        return ownSsdp;
    }

    // Waits for the datagram's turn and sends it; false when cancelled.
    bool Send(CSearchDeviceThread* from, const void* data, std::size_t size, std::uint32_t to,
              unsigned short port) {
        State& s = S();
        if (!waiter.Until(pacer.Due(slot, previous), s.cancel)) return false;
        previous = Clock::now();
        ++slot;
        const int error = from != nullptr ? from->SendUnicast(data, size, to, port) : -1;
        if (error == 0) {
            s.sent.fetch_add(1, std::memory_order_relaxed);
            return true;
        }
        s.failed.fetch_add(1, std::memory_order_relaxed);
        if (!errorSeen) {
            errorSeen = true;
            const std::string text = error < 0 ? "no socket could be opened to send from" : std::strerror(error);
            const std::string ip = net::Ipv4Text(to);
            {
                std::lock_guard<std::mutex> lock(s.mutex);
                s.error = text + " (" + ip + ":" + std::to_string(port) + ")";
            }
            io_printf("Sweep Targets : Send Error : %s, IP : %s, Port : %d  ", text.c_str(), ip.c_str(), port);
        }
        return true;
    }

    Plan plan;
    CSearchTargetList targets;
    Pacer pacer;
    CachedRoutes routes;
    PacerWaiter waiter;
    std::uint64_t slot = 0;
    Clock::time_point previous;
    bool errorSeen = false;
    bool ownSsdpTried = false;
    CSearchDeviceThread* ownSsdp = nullptr;
};

}  // namespace

int CSearchTargetSweep::SetTargets(const CSearchTargetList& targets, int rate) {
    if (rate < kSearchRateMin || rate > kSearchRateMax) return -1;
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.targets = targets;
    s.rate = rate;
    return 0;
}

int CSearchTargetSweep::Start() {
    Cancel();
    State& s = S();
    const CSearchDeviceClient::Senders senders = CSearchDeviceClient::StartedSenders();
    CSearchTargetList targets;
    int rate = 0;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.stopped || !senders.anyWorker) return -1;
        if (s.targets.Empty()) return 1;
        targets = s.targets;
        rate = s.rate;
    }
    io_printf("Sweep Targets : %llu Addresses, Rate %d  ", static_cast<unsigned long long>(targets.Count()), rate);
    // Reads /proc and may start workers (their socket locks), so not under
    // the state lock.
    Plan plan = MakePlan(senders);
    std::unique_lock<std::mutex> lock(s.mutex);
    s.done = 0;
    s.sent = 0;
    s.failed = 0;
    s.cancel = false;
    s.total = targets.Count();
    s.sweepRate = rate;
    s.started = s.ended = Clock::now();
    s.state = SweepState::Running;
    ++s.number;
    s.error.clear();
    try {
        auto sweep = std::make_shared<Sweep>(std::move(plan), std::move(targets), rate, s.started);
        // Detached: a cancel waits for the sweep's end, not for the thread.
        std::thread([sweep] { sweep->Run(); }).detach();
    } catch (const std::exception& e) {
        s.state = SweepState::Cancelled;
        s.error = e.what();
        io_printf("Sweep Targets : Create Thread Error : %s  ", e.what());
        lock.unlock();
        s.changed.notify_all();
        return -1;
    }
    return 0;
}

void CSearchTargetSweep::Cancel() {
    State& s = S();
    std::unique_lock<std::mutex> lock(s.mutex);
    if (s.state != SweepState::Running) return;
    s.cancel = true;
    s.changed.wait(lock, [&s] { return s.state != SweepState::Running; });
}

bool CSearchTargetSweep::Wait(int timeoutMs) {
    State& s = S();
    std::unique_lock<std::mutex> lock(s.mutex);
    const auto idle = [&s] { return s.state != SweepState::Running; };
    if (timeoutMs < 0) {
        s.changed.wait(lock, idle);
        return true;
    }
    return s.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), idle);
}

SweepProgress CSearchTargetSweep::Progress() {
    State& s = S();
    SweepProgress p;
    std::lock_guard<std::mutex> lock(s.mutex);
    p.done = s.done.load();
    p.total = s.total;
    p.sent = s.sent.load();
    p.failed = s.failed.load();
    p.rate = s.sweepRate;
    p.state = s.state;
    p.number = s.number;
    p.error = s.error;
    if (s.number == 0) return p;
    const Clock::time_point end = s.state == SweepState::Running ? Clock::now() : s.ended;
    p.elapsed = std::chrono::duration<double>(end - s.started).count();
    if (p.elapsed > 0) p.achieved = static_cast<double>(p.sent + p.failed) / p.elapsed;
    if (s.state == SweepState::Running && s.sweepRate > 0)
        p.remaining = static_cast<double>(2 * (p.total - p.done)) / s.sweepRate;
    return p;
}

void CSearchTargetSweep::Stop() {
    Cancel();
    State& s = S();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.stopped = true;
    }
    // Outside the state lock: a stop takes the worker's socket lock.
    CSearchDeviceClient::StopSweepWorkers();
}
