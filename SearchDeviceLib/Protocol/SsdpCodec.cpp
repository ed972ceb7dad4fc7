#include "Protocol/SsdpCodec.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "Common/DottedQuad.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr char kSearchRequest[] =
    "M-SEARCH * HTTP/1.1\r\n"
    "HOST: 239.143.255.250:1900\r\n"
    "ST: urn:schemas-upnp-org:device:LarkvatDevice:1\r\n"
    "MAN: \"ssdp:discover\"\r\n"
    "MX: 3\r\n"
    "\r\n";
static_assert(sizeof kSearchRequest == 130);

constexpr std::size_t kFieldMax = 31;
constexpr std::size_t kProductPartMax = 63;
constexpr auto npos = std::string_view::npos;

// text[from, to) into a zeroed field, cut at 31 characters.
void copyCut(char (&field)[32], std::string_view text, std::size_t from, std::size_t to) {
    const std::size_t n = to - from < kFieldMax ? to - from : kFieldMax;
    std::memcpy(field, text.data() + from, n);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool endsWith(std::string_view text, std::size_t end, std::string_view word) {
    return end >= word.size() && std::memcmp(text.data() + end - word.size(), word.data(), word.size()) == 0;
}

// Searching by the needle's letter at `anchor`, which answers seldom hold
// ("RUZO" by its Z): string_view::find stops at every R. Candidates come in
// ascending order either way, so the first match is the same.
std::size_t findByLetter(std::string_view text, std::string_view needle, std::size_t from,
                         std::size_t anchor) {
    if (from > text.size() || needle.size() > text.size() - from) return npos;
    const char* const begin = text.data();
    const char* const last = begin + (text.size() - needle.size());  // last possible start
    const char* at = begin + from;
    while (at <= last) {
        const void* hit = std::memchr(at + anchor, needle[anchor], static_cast<std::size_t>(last - at) + 1);
        if (hit == nullptr) return npos;
        const char* start = static_cast<const char*>(hit) - anchor;
        if (std::memcmp(start, needle.data(), needle.size()) == 0)
            return static_cast<std::size_t>(start - begin);
        at = start + 1;
    }
    return npos;
}

// A LOCATION address ends at its port, its path, the line end or a blank.
std::size_t findAddressEnd(std::string_view text, std::size_t from) {
    for (std::size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':' || c == '/' || c == '\r' || c == '\n' || c == ' ') return i;
    }
    return npos;
}

// First occurrences of everything that ends in a colon: the four header names,
// "uuid:" after "USN:" and "::" after that.
struct Colons {
    std::size_t location = npos, server = npos, usn = npos, nts = npos, uuid = npos, idEnd = npos;
};

// The colons that can matter: one after the last letter of a name looked for
// (LOCATION and USN end in N, SERVER in R, NTS in S, uuid in d) or one before
// another colon. Every other colon leaves the record as it is.
bool candidate(const char* p) {
    const char before = p[-1];
    return p[0] == ':' && (before == 'N' || before == 'R' || before == 'S' || before == 'd' || p[1] == ':');
}

// candidate() for the 16 bytes from p, as bits; reads p[-1] to p[16].
unsigned candidates16(const char* p) {
#if defined(__SSE2__)
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1));
    const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const __m128i colon = _mm_set1_epi8(':');
    const __m128i ends = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(before, _mm_set1_epi8('N')), _mm_cmpeq_epi8(before, _mm_set1_epi8('R'))),
        _mm_or_si128(_mm_cmpeq_epi8(before, _mm_set1_epi8('S')), _mm_cmpeq_epi8(before, _mm_set1_epi8('d'))));
    const __m128i hits =
        _mm_and_si128(_mm_cmpeq_epi8(here, colon), _mm_or_si128(ends, _mm_cmpeq_epi8(after, colon)));
    return static_cast<unsigned>(_mm_movemask_epi8(hits));
#else
    unsigned bits = 0;
    for (unsigned i = 0; i < 16; ++i) bits |= static_cast<unsigned>(candidate(p + i)) << i;
    return bits;
#endif
}

