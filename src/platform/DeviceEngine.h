#pragma once

#include <vector>

#include "CommonStruct.h"
#include "SearchWorkerStatus.h"

// The search engine as the window sees it.
class DeviceEngine {
public:
    virtual ~DeviceEngine() = default;
    // Starts the engine: no listener, log off, every local address.
    virtual void init() = 0;
    // One search with the default packet.
    virtual void search() = 0;
    // Replaces `out` with a copy of the current device list.
    virtual void deviceList(std::vector<deviceinfo>& out) = 0;
    virtual void clearDeviceList() = 0;
    virtual std::vector<SearchWorkerStatus> workerStatus() = 0;
};
