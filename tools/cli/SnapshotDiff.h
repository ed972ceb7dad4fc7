// Turns two copies of the device list into added/changed/removed events.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "Common/CommonStruct.h"

namespace cli {

struct DeviceEvent {
    enum class Kind { Added, Changed, Removed, Moved };
    DeviceEvent(Kind kind, const deviceinfo& device, std::string from = {})
        : kind(kind), device(device), from(std::move(from)) {}
    Kind kind;
    deviceinfo device;  // the new record; the last one seen for Removed
    std::string from;   // Moved: the address the box answered from before
};

const char* EventName(DeviceEvent::Kind kind);

// Records are keyed by ip (the list holds one per address). A record counts as
// changed when one of its seven texts differs (version and extra only when
// both records carry one); type and lifetime change with every announcement
// and ageing pass and are not news. Removals come first
// (in the old order), then additions and changes in the new list's order.
std::vector<DeviceEvent> DiffSnapshots(const std::vector<deviceinfo>& before,
                                       const std::vector<deviceinfo>& after);

}  // namespace cli
