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

// Writes all 32 bytes of a field: the piece, cut at 31 characters, then
// zeros. `readable` is how many bytes from the piece's start may be read
// (none for an empty piece, which may have no data at all).
void putField(char (&field)[32], std::string_view piece, std::size_t readable) {
    const std::size_t n = piece.size() < kFieldMax ? piece.size() : kFieldMax;
#if defined(__SSE2__)
    // Both halves at once, the bytes from n on masked to zero, rather than a
    // zero fill and a library call per field.
    if (n > 0 && readable >= sizeof field) {
        const __m128i count = _mm_set1_epi8(static_cast<char>(n));
        const __m128i low = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        const __m128i high = _mm_add_epi8(low, _mm_set1_epi8(16));
        const auto* in = reinterpret_cast<const __m128i*>(piece.data());
        _mm_storeu_si128(reinterpret_cast<__m128i*>(field),
                         _mm_and_si128(_mm_loadu_si128(in), _mm_cmplt_epi8(low, count)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(field + 16),
                         _mm_and_si128(_mm_loadu_si128(in + 1), _mm_cmplt_epi8(high, count)));
        return;
    }
#endif
    (void)readable;
    std::memset(field, 0, sizeof field);
    if (n > 0) std::memcpy(field, piece.data(), n);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// string_view::find for one letter, sixteen bytes at a time and without a
// library call: most searches here end within a few bytes.
std::size_t findByte(std::string_view text, char c, std::size_t from) {
    const char* const begin = text.data();
    const std::size_t size = text.size();
#if defined(__SSE2__)
    const __m128i needle = _mm_set1_epi8(c);
    for (; from + 16 <= size; from += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + from));
        if (const unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, needle))))
            return from + static_cast<std::size_t>(std::countr_zero(bits));
    }
#endif
    for (; from < size; ++from)
        if (begin[from] == c) return from;
    return npos;
}

// Whether text[.., end) ends with the word (a literal, so the comparison is
// made inline).
template <std::size_t N>
bool endsWith(std::string_view text, std::size_t end, const char (&word)[N]) {
    return end >= N - 1 && std::memcmp(text.data() + end - (N - 1), word, N - 1) == 0;
}

// Searching by the needle's letter at `anchor`, which answers seldom hold
// ("RUZO" by its Z): string_view::find stops at every R. Candidates come in
// ascending order either way, so the first match is the same.
template <std::size_t N>
std::size_t findByLetter(std::string_view text, const char (&literal)[N], std::size_t from,
                         std::size_t anchor) {
    const std::string_view needle(literal, N - 1);
    if (from > text.size() || needle.size() > text.size() - from) return npos;
    // Starts after the last possible one cannot hold the needle.
    const std::string_view starts = text.substr(0, text.size() - needle.size() + anchor + 1);
    for (std::size_t at = from + anchor;; ++at) {
        at = findByte(starts, needle[anchor], at);
        if (at == npos) return npos;
        if (std::memcmp(text.data() + at - anchor, literal, N - 1) == 0) return at - anchor;
    }
}

// A LOCATION address ends at its port, its path, the line end or a blank; a
// dotted quad holds digits and dots only, so whatever else comes first ends
// it or makes it no address (npos).
std::size_t findAddressEnd(std::string_view text, std::size_t from) {
    std::size_t i = from;
#if defined(__SSE2__)
    if (from <= text.size() && text.size() - from >= 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + from));
        const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(block, _mm_set1_epi8('0' - 1)),
                                            _mm_cmplt_epi8(block, _mm_set1_epi8('9' + 1)));
        const __m128i part = _mm_or_si128(digit, _mm_cmpeq_epi8(block, _mm_set1_epi8('.')));
        const unsigned other = ~static_cast<unsigned>(_mm_movemask_epi8(part)) & 0xFFFF;
        if (other == 0) return npos;  // sixteen digits and dots: no dotted quad
        i = from + static_cast<std::size_t>(std::countr_zero(other));
    } else
#endif
        while (i < text.size() && (static_cast<unsigned char>(text[i] - '0') < 10 || text[i] == '.')) ++i;
    if (i == text.size()) return npos;
    const char c = text[i];
    return c == ':' || c == '/' || c == '\r' || c == '\n' || c == ' ' ? i : npos;
}

