// The worker tests' search log and recorder of hand-overs.
#pragma once

#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CommonStruct.h"
#include "SearchDeviceClient.h"
#include "ShowLog.h"
#include "TestFiles.h"

namespace workertest {

// The whole log, switched on before any worker exists, in a directory kept on
// purpose: detached threads may still write during exit.
inline std::string LogText() {
    static const std::string file = [] {
        testfiles::TempDir dir;
        dir.keep = true;
        SearchDeviceShowLog::io_log_init(true, dir.slash().c_str());
        return dir.slash() + testfiles::todaysLogName();
    }();
    return testfiles::readFile(file);
}

// The log from its construction on.
class LogTail {
public:
    LogTail() : start_(LogText().size()) {}
    std::size_t Count(const std::string& fragment) const {
        return testfiles::countOf(LogText().substr(start_), fragment);
    }
    // A whole message: its line's time stamp follows it.
    bool Has(const std::string& message) const { return Count(message + "*[") > 0; }

private:
    std::size_t start_;
};

struct HandedOver {
    deviceinfo info;
    int port;
};

inline std::mutex g_recordsMutex;
inline std::vector<HandedOver> g_records;

inline void StartRecording() {
    LogText();
    CSearchDeviceClient::SetDeviceCallback([](void* record, int port) {
        std::lock_guard<std::mutex> lock(g_recordsMutex);
        g_records.push_back({*static_cast<deviceinfo*>(record), port});
        return 0;
    });
    std::lock_guard<std::mutex> lock(g_recordsMutex);
    g_records.clear();
}

inline std::vector<HandedOver> Records() {
    std::lock_guard<std::mutex> lock(g_recordsMutex);
    return g_records;
}

// "id|ip|host|product|extra|version|factory|type".
inline std::string Fields(const deviceinfo& d) {
    std::string s;
    for (const char* text : {d.id, d.ip, d.host, d.product, d.extra, d.version, d.factory})
        s += std::string(text, strnlen(text, 32)) + "|";
    return s + std::to_string(d.type);
}

inline bool Eventually(const std::function<bool()>& cond) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace workertest
