#include "MessageBuilder.h"

#include <algorithm>
#include <cstring>

#include "Common/CommonStruct.h"
#include "Endpoint.h"
#include "Net/Ipv4.h"

std::array<std::uint8_t, 148> MessageBuilder::broadcastAnswer(const DeviceProfile& device) {
    dhcppacket packet{};
    packet.op = kDhcpOpAnswer;
    packet.code = static_cast<std::uint8_t>(device.code);
    std::memset(packet.marker, 0xFF, sizeof packet.marker);
    const std::string options =
        "id=" + device.id + "&host=" + device.host + "&vendor=" + device.maker + "&product=" + device.product;
    std::memcpy(packet.options, options.data(), std::min(options.size(), sizeof packet.options));

    std::array<std::uint8_t, 148> bytes{};
    std::memcpy(bytes.data(), &packet, sizeof packet);
    return bytes;
}

std::string MessageBuilder::location(const DeviceProfile& device) {
    return "http://" + net::Ipv4Text(device.address) + ":5000/desc.xml";
}

std::string MessageBuilder::server(const DeviceProfile& device) {
    std::string text = "Linux/5.10 RUZO/" + device.version + ", UPnP/1.0, " + device.maker + "/" + device.host + "/" +
                       device.product;
    if (!device.extra.empty()) text += "/" + device.extra;
    return text;
}

std::string MessageBuilder::ssdpAnswer(const DeviceProfile& device) {
    return "HTTP/1.1 200 OK\r\n"
           "CACHE-CONTROL: max-age=1800\r\n"
           "LOCATION: " + location(device) + "\r\n"
           "SERVER: " + server(device) + "\r\n"
           "ST: " + std::string(kDeviceType) + "\r\n"
           "USN: uuid:" + device.id + "::" + kDeviceType + "\r\n"
           "\r\n";
}

std::string MessageBuilder::ssdpNotify(const DeviceProfile& device, const std::string& nts) {
    return "NOTIFY * HTTP/1.1\r\n"
           "HOST: 239.143.255.250:1900\r\n"
           "LOCATION: " + location(device) + "\r\n"
           "NT: upnp:rootdevice\r\n"
           "NTS: ssdp:" + nts + "\r\n"
           "SERVER: " + server(device) + "\r\n"
           "USN: uuid:" + device.id + "::upnp:rootdevice\r\n"
           "\r\n";
}
