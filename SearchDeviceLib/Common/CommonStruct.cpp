#include "Common/CommonStruct.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// strncpy semantics over a whole field: text up to the terminator, then zeros.
void copyField(char (&dst)[32], const char (&src)[32]) { std::strncpy(dst, src, sizeof dst); }

// strncmp(a, b, 32) == 0, without the library call: the repeat filter and
// the list merge compare every record they see.
bool sameField(const char (&a)[32], const char (&b)[32]) {
#if defined(__SSE2__)
    // Where the texts first differ or a ends; equal when none is found or
    // both end there.
    const auto stops = [&](int half) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + half));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + half));
        const __m128i stop = _mm_or_si128(_mm_xor_si128(_mm_cmpeq_epi8(x, y), _mm_set1_epi8(-1)),
                                          _mm_cmpeq_epi8(x, _mm_setzero_si128()));
        return static_cast<std::uint32_t>(_mm_movemask_epi8(stop));
    };
    const std::uint32_t bits = stops(0) | stops(16) << 16;
    return bits == 0 || a[std::countr_zero(bits)] == b[std::countr_zero(bits)];
#else
    return std::strncmp(a, b, 32) == 0;
#endif
}

}  // namespace

bool deviceinfo::compare(const deviceinfo& other) const {
    return sameField(id, other.id) && sameField(ip, other.ip) && sameField(host, other.host) &&
           sameField(product, other.product) && sameField(extra, other.extra) &&
           sameField(version, other.version) && sameField(factory, other.factory) &&
           type == other.type;
}

void deviceinfo::alterValue(deviceinfo other) {
    copyField(id, other.id);
    copyField(ip, other.ip);
    copyField(host, other.host);
    copyField(product, other.product);
    copyField(extra, other.extra);
    copyField(version, other.version);
    copyField(factory, other.factory);
    lifetime = other.lifetime;
    type = other.type;
}

void deviceinfo::clear() { *this = deviceinfo{}; }
