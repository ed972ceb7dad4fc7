#include "NotificationCenter.h"

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: a background thread may post while the process exits.
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

NotificationCenter::ObserverId NotificationCenter::addObserver(const std::string& name, Handler handler,
                                                               const void* sender) {
    std::lock_guard lock(mutex_);
    ObserverId id = nextId_++;
    observers_.push_back({id, name, sender, std::move(handler)});
    return id;
}

void NotificationCenter::removeObserver(ObserverId id) {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [id](const Entry& e) { return e.id == id; });
}

void NotificationCenter::postNotificationName(const std::string& name, const void* object,
                                              std::map<std::string, std::any> userInfo) {
    std::vector<Handler> targets;
    {
        std::lock_guard lock(mutex_);
        for (const Entry& e : observers_)
            if (e.name == name && (e.sender == nullptr || e.sender == object)) targets.push_back(e.handler);
    }
    // Outside the lock, so a handler may add or remove observers or post.
    const Notification note{name, object, std::move(userInfo)};
    for (const Handler& h : targets) h(note);
}