// One walk over the text finds the first of each name that ends in a colon,
// in the order of their starts (they have fixed lengths), sixteen bytes at a
// time: answers hold a colon in every dozen bytes or so.
Colons findColons(std::string_view text, bool wantNts) {
    Colons c;
    const char* const begin = text.data();
    const std::size_t size = text.size();
    // Looks at the colon at `at`; false when nothing more is wanted.
    auto visit = [&](std::size_t at) {
        if (c.idEnd == npos) {
            if (c.uuid != npos) {
                // "::" from the character after "uuid:" on.
                if (at + 1 < size && begin[at + 1] == ':') c.idEnd = at;
            } else if (c.usn != npos && endsWith(text, at, "uuid")) {
                c.uuid = at - 4;
            }
        }
        // No two of the names end at the same colon.
        if (c.location == npos && endsWith(text, at, "LOCATION")) {
            c.location = at - 8;
        } else if (c.server == npos && endsWith(text, at, "SERVER")) {
            c.server = at - 6;
        } else if (c.usn == npos && endsWith(text, at, "USN")) {
            c.usn = at - 3;
        } else if (c.nts == npos && endsWith(text, at, "NTS")) {
            c.nts = at - 3;
        }
        return !(c.idEnd != npos && c.location != npos && c.server != npos && (c.nts != npos || !wantNts));
    };
    // The first byte has no letter before it, and the last none after it.
    std::size_t at = 1;
    for (; at + 17 <= size; at += 16) {
        for (unsigned bits = candidates16(begin + at); bits != 0; bits &= bits - 1)
            if (!visit(at + static_cast<std::size_t>(std::countr_zero(bits)))) return c;
    }
    for (; at + 1 < size; ++at)
        if (candidate(begin + at) && !visit(at)) return c;
    if (at < size && begin[at] == ':' && at > 0) {
        const char before = begin[at - 1];
        if (before == 'N' || before == 'R' || before == 'S' || before == 'd') visit(at);
    }
    return c;
}

// SERVER: ... RUZO/<version>,<item>, <factory>/<host>/<product>[/<extra>]\r
// Each missing piece ends the reading; what was read so far is kept.
void readServer(std::string_view text, std::size_t server, std::size_t firstMarker, deviceinfo& d) {
    if (server == npos) return;
    const std::size_t marker =
        firstMarker >= server && firstMarker + 4 < text.size() && text[firstMarker + 4] == '/'
            ? firstMarker
            : findByLetter(text, "RUZO/", server, 2);
    if (marker == npos) return;
    const std::size_t versionStart = marker + 5;
    const std::size_t comma1 = text.find(',', versionStart);
    if (comma1 == npos) return;
    copyCut(d.version, text, versionStart, comma1);
    const std::size_t comma2 = text.find(',', comma1 + 1);
    if (comma2 == npos) return;
    const std::size_t partStart = comma2 + 2;
    const std::size_t partEnd = text.find('\r', partStart);
    if (partEnd == npos) return;
    const std::string_view part = text.substr(partStart, std::min(partEnd - partStart, kProductPartMax));

    const std::size_t slash1 = part.find('/');
    if (slash1 == npos) return;
    copyCut(d.factory, part, 0, slash1);
    const std::size_t slash2 = part.find('/', slash1 + 1);
    if (slash2 == npos) return;
    copyCut(d.host, part, slash1 + 1, slash2);
    const std::size_t slash3 = part.find('/', slash2 + 1);
    if (slash3 == npos) {
        copyCut(d.product, part, slash2 + 1, part.size());
        return;
    }
    copyCut(d.product, part, slash2 + 1, slash3);
    copyCut(d.extra, part, slash3 + 1, part.size());
}

}  // namespace

std::string_view SsdpSearchRequest() { return {kSearchRequest, sizeof kSearchRequest - 1}; }

std::optional<deviceinfo> DecodeSsdpMessage(std::string_view datagram, std::string_view sender) {
    const std::string_view text = datagram.substr(0, datagram.find('\0'));
    const bool answer = text.starts_with("HTTP");
    if (!answer && !text.starts_with("NOTIFY")) return std::nullopt;
    const std::size_t marker = findByLetter(text, "RUZO", 0, 2);
    if (marker == npos) return std::nullopt;
    const Colons c = findColons(text, !answer);
    if (c.idEnd == npos) return std::nullopt;  // no "USN:", "uuid:" after it, or "::" after that

    deviceinfo d;
    if (c.location != npos) {
        const std::size_t slashes = text.find("//", c.location + 9);
        if (slashes == npos) return std::nullopt;
        const std::size_t start = slashes + 2;
        // A LOCATION without a port ends its address at the path or the line.
        const std::size_t end = findAddressEnd(text, start);
        if (end == npos) return std::nullopt;
        // The list merges by this text and the desktop opens it: a host name,
        // "127.1" or "1.2.3.4@evil" is no device address.
        if (!IsDottedQuad(text.substr(start, end - start))) return std::nullopt;
        copyCut(d.ip, text, start, end);
    } else {
        copyCut(d.ip, sender, 0, sender.size());
    }
    readServer(text, c.server, marker, d);
    copyCut(d.id, text, c.uuid + 5, c.idEnd);

    if (answer) {
        d.type = kDeviceAnswer;
    } else {
        if (c.nts == npos || text.find("rootdevice") == npos) return std::nullopt;
        std::size_t value = c.nts + 4;
        while (value < text.size() && isBlank(text[value])) ++value;
        const std::string_view nt = text.substr(value);
        if (nt.starts_with("ssdp:alive"))
            d.type = kDeviceAlive;
        else if (nt.starts_with("ssdp:byebye"))
            d.type = kDeviceByebye;
    }
    return d;
}
