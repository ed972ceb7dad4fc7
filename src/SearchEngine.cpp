#include "SearchEngine.h"

#include "DeviceSearchInterface.h"

void SearchEngine::init() { CDeviceSearchInterface::GetInstance()->DeviceSearchDllInit(nullptr, false, nullptr, true); }

void SearchEngine::search() { CDeviceSearchInterface::GetInstance()->SendSearchDeviceCommand(nullptr); }

void SearchEngine::deviceList(std::vector<deviceinfo>& out) { CDeviceSearchInterface::GetInstance()->GetDeviceList(out); }

void SearchEngine::clearDeviceList() { CDeviceSearchInterface::GetInstance()->ClearDeviceList(); }

std::vector<SearchWorkerStatus> SearchEngine::workerStatus() {
    return CDeviceSearchInterface::GetInstance()->GetWorkerStatus();
}
