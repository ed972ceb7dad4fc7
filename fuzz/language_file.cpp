// The language-file parse on expat, with a main thread that runs work at
// once and a log that discards: any bytes, no crash, a consistent table.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "NotificationCenter.h"
#include "ParseOperation.h"

namespace {

class InlineMainThread : public MainThread {
public:
    void perform(std::function<void()> work, bool) override { work(); }
};

class QuietLog : public SystemLog {
public:
    void log(const std::string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static InlineMainThread mainThread;
    static QuietLog log;
    NotificationCenter center;
    int errors = 0;
    center.addObserver(kEarthquakesErrorNotif, [&](const Notification& n) {
        ++errors;
        FUZZ_CHECK(n.userInfo.count(kEarthquakesMsgErrorKey) == 1);
    });

    auto op = ParseOperation::initWithData(std::vector<char>(data, data + size), center, mainThread, log);
    op->main();

    FUZZ_CHECK(op->isFinished());
    FUZZ_CHECK(errors <= 1);
    // A KEY between two NODEs may rewrite a stored entry's fields (even its
    // KeyString), so only the table's own consistency is checked.
    for (const auto& [key, node] : op->currentParseBatchDic()) {
        FUZZ_CHECK(node != nullptr);
        FUZZ_CHECK(op->entry(key) == node.get());
    }
    return 0;
}
