#include "DeviceSearchInterface.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "Common/NoDestructor.h"
#include "SearchDeviceHandle/SearchDeviceClient.h"
#include "SearchDeviceHandle/SearchTargetSweep.h"
#include "ShowLog/ShowLog.h"

namespace {

const char* const kAcceptedMakers[] = {"ORVALE", "KESTIL", "TAMBU", "VIRNO", "SOLBRIX"};

bool isAcceptedMaker(const char* factory) {
    for (const char* name : kAcceptedMakers)
        if (std::strcmp(factory, name) == 0) return true;
    return false;
}

// Set when a record was refused because the list is full; cleared by every
// search so that a flood costs one log line per search, not one per datagram.
bool g_capReported = false;

// Holds listMutex through the described Enter/Leave operations until the end
// of the scope, also when an allocation fails on the way: a lock left taken
// would freeze every hand-over and the window for good.
class ListLock {
public:
    explicit ListLock(CDeviceSearchInterface& list) : list(list) { list.EnterThreadMutex(); }
    ~ListLock() { list.LeaveThreadMutex(); }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

private:
    CDeviceSearchInterface& list;
};

}  // namespace

void ToUpper(char* text) {
    // Upper-casing never writes a zero byte, so the length stays the same.
    for (; *text != '\0'; ++text)
        if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 32);
}

CDeviceSearchInterface* CDeviceSearchInterface::GetInstance() {
    // Never destroyed: detached workers may hand over records while exit()
    // runs static destructors.
    static NoDestructor<CDeviceSearchInterface> g_DeviceSearchInterface;
    return &g_DeviceSearchInterface.get();
}

CDeviceSearchInterface::CDeviceSearchInterface() { pthread_mutex_init(&listMutex, nullptr); }

CDeviceSearchInterface::~CDeviceSearchInterface() { pthread_mutex_destroy(&listMutex); }

int CDeviceSearchInterface::DeviceSearchDllInit(int (*listener)(void*, int), bool logOn, const char* logDir,
                                                bool multiIP) {
    // A second start would create a further set of workers on ports the first
    // set already holds; refuse it instead.
    if (started) return 0;
    started = true;
    userCallback = listener;
    SearchDeviceShowLog::io_log_init(logOn, logDir);
    return CSearchDeviceClient::InitSocketThread(&CDeviceSearchInterface::SearchDeviceRecallHandle, multiIP);
}

int CDeviceSearchInterface::SendSearchDeviceCommand(dhcppacket* packet) {
    {
        ListLock lock(*this);
        g_capReported = false;
    }
    return CSearchDeviceClient::SendSearch(packet);
}

void CDeviceSearchInterface::DeviceSearchDllExit() {
    // No probe may leave once the workers are stopped.
    CSearchTargetSweep::Stop();
    CSearchDeviceClient::ExitSocketThread();
    SearchDeviceShowLog::io_log_exit();
}

void* CDeviceSearchInterface::RefreshDeviceList(void*) {
    CDeviceSearchInterface* self = GetInstance();
    for (;;) {
        self->SendSearchDeviceCommand(nullptr);
        sleep(10);
        self->RefreshDeviceList();
    }
    return nullptr;
}

int CDeviceSearchInterface::EnterThreadMutex() { return pthread_mutex_lock(&listMutex); }

int CDeviceSearchInterface::LeaveThreadMutex() { return pthread_mutex_unlock(&listMutex); }

int CDeviceSearchInterface::SearchDeviceRecallHandle(void* record, int port) {
    CDeviceSearchInterface* self = GetInstance();
    deviceinfo copy;
    std::memcpy(&copy, record, sizeof copy);
    TerminateDeviceTexts(copy);
    if (copy.type == kDeviceByebye)
        self->DelDeviceInfo(copy.id);
    else if (copy.type == kDeviceAnswer || copy.type == kDeviceAlive)
        self->AddDeviceInfo(copy);
    // The listener sees the record as the worker wrote it, not upper-cased.
    if (self->userCallback != nullptr) return self->userCallback(record, port);
    return 0;
}

void CDeviceSearchInterface::AddDeviceInfo(deviceinfo& info) {
    ToUpper(info.factory);
    // The line "\nNewDeviceInfo.factory = %s\n", without printf's format
    // parsing for every answer; the stream lock keeps it whole.
    flockfile(stdout);
    fputs_unlocked("\nNewDeviceInfo.factory = ", stdout);
    fputs_unlocked(info.factory, stdout);
    fputc_unlocked('\n', stdout);
    funlockfile(stdout);
    if (!isAcceptedMaker(info.factory)) return;

    bool dropped = false;
    {
        ListLock lock(*this);
        bool merged = false;
        // An identical record always has the same address, so the first stored
        // record with that address is where the walk stops either way: refreshed
        // when identical, replaced otherwise.
        for (deviceinfo& stored : deviceList) {
            if (std::strncmp(stored.ip, info.ip, sizeof stored.ip) != 0) continue;
            if (stored.compare(info))
                stored.lifetime = info.lifetime;
            else
                stored.alterValue(info);
            merged = true;
            break;
        }
        if (!merged) {
            if (deviceList.size() < kMaxDevices)
                deviceList.push_back(info);
            else if (!g_capReported)
                dropped = g_capReported = true;
        }
    }
    if (dropped)
        SearchDeviceShowLog::io_printf("Device list full (%zu devices) : new device IP : %s dropped  ",
                                       kMaxDevices, info.ip);
}

void CDeviceSearchInterface::DelDeviceInfo(char* id) {
    ListLock lock(*this);
    for (auto it = deviceList.begin(); it != deviceList.end(); ++it) {
        if (std::strncmp(it->id, id, sizeof it->id) == 0) {
            deviceList.erase(it);
            break;
        }
    }
}

int CDeviceSearchInterface::GetDeviceList(std::vector<deviceinfo>& out) {
    ListLock lock(*this);
    out = deviceList;
    return 0;
}

int CDeviceSearchInterface::ClearDeviceList() {
    ListLock lock(*this);
    deviceList.clear();
    return 0;
}

void CDeviceSearchInterface::RefreshDeviceList() {
    ListLock lock(*this);
    for (std::size_t i = 0; i < deviceList.size();) {
        std::int64_t lifetime = deviceList[i].lifetime;
        // Compared before subtracting: at the bottom of the range the
        // subtraction itself would overflow.
        if (lifetime >= 46 + 10) {
            deviceList[i].lifetime = lifetime - 10;
            ++i;
        } else {
            deviceList.erase(deviceList.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

int CDeviceSearchInterface::SetSearchTargets(const CSearchTargetList& targets, int rate) {
    return CSearchTargetSweep::SetTargets(targets, rate);
}

int CDeviceSearchInterface::SweepSearchTargets() { return CSearchTargetSweep::Start(); }

SweepProgress CDeviceSearchInterface::GetSweepProgress() { return CSearchTargetSweep::Progress(); }

bool CDeviceSearchInterface::WaitSweep(int timeoutMs) { return CSearchTargetSweep::Wait(timeoutMs); }

void CDeviceSearchInterface::CancelSweep() { CSearchTargetSweep::Cancel(); }

std::vector<SearchWorkerStatus> CDeviceSearchInterface::GetWorkerStatus() {
    return CSearchDeviceClient::GetWorkerStatus();
}

std::vector<SearchBroadcastSend> CDeviceSearchInterface::GetBroadcastSends() {
    return CSearchDeviceClient::GetBroadcastSends();
}
