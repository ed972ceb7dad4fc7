// The search client: worker registry, local addresses, fan-out and stop.
// clang-format off
#include <utility>  // before Asio: 1.74 uses std::exchange without it in C++20
// clang-format on

#include "SearchDeviceHandle/SearchDeviceClient.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <atomic>
#include <boost/asio.hpp>
#include <cerrno>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>

#include "Common/SearchPorts.h"
#include "Net/Ipv4.h"
#include "Protocol/BroadcastCodec.h"
#include "SearchDeviceHandle/HostNameLookup.h"
#include "SearchDeviceThread/SearchDeviceBroadcastThread.h"
#include "SearchDeviceThread/SearchDeviceMultiCommandThead.h"
#include "SearchDeviceThread/SearchDeviceMulticastThread.h"
#include "ShowLog/ShowLog.h"

using SearchDeviceShowLog::io_printf;
using Kind = SearchWorkerStatus::Kind;

// Touched only by the thread that starts, searches and stops; workers never
// reach them, so their destruction at exit cannot race a receive thread.
bool CSearchDeviceClient::m_bMulitIP = false;
std::vector<IPANDSEARCHTHREAD> CSearchDeviceClient::m_vSearchDeviceThread;
int CSearchDeviceClient::m_nPort = SearchPorts::kFirstCommand;

namespace {

constexpr int kBroadcastPort = SearchPorts::kBroadcast;
constexpr int kMulticastPort = SearchPorts::kMulticast;
constexpr int kFirstCommandPort = SearchPorts::kFirstCommand;
constexpr int kCommandPortStep = SearchPorts::kCommandStep;
// A name lookup answered from a hosts file is used by the search that started
// it; a slower one must not hold up the caller (the window's main thread).
constexpr auto kLookupGrace = std::chrono::milliseconds(50);
constexpr auto kLookupBudget = std::chrono::seconds(1);

// The machine's own host name, resolved as a TCP query with an empty service
// and the default flags (only families the machine has configured).
std::vector<std::string> ResolveHostName() {
    boost::asio::io_service io;
    boost::asio::ip::tcp::resolver resolver(io);
    boost::asio::ip::tcp::resolver::query query(boost::asio::ip::host_name(), "");
    std::vector<std::string> texts;
    boost::asio::ip::tcp::resolver::iterator it = resolver.resolve(query), end;
    for (; it != end; ++it) texts.push_back(it->endpoint().address().to_string());
    return texts;
}

// IPv4 addresses of interfaces that are up, loopback interfaces left out: on
// many systems the host name resolves to 127.0.1.1 only, which covers no LAN.
std::vector<std::string> UpInterfaceAddresses() {
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0) throw std::system_error(errno, std::generic_category(), "getifaddrs");
    std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> list(raw, freeifaddrs);
    std::vector<std::string> texts;
    for (const ifaddrs* a = raw; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
        if (!(a->ifa_flags & IFF_UP) || (a->ifa_flags & IFF_LOOPBACK)) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr) texts.emplace_back(text);
    }
    return texts;
}

CSearchDeviceClient::AddressSource& Resolver() {
    static CSearchDeviceClient::AddressSource source;
    return source;
}

CSearchDeviceClient::AddressSource& Interfaces() {
    static CSearchDeviceClient::AddressSource source;
    return source;
}

CSearchDeviceClient::WorkerFactory& Factory() {
    static CSearchDeviceClient::WorkerFactory factory;
    return factory;
}

HostNameLookup& Lookup() {
    static HostNameLookup lookup(kLookupGrace, kLookupBudget);
    return lookup;
}

// Any-address workers whose object could not be made; retried at every search.
bool g_broadcastMissing = false;
bool g_multicastMissing = false;

struct BroadcastSendRecord {
    std::mutex mutex;
    std::vector<SearchBroadcastSend> sends;
};
BroadcastSendRecord& BroadcastSends() {
    static NoDestructor<BroadcastSendRecord> record;  // a late send at exit still finds it
    return *record;
}

// Workers made for sweeps. The sweep thread may make one while the thread that
// starts, searches and stops reads the status: the mutex also covers the start.
struct SweepWorkerList {
    std::mutex mutex;
    std::vector<IPANDSEARCHTHREAD> workers;
};
SweepWorkerList& SweepWorkers() {
    static NoDestructor<SweepWorkerList> list;  // a late status read at exit still finds it
    return *list;
}
std::atomic<unsigned> g_made{0};

CSearchDeviceThread* MakeWorker(Kind kind) {
    if (Factory()) return Factory()(kind);
    switch (kind) {
        case Kind::Broadcast:
            return new CSearchDeviceBroadcastThread;
        case Kind::Multicast:
            return new CSearchDeviceMulticastThread;
        case Kind::Command:
            return new CSearchDeviceMultiCommandThead;
    }
    return nullptr;
}

}  // namespace

