// Records shared by the search engine and its front end: plain data, no
// sockets, threads or log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <type_traits>

// One discovered device. A plain fixed-size value: copied by assignment,
// passed by value, and handed across the C callback boundary as a raw block.
struct deviceinfo {
    char id[32] = {};
    char ip[32] = {};
    char host[32] = {};
    char product[32] = {};
    char extra[32] = {};
    char version[32] = {};
    char factory[32] = {};
    std::int32_t type = 0;
    std::int64_t lifetime = 60;

    // Equal when all seven texts (up to their terminators) and type agree;
    // lifetime does not count.
    bool compare(const deviceinfo& other) const;
    // Copies every field; bytes after each terminator become zero.
    void alterValue(deviceinfo other);
    // Back to the freshly constructed state: empty texts, type 0, lifetime 60.
    void clear();
};

static_assert(std::is_aggregate_v<deviceinfo>);
static_assert(std::is_trivially_copyable_v<deviceinfo>);
static_assert(std::is_standard_layout_v<deviceinfo>);
static_assert(offsetof(deviceinfo, ip) == 32 && offsetof(deviceinfo, factory) == 192);
static_assert(offsetof(deviceinfo, type) == 224);

// Forces a terminator into the last byte of every text. Records cross the
// callback boundary as raw blocks; one written without terminators must not
// make later string reads run past its fields.
inline void TerminateDeviceTexts(deviceinfo& d) {
    for (char* text : {d.id, d.ip, d.host, d.product, d.extra, d.version, d.factory}) text[31] = '\0';
}

// Message kinds carried in deviceinfo::type.
enum : std::int32_t {
    kDeviceAnswer = 1,
    kDeviceAlive = 2,
    kDeviceByebye = 4,
};

// The broadcast protocol's 148-byte packet. Every multi-byte field is a byte
// array, so the layout has no padding and byte order never matters.
struct dhcppacket {
    std::uint8_t op;
    std::uint8_t code;
    std::uint8_t spareA;
    std::uint8_t spareB;
    std::uint8_t marker[4];
    std::uint8_t spareC[4];
    std::uint8_t spareD[4];
    std::uint8_t spareE[4];
    char options[128];
};

static_assert(sizeof(dhcppacket) == 148);
static_assert(std::is_trivially_copyable_v<dhcppacket>);
static_assert(offsetof(dhcppacket, op) == 0 && offsetof(dhcppacket, code) == 1);
static_assert(offsetof(dhcppacket, spareA) == 2 && offsetof(dhcppacket, spareB) == 3);
static_assert(offsetof(dhcppacket, marker) == 4 && offsetof(dhcppacket, spareC) == 8);
static_assert(offsetof(dhcppacket, spareD) == 12 && offsetof(dhcppacket, spareE) == 16);
static_assert(offsetof(dhcppacket, options) == 20);

enum : std::uint8_t {
    kDhcpOpRequest = 11,
    kDhcpOpAnswer = 12,
};

// Device callback: (deviceinfo*, reporting worker's port) -> ignored result.
typedef int (*DeviceCallback)(void*, int);
