// deviceinfo: equality, whole-record update and reset.
#include <gtest/gtest.h>

#include <cstring>

#include "CommonStruct.h"

namespace {

deviceinfo sample() {
    deviceinfo d;
    std::strcpy(d.id, "0011AABB");
    std::strcpy(d.ip, "198.51.100.10");
    std::strcpy(d.host, "archive");
    std::strcpy(d.product, "NS-200");
    std::strcpy(d.extra, "x1");
    std::strcpy(d.version, "4.2.1");
    std::strcpy(d.factory, "ORVALE");
    d.type = kDeviceAnswer;
    return d;
}

// Every text field of a record, for tests that must touch each of them.
char* field(deviceinfo& d, int i) {
    char* fields[] = {d.id, d.ip, d.host, d.product, d.extra, d.version, d.factory};
    return fields[i];
}

bool bytesAfterTerminatorAreZero(const char* f) {
    for (std::size_t i = std::strlen(f); i < 32; ++i)
        if (f[i] != 0) return false;
    return true;
}

TEST(DeviceRecord, CompareLooksAtTextsUpToTerminatorAndType) {
    deviceinfo a = sample();
    deviceinfo b = sample();
    b.lifetime = 10;
    EXPECT_TRUE(a.compare(b)) << "lifetime must not count";

    for (int i = 0; i < 7; ++i) {
        deviceinfo c = sample();
        char* f = field(c, i);
        f[std::strlen(f) + 1] = 'Z';  // garbage behind the terminator
        f[31] = 'Q';
        EXPECT_TRUE(a.compare(c)) << "field " << i;
        EXPECT_TRUE(c.compare(a)) << "field " << i;
    }

    deviceinfo alive = sample();
    alive.type = kDeviceAlive;
    EXPECT_FALSE(a.compare(alive));
}

TEST(DeviceRecord, CompareSeesADifferenceInEveryText) {
    const deviceinfo a = sample();
    for (int i = 0; i < 7; ++i) {
        deviceinfo c = sample();
        field(c, i)[0] ^= 0x20;
        EXPECT_FALSE(a.compare(c)) << "field " << i;
        deviceinfo longer = sample();
        std::strcat(field(longer, i), "+");
        EXPECT_FALSE(a.compare(longer)) << "field " << i;
    }
}

TEST(DeviceRecord, AlterValueCopiesEverythingAndZeroesStrayBytes) {
    deviceinfo src = sample();
    src.type = kDeviceAlive;
    src.lifetime = 47;
    for (int i = 0; i < 7; ++i) {
        char* f = field(src, i);
        std::memset(f + std::strlen(f) + 1, 'S', 32 - std::strlen(f) - 1);
    }

    deviceinfo dst;
    for (int i = 0; i < 7; ++i) std::memset(field(dst, i), 'D', 31);  // longer old texts
    dst.alterValue(src);

    EXPECT_TRUE(dst.compare(src));
    EXPECT_EQ(dst.type, kDeviceAlive);
    EXPECT_EQ(dst.lifetime, 47);
    for (int i = 0; i < 7; ++i) {
        const char* f = field(dst, i);
        EXPECT_STREQ(f, field(src, i));
        EXPECT_TRUE(bytesAfterTerminatorAreZero(f)) << "field " << i;
    }
}

TEST(DeviceRecord, ClearGivesTheFreshState) {
    deviceinfo d = sample();
    d.type = kDeviceByebye;
    d.lifetime = 0;
    std::memset(d.host, 'h', 31);
    d.clear();

    EXPECT_EQ(d.type, 0);
    EXPECT_EQ(d.lifetime, 60);
    for (int i = 0; i < 7; ++i) {
        const char* f = field(d, i);
        for (int j = 0; j < 32; ++j) ASSERT_EQ(f[j], 0) << "field " << i;
    }
}

}  // namespace
