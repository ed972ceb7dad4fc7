// Broadcast answers and SSDP messages fed straight into their decoding workers.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "SearchDeviceBroadcastThread.h"
#include "SearchDeviceClient.h"
#include "SearchDeviceMulticastThread.h"
#include "WorkerTestSupport.h"

using namespace std::string_literals;
using namespace workertest;

namespace {

std::string BroadcastAnswer(std::uint8_t op, std::uint8_t code, const std::string& options) {
    std::string bytes(148, '\0');
    bytes[0] = static_cast<char>(op);
    bytes[1] = static_cast<char>(code);
    bytes.replace(4, 4, 4, '\xFF');
    options.copy(bytes.data() + 20, std::min<std::size_t>(options.size(), 128));
    return bytes;
}

std::vector<std::string> g_handed;  // "id|ip|host|product|extra|version|factory|type" of each hand-over
int g_port = 0;                     // the port each must come with

int Record(void* record, int port) {
    const deviceinfo& d = *static_cast<deviceinfo*>(record);
    std::string fields;
    for (const char* text : {d.id, d.ip, d.host, d.product, d.extra, d.version, d.factory})
        fields += std::string(text, strnlen(text, 32)) + "|";
    g_handed.push_back(fields + std::to_string(d.type));
    EXPECT_EQ(port, g_port);
    EXPECT_EQ(d.lifetime, 60);
    return 0;
}

// Workers that never opened a socket, fed as the receive loop feeds them but
// with no zero byte after the datagram, so nothing may be read past it.
class Decoders : public ::testing::Test {
protected:
    void SetUp() override {
        LogText();
        CSearchDeviceClient::SetDeviceCallback(&Record);
        broadcast.nPort = 67;
        ssdp.nPort = 1900;
    }
    // What was handed over because of one datagram.
    std::vector<std::string> Feed(CSearchDeviceThread& worker, const std::string& bytes, std::string sender) {
        auto exact = std::make_unique<char[]>(bytes.size());
        bytes.copy(exact.get(), bytes.size());
        g_handed.clear();
        g_port = worker.Port();
        worker.HandleReceiveInfo(exact.get(), static_cast<int>(bytes.size()), sender);
        return g_handed;
    }
    std::vector<std::string> Broadcast(const std::string& bytes, const std::string& sender = "192.168.1.20") {
        return Feed(broadcast, bytes, sender);
    }
    std::vector<std::string> Ssdp(const std::string& text) { return Feed(ssdp, text, "198.51.100.77"); }
    // The one record's fields after forgetting the last one, or "dropped".
    std::string SsdpRecord(const std::string& text) {
        ssdp.ClearOldDeviceInfo();
        const auto got = Ssdp(text);
        return got.size() == 1 ? got[0] : "dropped";
    }
    template <typename W>
    struct Opened : W {
        using W::nPort;
    };
    Opened<CSearchDeviceBroadcastThread> broadcast;
    Opened<CSearchDeviceMulticastThread> ssdp;
};
using BroadcastDecode = Decoders;
using SsdpDecode = Decoders;

TEST_F(BroadcastDecode, OnlyExactly148BytesWithTheAnswerOpAreDecoded) {
    LogTail log;
    std::string big = BroadcastAnswer(12, 1, "id=A1&vendor=acme") + std::string(900, '\0');
    for (std::size_t length : {0, 1, 147, 149, 1024}) EXPECT_TRUE(Broadcast(big.substr(0, length)).empty()) << length;
    EXPECT_EQ(log.Count("SendThread 67 :"), 0u) << "wrong sizes are dropped without a line";
    for (int op : {11, 0}) {
        const std::string sender = "10.1.2." + std::to_string(op);
        EXPECT_TRUE(Broadcast(BroadcastAnswer(op, 1, "id=A1&vendor=acme"), sender).empty());
        EXPECT_TRUE(log.Has("SendThread 67 : Recive IP : " + sender + " is not Device "));
    }
    EXPECT_EQ(Broadcast(big.substr(0, 148), std::string(40, '9')),
              std::vector<std::string>{"A1|" + std::string(31, '9') + "|||||acme|1"});
    EXPECT_TRUE(log.Has("SendThread 67 : Handle Broadcast Recive Information Success "));
}

// The fields of an answer with code 4 from 192.168.1.20.
std::string Record(const std::string& id, const std::string& host, const std::string& product,
                   const std::string& factory) {
    return id + "|192.168.1.20|" + host + "|" + product + "|||" + factory + "|4";
}

TEST_F(BroadcastDecode, KeysMatchWholeAtPairBoundariesAndValuesStayInsideTheOptionArea) {
    const std::string x40(40, 'x'), x31(31, 'x');
    std::string noZero = "vendor=acme&id=" + std::string(40, 'i') + "&host=";
    noZero += std::string(128 - noZero.size() - 3, 'h') + "&p=";
    const struct {
        std::string options, expect;
    } cases[] = {
        {"id=A1&host=nas&vendor=acme&product=box", Record("A1", "nas", "box", "acme")},
        {"id=" + x40 + "&host=" + x40, Record(x31, x31, "", "")},
        {"vendorid=7&id=9&subvendor=bad&vendor=good", Record("9", "", "", "good")},
        {"host=a&host=b&id=&vendor=v&other&id=late", Record("", "a", "", "v")},
        {noZero, Record(std::string(31, 'i'), std::string(31, 'h'), "", "acme")},
        {"x" + std::string(116, 'z') + "&product=ab", Record("", "", "ab", "")},
        {std::string(124, 'q') + "&hos", Record("", "", "", "")},
        {"id=A1&vendor=acme\0&host=hidden"s, Record("A1", "", "", "acme")},
    };
    for (const auto& c : cases) {
        broadcast.ClearOldDeviceInfo();
        EXPECT_EQ(Broadcast(BroadcastAnswer(12, 4, c.options)), std::vector<std::string>{c.expect}) << c.options;
    }
}

TEST_F(BroadcastDecode, RepeatIsDroppedUntilTheNextSearchOrAnotherRecord) {
    LogTail log;
    const std::string answer = BroadcastAnswer(12, 1, "id=A1&vendor=acme");
    for (std::size_t handed : {1, 0, 0}) EXPECT_EQ(Broadcast(answer).size(), handed) << "a repeat forgets nothing";
    EXPECT_EQ(log.Count("SendThread 67 : Handle Broadcast Recive Information Fail "), 2u);
    broadcast.ClearOldDeviceInfo();
    EXPECT_EQ(Broadcast(answer).size(), 1u);
    EXPECT_EQ(Broadcast(BroadcastAnswer(12, 1, "id=B2&vendor=acme")).size(), 1u);
    EXPECT_EQ(Broadcast(answer).size(), 1u) << "only the last record is remembered";
    EXPECT_EQ(Broadcast(answer, "192.168.1.21").size(), 1u);
    EXPECT_EQ(Broadcast(BroadcastAnswer(12, 4, "id=A1&vendor=acme"), "192.168.1.21").size(), 1u);
}

const std::string kLocation = "LOCATION: http://198.51.100.10:5000/desc.xml\r\n";
const std::string kServer = "SERVER: Linux/5.10 UPnP/1.0 RUZO/2.1.7,build42, acme/nas-1/box/rack\r\n";
const std::string kUsn = "USN: uuid:0011:2233::urn:schemas-upnp-org:device:LarkvatDevice:1\r\n";

std::string Answer(const std::string& location = kLocation, const std::string& server = kServer,
                   const std::string& usn = kUsn) {
    return "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\n" + location + server + usn + "\r\n";
}

std::string Notify(const std::string& nts, const std::string& nt = "upnp:rootdevice") {
    return "NOTIFY * HTTP/1.1\r\nNT: " + nt + "\r\nNTS:" + nts + "\r\n" + kLocation + kServer + kUsn + "\r\n";
}

std::string Server(const std::string& part) { return "SERVER: RUZO/1.0,x, " + part + "\r\n"; }

// What getifaddrs reports on a laptop with Wi-Fi, a dock, a VPN and a
// link-local cable: only the ones a limited broadcast can leave by.
TEST(BroadcastInterfaces, EveryUpBroadcastInterfaceOnceWithItsFirstIPv4Address) {
    struct Row {
        const char* name;
        int family;
        const char* address;
        unsigned flags;
    };
    const unsigned up = IFF_UP | IFF_BROADCAST;
    const Row rows[] = {{"lo", AF_INET, "127.0.0.1", IFF_UP | IFF_LOOPBACK},
                        {"eth0", AF_INET, "192.168.1.5", up},
                        {"eth0", AF_INET, "192.168.7.5", up},  // a second address: one send is enough
                        {"wlan0", AF_INET6, "0.0.0.0", up},
                        {"wlan0", AF_INET, "10.0.0.8", up},
                        {"tun0", AF_INET, "10.8.0.2", IFF_UP | IFF_POINTOPOINT},
                        {"wg0", AF_INET, "10.9.0.2", up | IFF_POINTOPOINT},
                        {"eth1", AF_INET, "169.254.3.4", up},
                        {"eth2", AF_INET, "192.168.9.1", IFF_BROADCAST},  // down
                        {"bond0", AF_INET, "192.168.8.1", IFF_UP}};      // cannot broadcast
    std::vector<sockaddr_in> addresses(std::size(rows));
    std::vector<ifaddrs> list(std::size(rows) + 1);  // with one entry without an address
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        addresses[i].sin_family = static_cast<sa_family_t>(rows[i].family);
        inet_pton(AF_INET, rows[i].address, &addresses[i].sin_addr);
        list[i] = {};
        list[i].ifa_name = const_cast<char*>(rows[i].name);
        list[i].ifa_flags = rows[i].flags;
        list[i].ifa_addr = reinterpret_cast<sockaddr*>(&addresses[i]);
        list[i].ifa_next = &list[i + 1];
    }
    list.back() = {};
    list.back().ifa_name = const_cast<char*>("eth3");
    list.back().ifa_flags = up;
    auto at = [](const char* dotted) { return ntohl(inet_addr(dotted)); };
    EXPECT_EQ(BroadcastInterfaces(list.data()), (std::vector<BroadcastInterface>{{"eth0", at("192.168.1.5")},
                                                                                 {"wlan0", at("10.0.0.8")},
                                                                                 {"eth1", at("169.254.3.4")}}));
    EXPECT_TRUE(BroadcastInterfaces(nullptr).empty());
}

