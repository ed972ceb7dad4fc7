// Helpers of the worker tests: the search log in a scratch directory, and a
// recorder of the records that workers hand over.
#pragma once

#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CommonStruct.h"
#include "SearchDeviceClient.h"
#include "ShowLog.h"
#include "TestFiles.h"

namespace workertest {

// The whole log. It is switched on at the first call, before any worker
// exists, in a directory left behind on purpose: detached threads may still
// write during exit.
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

// The hand-over's callback: keeps every record; one whose id begins with
// "throw" is kept, then the callback throws.
inline int Record(void* record, int port) {
    HandedOver entry{*static_cast<deviceinfo*>(record), port};
    {
        std::lock_guard<std::mutex> lock(g_recordsMutex);
        g_records.push_back(entry);
    }
    if (std::strncmp(entry.info.id, "throw", 5) == 0) throw std::runtime_error("callback failed");
    return 0;
}

inline void StartRecording() {
    LogText();
    CSearchDeviceClient::SetDeviceCallback(&Record);
    std::lock_guard<std::mutex> lock(g_recordsMutex);
    g_records.clear();
}

inline std::vector<HandedOver> Records() {
    std::lock_guard<std::mutex> lock(g_recordsMutex);
    return g_records;
}

// A record's texts and type as "id|ip|host|product|extra|version|factory|type".
inline std::string Fields(const deviceinfo& d) {
    std::string s;
    for (const char* text : {d.id, d.ip, d.host, d.product, d.extra, d.version, d.factory})
        s += std::string(text, strnlen(text, 32)) + "|";
    return s + std::to_string(d.type);
}

// Polls cond until it holds or the (generous) deadline passes.
inline bool Eventually(const std::function<bool()>& cond,
                       std::chrono::seconds deadline = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace workertest
