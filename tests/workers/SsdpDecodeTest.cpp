// SSDP answers and announcements fed straight into a multicast worker that
// never opened a socket.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "SearchDeviceMulticastThread.h"
#include "WorkerTestSupport.h"

using namespace workertest;

namespace {

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

class SsdpDecode : public ::testing::Test {
protected:
    void SetUp() override {
        StartRecording();
        worker.nPort = 1900;
    }
    // Feeds the text with no zero byte after it, so nothing may be read past
    // its length; the number of records handed over.
    std::size_t Feed(const std::string& text) {
        auto exact = std::make_unique<char[]>(text.size());
        text.copy(exact.get(), text.size());
        const std::size_t before = Records().size();
        std::string sender = "198.51.100.77";
        worker.HandleReceiveInfo(exact.get(), static_cast<int>(text.size()), sender);
        return Records().size() - before;
    }
    // The one record's fields after forgetting the last one, or "dropped".
    std::string Decode(const std::string& text) {
        worker.ClearOldDeviceInfo();
        if (Feed(text) != 1) return "dropped";
        const HandedOver got = Records().back();
        EXPECT_EQ(got.port, 1900);
        EXPECT_EQ(got.info.lifetime, 60);
        return Fields(got.info);
    }
    struct : CSearchDeviceMulticastThread {
        using CSearchDeviceMulticastThread::nPort;
    } worker;
};

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
        {Answer("location: http://10.9.9.9:80/\r\n"), fromIp + "77" + parts},
        {Answer("LOCATION: http://198.51.100.12/desc.xml\r\n"), fromIp + "12" + parts},
        {Answer("LOCATION: http://198.51.100.13\r\n"), fromIp + "13" + parts},
        {Answer("LOCATION: http://198.51.100.15 /desc.xml\r\n"), fromIp + "15" + parts},
        // Only a strict dotted quad is an address: anything else drops the answer.
        {Answer("LOCATION: http://127.1:80/\r\n"), "dropped"},
        {Answer("LOCATION: http://0x7f.0.0.1:80/\r\n"), "dropped"},
        {Answer("LOCATION: http://1.2.3.4@evil:80/\r\n"), "dropped"},
        {Answer("LOCATION: http://198.51.100.010:80/\r\n"), "dropped"},
        {Answer("LOCATION: desc.xml\r\n"), "dropped"},
        {"HTTP/1.1 200 OK\r\nRUZO\r\nUSN: uuid:1::2\r\nLOCATION: http://198.51.100.14", "dropped"},
        // The SERVER header is optional, and so is each of its pieces.
        {Answer(kLocation, "", "USN: uuid:0011:2233::RUZO\r\n"), bare},
        {Answer(kLocation, "SERVER: UPnP/1.0 other/1,x, acme/nas/box\r\n", "USN: uuid:0011:2233::RUZO\r\n"), bare},
        {Answer(kLocation, "SERVER: RUZO/3.0,only-one\r\n"), fromIp + "10||||3.0||1"},
        {Answer(kLocation, Server("acme")), fromIp + "10||||1.0||1"},
        {Answer(kLocation, Server("acme/nas")), fromIp + "10||||1.0|acme|1"},
        {Answer(kLocation, Server("acme/nas/box/rack/7")), fromIp + "10|nas|box|rack/7|1.0|acme|1"},
        // Fields are cut at 31 characters, the product part at 63 first.
        {Answer(kLocation, "SERVER: RUZO/" + a40 + ",x, f" + a40 + "/h/p/" + a40 + "\r\n"),
         fromIp + "10|h|p|" + std::string(17, 'a') + "|" + a31 + "|f" + std::string(30, 'a') + "|1"},
        {Answer(kLocation, Server(std::string(70, 'a') + "/b/c")), fromIp + "10||||1.0||1"},
        // The identifier is required, and ends at "::".
        {Answer(kLocation, kServer, "usn: uuid:0011::x\r\n"), "dropped"},
        {Answer(kLocation, kServer, "USN: 0011::x\r\n"), "dropped"},
        {Answer(kLocation, kServer, "USN: uuid:0011\r\n"), "dropped"},
        {Answer(kLocation, kServer, "USN: uuid:" + a40 + "::x\r\n"), a31 + "|198.51.100.10" + parts},
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
    for (const auto& c : cases) EXPECT_EQ(Decode(c.text), c.expect) << c.text;
}

TEST_F(SsdpDecode, OfARunOfIdenticalMessagesEverySecondIsDropped) {
    LogTail log;
    worker.ClearOldDeviceInfo();
    const std::string alive = Notify(" ssdp:alive"), other = Answer(kLocation, kServer, "USN: uuid:other::x\r\n");
    for (std::size_t expected : {1, 0, 1}) EXPECT_EQ(Feed(alive), expected);
    EXPECT_EQ(log.Count("SendThread 1900 : Handle Mulitcast Recive Information Fail : Old Device, type = 2 "), 1u);
    EXPECT_EQ(log.Count("SendThread 1900 : Handle Mulitcast Recive Information Success, type = 2 "), 2u);
    for (const std::string& text : {other, alive, other}) EXPECT_EQ(Feed(text), 1u) << "devices alternate freely";
}

// The receive thread decodes while the client clears the last record before
// each search: ThreadSanitizer checks they never touch it unguarded.
TEST_F(SsdpDecode, ClearingWhileDecodingIsSafe) {
    LogTail log;
    std::atomic<bool> done{false};
    std::thread clearer([&] {
        while (!done) worker.ClearOldDeviceInfo();
    });
    std::size_t handed = 0;
    for (int i = 0; i < 1000; ++i) handed += Feed(Notify(" ssdp:alive"));
    done = true;
    clearer.join();
    EXPECT_GE(handed, 500u);
    EXPECT_EQ(handed + log.Count("Information Fail : Old Device, type = 2 "), 1000u);
}

}  // namespace
