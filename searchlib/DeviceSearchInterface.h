// The front end of the search engine: owns the one merged device list. Its
// one door into the engine is CSearchDeviceClient and CSearchTargetSweep; it
// never reaches a worker, and the C entry points are left to other hosts.
#pragma once

#include <pthread.h>

#include <vector>

#include "Common/CommonStruct.h"
#include "Common/SearchTargets.h"
#include "Common/SearchWorkerStatus.h"
#include "SearchDeviceHandle/SearchTargetSweep.h"

void ToUpper(char* text);

class CDeviceSearchInterface {
public:
    static CDeviceSearchInterface* GetInstance();

    // Engine control, as the C entry points of nasscout/SearchDeviceOpt.h
    // describe it. A second init is refused.
    int DeviceSearchDllInit(int (*listener)(void*, int), bool logOn, const char* logDir, bool multiIP);
    int SendSearchDeviceCommand(dhcppacket* packet);
    void DeviceSearchDllExit();
    // Refresher thread body: search, wait 10 s, age the list; never returns.
    static void* RefreshDeviceList(void* unused);

    int EnterThreadMutex();
    int LeaveThreadMutex();

    // The engine's device callback: record pointer and reporting worker port.
    static int SearchDeviceRecallHandle(void* record, int port);

    void AddDeviceInfo(deviceinfo& info);
    void DelDeviceInfo(char* id);
    int GetDeviceList(std::vector<deviceinfo>& out);
    int ClearDeviceList();
    // One ageing pass: lifetime -= 10, records below 46 are removed.
    void RefreshDeviceList();

    // Targets beyond the broadcast domain (see nasscout/SearchDeviceOpt.h for what a
    // sweep sends and from which socket). SetSearchTargets replaces the list
    // and the rate (kSearchRateMin..kSearchRateMax) used by every later
    // sweep; -1 and nothing changed when the rate is out of range. An empty
    // list means no targets. Parse what the user typed with
    // ParseSearchTargets / ParseSearchTargetLines (SearchTargets.h).
    int SetSearchTargets(const CSearchTargetList& targets, int rate = kSearchRateDefault);
    // Starts a sweep of the targets on its own thread and returns at once:
    // 0 started (a running sweep is cancelled first), 1 no targets (nothing
    // sent), -1 engine not running. Call it from the thread that searches,
    // after SendSearchDeviceCommand.
    int SweepSearchTargets();
    // The latest sweep's progress; any thread.
    SweepProgress GetSweepProgress();
    // Blocks until no sweep runs or timeoutMs passed (< 0: no limit); true
    // when none runs. Any thread.
    bool WaitSweep(int timeoutMs);
    // Stops a running sweep; returns once it sends no more.
    void CancelSweep();

    // What each search worker is and whether it could start.
    std::vector<SearchWorkerStatus> GetWorkerStatus();
    // One entry per interface the last search tried to broadcast through;
    // empty when the broadcast worker sent nothing.
    std::vector<SearchBroadcastSend> GetBroadcastSends();

    // Most records the list keeps; more would let any LAN peer grow memory
    // without bound by forging addresses.
    static constexpr std::size_t kMaxDevices = 4096;

    CDeviceSearchInterface();
    ~CDeviceSearchInterface();
    CDeviceSearchInterface(const CDeviceSearchInterface&) = delete;
    CDeviceSearchInterface& operator=(const CDeviceSearchInterface&) = delete;

private:
    std::vector<deviceinfo> deviceList;
    pthread_mutex_t listMutex;
    int (*userCallback)(void*, int) = nullptr;
    bool started = false;
};