// Creates, starts and registers one worker; false when it could not even be
// made (its socket's I/O service can fail, e.g. with no descriptors left).
bool CSearchDeviceClient::StartWorker(Kind kind, const std::string& localIP, int port, bool retry) {
    CSearchDeviceThread* worker = nullptr;
    try {
        worker = MakeWorker(kind);
    } catch (const std::exception& e) {
        io_printf("Create Search Device Worker Error : port %d : %s   ", port, e.what());
        return false;
    }
    if (worker == nullptr) return false;
    worker->SetHandOver(HandOver());
    worker->InitSearchThread(localIP.empty() ? nullptr : localIP.c_str(), port, retry);
    IPANDSEARCHTHREAD pair;
    pair.setvalue(localIP, worker);
    pair.kind = kind;
    pair.made = ++g_made;
    m_vSearchDeviceThread.push_back(pair);
    return true;
}

CSearchDeviceThread* CSearchDeviceClient::SweepWorker(Kind kind) {
    SweepWorkerList& list = SweepWorkers();
    std::lock_guard<std::mutex> lock(list.mutex);
    CSearchDeviceThread* worker = nullptr;
    for (const IPANDSEARCHTHREAD& pair : list.workers)
        if (pair.kind == kind) worker = pair.pSearchThread;
    if (worker != nullptr && worker->StartSucceeded()) return worker;
    if (worker == nullptr) {
        worker = MakeWorker(kind);
        if (worker == nullptr) return nullptr;
        worker->SetHandOver(HandOver());
        IPANDSEARCHTHREAD pair;
        pair.setvalue("", worker);
        pair.kind = kind;
        pair.made = ++g_made;
        list.workers.push_back(pair);
    }
    worker->InitSearchThread(nullptr, 0, false);
    return worker->StartSucceeded() ? worker : nullptr;
}

void CSearchDeviceClient::StopSweepWorkers() {
    SweepWorkerList& list = SweepWorkers();
    std::lock_guard<std::mutex> lock(list.mutex);
    for (const IPANDSEARCHTHREAD& pair : list.workers)
        if (pair.pSearchThread->StartSucceeded()) pair.pSearchThread->ExitSearchThread();
}

CSearchDeviceClient::Senders CSearchDeviceClient::StartedSenders() {
    Senders senders;
    senders.anyWorker = !m_vSearchDeviceThread.empty();
    for (const IPANDSEARCHTHREAD& pair : m_vSearchDeviceThread) {
        CSearchDeviceThread* worker = pair.pSearchThread;
        if (worker == nullptr || !worker->StartSucceeded()) continue;
        if (pair.kind == Kind::Broadcast && senders.broadcast == nullptr) senders.broadcast = worker;
        if (pair.kind == Kind::Multicast && senders.multicast == nullptr) senders.multicast = worker;
        if (pair.kind == Kind::Command) senders.byAddress.emplace_back(worker->BoundAddress(), worker);
    }
    return senders;
}

void IPANDSEARCHTHREAD::setvalue(std::string ip, CSearchDeviceThread* thread) {
    localIP = std::move(ip);
    pSearchThread = thread;
}

int CSearchDeviceClient::InitSocketThread(int (*callback)(void*, int), bool multiIP) {
    SetDeviceCallback(callback);
    m_bMulitIP = multiIP;
    InitSearchDeviceThread(multiIP);
    return 0;
}

void CSearchDeviceClient::InitSearchDeviceThread(bool multiIP) {
    g_broadcastMissing = !StartWorker(Kind::Broadcast, "", kBroadcastPort, false);
    g_multicastMissing = !StartWorker(Kind::Multicast, "", kMulticastPort, !multiIP);
    if (multiIP) {
        InitSearchDeviceCommandThread();
        JoinGroupOnLocalAddresses();
    }
}

void CSearchDeviceClient::InitSearchDeviceCommandThread() {
    std::vector<std::string> addresses;
    GetCurrentDeviceLocalIP(addresses);
    for (const std::string& address : addresses) {
        bool known = std::any_of(m_vSearchDeviceThread.begin(), m_vSearchDeviceThread.end(),
                                 [&](const IPANDSEARCHTHREAD& p) { return p.localIP == address; });
        if (known) continue;
        if (StartWorker(Kind::Command, address, m_nPort, true)) m_nPort += kCommandPortStep;
    }
}

void CSearchDeviceClient::GetCurrentDeviceLocalIP(std::vector<std::string>& ips) {
    ips.clear();
    io_printf("Get Current Local IP Info ");
    // The resolver's addresses, when it has answered by now; the interfaces
    // below need no name service, so the search never waits on one.
    HostNameLookup::Outcome resolved = Lookup().Take(Resolver() ? Resolver() : ResolveHostName);
    for (const std::string& text : resolved.addresses) {
        std::string dotted;
        if (!net::CanonicalIpv4(text, dotted)) continue;
        ips.push_back(dotted);
        io_printf("Get Current Local IP, IP = %s  ", dotted.c_str());
    }
    if (!resolved.error.empty()) io_printf("Add To Mulitcast Group Error : %s   ", resolved.error.c_str());
    try {
        std::vector<std::string> found = Interfaces() ? Interfaces()() : UpInterfaceAddresses();
        for (const std::string& text : found) {
            std::string dotted;
            if (!net::CanonicalIpv4(text, dotted)) continue;
            // Loopback covers no LAN; an injected source may still list it.
            if (dotted.rfind("127.", 0) == 0) continue;
            if (std::find(ips.begin(), ips.end(), dotted) != ips.end()) continue;
            ips.push_back(dotted);
            io_printf("Get Current Local IP, IP = %s  ", dotted.c_str());
        }
    } catch (const std::exception& e) {
        io_printf("Add To Mulitcast Group Error : %s   ", e.what());
    }
}

