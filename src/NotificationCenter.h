#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct Notification {
    std::string name;
    const void* object = nullptr;  // the sender
    std::map<std::string, std::any> userInfo;
};

// Delivers each post synchronously, on the posting thread, to every observer
// registered for its name, before the post returns.
class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;
    using ObserverId = std::uint64_t;

    static NotificationCenter& defaultCenter();

    // sender null: any sender.
    ObserverId addObserver(const std::string& name, Handler handler, const void* sender = nullptr);
    // Later posts no longer reach the observer; a delivery already running on
    // another thread is not waited for.
    void removeObserver(ObserverId id);
    void postNotificationName(const std::string& name, const void* object,
                              std::map<std::string, std::any> userInfo = {});

private:
    struct Entry {
        ObserverId id;
        std::string name;
        const void* sender;
        Handler handler;
    };
    std::mutex mutex_;
    std::vector<Entry> observers_;
    ObserverId nextId_ = 1;
};
