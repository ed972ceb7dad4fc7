#include "SearchEngine.h"

#include <cstring>

#include "DeviceSearchInterface.h"

void SearchEngine::init() { CDeviceSearchInterface::GetInstance()->DeviceSearchDllInit(nullptr, false, nullptr, true); }

void SearchEngine::search() { CDeviceSearchInterface::GetInstance()->SendSearchDeviceCommand(nullptr); }

void SearchEngine::deviceList(std::vector<deviceinfo>& out) { CDeviceSearchInterface::GetInstance()->GetDeviceList(out); }

void SearchEngine::clearDeviceList() { CDeviceSearchInterface::GetInstance()->ClearDeviceList(); }

std::vector<SearchWorkerStatus> SearchEngine::workerStatus() {
    return CDeviceSearchInterface::GetInstance()->GetWorkerStatus();
}

void SearchEngine::setSearchTargets(const CSearchTargetList& targets) {
    CDeviceSearchInterface::GetInstance()->SetSearchTargets(targets);
}

bool SearchEngine::sweepSearchTargets() {
    return CDeviceSearchInterface::GetInstance()->SweepSearchTargets() == 0;
}

SweepStatus SearchEngine::sweepStatus() {
    const sweepprogress p = CDeviceSearchInterface::GetInstance()->GetSweepProgress();
    return {p.state == SEARCH_SWEEP_RUNNING, p.remaining, p.sent + p.failed, p.failed,
            std::string(p.error, strnlen(p.error, sizeof p.error))};
}
