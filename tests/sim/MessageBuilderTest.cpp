#include "Endpoint.h"
#include "MessageBuilder.h"
#include "RequestClassifier.h"

#include <gtest/gtest.h>

#include <string>

namespace {

DeviceProfile office() {
    DeviceProfile device;
    device.id = "A1B2C3";
    device.address = *Endpoint::parseAddress("198.51.100.10");
    device.host = "nas-office";
    device.maker = "ORVALE";
    device.product = "DS-220";
    device.version = "2.1.7";
    device.extra = "rack";
    device.code = 4;
    return device;
}

TEST(MessageBuilder, BroadcastAnswerLayout) {
    const auto bytes = MessageBuilder::broadcastAnswer(office());
    ASSERT_EQ(bytes.size(), 148u);
    EXPECT_EQ(bytes[0], 12);
    EXPECT_EQ(bytes[1], 4);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[3], 0);
    for (int i = 4; i < 8; ++i) EXPECT_EQ(bytes[i], 0xFF) << i;
    for (int i = 8; i < 20; ++i) EXPECT_EQ(bytes[i], 0) << i;
    const std::string options = "id=A1B2C3&host=nas-office&vendor=ORVALE&product=DS-220";
    EXPECT_EQ(std::string(bytes.begin() + 20, bytes.begin() + 20 + options.size()), options);
    for (std::size_t i = 20 + options.size(); i < bytes.size(); ++i) EXPECT_EQ(bytes[i], 0) << i;
}

TEST(MessageBuilder, BroadcastOptionTextIsCutAt128Bytes) {
    DeviceProfile device = office();
    device.host = std::string(200, 'h');
    const auto bytes = MessageBuilder::broadcastAnswer(device);
    const std::string expected = ("id=A1B2C3&host=" + device.host).substr(0, 128);
    EXPECT_EQ(std::string(bytes.begin() + 20, bytes.end()), expected);
}

TEST(MessageBuilder, SsdpAnswerText) {
    EXPECT_EQ(MessageBuilder::ssdpAnswer(office()),
              "HTTP/1.1 200 OK\r\n"
              "CACHE-CONTROL: max-age=1800\r\n"
              "LOCATION: http://198.51.100.10:5000/desc.xml\r\n"
              "SERVER: Linux/5.10 RUZO/2.1.7, UPnP/1.0, ORVALE/nas-office/DS-220/rack\r\n"
              "ST: urn:schemas-upnp-org:device:LarkvatDevice:1\r\n"
              "USN: uuid:A1B2C3::urn:schemas-upnp-org:device:LarkvatDevice:1\r\n"
              "\r\n");
}

TEST(MessageBuilder, NotifyTextAndNoTrailingSlashWithoutExtra) {
    DeviceProfile device = office();
    device.extra.clear();
    EXPECT_EQ(MessageBuilder::ssdpNotify(device, "byebye"),
              "NOTIFY * HTTP/1.1\r\n"
              "HOST: 239.143.255.250:1900\r\n"
              "LOCATION: http://198.51.100.10:5000/desc.xml\r\n"
              "NT: upnp:rootdevice\r\n"
              "NTS: ssdp:byebye\r\n"
              "SERVER: Linux/5.10 RUZO/2.1.7, UPnP/1.0, ORVALE/nas-office/DS-220\r\n"
              "USN: uuid:A1B2C3::upnp:rootdevice\r\n"
              "\r\n");
}

using Kind = RequestClassifier::Kind;

std::string request(std::uint8_t op, std::size_t size) {
    std::string bytes(size, '\0');
    if (size > 0) bytes[0] = static_cast<char>(op);
    return bytes;
}

TEST(RequestClassifier, BroadcastRequestIsExactly148BytesWithOp11) {
    EXPECT_EQ(RequestClassifier::classify(request(11, 148)), Kind::Broadcast);
    EXPECT_EQ(RequestClassifier::classify(request(11, 147)), Kind::None);
    EXPECT_EQ(RequestClassifier::classify(request(11, 149)), Kind::None);
    EXPECT_EQ(RequestClassifier::classify(request(12, 148)), Kind::None);
    EXPECT_EQ(RequestClassifier::classify(""), Kind::None);
}

TEST(RequestClassifier, MSearchMustAskForTheDeviceTypeOrAll) {
    const std::string search =
        "M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\n"
        "ST: urn:schemas-upnp-org:device:LarkvatDevice:1\r\nMAN: \"ssdp:discover\"\r\nMX: 3\r\n\r\n";
    EXPECT_EQ(RequestClassifier::classify(search), Kind::Ssdp);
    EXPECT_EQ(RequestClassifier::classify("M-SEARCH * HTTP/1.1\nhost: x\nst:\tssdp:all \n\n"), Kind::Ssdp);
    EXPECT_EQ(RequestClassifier::classify("M-SEARCH * HTTP/1.1\r\nST: upnp:rootdevice\r\n\r\n"), Kind::None);
    EXPECT_EQ(RequestClassifier::classify("M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\n\r\n"), Kind::None);
    // The type inside another header is not a search target.
    EXPECT_EQ(RequestClassifier::classify("M-SEARCH * HTTP/1.1\r\nXST: ssdp:all\r\n\r\n"), Kind::None);
    EXPECT_EQ(RequestClassifier::classify("NOTIFY * HTTP/1.1\r\nST: ssdp:all\r\n\r\n"), Kind::None);
    EXPECT_EQ(RequestClassifier::classify(MessageBuilder::ssdpAnswer(office())), Kind::None);
}

}  // namespace
