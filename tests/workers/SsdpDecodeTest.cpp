// Decoding of SSDP answers and announcements, fed straight into a multicast
// worker that never opened a socket.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <thread>

#include "SearchDeviceMulticastThread.h"
#include "WorkerTestSupport.h"

using workertest::HandedOver;
using workertest::HandOverRecorder;
using workertest::LogTail;

namespace {

class MulticastWorker : public CSearchDeviceMulticastThread {
public:
    explicit MulticastWorker(int port) { nPort = port; }
};

const std::string kLocation = "LOCATION: http://198.51.100.10:5000/desc.xml\r\n";
const std::string kServer = "SERVER: Linux/5.10 UPnP/1.0 RUZO/2.1.7,build42, acme/nas-1/box/rack\r\n";
const std::string kUsn = "USN: uuid:0011-2233::urn:schemas-upnp-org:device:LarkvatDevice:1\r\n";

std::string Answer(const std::string& location = kLocation, const std::string& server = kServer,
                   const std::string& usn = kUsn) {
    return "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\n" + location + server +
           "ST: urn:schemas-upnp-org:device:LarkvatDevice:1\r\n" + usn + "\r\n";
}

std::string Notify(const std::string& nts, const std::string& nt = "upnp:rootdevice") {
    return "NOTIFY * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nNT: " + nt + "\r\nNTS:" + nts + "\r\n" +
           kLocation + kServer + kUsn + "\r\n";
}

class SsdpDecode : public ::testing::Test {
protected:
    void SetUp() override {
        workertest::TestLog::Get();
        HandOverRecorder::Get().Clear();
    }
    // Feeds the text as the receive loop would: in a zeroed 1025-byte buffer.
    std::vector<HandedOver> Feed(const std::string& text, std::string sender = "198.51.100.77") {
        std::array<char, 1025> buffer{};
        std::size_t n = std::min<std::size_t>(text.size(), 1024);
        text.copy(buffer.data(), n);
        std::size_t before = HandOverRecorder::Get().Size();
        worker.HandleReceiveInfo(buffer.data(), static_cast<int>(n), sender);
        auto all = HandOverRecorder::Get().Records();
        return {all.begin() + static_cast<long>(before), all.end()};
    }
    // Decodes after forgetting the last record; the one record or nothing.
    std::optional<deviceinfo> Decode(const std::string& text, std::string sender = "198.51.100.77") {
        worker.ClearOldDeviceInfo();
        auto got = Feed(text, sender);
        EXPECT_LE(got.size(), 1u);
        if (got.empty()) return std::nullopt;
        EXPECT_EQ(got[0].port, 1900);
        return got[0].info;
    }

