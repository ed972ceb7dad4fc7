#pragma once

#include <memory>

#include "platform/DeviceEngine.h"

// The real engine: the process-wide CDeviceSearchInterface.
class SearchEngine : public DeviceEngine {
public:
    void init() override;
    void search() override;
    void deviceList(std::vector<deviceinfo>& out) override;
    void clearDeviceList() override;
    std::vector<SearchWorkerStatus> workerStatus() override;
    std::vector<SearchBroadcastSend> broadcastSends() override;
    void setSearchTargets(const CSearchTargetList& targets) override;
    bool sweepSearchTargets() override;
    SweepStatus sweepStatus() override;
    KnownBoxes* knownBoxes() override;

private:
    std::unique_ptr<KnownBoxes> boxes_;
};
