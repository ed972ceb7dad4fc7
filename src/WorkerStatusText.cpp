#include "WorkerStatusText.h"

#include <algorithm>

namespace {

bool needsPrivilege(const SearchWorkerStatus& w) {
    return w.port > 0 && w.port < 1024 &&
           (w.error.find("ermission") != std::string::npos || w.error.find("not permitted") != std::string::npos);
}

std::string describe(const SearchWorkerStatus& w, const LanguageTexts& t) {
    const std::string port = std::to_string(w.port);
    std::string reason = w.error;  // the system's own text
    if (needsPrivilege(w))
        reason = LanguageTexts::fill(
            t.text("Status Rights",
                   "port {port} needs administrator rights (run as root or grant cap_net_bind_service)"),
            {{"port", port}});
    else if (w.error.empty())
        reason =
            LanguageTexts::fill(t.text("Status Port", "port {port} could not be opened"), {{"port", port}});
    std::string line;
    switch (w.kind) {
        case SearchWorkerStatus::Kind::Broadcast:
            line = t.text("Status Broadcast", "Broadcast search unavailable: {reason}");
            break;
        case SearchWorkerStatus::Kind::Multicast:
            line = t.text("Status SSDP", "SSDP search unavailable: {reason}");
            break;
        case SearchWorkerStatus::Kind::Command:
            line = t.text("Status Address", "Search on {address} unavailable: {reason}");
            break;
    }
    return LanguageTexts::fill(line, {{"address", w.localIP}, {"reason", reason}});
}

}  // namespace

std::string workerStatusText(const std::vector<SearchWorkerStatus>& workers, const LanguageTexts& texts) {
    std::string line;
    for (const SearchWorkerStatus& w : workers) {
        if (w.started || w.forSweeps) continue;
        if (!line.empty()) line += "; ";
        line += describe(w, texts);
    }
    return line;
}

std::string broadcastSendText(const std::vector<SearchBroadcastSend>& sends,
                              const std::vector<SearchWorkerStatus>& workers, const LanguageTexts& texts) {
    const bool started = std::any_of(workers.begin(), workers.end(), [](const SearchWorkerStatus& w) {
        return w.kind == SearchWorkerStatus::Kind::Broadcast && w.started;
    });
    if (!started) return {};
    if (sends.empty())
        return texts.text("Status Broadcast No Interface",
                          "No network interface can carry the broadcast search.");
    std::string failed;
    for (const SearchBroadcastSend& s : sends) {
        if (s.sent) continue;
        if (!failed.empty()) failed += ", ";
        failed += s.interfaceName + (s.error.empty() ? "" : " (" + s.error + ")");
    }
    if (failed.empty()) return {};
    return LanguageTexts::fill(texts.text("Status Broadcast Not Sent",
                                          "The broadcast search could not go out through {interfaces}."),
                               {{"interfaces", failed}});
}
