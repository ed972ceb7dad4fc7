// Broadcast answers fed straight into a worker that never opened a socket.
#include <gtest/gtest.h>

#include <string>

#include "SearchDeviceBroadcastThread.h"
#include "WorkerTestSupport.h"

using namespace std::string_literals;
using namespace workertest;

namespace {

std::string Answer(std::uint8_t op, std::uint8_t code, const std::string& options) {
    std::string bytes(148, '\0');
    bytes[0] = static_cast<char>(op);
    bytes[1] = static_cast<char>(code);
    bytes.replace(4, 4, 4, '\xFF');
    options.copy(bytes.data() + 20, std::min<std::size_t>(options.size(), 128));
    return bytes;
}

class BroadcastDecode : public ::testing::Test {
protected:
    void SetUp() override {
        StartRecording();
        worker.nPort = 67;
    }
    // What was handed over because of one datagram.
    std::vector<HandedOver> Feed(std::string bytes, std::string sender = "192.168.1.20") {
        const std::size_t before = Records().size();
        worker.HandleReceiveInfo(bytes.data(), static_cast<int>(bytes.size()), sender);
        const auto all = Records();
        return {all.begin() + static_cast<long>(before), all.end()};
    }
    struct : CSearchDeviceBroadcastThread {
        using CSearchDeviceBroadcastThread::nPort;
    } worker;
};

TEST_F(BroadcastDecode, AnswerBecomesARecordHandedOnWithTheWorkerNumber) {
    LogTail log;
    auto got = Feed(Answer(12, 2, "id=A1&host=nas&vendor=acme&product=box"));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(Fields(got[0].info), "A1|192.168.1.20|nas|box|||acme|2");
    EXPECT_EQ(got[0].info.lifetime, 60);
    EXPECT_EQ(got[0].port, 67);
    EXPECT_TRUE(log.Has("SendThread 67 : Handle Broadcast Recive Information Success "));

    got = Feed(Answer(12, 1, "id=1"), std::string(40, '9'));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(std::string(got[0].info.ip), std::string(31, '9'));
}

TEST_F(BroadcastDecode, OnlyExactly148BytesWithTheAnswerOpAreDecoded) {
    LogTail log;
    std::string big = Answer(12, 1, "id=A1&vendor=acme") + std::string(900, '\0');
    for (std::size_t length : {0, 1, 147, 149, 1024})
        EXPECT_TRUE(Feed(big.substr(0, length)).empty()) << length;
    EXPECT_EQ(log.Count("SendThread 67 :"), 0u) << "wrong sizes are dropped without a line";

    for (int op : {11, 0}) {
        const std::string sender = "10.1.2." + std::to_string(op);
        EXPECT_TRUE(Feed(Answer(op, 1, "id=A1&vendor=acme"), sender).empty());
        EXPECT_TRUE(log.Has("SendThread 67 : Recive IP : " + sender + " is not Device "));
    }
}

TEST_F(BroadcastDecode, KeysMatchWholeAtPairBoundariesAndValuesStayInsideTheOptionArea) {
    const std::string x40(40, 'x'), x31(31, 'x');
    std::string noZero = "vendor=acme&id=" + std::string(40, 'i') + "&host=";
    noZero += std::string(128 - noZero.size() - 3, 'h') + "&p=";
    const struct {
        std::string options;
        std::string expect;  // id|host|product|factory
    } cases[] = {
        {"id=" + x40 + "&host=" + x40, x31 + "|" + x31 + "||"},
        {"vendor=" + x40 + "&product=" + x40, "||" + x31 + "|" + x31},
        {"uuid=X&id=A1&vendor=acme", "A1|||acme"},
        {"vendorid=7&id=9&subvendor=bad&vendor=good", "9|||good"},
        {"xhost=no&vendorid=7&product=box", "||box|"},
        {"host=a&host=b&id=&vendor=v&other&id=late", "|a||v"},
        {"name=x&model=y", "|||"},
        {noZero, std::string(31, 'i') + "|" + std::string(31, 'h') + "||acme"},
        {"x" + std::string(116, 'z') + "&product=ab", "||ab|"},
        {std::string(124, 'q') + "&hos", "|||"},
        {"id=A1&vendor=acme\0&host=hidden"s, "A1|||acme"},
    };
    for (const auto& c : cases) {
        worker.ClearOldDeviceInfo();
        auto got = Feed(Answer(12, 4, c.options));
        ASSERT_EQ(got.size(), 1u) << c.options;
        const deviceinfo& d = got[0].info;
        EXPECT_EQ(std::string(d.id) + "|" + d.host + "|" + d.product + "|" + d.factory, c.expect)
            << c.options;
    }
}

TEST_F(BroadcastDecode, RepeatIsDroppedUntilTheNextSearchOrAnotherRecord) {
    LogTail log;
    const std::string answer = Answer(12, 1, "id=A1&vendor=acme");
    EXPECT_EQ(Feed(answer).size(), 1u);
    EXPECT_TRUE(Feed(answer).empty());
    EXPECT_TRUE(Feed(answer).empty()) << "a repeat does not forget the last record";
    EXPECT_EQ(log.Count("SendThread 67 : Handle Broadcast Recive Information Fail "), 2u);
    worker.ClearOldDeviceInfo();
    EXPECT_EQ(Feed(answer).size(), 1u);
    EXPECT_EQ(Feed(Answer(12, 1, "id=B2&vendor=acme")).size(), 1u);
    EXPECT_EQ(Feed(answer).size(), 1u) << "only the last record is remembered";
    EXPECT_EQ(Feed(answer, "192.168.1.21").size(), 1u);
    EXPECT_EQ(Feed(Answer(12, 4, "id=A1&vendor=acme"), "192.168.1.21").size(), 1u);
}

}  // namespace
