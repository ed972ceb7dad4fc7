#include "WorkerStatusText.h"

namespace {

bool needsPrivilege(const SearchWorkerStatus& w) {
    return w.port > 0 && w.port < 1024 &&
           (w.error.find("ermission") != std::string::npos || w.error.find("not permitted") != std::string::npos);
}

std::string describe(const SearchWorkerStatus& w) {
    std::string what;
    switch (w.kind) {
        case SearchWorkerStatus::Kind::Broadcast: what = "Broadcast search"; break;
        case SearchWorkerStatus::Kind::Multicast: what = "SSDP search"; break;
        case SearchWorkerStatus::Kind::Command: what = "Search on " + w.localIP; break;
    }
    what += " unavailable: ";
    if (needsPrivilege(w))
        return what + "port " + std::to_string(w.port) +
               " needs administrator rights (run as root or grant cap_net_bind_service)";
    if (w.error.empty()) return what + "port " + std::to_string(w.port) + " could not be opened";
    return what + w.error;
}

}  // namespace

std::string workerStatusText(const std::vector<SearchWorkerStatus>& workers) {
    std::string line;
    for (const SearchWorkerStatus& w : workers) {
        if (w.started) continue;
        if (!line.empty()) line += "; ";
        line += describe(w);
    }
    return line;
}