TEST_F(SsdpDecode, MessagesBecomeRecordsOrAreDropped) {
    const std::string full = "0011:2233|198.51.100.10|nas-1|box|rack|2.1.7|acme|";
    const std::string fromIp = "0011:2233|198.51.100.", parts = "|nas-1|box|rack|2.1.7|acme|1";
    const std::string bare = fromIp + "10||||||1";
    const std::string a40(40, 'a'), a31(31, 'a');
    std::string zeroBeforeUsn = Answer();
    zeroBeforeUsn[zeroBeforeUsn.find("USN:") - 1] = '\0';
    const struct {
        std::string text, expect;
    } cases[] = {
        {Answer(), full + "1"},
        // The address: from LOCATION, up to its port, path or a blank, else the sender.
        {Answer(""), fromIp + "77" + parts},
        {Answer("LOCATION: http://198.51.100.15 /desc.xml\r\n"), fromIp + "15" + parts},
        {Answer("LOCATION: http://198.51.100.40/desc.xml\r\n"), fromIp + "40" + parts},
        // Only a strict dotted quad is an address (the UI tests its parser).
        {Answer("LOCATION: http://1.2.3.4@evil:80/\r\n"), "dropped"},
        {Answer("LOCATION: desc.xml\r\n"), "dropped"},
        {"HTTP/1.1 200 OK\r\nRUZO\r\nUSN: uuid:1::2\r\nLOCATION: http://198.51.100.14", "dropped"},
        // The SERVER header is optional, and so is each of its pieces.
        {Answer(kLocation, "", "USN: uuid:0011:2233::RUZO\r\n"), bare},
        {Answer(kLocation, "SERVER: UPnP/1.0 other/1,x, acme/nas/box\r\n", "USN: uuid:0011:2233::RUZO\r\n"), bare},
        {Answer(kLocation, "SERVER: RUZO/3.0,only-one\r\n"), fromIp + "10||||3.0||1"},
        {"HTTP/1.1 200 OK\r\n" + kLocation + "USN: uuid:0011:2233::RUZO", bare},  // the marker as the last bytes
        {Answer(kLocation, Server("acme")), fromIp + "10||||1.0||1"},
        {Answer(kLocation, Server("acme/nas")), fromIp + "10||||1.0|acme|1"},
        {Answer(kLocation, Server("acme/nas/box/rack/7")), fromIp + "10|nas|box|rack/7|1.0|acme|1"},
        // Fields are cut at 31 characters, the product part at 63 first.
        {Answer(kLocation, "SERVER: RUZO/" + a40 + ",x, f" + a40 + "/h/p/" + a40 + "\r\n"),
         fromIp + "10|h|p|" + std::string(17, 'a') + "|" + a31 + "|f" + std::string(30, 'a') + "|1"},
        {Answer(kLocation, Server(std::string(70, 'a') + "/b/c")), fromIp + "10||||1.0||1"},
        // The identifier is required, and ends at "::".
        {Answer(kLocation, kServer, "USN: 0011::x\r\n"), "dropped"},
        {Answer(kLocation, kServer, "USN: uuid:0011\r\n"), "dropped"},
        {zeroBeforeUsn, "dropped"},
        // The marker and a known start are required.
        {Answer(kLocation, "SERVER: ruzo/2.1.7,b, acme/nas-1/box\r\n"), "dropped"},
        {"M-SEARCH * HTTP/1.1\r\n" + kServer + kUsn, "dropped"},
        // Announcements: rootdevice and NTS required; NTS read after blanks and tabs.
        {Notify(" ssdp:alive"), full + "2"},
        {Notify(" \t \tssdp:byebye"), full + "4"},
        {Notify(" ssdp:update"), full + "0"},
        {Notify(" ssdp:alive", "urn:schemas-upnp-org:device:LarkvatDevice:1"), "dropped"},
        {"NOTIFY * HTTP/1.1\r\nNT: upnp:rootdevice\r\nNTX: ssdp:alive\r\n" + kServer + kUsn, "dropped"},
    };
    for (const auto& c : cases) EXPECT_EQ(SsdpRecord(c.text), c.expect) << c.text;
}