// First occurrences of everything that ends in a colon: the four header names,
// "uuid:" after "USN:" and "::" after that.
struct Colons {
    std::size_t location = npos, server = npos, usn = npos, nts = npos, uuid = npos, idEnd = npos;
};

// The colons that can matter: one after the last letter of a name looked for
// (LOCATION and USN end in N, SERVER in R, NTS in S, uuid in d) or one before
// another colon. Every other colon leaves the record as it is.
bool endsName(char c) { return c == 'N' || c == 'R' || c == 'S' || c == 'd'; }

// The colons of the 16 bytes from p that matter, as bits; reads p[-1] to p[16].
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
    for (int i = 0; i < 16; ++i)
        bits |= static_cast<unsigned>(p[i] == ':' && (endsName(p[i - 1]) || p[i + 1] == ':')) << i;
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
    for (; at < size; ++at) {
        const bool matters =
            begin[at] == ':' && (endsName(begin[at - 1]) || (at + 1 < size && begin[at + 1] == ':'));
        if (matters && !visit(at)) break;
    }
    return c;
}

// The record's texts as pieces of the message (or of the sender's address).
struct Pieces {
    std::string_view id, ip, host, product, extra, version, factory;
};

#if defined(__SSE2__)
// The bits of `c` in the 64 bytes from p.
std::uint64_t marks64(const char* p, char c) {
    const __m128i needle = _mm_set1_epi8(c);
    std::uint64_t bits = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        bits |= static_cast<std::uint64_t>(
                    static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, needle))))
                << (16 * i);
    }
    return bits;
}

// readServer's searches from the version on, when the commas and the line
// end all lie within the 64 bytes from there (the usual answer): every piece
// from one look at those bytes. False, with nothing read, otherwise.
bool readServerWithin64(std::string_view text, std::size_t versionStart, Pieces& p) {
    if (versionStart > text.size() || text.size() - versionStart < 64) return false;
    const char* const base = text.data() + versionStart;
    const std::uint64_t commas = marks64(base, ',');
    if (commas == 0) return false;
    const int comma1 = std::countr_zero(commas);
    const std::uint64_t later = commas & (~std::uint64_t{0} << comma1 << 1);
    if (later == 0) return false;
    const int partStart = std::countr_zero(later) + 2;
    if (partStart >= 64) return false;
    const std::uint64_t ends = marks64(base, '\r') & (~std::uint64_t{0} << partStart);
    if (ends == 0) return false;
    const int partEnd = std::countr_zero(ends);

    p.version = {base, static_cast<std::size_t>(comma1)};
    const int partLen = std::min(partEnd - partStart, static_cast<int>(kProductPartMax));
    const std::string_view part(base + partStart, static_cast<std::size_t>(partLen));
    // partStart + partLen <= partEnd < 64: the shift stays in range.
    std::uint64_t slashes = marks64(base, '/') >> partStart & ((std::uint64_t{1} << partLen) - 1);
    if (slashes == 0) return true;
    const auto next = [&slashes] {
        const std::size_t at = static_cast<std::size_t>(std::countr_zero(slashes));
        slashes &= slashes - 1;
        return at;
    };
    const std::size_t slash1 = next();
    p.factory = part.substr(0, slash1);
    if (slashes == 0) return true;
    const std::size_t slash2 = next();
    p.host = part.substr(slash1 + 1, slash2 - slash1 - 1);
    const std::size_t slash3 = slashes == 0 ? npos : next();
    p.product = part.substr(slash2 + 1, slash3 == npos ? npos : slash3 - slash2 - 1);
    if (slash3 != npos) p.extra = part.substr(slash3 + 1);
    return true;
}
#endif

