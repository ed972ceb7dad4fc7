// Checks shared by the harnesses: a failed check aborts, so libFuzzer and the
// replay driver both report it as a finding.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "Common/CommonStruct.h"

#define FUZZ_CHECK(cond)                                                              \
    do {                                                                              \
        if (!(cond)) {                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                             \
        }                                                                             \
    } while (0)

namespace fuzzcheck {

// A 32-byte text field holds at most 31 characters and only zeros after its
// terminator: the list compares and copies these fields as C strings.
inline bool wellTerminated(const char (&field)[32]) {
    const void* nul = std::memchr(field, 0, sizeof field);
    if (nul == nullptr) return false;
    for (const char* p = static_cast<const char*>(nul); p < field + sizeof field; ++p)
        if (*p != 0) return false;
    return true;
}

inline void checkTexts(const deviceinfo& d) {
    FUZZ_CHECK(wellTerminated(d.id));
    FUZZ_CHECK(wellTerminated(d.ip));
    FUZZ_CHECK(wellTerminated(d.host));
    FUZZ_CHECK(wellTerminated(d.product));
    FUZZ_CHECK(wellTerminated(d.extra));
    FUZZ_CHECK(wellTerminated(d.version));
    FUZZ_CHECK(wellTerminated(d.factory));
}

// The input as the receive loop hands a datagram over: cut to 1024 bytes, in
// a buffer of exactly its size (so a read past it is a finding), with a record
// full of stale bytes that the decoder must overwrite.
struct Datagram {
    Datagram(const std::uint8_t* data, std::size_t length)
        : size(std::min<std::size_t>(length, 1024)), bytes(new char[size]) {
        std::memcpy(bytes.get(), data, size);
        std::memset(static_cast<void*>(&record), 0x5A, sizeof record);
    }
    std::string_view text() const { return {bytes.get(), size}; }

    std::size_t size;
    std::unique_ptr<char[]> bytes;
    deviceinfo record;
};

}  // namespace fuzzcheck
