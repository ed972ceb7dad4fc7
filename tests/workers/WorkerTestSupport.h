// Helpers of the worker tests: the search log in a scratch directory, and a
// recorder for the records that workers hand over.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CommonStruct.h"
#include "SearchDeviceClient.h"
#include "ShowLog.h"

namespace workertest {

// The log is switched on once per process, before any worker exists, into a
// directory that outlives every worker thread (it is left behind on purpose:
// detached threads may still write during exit).
class TestLog {
public:
    static TestLog& Get() {
        static TestLog* log = new TestLog;
        return *log;
    }
    std::string Read() const {
        std::ifstream in(file_, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    const std::string& Directory() const { return dir_; }

private:
    TestLog() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/nasscout-workers-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) return;
        dir_ = pattern;
        SearchDeviceShowLog::io_log_init(true, (dir_ + "/").c_str());
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) file_ = entry.path().string();
    }
    std::string dir_;
    std::string file_;
};

// The log from the moment of construction on.
class LogTail {
public:
    LogTail() : start_(TestLog::Get().Read().size()) {}
    std::string Text() const { return TestLog::Get().Read().substr(start_); }
    // Lines are the message followed by the log's "*[" time stamp.
    bool Has(const std::string& message) const { return Count(message) > 0; }
    std::size_t Count(const std::string& message) const { return CountIn(Text(), message); }
    static std::size_t CountIn(const std::string& text, const std::string& message) {
        std::string line = message + "*[";
        std::size_t n = 0;
        for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
        return n;
    }
    // Counts lines containing the fragment anywhere.
    std::size_t CountFragment(const std::string& fragment) const {
        std::string text = Text();
        std::size_t n = 0;
        for (std::size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1))
            ++n;
        return n;
    }

private:
    std::size_t start_;
};

struct HandedOver {
    deviceinfo info;
    int port;
};

// Installs itself as the hand-over's device callback; keeps every record.
// A record whose id begins with "throw" is kept, then the callback throws.
class HandOverRecorder {
public:
    static HandOverRecorder& Get() {
        static HandOverRecorder* recorder = new HandOverRecorder;
        return *recorder;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.clear();
    }
    std::vector<HandedOver> Records() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }
    std::size_t Size() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_.size();
    }
    // Waits (generously) until pred holds for the records so far.
    bool WaitFor(const std::function<bool(const std::vector<HandedOver>&)>& pred,
                 std::chrono::seconds deadline = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, deadline, [&] { return pred(records_); });
    }
    // The first record with this id, if any.
    static const HandedOver* Find(const std::vector<HandedOver>& records, const char* id) {
        for (const HandedOver& r : records)
            if (std::strcmp(r.info.id, id) == 0) return &r;
        return nullptr;
    }

private:
    HandOverRecorder() { CSearchDeviceClient::SetDeviceCallback(&Callback); }
    static int Callback(void* record, int port) {
        HandOverRecorder& self = Get();
        HandedOver entry{};
        std::memcpy(&entry.info, record, sizeof entry.info);
        entry.port = port;
        {
            std::lock_guard<std::mutex> lock(self.mutex_);
            self.records_.push_back(entry);
        }
        self.changed_.notify_all();
        // Lets a test see what a failing callback does to a worker.
        if (std::strncmp(entry.info.id, "throw", 5) == 0) throw std::runtime_error("callback failed");
        return 0;
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<HandedOver> records_;
};

// Polls cond until it holds or the deadline passes.
inline bool Eventually(const std::function<bool()>& cond,
                       std::chrono::seconds deadline = std::chrono::seconds(20)) {
    auto until = std::chrono::steady_clock::now() + deadline;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace workertest
