#include "ConfigParser.h"
#include "Endpoint.h"
#include "SimError.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::uint32_t ip(const char* text) { return *Endpoint::parseAddress(text); }

TEST(ConfigParser, DeviceWithOnlyIdAndAddressGetsTheDefaults) {
    const auto devices = ConfigParser::parse(R"({"devices": [{"id": "A1", "address": "198.51.100.10"}]})");
    ASSERT_EQ(devices.size(), 1u);
    const DeviceProfile& device = devices[0];
    EXPECT_EQ(device.id, "A1");
    EXPECT_EQ(device.address, ip("198.51.100.10"));
    EXPECT_EQ(device.host, "");
    EXPECT_EQ(device.maker, "ORVALE");
    EXPECT_EQ(device.product, "SIM-1");
    EXPECT_EQ(device.version, "1.0");
    EXPECT_EQ(device.extra, "");
    EXPECT_TRUE(device.broadcast);
    EXPECT_TRUE(device.ssdp);
    EXPECT_EQ(device.code, 1);
    EXPECT_EQ(device.delay, 0);
    EXPECT_EQ(device.maxDelay, 0);
    EXPECT_EQ(device.answers, 0);
    EXPECT_TRUE(device.announce.empty());
}

TEST(ConfigParser, ReadsEveryDeviceKeyAndAcceptsComments) {
    const auto devices = ConfigParser::parse(R"({ "devices": [
      { "id": "A1B2C3", "address": "203.0.113.12", "host": "nas-office", "maker": "acme",
        "product": "DS-220", "version": "2.1.7", "extra": "rack",
        "protocols": ["ssdp"],   // no broadcast
        "code": 4, "delay": 0.25, "max_delay": 1.5, "answers": -1,
        "announce": [ {"at": 5.0, "nts": "alive"}, {"at": 20, "nts": "weird"} ] } ] })");
    ASSERT_EQ(devices.size(), 1u);
    const DeviceProfile& device = devices[0];
    EXPECT_EQ(device.address, ip("203.0.113.12"));
    EXPECT_EQ(device.host, "nas-office");
    EXPECT_EQ(device.maker, "acme");
    EXPECT_EQ(device.product, "DS-220");
    EXPECT_EQ(device.version, "2.1.7");
    EXPECT_EQ(device.extra, "rack");
    EXPECT_FALSE(device.broadcast);
    EXPECT_TRUE(device.ssdp);
    EXPECT_EQ(device.code, 4);
    EXPECT_DOUBLE_EQ(device.delay, 0.25);
    EXPECT_DOUBLE_EQ(device.maxDelay, 1.5);
    EXPECT_EQ(device.answers, -1);
    ASSERT_EQ(device.announce.size(), 2u);
    EXPECT_DOUBLE_EQ(device.announce[0].at, 5.0);
    EXPECT_EQ(device.announce[0].nts, "alive");
    EXPECT_DOUBLE_EQ(device.announce[1].at, 20.0);
    EXPECT_EQ(device.announce[1].nts, "weird");
}

TEST(ConfigParser, GenerateMakesConsecutiveDevicesAfterTheListedOnes) {
    const auto devices = ConfigParser::parse(R"({
      "generate": [ { "count": 3, "net": "198.51.100", "first": 252, "maker": "ACME",
                      "protocols": ["broadcast"], "max_delay": 0.05, "code": 2 },
                    { "count": 1, "net": "203.0.113", "first": 10, "id_prefix": "X" } ],
      "devices": [ { "id": "ONE", "address": "198.51.100.10" } ] })");
    ASSERT_EQ(devices.size(), 5u);
    EXPECT_EQ(devices[0].id, "ONE");
    for (int n = 1; n <= 3; ++n) {
        const DeviceProfile& device = devices[static_cast<std::size_t>(n)];
        EXPECT_EQ(device.id, "GEN" + std::to_string(n));
        EXPECT_EQ(device.host, "gen-" + std::to_string(n));
        EXPECT_EQ(device.address, ip("198.51.100.252") + static_cast<std::uint32_t>(n - 1));
        EXPECT_EQ(device.maker, "ACME");
        EXPECT_EQ(device.product, "SIM-1");
        EXPECT_EQ(device.version, "1.0");
        EXPECT_TRUE(device.broadcast);
        EXPECT_FALSE(device.ssdp);
        EXPECT_EQ(device.code, 2);
        EXPECT_DOUBLE_EQ(device.maxDelay, 0.05);
    }
    EXPECT_EQ(devices[4].id, "X1");
    EXPECT_EQ(devices[4].address, ip("203.0.113.10"));
}

TEST(ConfigParser, MistakesAreUsageErrorsThatNameThePlace) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"devices": [)", "not valid JSON"},
        {R"([1, 2])", "top level: expected an object"},
        {R"({"device": []})", "top level: unknown key \"device\""},
        {R"({"devices": [{"id": "A", "address": "198.51.100.10", "colour": "red"}]})",
         "devices[0]: unknown key \"colour\""},
        {R"({"devices": [{"address": "198.51.100.10"}]})", "devices[0]: missing \"id\""},
        {R"({"devices": [{"id": "A", "address": "198.51.100.300"}]})", "devices[0].address: not an IPv4 address"},
        {R"({"devices": [{"id": 7, "address": "198.51.100.10"}]})", "devices[0].id: expected a text"},
        {R"({"devices": [{"id": "A", "address": "198.51.100.10", "code": 256}]})",
         "devices[0].code: expected an integer 0..255"},
        {R"({"devices": [{"id": "A", "address": "198.51.100.10", "code": 1.5}]})", "devices[0].code: expected an"},
        {R"({"devices": [{"id": "A", "address": "198.51.100.10", "delay": -1}]})", "devices[0].delay: expected sec"},
        {R"({"devices": [{"id": "A", "address": "198.51.100.10", "answers": -2}]})", "devices[0].answers"},
        {R"({"devices": [{"id": "A", "address": "198.51.100.10", "protocols": ["tcp"]}]})",
         "devices[0].protocols[0]: unknown protocol \"tcp\""},
        {R"({"devices": [{"id": "A", "address": "198.51.100.10", "announce": [{"at": 1, "to": 2}]}]})",
         "devices[0].announce[0]: unknown key \"to\""},
        {R"({"generate": [{"count": 10, "net": "198.51.100", "first": 250}]})", "first + count - 1 = 259"},
        {R"({"generate": [{"count": 1, "net": "198.51", "first": 10}]})", "generate[0].net"},
        {R"({"generate": [{"count": 1, "net": "198.51.100", "first": 10, "host": "h"}]})",
         "generate[0]: unknown key \"host\""},
    };
    for (const auto& [json, message] : cases) {
        SCOPED_TRACE(json);
        try {
            ConfigParser::parse(json);
            ADD_FAILURE() << "accepted";
        } catch (const SimError& error) {
            EXPECT_EQ(error.exitCode(), SimError::kUsage);
            EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << "message: " << error.what();
        }
    }
}

TEST(ConfigParser, MissingFileIsAUsageErrorNamingThePath) {
    try {
        ConfigParser::load("/nonexistent/lan.json");
        FAIL();
    } catch (const SimError& error) {
        EXPECT_EQ(error.exitCode(), SimError::kUsage);
        EXPECT_NE(std::string(error.what()).find("/nonexistent/lan.json"), std::string::npos);
    }
}

}  // namespace