// SERVER: ... RUZO/<version>,<item>, <factory>/<host>/<product>[/<extra>]\r
// Each missing piece ends the reading; what was read so far is kept.
void readServer(std::string_view text, std::size_t server, std::size_t firstMarker, Pieces& p) {
    if (server == npos) return;
    const std::size_t marker =
        firstMarker >= server && firstMarker + 4 < text.size() && text[firstMarker + 4] == '/'
            ? firstMarker
            : findByLetter(text, "RUZO/", server, 2);
    if (marker == npos) return;
    const std::size_t versionStart = marker + 5;
#if defined(__SSE2__)
    if (readServerWithin64(text, versionStart, p)) return;
#endif
    const std::size_t comma1 = findByte(text, ',', versionStart);
    if (comma1 == npos) return;
    p.version = text.substr(versionStart, comma1 - versionStart);
    const std::size_t comma2 = findByte(text, ',', comma1 + 1);
    if (comma2 == npos) return;
    const std::size_t partStart = comma2 + 2;
    const std::size_t partEnd = findByte(text, '\r', partStart);
    if (partEnd == npos) return;
    const std::string_view part = text.substr(partStart, std::min(partEnd - partStart, kProductPartMax));

    const std::size_t slash1 = findByte(part, '/', 0);
    if (slash1 == npos) return;
    p.factory = part.substr(0, slash1);
    const std::size_t slash2 = findByte(part, '/', slash1 + 1);
    if (slash2 == npos) return;
    p.host = part.substr(slash1 + 1, slash2 - slash1 - 1);
    const std::size_t slash3 = findByte(part, '/', slash2 + 1);
    p.product = part.substr(slash2 + 1, slash3 == npos ? npos : slash3 - slash2 - 1);
    if (slash3 != npos) p.extra = part.substr(slash3 + 1);
}

}  // namespace

std::string_view SsdpSearchRequest() { return {kSearchRequest, sizeof kSearchRequest - 1}; }

bool DecodeSsdpMessage(std::string_view datagram, std::string_view sender, deviceinfo& record) {
    // memchr: its wide steps pay over the whole text.
    const void* nul = std::memchr(datagram.data(), 0, datagram.size());
    const std::string_view text = datagram.substr(
        0, nul == nullptr ? npos : static_cast<std::size_t>(static_cast<const char*>(nul) - datagram.data()));
    const bool answer = text.starts_with("HTTP");
    if (!answer && !text.starts_with("NOTIFY")) return false;
    const std::size_t marker = findByLetter(text, "RUZO", 0, 2);
    if (marker == npos) return false;
    const Colons c = findColons(text, !answer);
    if (c.idEnd == npos) return false;  // no "USN:", "uuid:" after it, or "::" after that

    Pieces p;
    p.id = text.substr(c.uuid + 5, c.idEnd - c.uuid - 5);
    if (c.location != npos) {
        const std::size_t slashes = findByLetter(text, "//", c.location + 9, 0);
        if (slashes == npos) return false;
        const std::size_t start = slashes + 2;
        // A LOCATION without a port ends its address at the path or the line.
        const std::size_t end = findAddressEnd(text, start);
        if (end == npos) return false;
        p.ip = text.substr(start, end - start);
        // The list merges by this text and the desktop opens it: a host name,
        // "127.1" or "1.2.3.4@evil" is no device address.
        if (!IsDottedQuad(p.ip)) return false;
    }
    readServer(text, c.server, marker, p);

    std::int32_t type = kDeviceAnswer;
    if (!answer) {
        if (c.nts == npos || text.find("rootdevice") == npos) return false;
        std::size_t value = c.nts + 4;
        while (value < text.size() && isBlank(text[value])) ++value;
        const std::string_view nt = text.substr(value);
        type = nt.starts_with("ssdp:alive")    ? kDeviceAlive
               : nt.starts_with("ssdp:byebye") ? kDeviceByebye
                                               : 0;
    }

    const char* const textEnd = text.data() + text.size();
    const auto put = [textEnd](char(&field)[32], std::string_view piece) {
        putField(field, piece, piece.empty() ? 0 : static_cast<std::size_t>(textEnd - piece.data()));
    };
    put(record.id, p.id);
    if (c.location != npos)
        put(record.ip, p.ip);
    else
        putField(record.ip, sender, sender.size());
    put(record.host, p.host);
    put(record.product, p.product);
    put(record.extra, p.extra);
    put(record.version, p.version);
    put(record.factory, p.factory);
    record.type = type;
    record.lifetime = deviceinfo{}.lifetime;
    return true;
}
