#pragma once

#include <string>
#include <vector>

#include "Common/CommonStruct.h"
#include "Common/SearchTargets.h"
#include "Common/SearchWorkerStatus.h"
#include "KnownBoxes.h"

// Where the asking of search targets stands, as the window polls it.
struct SweepStatus {
    bool running = false;
    double remaining = 0;             // seconds left at the set rate
    unsigned long long attempts = 0;  // datagrams sent or refused so far
    unsigned long long failed = 0;    // datagrams the system refused
    std::string error;                // the first refusal's text
    unsigned long long done = 0;      // addresses asked so far
    unsigned long long total = 0;     // addresses in the sweep
};

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
    // How the last search's broadcast request left through each interface
    // tried; empty when no interface could carry it.
    virtual std::vector<SearchBroadcastSend> broadcastSends() = 0;
    // Addresses beyond a router, asked directly by every later sweep at the
    // default rate; an empty list means none.
    virtual void setSearchTargets(const CSearchTargetList& targets) = 0;
    // Starts asking the targets on the engine's own thread, right after a
    // search, and returns at once; a running sweep is cancelled first. False
    // when nothing started (no targets, or the engine is not running).
    virtual bool sweepSearchTargets() = 0;
    virtual SweepStatus sweepStatus() = 0;
    // The boxes seen before; null when there is no such store. Its file is
    // opened at the first call.
    virtual KnownBoxes* knownBoxes() { return nullptr; }
};
