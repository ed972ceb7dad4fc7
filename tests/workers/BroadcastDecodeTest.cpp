// Decoding of broadcast answers, fed straight into a worker that never opened
// a socket.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "SearchDeviceBroadcastThread.h"
#include "WorkerTestSupport.h"

using workertest::HandOverRecorder;
using workertest::LogTail;

namespace {

class BroadcastWorker : public CSearchDeviceBroadcastThread {
public:
    explicit BroadcastWorker(int port) { nPort = port; }
};

std::array<char, 148> Answer(std::uint8_t op, std::uint8_t code, const std::string& options) {
    std::array<char, 148> bytes{};
    bytes[0] = static_cast<char>(op);
    bytes[1] = static_cast<char>(code);
    for (int i = 4; i < 8; ++i) bytes[i] = static_cast<char>(0xFF);
    options.copy(bytes.data() + 20, std::min<std::size_t>(options.size(), 128));
    return bytes;
}

class BroadcastDecode : public ::testing::Test {
protected:
    void SetUp() override {
        workertest::TestLog::Get();
        HandOverRecorder::Get().Clear();
    }
    // Feeds one datagram and returns what was handed over because of it.
    std::vector<workertest::HandedOver> Feed(char* data, int length, std::string sender = "192.168.1.20") {
        std::size_t before = HandOverRecorder::Get().Size();
        worker.HandleReceiveInfo(data, length, sender);
        auto all = HandOverRecorder::Get().Records();
        return {all.begin() + static_cast<long>(before), all.end()};
    }
    std::vector<workertest::HandedOver> Feed(std::array<char, 148> bytes,
                                             std::string sender = "192.168.1.20") {
        return Feed(bytes.data(), 148, sender);
    }
    deviceinfo DecodeOne(const std::string& options) {
        worker.ClearOldDeviceInfo();
        auto got = Feed(Answer(12, 1, options));
        EXPECT_EQ(got.size(), 1u) << options;
        return got.empty() ? deviceinfo{} : got[0].info;
    }

