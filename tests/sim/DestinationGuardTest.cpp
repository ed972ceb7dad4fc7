#include "DestinationGuard.h"
#include "Endpoint.h"
#include "SimError.h"

#include <gtest/gtest.h>

namespace {

std::uint32_t ip(const char* text) { return *Endpoint::parseAddress(text); }

TEST(DestinationGuard, AllowsOnlyTheLabTheGroupAndTheLimitedBroadcast) {
    const DestinationGuard guard(false);
    for (const char* allowed : {"198.51.100.1", "198.51.100.255", "203.0.113.0", "203.0.113.77", "239.143.255.250",
                                "255.255.255.255"})
        EXPECT_TRUE(guard.allowsDestination(ip(allowed))) << allowed;
    for (const char* refused : {"10.0.0.1", "127.0.0.1", "198.51.101.1", "203.0.112.255", "239.255.255.250",
                                "0.0.0.0", "192.168.1.255"})
        EXPECT_FALSE(guard.allowsDestination(ip(refused))) << refused;
    EXPECT_THROW(guard.checkDestination(ip("10.0.0.1")), SimError);
}

TEST(DestinationGuard, SourcesMustBeLabAddresses) {
    const DestinationGuard guard(false);
    EXPECT_TRUE(guard.allowsSource(ip("203.0.113.10")));
    EXPECT_FALSE(guard.allowsSource(ip("239.143.255.250")));
    EXPECT_FALSE(guard.allowsSource(ip("192.168.1.20")));
    try {
        guard.checkSource(ip("192.168.1.20"), "--from");
        FAIL();
    } catch (const SimError& error) {
        EXPECT_EQ(error.exitCode(), SimError::kUsage);
        EXPECT_NE(std::string(error.what()).find("--allow-any-destination"), std::string::npos);
    }
}

TEST(DestinationGuard, AllowAnyLiftsBothChecks) {
    const DestinationGuard guard(true);
    EXPECT_TRUE(guard.allowsDestination(ip("10.0.0.1")));
    EXPECT_TRUE(guard.allowsSource(ip("192.168.1.20")));
    EXPECT_NO_THROW(guard.checkDestination(ip("8.8.8.8")));
}

TEST(Endpoint, ParsesAddressesAndPorts) {
    EXPECT_EQ(Endpoint::parse("198.51.100.1:67", true, "--to"), (Endpoint{ip("198.51.100.1"), 67}));
    EXPECT_EQ(Endpoint::parse("198.51.100.10", false, "--from"), (Endpoint{ip("198.51.100.10"), 0}));
    EXPECT_EQ(Endpoint::parse("198.51.100.10:0", false, "--from").port, 0);
    EXPECT_EQ(Endpoint::addressText(ip("203.0.113.9")), "203.0.113.9");
    for (const char* bad : {"198.51.100.1", "198.51.100.1:", "198.51.100.1:0", "198.51.100.1:65536",
                            "198.51.100.1:6x", "nas:67", "198.51.100:67", "198.51.100.1.1:67", ":67"}) {
        try {
            Endpoint::parse(bad, true, "--to");
            ADD_FAILURE() << "accepted " << bad;
        } catch (const SimError& error) {
            EXPECT_EQ(error.exitCode(), SimError::kUsage);
            EXPECT_EQ(std::string(error.what()).rfind("--to: ", 0), 0u) << error.what();
        }
    }
}

}  // namespace