// The receive thread decodes while the client clears the last record before
// each search: ThreadSanitizer checks they never touch it unguarded.
TEST_F(SsdpDecode, OfARunOfIdenticalMessagesEverySecondIsDroppedAndClearingMeanwhileIsSafe) {
    LogTail log;
    ssdp.ClearOldDeviceInfo();
    const std::string alive = Notify(" ssdp:alive"), other = Answer(kLocation, kServer, "USN: uuid:other::x\r\n");
    for (std::size_t expected : {1, 0, 1}) EXPECT_EQ(Ssdp(alive).size(), expected);
    EXPECT_EQ(log.Count("SendThread 1900 : Handle Mulitcast Recive Information Fail : Old Device, type = 2 "), 1u);
    EXPECT_EQ(log.Count("SendThread 1900 : Handle Mulitcast Recive Information Success, type = 2 "), 2u);
    for (const std::string& text : {other, alive, other}) EXPECT_EQ(Ssdp(text).size(), 1u) << "devices alternate freely";

    LogTail race;
    std::atomic<bool> done{false};
    std::thread clearer([&] {
        while (!done) ssdp.ClearOldDeviceInfo();
    });
    std::size_t handed = 0;
    for (int i = 0; i < 1000; ++i) handed += Ssdp(alive).size();
    done = true;
    clearer.join();
    EXPECT_GE(handed, 500u);
    EXPECT_EQ(handed + race.Count("Information Fail : Old Device, type = 2 "), 1000u);
}

}  // namespace