    BroadcastWorker worker{67};
};

TEST_F(BroadcastDecode, AnswerBecomesRecordHandedOnWithWorkerNumber) {
    LogTail log;
    auto got = Feed(Answer(12, 2, "id=A1&host=nas&vendor=acme&product=box"));
    ASSERT_EQ(got.size(), 1u);
    const deviceinfo& d = got[0].info;
    EXPECT_STREQ(d.id, "A1");
    EXPECT_STREQ(d.ip, "192.168.1.20");
    EXPECT_STREQ(d.host, "nas");
    EXPECT_STREQ(d.factory, "acme");
    EXPECT_STREQ(d.product, "box");
    EXPECT_STREQ(d.extra, "");
    EXPECT_STREQ(d.version, "");
    EXPECT_EQ(d.type, 2);
    EXPECT_EQ(d.lifetime, 60);
    EXPECT_EQ(got[0].port, 67);
    EXPECT_TRUE(log.Has("SendThread 67 : Handle Broadcast Recive Information  "));
    EXPECT_TRUE(log.Has("SendThread 67 : Handle Broadcast Recive Information Success "));
}

TEST_F(BroadcastDecode, OnlyExactly148BytesAreLookedAt) {
    LogTail log;
    std::array<char, 1025> big{};
    auto answer = Answer(12, 1, "id=A1&vendor=acme");
    std::copy(answer.begin(), answer.end(), big.begin());
    for (int length : {0, 1, 147, 149, 1024}) EXPECT_TRUE(Feed(big.data(), length).empty()) << length;
    EXPECT_EQ(log.CountFragment("SendThread 67 :"), 0u) << "wrong sizes are dropped without a line";
}

TEST_F(BroadcastDecode, NonAnswerOpIsLoggedAndDropped) {
    LogTail log;
    EXPECT_TRUE(Feed(Answer(11, 1, "id=A1&vendor=acme"), "10.1.2.3").empty());
    EXPECT_TRUE(Feed(Answer(0, 1, "id=A1&vendor=acme"), "10.1.2.4").empty());
    EXPECT_TRUE(log.Has("SendThread 67 : Recive IP : 10.1.2.3 is not Device "));
    EXPECT_TRUE(log.Has("SendThread 67 : Recive IP : 10.1.2.4 is not Device "));
}

TEST_F(BroadcastDecode, SameAnswerTwiceIsHandedOnOnceUntilCleared) {
    LogTail log;
    auto answer = Answer(12, 1, "id=A1&vendor=acme");
    auto other = Answer(12, 1, "id=B2&vendor=acme");
    EXPECT_EQ(Feed(answer).size(), 1u);
    EXPECT_TRUE(Feed(answer).empty());
    EXPECT_TRUE(Feed(answer).empty()) << "a repeat does not forget the last record";
    EXPECT_EQ(log.Count("SendThread 67 : Handle Broadcast Recive Information Fail "), 2u);

    worker.ClearOldDeviceInfo();
    EXPECT_EQ(Feed(answer).size(), 1u);

    // Only the last record is remembered: two devices in turn always pass.
    EXPECT_EQ(Feed(other).size(), 1u);
    EXPECT_EQ(Feed(answer).size(), 1u);
    // A different sender or type code is a different record.
    EXPECT_EQ(Feed(answer, "192.168.1.21").size(), 1u);
    EXPECT_EQ(Feed(Answer(12, 4, "id=A1&vendor=acme"), "192.168.1.21").size(), 1u);
}

TEST_F(BroadcastDecode, ValuesAreCutAt31Characters) {
    std::string forty(40, 'x');
    deviceinfo d = DecodeOne("id=" + forty + "&host=" + forty);
    EXPECT_EQ(std::string(d.id), forty.substr(0, 31));
    EXPECT_EQ(std::string(d.host), forty.substr(0, 31));
    d = DecodeOne("vendor=" + forty + "&product=" + forty);
    EXPECT_EQ(std::string(d.factory), forty.substr(0, 31));
    EXPECT_EQ(std::string(d.product), forty.substr(0, 31));

    worker.ClearOldDeviceInfo();
    auto got = Feed(Answer(12, 1, "id=1"), std::string(40, '9'));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(std::string(got[0].info.ip), std::string(31, '9'));
}

TEST_F(BroadcastDecode, KeysMatchOnlyAtPairBoundaries) {
    deviceinfo d = DecodeOne("uuid=X&id=A1&vendor=acme");
    EXPECT_STREQ(d.id, "A1");
    d = DecodeOne("vendorid=7&id=9&subvendor=bad&vendor=good");
    EXPECT_STREQ(d.id, "9");
    EXPECT_STREQ(d.factory, "good");
    d = DecodeOne("xhost=no&vendorid=7&product=box");
    EXPECT_STREQ(d.host, "") << "a key found only inside another key is not found";
    EXPECT_STREQ(d.id, "");
    EXPECT_STREQ(d.product, "box");
    d = DecodeOne("host=a&host=b&id=&vendor=v&other");
    EXPECT_STREQ(d.host, "a");
    EXPECT_STREQ(d.id, "") << "an empty value is an empty field";
    EXPECT_STREQ(d.factory, "v");
}

TEST_F(BroadcastDecode, AnswerWithoutKnownKeysKeepsOnlyAddressAndType) {
    auto got = Feed(Answer(12, 4, "name=x&model=y"));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_STREQ(got[0].info.ip, "192.168.1.20");
    EXPECT_EQ(got[0].info.type, 4);
    for (const char* field : {got[0].info.id, got[0].info.host, got[0].info.factory, got[0].info.product})
        EXPECT_STREQ(field, "");
}

TEST_F(BroadcastDecode, OptionTextWithoutZeroByteEndsAtThePacket) {
    // 128 option bytes, none of them zero; the last value runs to the end.
    std::string options = "vendor=acme&id=" + std::string(40, 'i') + "&host=";
    options += std::string(128 - options.size() - 3, 'h') + "&p=";
    ASSERT_EQ(options.size(), 128u);
    deviceinfo d = DecodeOne(options);
    EXPECT_EQ(std::string(d.id), std::string(31, 'i'));
    EXPECT_EQ(std::string(d.host), std::string(31, 'h'));

    options = std::string(128 - 11, 'z') + "&product=ab";
    options[0] = 'x';
    d = DecodeOne(options);
    EXPECT_STREQ(d.product, "ab");

    // A key cut by the end of the area is not found; nothing past it is read.
    auto area = std::make_unique<char[]>(128);
    std::string tail = std::string(128 - 4, 'q') + "&hos";
    tail.copy(area.get(), 128);
    char field[32] = {};
    char key[] = "host=";
    EXPECT_EQ(worker.FindStringValue(area.get(), field, 31, key, 5), 0);
    EXPECT_STREQ(field, "");
}

TEST_F(BroadcastDecode, ZeroByteEndsTheOptionText) {
    std::array<char, 148> bytes = Answer(12, 1, "id=A1&vendor=acme");
    std::string hidden = "&host=hidden";
    hidden.copy(bytes.data() + 20 + 18, hidden.size());  // after the zero that ends "vendor=acme"
    auto got = Feed(bytes);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_STREQ(got[0].info.host, "");
    EXPECT_STREQ(got[0].info.factory, "acme");
}

}  // namespace
