// The worker tests' search log, and a patient wait.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

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

inline bool Eventually(const std::function<bool()>& cond) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace workertest
