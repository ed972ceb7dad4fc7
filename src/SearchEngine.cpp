#include "SearchEngine.h"

#include <cstring>

#include "AnswerLog.h"
#include "DeviceSearchInterface.h"
#include "StoreBoxes.h"

// The listener tells the known boxes which identities and protocols answered.
void SearchEngine::init() {
    CDeviceSearchInterface::GetInstance()->DeviceSearchDllInit(&store::AnswerLog::Listener, false, nullptr, true);
}

void SearchEngine::search() {
    store::AnswerLog::Instance().Reset();
    CDeviceSearchInterface::GetInstance()->SendSearchDeviceCommand(nullptr);
}

void SearchEngine::deviceList(std::vector<deviceinfo>& out) { CDeviceSearchInterface::GetInstance()->GetDeviceList(out); }

void SearchEngine::clearDeviceList() { CDeviceSearchInterface::GetInstance()->ClearDeviceList(); }

std::vector<SearchWorkerStatus> SearchEngine::workerStatus() {
    return CDeviceSearchInterface::GetInstance()->GetWorkerStatus();
}

std::vector<SearchBroadcastSend> SearchEngine::broadcastSends() {
    return CDeviceSearchInterface::GetInstance()->GetBroadcastSends();
}

void SearchEngine::setSearchTargets(const CSearchTargetList& targets) {
    CDeviceSearchInterface::GetInstance()->SetSearchTargets(targets);
}

bool SearchEngine::sweepSearchTargets() {
    return CDeviceSearchInterface::GetInstance()->SweepSearchTargets() == 0;
}

SweepStatus SearchEngine::sweepStatus() {
    const SweepProgress p = CDeviceSearchInterface::GetInstance()->GetSweepProgress();
    return {p.state == SweepProgress::State::Running,
            p.remaining,
            p.sent + p.failed,
            p.failed,
            p.error,
            p.done,
            p.total};
}

KnownBoxes* SearchEngine::knownBoxes() {
    if (!boxes_) boxes_ = std::make_unique<StoreBoxes>();
    return boxes_.get();
}
