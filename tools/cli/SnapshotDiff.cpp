#include "SnapshotDiff.h"

#include <cstring>

namespace cli {
namespace {

bool SameText(const char (&a)[32], const char (&b)[32]) { return std::strncmp(a, b, sizeof a) == 0; }

// Broadcast answers carry no version or extra text, so a device that speaks
// both protocols alternates between a record with and one without them. Only
// a difference between two present values is news.
bool SameOptionalText(const char (&a)[32], const char (&b)[32]) {
    return a[0] == '\0' || b[0] == '\0' || SameText(a, b);
}

bool SameTexts(const deviceinfo& a, const deviceinfo& b) {
    return SameText(a.id, b.id) && SameText(a.ip, b.ip) && SameText(a.host, b.host) &&
           SameText(a.product, b.product) && SameOptionalText(a.extra, b.extra) &&
           SameOptionalText(a.version, b.version) && SameText(a.factory, b.factory);
}

const deviceinfo* FindByIp(const std::vector<deviceinfo>& list, const deviceinfo& key) {
    for (const deviceinfo& d : list)
        if (SameText(d.ip, key.ip)) return &d;
    return nullptr;
}

}  // namespace

const char* EventName(DeviceEvent::Kind kind) {
    switch (kind) {
        case DeviceEvent::Kind::Added:
            return "added";
        case DeviceEvent::Kind::Changed:
            return "changed";
        case DeviceEvent::Kind::Removed:
            return "removed";
        case DeviceEvent::Kind::Moved:
            return "moved";
    }
    return "?";
}

std::vector<DeviceEvent> DiffSnapshots(const std::vector<deviceinfo>& before,
                                       const std::vector<deviceinfo>& after) {
    std::vector<DeviceEvent> events;
    for (const deviceinfo& old : before)
        if (FindByIp(after, old) == nullptr) events.push_back({DeviceEvent::Kind::Removed, old});
    for (const deviceinfo& now : after) {
        const deviceinfo* old = FindByIp(before, now);
        if (old == nullptr)
            events.push_back({DeviceEvent::Kind::Added, now});
        else if (!SameTexts(*old, now))
            events.push_back({DeviceEvent::Kind::Changed, now});
    }
    return events;
}

}  // namespace cli
