// Decides which search workers exist, fans every search out to them, stops
// them, and funnels their decoded records one at a time into the device
// callback given at start. Static members only; no object is ever made.
// Owns the worker registry and the local addresses; reaches sockets only
// through the workers' operations and never the front end's device list.
#pragma once

#include <boost/thread/mutex.hpp>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Common/CommonStruct.h"
#include "Common/NoDestructor.h"
#include "Common/SearchWorkerStatus.h"

class CSearchDeviceThread;
struct WorkerHandOver;

// One registry entry: a worker and the local address it is bound to (empty
// for the two any-address workers). The pair does not own the worker.
class IPANDSEARCHTHREAD {
public:
    IPANDSEARCHTHREAD() = default;
    IPANDSEARCHTHREAD(const IPANDSEARCHTHREAD&) = default;
    IPANDSEARCHTHREAD& operator=(const IPANDSEARCHTHREAD&) = default;
    ~IPANDSEARCHTHREAD() = default;
    void setvalue(std::string ip, CSearchDeviceThread* thread);

    std::string localIP;
    CSearchDeviceThread* pSearchThread = nullptr;
    // Which protocol the worker speaks, for the status snapshot.
    SearchWorkerStatus::Kind kind = SearchWorkerStatus::Kind::Broadcast;
    // Creation order across the search and the sweep workers.
    unsigned made = 0;
};

class CSearchDeviceClient {
public:
    CSearchDeviceClient() {}
    ~CSearchDeviceClient() {}

    static int InitSocketThread(int (*callback)(void*, int), bool multiIP);
    static void InitSearchDeviceThread(bool multiIP);
    static void InitSearchDeviceCommandThread();
    static void GetCurrentDeviceLocalIP(std::vector<std::string>& ips);
    // Lets every any-address multicast worker join the group also on each
    // command worker's address.
    static void JoinGroupOnLocalAddresses();
    static int SendMessageToDevice(dhcppacket& packet);
    // The same, with null standing for the default broadcast request.
    static int SendSearch(dhcppacket* packet);
    static void ExitSocketThread();

    // Serialises records of all workers into the callback.
    static void HandleDeviceMessage(void* record, int length, int port);

    // Snapshot of every registered worker and sweep worker, in creation order.
    static std::vector<SearchWorkerStatus> GetWorkerStatus();
    // How the last broadcast request left, one entry per interface tried;
    // empty when none could broadcast or the worker has no socket. Written
    // by the searching thread, readable from any.
    static void NoteBroadcastSends(std::vector<SearchBroadcastSend> sends);
    static std::vector<SearchBroadcastSend> GetBroadcastSends();
    // The two above, as every worker the client makes is given them.
    static WorkerHandOver HandOver();

    // --- Seams for tests and embedding hosts -------------------------------
    // Installs the hand-over callback without starting any worker.
    static void SetDeviceCallback(int (*callback)(void*, int));
    // Host-name resolution and interface enumeration, both returning dotted
    // IPv4 texts (and possibly other families, which are skipped). A source
    // reports failure by throwing std::exception. Null restores the default.
    using AddressSource = std::function<std::vector<std::string>()>;
    static void SetAddressSources(AddressSource resolver, AddressSource interfaces);
    // Makes the worker objects; null restores the real classes.
    using WorkerFactory = std::function<CSearchDeviceThread*(SearchWorkerStatus::Kind)>;
    static void SetWorkerFactory(WorkerFactory factory);
    // Forgets every registered worker (without deleting or stopping them) and
    // resets the port sequence; for tests only.
    static void ResetForTesting();

    // The started workers a sweep may send from: the first broadcast and
    // any-address SSDP worker (null when none started) and every per-address
    // worker with its bound address (host byte order). The thread that
    // starts, searches and stops asks.
    struct Senders {
        bool anyWorker = false;  // false before the start and after a failed one
        CSearchDeviceThread* broadcast = nullptr;
        CSearchDeviceThread* multicast = nullptr;
        std::vector<std::pair<std::uint32_t, CSearchDeviceThread*>> byAddress;
    };
    static Senders StartedSenders();

    // A worker for target sweeps when a search worker of that kind
    // (Broadcast or Command) could not start: made by the worker factory,
    // started on a port the system chooses, listed by GetWorkerStatus. One of
    // each kind is kept for good (never deleted: a detached receive thread
    // may hold it); a failed one is started again at the next call. Null when
    // it does not run; throws what the factory threw. Called by one thread at
    // a time, any thread.
    static CSearchDeviceThread* SweepWorker(SearchWorkerStatus::Kind kind);
    // Stops the running sweep workers.
    static void StopSweepWorkers();

    static bool m_bMulitIP;
    static int m_nPort;
    // Never destroyed: a late hand-over during exit() must find it intact.
    static NoDestructor<boost::mutex> m_SearchMutex;

private:
    static bool StartWorker(SearchWorkerStatus::Kind kind, const std::string& localIP, int port, bool retry);
    static std::vector<IPANDSEARCHTHREAD> m_vSearchDeviceThread;
};
