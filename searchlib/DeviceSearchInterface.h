// The front end of the search engine: owns the one merged device list.
#pragma once

#include <pthread.h>

#include <vector>

#include "CommonStruct.h"
#include "SearchWorkerStatus.h"

void ToUpper(char* text);

class CDeviceSearchInterface {
public:
    static CDeviceSearchInterface* GetInstance();

    // Engine control; see SearchDeviceOpt.h. A second init is refused.
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

    // What each search worker is and whether it could start.
    std::vector<SearchWorkerStatus> GetWorkerStatus();

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
