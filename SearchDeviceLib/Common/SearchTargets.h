// Search targets: IPv4 addresses and CIDR blocks that are asked directly, by
// unicast, because a router between them and this machine drops the broadcast
// and the multicast group. Pure text-to-address logic with no sockets, so that
// every front end checks what the user typed with the same rules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Datagrams per second across a whole sweep.
constexpr int kSearchRateDefault = 1000;
constexpr int kSearchRateMin = 1;
constexpr int kSearchRateMax = 100000;

// Why a target text was refused, and which part of it.
struct SearchTargetError {
    enum class Reason {
        None,
        EmptyItem,   // nothing between two commas, or an empty text where one was required
        NotAddress,  // not a dotted-quad address or block: host names, "300.1.1.1", "/8"
        BadPrefix,   // a prefix length outside /16 to /32, or not a number
        NotUnicast,  // 0.0.0.0/8, multicast, reserved or the limited broadcast
    };
    Reason reason = Reason::None;
    std::string item;  // the offending item as typed, blanks trimmed (the whole text for EmptyItem)

    // One English line that begins with the quoted item, e.g.
    // "'10.0.0.0/8': the prefix must be /16 to /32".
    std::string Describe() const;
};

// A set of unicast IPv4 addresses kept as sorted, disjoint ranges, so that a
// /16 costs two numbers rather than 65,534 and walking it yields every address
// once, in ascending order.
class CSearchTargetList {
public:
    struct Range {
        std::uint32_t first;  // host byte order, inclusive
        std::uint32_t last;
        bool operator==(const Range&) const = default;
    };

    // Adds every address from first to last (first <= last).
    void Add(std::uint32_t first, std::uint32_t last);
    void Add(const CSearchTargetList& other);
    void Clear() { ranges.clear(); }
    bool Empty() const { return ranges.empty(); }
    // Number of distinct addresses.
    std::uint64_t Count() const;
    const std::vector<Range>& Ranges() const { return ranges; }
    bool operator==(const CSearchTargetList&) const = default;

private:
    std::vector<Range> ranges;  // ascending, never overlapping or touching
};

// Parses one comma-separated list such as "10.1.20.7, 10.1.30.0/24" and adds
// its addresses to `into`. Each item is an address or a block from /16 to /32
// (host bits are ignored: 10.1.20.7/24 means 10.1.20.0/24); a block of /30 or
// wider leaves out its network and broadcast addresses. Blanks around items
// are ignored; an empty item (also an empty text) is an error. On an error
// `into` is left unchanged, `error` says why, and the result is false.
bool ParseSearchTargets(std::string_view list, CSearchTargetList& into, SearchTargetError& error);

// The same for a text of several lines, each a comma-separated list, as a
// dialog's text field holds it. Blank lines are skipped, so an empty text is
// an empty list.
bool ParseSearchTargetLines(std::string_view text, CSearchTargetList& into, SearchTargetError& error);

// A rate as typed: a whole number from kSearchRateMin to kSearchRateMax.
bool ParseSearchRate(std::string_view text, int& rate);

