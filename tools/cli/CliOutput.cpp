#include "CliOutput.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace cli {
namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

bool Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence starting at s[i], 0 if none.
std::size_t SequenceLength(std::string_view s, std::size_t i) {
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = at(i);
    if (c < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;  // no overlong forms
        if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    if (at(i + 1) < lo || at(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < len; ++k)
        if (!Continuation(at(i + k))) return 0;
    return len;
}

// Code points, as an approximation of terminal columns.
std::size_t Width(const std::string& utf8) {
    return static_cast<std::size_t>(std::count_if(
        utf8.begin(), utf8.end(), [](char c) { return !Continuation(static_cast<unsigned char>(c)); }));
}

std::string OrDash(std::string text) { return text.empty() ? "-" : text; }

}  // namespace

std::string ValidUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t len = SequenceLength(bytes, i);
        if (len == 0) {
            out += kReplacement;
            ++i;
        } else {
            out.append(bytes.substr(i, len));
            i += len;
        }
    }
    return out;
}

std::string DisplayText(std::string_view bytes) {
    std::string valid = ValidUtf8(bytes);
    std::string out;
    out.reserve(valid.size());
    for (std::size_t i = 0; i < valid.size(); ++i) {
        auto c = static_cast<unsigned char>(valid[i]);
        if (c < 0x20 || c == 0x7F) {
            out += '?';
        } else if (c == 0xC2 && i + 1 < valid.size() && static_cast<unsigned char>(valid[i + 1]) < 0xA0) {
            out += '?';  // U+0080..U+009F: C1 controls, CSI among them
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string_view FieldText(const char (&field)[32]) {
    return std::string_view(field, strnlen(field, sizeof field));
}

nlohmann::ordered_json DeviceJson(const deviceinfo& d) {
    nlohmann::ordered_json j;
    j["id"] = ValidUtf8(FieldText(d.id));
    j["ip"] = ValidUtf8(FieldText(d.ip));
    j["host"] = ValidUtf8(FieldText(d.host));
    j["product"] = ValidUtf8(FieldText(d.product));
    j["extra"] = ValidUtf8(FieldText(d.extra));
    j["version"] = ValidUtf8(FieldText(d.version));
    j["factory"] = ValidUtf8(FieldText(d.factory));
    j["type"] = d.type;
    j["lifetime"] = d.lifetime;
    return j;
}

std::string FormatJsonArray(const std::vector<deviceinfo>& devices) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const deviceinfo& d : devices) array.push_back(DeviceJson(d));
    return array.dump(2) + "\n";
}

std::string FormatTable(const std::vector<deviceinfo>& devices) {
    if (devices.empty()) return "No devices found.\n";
    std::vector<std::vector<std::string>> rows{{"HOST NAME", "IP ADDRESS", "DEVICE TYPE", "MAKER"}};
    for (const deviceinfo& d : devices)
        rows.push_back({DisplayText(FieldText(d.host)), DisplayText(FieldText(d.ip)),
                        DisplayText(FieldText(d.product)), DisplayText(FieldText(d.factory))});
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Width(row[c]));
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line.append(widths[c] - Width(row[c]) + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    }
    return out;
}

std::string FormatEventJsonl(const DeviceEvent& event) {
    nlohmann::ordered_json j;
    j["event"] = EventName(event.kind);
    if (event.kind == DeviceEvent::Kind::Moved) j["from"] = event.from;
    j["device"] = DeviceJson(event.device);
    return j.dump() + "\n";
}

std::string FormatEventText(const DeviceEvent& event) {
    const char* mark = event.kind == DeviceEvent::Kind::Added     ? "+"
                       : event.kind == DeviceEvent::Kind::Changed ? "~"
                       : event.kind == DeviceEvent::Kind::Moved   ? ">"
                                                                  : "-";
    const deviceinfo& d = event.device;
    return std::string(mark) + " " + OrDash(DisplayText(FieldText(d.host))) + " " +
           OrDash(DisplayText(FieldText(d.ip))) + " " + OrDash(DisplayText(FieldText(d.product))) + " " +
           OrDash(DisplayText(FieldText(d.factory))) +
           (event.kind == DeviceEvent::Kind::Moved ? " (was " + event.from + ")" : "") + "\n";
}

std::string SweepProgressText(const SweepProgress& p, bool terminal, bool verbose) {
    if (!terminal) return {};
    const long left = std::lround(p.remaining);
    char line[160];
    std::snprintf(line, sizeof line, "asking targets: %llu/%llu addresses, %.0f datagrams/s, %ld:%02ld left",
                  p.done, p.total, p.achieved, left / 60, left % 60);
    return verbose ? "nasscout-cli: " + std::string(line) + "\n" : "\r" + std::string(line) + "   ";
}

}  // namespace cli