    MulticastWorker worker{1900};
};

TEST_F(SsdpDecode, FullAnswerFillsEveryField) {
    LogTail log;
    auto d = Decode(Answer());
    ASSERT_TRUE(d);
    EXPECT_STREQ(d->id, "0011-2233");
    EXPECT_STREQ(d->ip, "198.51.100.10");
    EXPECT_STREQ(d->version, "2.1.7");
    EXPECT_STREQ(d->factory, "acme");
    EXPECT_STREQ(d->host, "nas-1");
    EXPECT_STREQ(d->product, "box");
    EXPECT_STREQ(d->extra, "rack");
    EXPECT_EQ(d->type, 1);
    EXPECT_EQ(d->lifetime, 60);
    EXPECT_TRUE(log.Has("SendThread 1900 : Handle Mulitcast Recive Information  "));
    EXPECT_TRUE(log.Has("SendThread 1900 : Handle Mulitcast Recive Information Success, type = 1 "));
}

TEST_F(SsdpDecode, AddressComesFromLocationOrTheSender) {
    auto d = Decode(Answer(""));
    ASSERT_TRUE(d);
    EXPECT_STREQ(d->ip, "198.51.100.77");

    d = Decode(Answer("location: http://10.9.9.9:80/\r\n"));
    ASSERT_TRUE(d) << "header names are case-sensitive";
    EXPECT_STREQ(d->ip, "198.51.100.77");

    d = Decode(Answer("LOCATION: http://198.51.100.12/desc.xml\r\n"));
    ASSERT_TRUE(d) << "a LOCATION without port ends at the path";
    EXPECT_STREQ(d->ip, "198.51.100.12");
    d = Decode(Answer("LOCATION: http://198.51.100.13\r\n"));
    ASSERT_TRUE(d);
    EXPECT_STREQ(d->ip, "198.51.100.13");

    d = Decode(Answer("LOCATION: http://" + std::string(40, 'a') + ":80/\r\n"));
    ASSERT_TRUE(d);
    EXPECT_EQ(std::string(d->ip), std::string(31, 'a'));

    d = Decode(Answer(""), std::string(40, '7'));
    ASSERT_TRUE(d);
    EXPECT_EQ(std::string(d->ip), std::string(31, '7'));

    EXPECT_FALSE(Decode(Answer("LOCATION: desc.xml\r\n"))) << "no // after LOCATION";
    EXPECT_FALSE(Decode("HTTP/1.1 200 OK\r\nRUZO\r\nUSN: uuid:1::2\r\nLOCATION: http://198.51.100.14"))
        << "an address with nothing after it";
}

TEST_F(SsdpDecode, ServerHeaderIsOptional) {
    auto d = Decode(Answer(kLocation, "", "USN: uuid:0011-2233::RUZO\r\n"));
    ASSERT_TRUE(d);
    for (const char* field : {d->version, d->factory, d->host, d->product, d->extra}) EXPECT_STREQ(field, "");
    EXPECT_STREQ(d->id, "0011-2233");

    d = Decode(Answer(kLocation, "SERVER: Linux/5.10 UPnP/1.0 other/1,x, acme/nas/box\r\n",
                      "USN: uuid:RUZO-1::x\r\n"));
    ASSERT_TRUE(d);
    for (const char* field : {d->version, d->factory, d->host, d->product, d->extra}) EXPECT_STREQ(field, "");

    d = Decode(Answer(kLocation, "SERVER: RUZO/3.0\r\n"));
    ASSERT_TRUE(d) << "no comma after the version";
    EXPECT_STREQ(d->version, "");
    d = Decode(Answer(kLocation, "SERVER: RUZO/3.0,only-one\r\n"));
    ASSERT_TRUE(d);
    EXPECT_STREQ(d->version, "3.0");
    EXPECT_STREQ(d->factory, "");
}

TEST_F(SsdpDecode, ProductPartItems) {
    struct Case {
        const char* part;
        const char* factory;
        const char* host;
        const char* product;
        const char* extra;
    };
    for (const Case& c :
         {Case{"", "", "", "", ""}, Case{"acme", "", "", "", ""}, Case{"acme/nas", "acme", "", "", ""},
          Case{"acme/nas/box", "acme", "nas", "box", ""},
          Case{"acme/nas/box/rack", "acme", "nas", "box", "rack"},
          Case{"acme/nas/box/rack/7", "acme", "nas", "box", "rack/7"}}) {
        auto d = Decode(Answer(kLocation, std::string("SERVER: RUZO/1.0,x, ") + c.part + "\r\n"));
        ASSERT_TRUE(d) << c.part;
        EXPECT_STREQ(d->version, "1.0") << c.part;
        EXPECT_STREQ(d->factory, c.factory) << c.part;
        EXPECT_STREQ(d->host, c.host) << c.part;
        EXPECT_STREQ(d->product, c.product) << c.part;
        EXPECT_STREQ(d->extra, c.extra) << c.part;
    }

    std::string x40(40, 'x');
    auto d = Decode(Answer(kLocation, "SERVER: RUZO/" + x40 + ",x, f" + x40 + "/h/p/" + x40 + "\r\n"));
    ASSERT_TRUE(d);
    EXPECT_EQ(std::string(d->version), x40.substr(0, 31));
    EXPECT_EQ(std::string(d->factory), ("f" + x40).substr(0, 31));
    EXPECT_EQ(std::string(d->extra), x40.substr(0, 63 - 46)) << "the product part is cut at 63 first";

    d = Decode(Answer(kLocation, "SERVER: RUZO/1,x, " + std::string(70, 'a') + "/b/c\r\n"));
    ASSERT_TRUE(d);
    EXPECT_STREQ(d->factory, "") << "the '/' lies beyond the 63 characters kept";
}

TEST_F(SsdpDecode, IdentifierIsRequired) {
    EXPECT_FALSE(Decode(Answer(kLocation, kServer, "usn: uuid:0011::x\r\n"))) << "case-sensitive USN";
    EXPECT_FALSE(Decode(Answer(kLocation, kServer, "USN: 0011::x\r\n")));
    EXPECT_FALSE(Decode(Answer(kLocation, kServer, "USN: uuid:0011\r\n")));
    auto d = Decode(Answer(kLocation, kServer, "USN: uuid:" + std::string(40, 'u') + "::x\r\n"));
    ASSERT_TRUE(d);
    EXPECT_EQ(std::string(d->id), std::string(31, 'u'));
}

TEST_F(SsdpDecode, MessagesNeedMarkerAndKnownStart) {
    std::string answer = Answer();
    std::string noMarker = answer;
    noMarker.replace(noMarker.find("RUZO"), 4, "ruzo");
    EXPECT_FALSE(Decode(noMarker));

    const std::string ownSearch =
        "M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nST: "
        "urn:schemas-upnp-org:device:LarkvatDevice:1\r\n"
        "MAN: \"ssdp:discover\"\r\nMX: 3\r\n\r\n";
    EXPECT_FALSE(Decode(ownSearch));
    EXPECT_FALSE(Decode(ownSearch + kServer + kUsn)) << "a search with marker and USN is still a search";
    EXPECT_FALSE(Decode("http" + answer.substr(4)));
}

TEST_F(SsdpDecode, NotifyTypes) {
    struct Case {
        std::string nts;
        int type;
    };
    for (const Case& c : {Case{" ssdp:alive", 2}, Case{" ssdp:byebye", 4}, Case{"ssdp:alive", 2},
                          Case{" \t \tssdp:byebye", 4}, Case{" ssdp:update", 0}, Case{"", 0}}) {
        auto d = Decode(Notify(c.nts));
        ASSERT_TRUE(d) << c.nts;
        EXPECT_EQ(d->type, c.type) << c.nts;
        EXPECT_STREQ(d->id, "0011-2233");
    }
    EXPECT_FALSE(Decode(Notify(" ssdp:alive", "urn:schemas-upnp-org:device:LarkvatDevice:1")));
    std::string noNts = Notify(" ssdp:alive");
    noNts.replace(noNts.find("NTS:"), 4, "NTX:");
    EXPECT_FALSE(Decode(noNts));
}

TEST_F(SsdpDecode, TextEndsAtZeroByteOrLength) {
    std::string answer = Answer();
    std::string cut = answer;
    cut[cut.find("USN:") - 1] = '\0';
    EXPECT_FALSE(Decode(cut)) << "the USN after the zero byte is not seen";

    // Bytes that end exactly at the given length, with no zero after them.
    auto exact = std::make_unique<char[]>(answer.size());
    answer.copy(exact.get(), answer.size());
    std::string sender = "198.51.100.77";
    worker.ClearOldDeviceInfo();
    std::size_t before = HandOverRecorder::Get().Size();
    worker.HandleReceiveInfo(exact.get(), static_cast<int>(answer.size()), sender);
    EXPECT_EQ(HandOverRecorder::Get().Size(), before + 1);

    std::string tail = "HTTP/1.1 200 OK\r\nRUZO\r\nUSN: uuid:abc::\r\nLOCATION: http://1.2.3.4";
    auto unterminated = std::make_unique<char[]>(tail.size());
    tail.copy(unterminated.get(), tail.size());
    before = HandOverRecorder::Get().Size();
    worker.HandleReceiveInfo(unterminated.get(), static_cast<int>(tail.size()), sender);
    EXPECT_EQ(HandOverRecorder::Get().Size(), before);
}

TEST_F(SsdpDecode, RepeatedMessagesPassEverySecondTime) {
    LogTail log;
    worker.ClearOldDeviceInfo();
    std::string alive = Notify(" ssdp:alive");
    EXPECT_EQ(Feed(alive).size(), 1u);
    EXPECT_TRUE(Feed(alive).empty());
    EXPECT_EQ(Feed(alive).size(), 1u);
    EXPECT_EQ(log.Count("SendThread 1900 : Handle Mulitcast Recive Information Fail : Old Device, type = 2 "),
              1u);
    EXPECT_EQ(log.Count("SendThread 1900 : Handle Mulitcast Recive Information Success, type = 2 "), 2u);

    // Different devices alternate freely.
    std::string other = Answer(kLocation, kServer, "USN: uuid:other::x\r\n");
    EXPECT_EQ(Feed(other).size(), 1u);
    EXPECT_EQ(Feed(alive).size(), 1u);
    EXPECT_EQ(Feed(other).size(), 1u);
}

TEST_F(SsdpDecode, LtrimSkipsBlanksAndTabsOnly) {
    EXPECT_EQ(worker.str_ltrim(nullptr), nullptr);
    char text[] = " \t \tssdp: x";
    EXPECT_EQ(worker.str_ltrim(text), text + 4);
    EXPECT_STREQ(text, " \t \tssdp: x") << "the text is not changed";
    char newline[] = "\r\n x";
    EXPECT_EQ(worker.str_ltrim(newline), newline);
    char blanks[] = "   ";
    EXPECT_EQ(*worker.str_ltrim(blanks), '\0');
}

// The receive thread decodes while the client's thread clears the last
// record before each search; run under ThreadSanitizer this checks the two
// never touch it unguarded.
TEST_F(SsdpDecode, ClearingWhileDecodingIsSafe) {
    LogTail log;
    constexpr int kMessages = 1000;
    std::atomic<bool> done{false};
    std::thread clearer([&] {
        while (!done) worker.ClearOldDeviceInfo();
    });
    std::size_t before = HandOverRecorder::Get().Size();
    std::string alive = Notify(" ssdp:alive");
    std::string sender = "198.51.100.77";
    for (int i = 0; i < kMessages; ++i) {
        std::array<char, 1025> buffer{};
        alive.copy(buffer.data(), alive.size());
        worker.HandleReceiveInfo(buffer.data(), static_cast<int>(alive.size()), sender);
    }
    done = true;
    clearer.join();
    std::size_t handed = HandOverRecorder::Get().Size() - before;
    std::size_t dropped =
        log.Count("SendThread 1900 : Handle Mulitcast Recive Information Fail : Old Device, type = 2 ");
    EXPECT_GE(handed, static_cast<std::size_t>(kMessages / 2));
    EXPECT_EQ(handed + dropped, static_cast<std::size_t>(kMessages));
}

}  // namespace
