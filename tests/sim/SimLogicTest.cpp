// nasscout-sim's socket-free parts: configuration, request kinds and the
// safety net that keeps its traffic inside the lab.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ConfigParser.h"
#include "DestinationGuard.h"
#include "Endpoint.h"
#include "MessageBuilder.h"
#include "Net/Ipv4.h"
#include "RequestClassifier.h"
#include "SimError.h"

namespace {

std::uint32_t ip(const char* text) { return *Endpoint::parseAddress(text); }

std::string Describe(const DeviceProfile& d) {
    std::string s = d.id + " " + net::Ipv4Text(d.address) + " " + d.host + "/" + d.maker + "/" + d.product +
                    "/" + d.version + "/" + d.extra + (d.broadcast ? " B" : " -") + (d.ssdp ? "S " : "- ") +
                    std::to_string(d.code) + " " + std::to_string(d.delay).substr(0, 4) + " " +
                    std::to_string(d.maxDelay).substr(0, 4) + " " + std::to_string(d.answers);
    for (const Announcement& a : d.announce) s += " " + std::to_string(a.at).substr(0, 4) + ":" + a.nts;
    return s;
}

// The lab runs prove the keys that shape traffic (sim_lab, cli_lab, the hostile
// burst's generated devices) and that a mistake is refused with exit 2 and one
// line naming it (sim_lab Errors); here what they never see.
TEST(ConfigParser, DefaultsDelaysAndGeneratedDevicesAfterTheListedOnes) {
    const auto devices = ConfigParser::parse(R"({
      "generate": [ { "count": 2, "net": "198.51.100", "first": 253, "code": 2, "max_delay": 0.05 } ],
      "devices": [ { "id": "A1", "address": "203.0.113.12", "extra": "rack", // comments are allowed
                     "delay": 0.25, "announce": [ {"at": 20, "nts": "weird"} ] } ] })");
    std::vector<std::string> described;
    for (const DeviceProfile& d : devices) described.push_back(Describe(d));
    EXPECT_EQ(described, (std::vector<std::string>{
                             "A1 203.0.113.12 /ORVALE/SIM-1/1.0/rack BS 1 0.25 0.00 0 20.0:weird",
                             "GEN1 198.51.100.253 gen-1/ORVALE/SIM-1/1.0/ BS 2 0.00 0.05 0",
                             "GEN2 198.51.100.254 gen-2/ORVALE/SIM-1/1.0/ BS 2 0.00 0.05 0",
                         }));
}

TEST(RequestClassifier, ARequestIsExactly148BytesWithItsOpAndAnMSearchAsksForTheTypeOrAll) {
    using Kind = RequestClassifier::Kind;
    std::string request(148, '\0');
    request[0] = 11;
    const std::pair<std::string, Kind> cases[] = {
        {request, Kind::Broadcast},
        {request + '\0', Kind::None},
        {request.substr(0, 147), Kind::None},
        {'\x0c' + request.substr(1), Kind::None},
        {"M-SEARCH * HTTP/1.1\nhost: x\nst:\tssdp:all \n\n", Kind::Ssdp},
        {"M-SEARCH * HTTP/1.1\r\nST: " + std::string(MessageBuilder::kDeviceType) + "\r\n\r\n", Kind::Ssdp},
        {"M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\n\r\n", Kind::None},
        {"M-SEARCH * HTTP/1.1\r\nXST: ssdp:all\r\n\r\n", Kind::None},
        {"NOTIFY * HTTP/1.1\r\nST: ssdp:all\r\n\r\n", Kind::None},
        {"", Kind::None},
    };
    for (const auto& [datagram, kind] : cases) EXPECT_EQ(RequestClassifier::classify(datagram), kind) << datagram;
}

TEST(DestinationGuard, OnlyLabAddressesTheGroupAndTheLimitedBroadcastUnlessAnyIsAllowed) {
    const DestinationGuard guard(false), any(true);
    for (const char* allowed : {"198.51.100.1", "198.51.100.255", "203.0.113.0", "203.0.113.77",
                                "169.254.10.10", "239.143.255.250", "255.255.255.255"})
        EXPECT_TRUE(guard.allowsDestination(ip(allowed))) << allowed;
    for (const char* refused : {"10.0.0.1", "127.0.0.1", "198.51.101.1", "203.0.112.255", "239.255.255.250",
                                "0.0.0.0", "192.168.1.255", "169.255.0.1"}) {
        EXPECT_FALSE(guard.allowsDestination(ip(refused))) << refused;
        EXPECT_TRUE(any.allowsDestination(ip(refused))) << refused;
    }
    EXPECT_TRUE(guard.allowsSource(ip("203.0.113.10")) && any.allowsSource(ip("192.168.1.20")));
    EXPECT_FALSE(guard.allowsSource(ip("239.143.255.250")));
    EXPECT_THAT([&] { guard.checkSource(ip("192.168.1.20"), "--from"); },
                testing::ThrowsMessage<SimError>(testing::HasSubstr("--allow-any-destination")));
}

}  // namespace
