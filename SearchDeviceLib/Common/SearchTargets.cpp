#include "Common/SearchTargets.h"

#include <algorithm>
#include <array>

#include "Common/DottedQuad.h"

namespace {

constexpr int kWidestPrefix = 16;

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// 0.0.0.0/8 ("this network"), 127.0.0.0/8 (this machine itself: a /16 of it
// would be 131,000 datagrams to ourselves) and everything from 224.0.0.0 up
// (multicast, reserved, the limited broadcast): no box is reached there.
bool IsUnicast(std::uint32_t address) {
    const std::uint32_t top = address >> 24;
    return top != 0 && top != 127 && top < 224;
}

bool ParseItem(std::string_view item, CSearchTargetList& into, SearchTargetError& error) {
    error.item = std::string(item);
    const std::size_t slash = item.find('/');
    std::array<int, 4> octets{};
    if (!ParseDottedQuad(item.substr(0, slash), octets)) {
        error.reason = SearchTargetError::Reason::NotAddress;
        return false;
    }
    int prefix = 32;
    if (slash != std::string_view::npos) {
        const std::string_view digits = item.substr(slash + 1);
        const bool number = !digits.empty() && digits.size() <= 2 &&
                            std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        prefix = number ? std::stoi(std::string(digits)) : -1;
        if (prefix < kWidestPrefix || prefix > 32) {
            error.reason = SearchTargetError::Reason::BadPrefix;
            return false;
        }
    }
    const std::uint32_t address = static_cast<std::uint32_t>(octets[0]) << 24 |
                                  static_cast<std::uint32_t>(octets[1]) << 16 |
                                  static_cast<std::uint32_t>(octets[2]) << 8 | static_cast<std::uint32_t>(octets[3]);
    const std::uint32_t hostBits = prefix == 32 ? 0 : (std::uint32_t{1} << (32 - prefix)) - 1;
    std::uint32_t first = address & ~hostBits;
    std::uint32_t last = first | hostBits;
    // Blocks never straddle these boundaries (they are /8 aligned, blocks at
    // most /16), so checking one end checks the whole block.
    if (!IsUnicast(first)) {
        error.reason = SearchTargetError::Reason::NotUnicast;
        return false;
    }
    // The network and broadcast addresses of a /30 or wider block are no
    // hosts; a /31 is a point-to-point pair with two hosts.
    if (prefix <= 30) {
        ++first;
        --last;
    }
    into.Add(first, last);
    return true;
}

}  // namespace

std::string SearchTargetError::Describe() const {
    const std::string quoted = "'" + item + "'";
    switch (reason) {
        case Reason::None:
            return {};
        case Reason::EmptyItem:
            return quoted + (item.empty() ? ": empty target" : ": empty item in the list");
        case Reason::NotAddress:
            return quoted + ": not an IPv4 address or CIDR block (such as 10.1.20.7 or 10.1.20.0/24)";
        case Reason::BadPrefix:
            return quoted + ": the prefix must be /16 to /32";
        case Reason::NotUnicast:
            return quoted + ": not a unicast address of another machine";
    }
    return quoted;
}

void CSearchTargetList::Add(std::uint32_t first, std::uint32_t last) {
    if (first > last) return;
    // Merge with every range that overlaps or touches [first, last].
    auto begin = std::lower_bound(ranges.begin(), ranges.end(), first, [](const Range& r, std::uint32_t value) {
        return r.last != UINT32_MAX && r.last + 1 < value;
    });
    auto end = begin;
    while (end != ranges.end() && (last == UINT32_MAX || end->first <= last + 1)) {
        first = std::min(first, end->first);
        last = std::max(last, end->last);
        ++end;
    }
    begin = ranges.erase(begin, end);
    ranges.insert(begin, Range{first, last});
}

void CSearchTargetList::Add(const CSearchTargetList& other) {
    for (const Range& r : other.ranges) Add(r.first, r.last);
}

std::uint64_t CSearchTargetList::Count() const {
    std::uint64_t count = 0;
    for (const Range& r : ranges) count += std::uint64_t{r.last} - r.first + 1;
    return count;
}

bool ParseSearchTargets(std::string_view list, CSearchTargetList& into, SearchTargetError& error) {
    error = {};
    CSearchTargetList parsed;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        const std::string_view item = TrimBlanks(list.substr(start, comma - start));
        if (item.empty()) {
            error.reason = SearchTargetError::Reason::EmptyItem;
            error.item = std::string(TrimBlanks(list));
            return false;
        }
        if (!ParseItem(item, parsed, error)) return false;
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    into.Add(parsed);
    error = {};
    return true;
}

bool ParseSearchTargetLines(std::string_view text, CSearchTargetList& into, SearchTargetError& error) {
    error = {};
    CSearchTargetList parsed;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        if (!TrimBlanks(line).empty() && !ParseSearchTargets(line, parsed, error)) return false;
        start = end + 1;
    }
    into.Add(parsed);
    return true;
}

bool ParseSearchRate(std::string_view text, int& rate) {
    text = TrimBlanks(text);
    if (text.empty() || text.size() > 6) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < kSearchRateMin || value > kSearchRateMax) return false;
    rate = value;
    return true;
}