int CSearchDeviceClient::SendMessageToDevice(dhcppacket& packet) {
    if (g_broadcastMissing) g_broadcastMissing = !StartWorker(Kind::Broadcast, "", kBroadcastPort, false);
    if (g_multicastMissing) g_multicastMissing = !StartWorker(Kind::Multicast, "", kMulticastPort, !m_bMulitIP);
    if (m_bMulitIP) {
        InitSearchDeviceCommandThread();
        JoinGroupOnLocalAddresses();
    }
    for (IPANDSEARCHTHREAD& pair : m_vSearchDeviceThread) {
        pair.pSearchThread->ClearOldDeviceInfo();
        pair.pSearchThread->SendSearchCommandToDevice(packet);
    }
    return 0;
}

int CSearchDeviceClient::SendSearch(dhcppacket* packet) {
    if (packet == nullptr) {
        io_printf("SendMessage : pdhcp is NULL ");
        dhcppacket request = DefaultSearchPacket();
        SendMessageToDevice(request);
    } else {
        io_printf("SendMessage : pdhcp is not NULL ");
        SendMessageToDevice(*packet);
    }
    return 0;
}

void CSearchDeviceClient::JoinGroupOnLocalAddresses() {
    for (const IPANDSEARCHTHREAD& group : m_vSearchDeviceThread) {
        if (group.kind != Kind::Multicast) continue;
        auto* worker = dynamic_cast<CSearchDeviceMulticastThread*>(group.pSearchThread);
        if (worker == nullptr) continue;
        for (const IPANDSEARCHTHREAD& local : m_vSearchDeviceThread)
            if (local.kind == Kind::Command) worker->JoinGroupOn(local.localIP);
    }
}

void CSearchDeviceClient::ExitSocketThread() {
    for (IPANDSEARCHTHREAD& pair : m_vSearchDeviceThread) pair.pSearchThread->ExitSearchThread();
}

std::vector<SearchWorkerStatus> CSearchDeviceClient::GetWorkerStatus() {
    std::vector<std::pair<unsigned, SearchWorkerStatus>> made;
    const auto add = [&made](const IPANDSEARCHTHREAD& pair, bool forSweeps) {
        SearchWorkerStatus status;
        status.kind = pair.kind;
        status.localIP = pair.localIP;
        status.port = pair.pSearchThread->Port();
        status.started = pair.pSearchThread->StartSucceeded();
        status.shared = status.started && pair.pSearchThread->PortShared();
        if (!status.started) status.error = pair.pSearchThread->LastStartError();
        status.forSweeps = forSweeps;
        made.emplace_back(pair.made, std::move(status));
    };
    for (const IPANDSEARCHTHREAD& pair : m_vSearchDeviceThread) add(pair, false);
    {
        SweepWorkerList& list = SweepWorkers();
        std::lock_guard<std::mutex> lock(list.mutex);
        for (const IPANDSEARCHTHREAD& pair : list.workers) add(pair, true);
    }
    // Creation order, so that a reader that remembers how many it has seen
    // meets every new worker after those.
    std::stable_sort(made.begin(), made.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<SearchWorkerStatus> snapshot;
    snapshot.reserve(made.size());
    for (auto& entry : made) snapshot.push_back(std::move(entry.second));
    return snapshot;
}

void CSearchDeviceClient::NoteBroadcastSends(std::vector<SearchBroadcastSend> sends) {
    BroadcastSendRecord& record = BroadcastSends();
    std::lock_guard<std::mutex> lock(record.mutex);
    record.sends = std::move(sends);
}

std::vector<SearchBroadcastSend> CSearchDeviceClient::GetBroadcastSends() {
    BroadcastSendRecord& record = BroadcastSends();
    std::lock_guard<std::mutex> lock(record.mutex);
    return record.sends;
}

WorkerHandOver CSearchDeviceClient::HandOver() { return {&HandleDeviceMessage, &NoteBroadcastSends}; }

void CSearchDeviceClient::SetAddressSources(AddressSource resolver, AddressSource interfaces) {
    Resolver() = std::move(resolver);
    Interfaces() = std::move(interfaces);
}

void CSearchDeviceClient::SetWorkerFactory(WorkerFactory factory) { Factory() = std::move(factory); }

void CSearchDeviceClient::ResetForTesting() {
    m_vSearchDeviceThread.clear();
    {
        std::lock_guard<std::mutex> lock(SweepWorkers().mutex);
        SweepWorkers().workers.clear();
    }
    m_nPort = kFirstCommandPort;
    m_bMulitIP = false;
    g_broadcastMissing = g_multicastMissing = false;
    NoteBroadcastSends({});
    Lookup().Reset();
    SetDeviceCallback(nullptr);
}
