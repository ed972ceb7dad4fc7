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
    // The fields of each record handed over because of one datagram.
    std::vector<std::string> Feed(std::string bytes, std::string sender = "192.168.1.20") {
        const std::size_t before = Records().size();
        worker.HandleReceiveInfo(bytes.data(), static_cast<int>(bytes.size()), sender);
        std::vector<std::string> out;
        for (const HandedOver& h : Records()) {
            EXPECT_TRUE(h.port == 67 && h.info.lifetime == 60);
            out.push_back(Fields(h.info));
        }
        return {out.begin() + static_cast<long>(before), out.end()};
    }
    struct : CSearchDeviceBroadcastThread {
        using CSearchDeviceBroadcastThread::nPort;
    } worker;
};

TEST_F(BroadcastDecode, OnlyExactly148BytesWithTheAnswerOpAreDecoded) {
    LogTail log;
    std::string big = Answer(12, 1, "id=A1&vendor=acme") + std::string(900, '\0');
    for (std::size_t length : {0, 1, 147, 149, 1024}) EXPECT_TRUE(Feed(big.substr(0, length)).empty()) << length;
    EXPECT_EQ(log.Count("SendThread 67 :"), 0u) << "wrong sizes are dropped without a line";
    for (int op : {11, 0}) {
        const std::string sender = "10.1.2." + std::to_string(op);
        EXPECT_TRUE(Feed(Answer(op, 1, "id=A1&vendor=acme"), sender).empty());
        EXPECT_TRUE(log.Has("SendThread 67 : Recive IP : " + sender + " is not Device "));
    }
    EXPECT_EQ(Feed(big.substr(0, 148), std::string(40, '9')),
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
        {"vendor=" + x40 + "&product=" + x40, Record("", "", x31, x31)},
        {"uuid=X&id=A1&vendor=acme", Record("A1", "", "", "acme")},
        {"vendorid=7&id=9&subvendor=bad&vendor=good", Record("9", "", "", "good")},
        {"xhost=no&vendorid=7&product=box", Record("", "", "box", "")},
        {"host=a&host=b&id=&vendor=v&other&id=late", Record("", "a", "", "v")},
        {"name=x&model=y", Record("", "", "", "")},
        {noZero, Record(std::string(31, 'i'), std::string(31, 'h'), "", "acme")},
        {"x" + std::string(116, 'z') + "&product=ab", Record("", "", "ab", "")},
        {std::string(124, 'q') + "&hos", Record("", "", "", "")},
        {"id=A1&vendor=acme\0&host=hidden"s, Record("A1", "", "", "acme")},
    };
    for (const auto& c : cases) {
        worker.ClearOldDeviceInfo();
        EXPECT_EQ(Feed(Answer(12, 4, c.options)), std::vector<std::string>{c.expect}) << c.options;
    }
}

TEST_F(BroadcastDecode, RepeatIsDroppedUntilTheNextSearchOrAnotherRecord) {
    LogTail log;
    const std::string answer = Answer(12, 1, "id=A1&vendor=acme");
    for (std::size_t handed : {1, 0, 0}) EXPECT_EQ(Feed(answer).size(), handed) << "a repeat forgets nothing";
    EXPECT_EQ(log.Count("SendThread 67 : Handle Broadcast Recive Information Fail "), 2u);
    worker.ClearOldDeviceInfo();
    EXPECT_EQ(Feed(answer).size(), 1u);
    EXPECT_EQ(Feed(Answer(12, 1, "id=B2&vendor=acme")).size(), 1u);
    EXPECT_EQ(Feed(answer).size(), 1u) << "only the last record is remembered";
    EXPECT_EQ(Feed(answer, "192.168.1.21").size(), 1u);
    EXPECT_EQ(Feed(Answer(12, 4, "id=A1&vendor=acme"), "192.168.1.21").size(), 1u);
}

}  // namespace
