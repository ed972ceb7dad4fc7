// How nasscout-cli prints devices and events. Device texts come from the
// network and may hold any bytes: JSON gets valid UTF-8, terminal text also
// loses control characters.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "Common/CommonStruct.h"
#include "SearchDeviceHandle/SearchTargetSweep.h"
#include "SnapshotDiff.h"

namespace cli {

// Invalid UTF-8 sequences become U+FFFD; everything else is kept.
std::string ValidUtf8(std::string_view bytes);
// As ValidUtf8, and C0/C1 control characters and DEL become '?', so a device
// cannot send escape sequences to the terminal.
std::string DisplayText(std::string_view bytes);
// One fixed-size record text, up to its terminator or its 32nd byte.
std::string_view FieldText(const char (&field)[32]);

// Keys in this order: id ip host product extra version factory (strings),
// type lifetime (integers).
nlohmann::ordered_json DeviceJson(const deviceinfo& device);
// One JSON array, records in list order, ending with a newline.
std::string FormatJsonArray(const std::vector<deviceinfo>& devices);
// Aligned columns HOST NAME, IP ADDRESS, DEVICE TYPE, MAKER under a header;
// "No devices found." for an empty list.
std::string FormatTable(const std::vector<deviceinfo>& devices);

// {"event":"added|changed|removed","device":{...}} and a newline; a move
// {"event":"moved","from":"OLD_IP","device":{...}}.
std::string FormatEventJsonl(const DeviceEvent& event);
// "+ HOST IP TYPE MAKER" (added), "~ ..." (changed), "- ..." (removed) and a
// newline; empty texts are shown as "-". A move: "> ... (was OLD_IP)".
std::string FormatEventText(const DeviceEvent& event);

// One update of a sweep's progress for standard error: nothing off a
// terminal; on one the line rewritten in place, or with --verbose a whole
// line, since the trace lines in between would overwrite a rewritten one.
std::string SweepProgressText(const SweepProgress& p, bool terminal, bool verbose);

}  // namespace cli
