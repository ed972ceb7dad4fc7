#include <gtest/gtest.h>

#include "DeviceUrl.h"
#include "Fakes.h"

namespace {

TEST(Countdown, RunsTenToZeroThenEnablesTheButtonsOnEveryLaterTick) {
    Window w;
    w.start();
    EXPECT_EQ(w.engine.calls, (std::vector<std::string>{"init", "search"}));
    EXPECT_TRUE(w.buttonsDisabled());
    EXPECT_EQ(w.timer.interval, 1.0);

    for (int remaining = 10; remaining >= 0; --remaining) {
        w.timer.tick();
        EXPECT_EQ(w.countdown.text, "Search time: " + std::to_string(remaining));
        EXPECT_TRUE(w.buttonsDisabled());
    }
    EXPECT_EQ(w.controller->counter(), 11);
    EXPECT_EQ(w.log.count("vListDevice.size() = 0"), 11);

    w.timer.tick();  // the twelfth
    EXPECT_TRUE(w.buttonsEnabled());
    EXPECT_EQ(w.countdown.text, "");

    w.login.enabled = w.refresh.enabled = w.storage.enabled = false;
    w.countdown.text = "stale";
    w.timer.tick();
    EXPECT_TRUE(w.buttonsEnabled());
    EXPECT_EQ(w.countdown.text, "");
    EXPECT_EQ(w.engine.copies, 13) << "the list is copied on every tick";
    EXPECT_EQ(w.log.count("vListDevice.size() = 0"), 11);
}

TEST(Countdown, TableIsRebuiltOnlyWhenTheListSizeChanges) {
    Window w;
    w.start();
    w.timer.tick(3);
    w.engine.list = {device("nas-office", "198.51.100.10")};
    w.timer.tick();
    EXPECT_EQ(w.table.column("HomeHost"), std::vector<std::string>{"nas-office"});
    EXPECT_EQ(w.table.column("IP"), std::vector<std::string>{"198.51.100.10"});
    EXPECT_EQ(w.table.column("DeviceType"), std::vector<std::string>{"DS-220"});
    EXPECT_EQ(w.countdown.text, "Search time: 7");
    const int reloads = w.table.reloads;

    w.engine.list = {device("other", "198.51.100.11")};  // same size: not shown
    w.timer.tick();
    EXPECT_EQ(w.table.column("HomeHost"), std::vector<std::string>{"nas-office"});
    EXPECT_EQ(w.table.reloads, reloads);

    w.engine.list = {device("a", "198.51.100.11"), device("b", "198.51.100.12")};
    w.timer.tick();
    EXPECT_EQ(w.table.column("HomeHost"), (std::vector<std::string>{"a", "b"}));

    w.engine.list.clear();  // shrink to zero
    w.timer.tick();
    EXPECT_TRUE(w.table.rows.empty());
    EXPECT_EQ(w.controller->count(), 0);

    w.timer.tick(4);  // countdown over
    w.engine.list = {device("late", "198.51.100.13")};
    w.timer.tick(2);
    EXPECT_TRUE(w.table.rows.empty()) << "a device answering after the countdown waits for a new search";
}

TEST(Countdown, RecordTextsFillingTheirWholeFieldAreReadBounded) {
    Window w;
    w.start();
    deviceinfo d = device("", "198.51.100.10");
    std::memset(d.host, 'H', sizeof d.host);  // no terminator; ip follows
    w.engine.list = {d};
    w.timer.tick();
    EXPECT_EQ(w.table.column("HomeHost"), std::vector<std::string>{std::string(32, 'H')});
}

TEST(Refresh, EmptiesTheTableClearsTheListSearchesAndRestartsTheCountdown) {
    Window w;
    w.start();
    w.engine.list = {device("a", "198.51.100.10"), device("b", "198.51.100.11")};
    w.timer.tick(12);
    ASSERT_EQ(w.table.rows.size(), 2u);
    const int reloads = w.table.reloads;
    w.engine.calls.clear();

    w.controller->onRefreash();
    EXPECT_TRUE(w.table.rows.empty());
    EXPECT_GT(w.table.reloads, reloads);
    EXPECT_EQ(w.engine.calls, (std::vector<std::string>{"clear", "search"}));
    EXPECT_TRUE(w.buttonsDisabled());
    EXPECT_EQ(w.controller->count(), 0);

    w.engine.list = {device("b", "198.51.100.11")};
    w.timer.tick();
    EXPECT_EQ(w.countdown.text, "Search time: 10");
    EXPECT_EQ(w.table.column("HomeHost"), std::vector<std::string>{"b"});
}

struct Open : testing::Test {
    Window w;
    void SetUp() override {
        w.start();
        w.engine.list = {device("charlie", "198.51.100.10"), device("alpha", "198.51.100.11"),
                         device("bravo", "198.51.100.12")};
        w.timer.tick(12);
    }
};

TEST_F(Open, DoesNothingWithoutExactlyOneSelectedRow) {
    w.controller->onLogin();
    w.table.selection = {0, 2};
    w.controller->onLogin();
    w.controller->onGotoStorage();
    w.table.selection = {7};  // beyond the rows
    w.controller->onLogin();
    EXPECT_TRUE(w.workspace.urls.empty());
}

TEST_F(Open, TakesTheAddressFromTheSelectionEvenWhenSorted) {
    w.table.selection = {1};
    w.controller->onLogin();
    w.table.sortKey = "HomeHost";  // alpha, bravo, charlie
    w.controller->tableViewSortDescriptorsDidChange();
    w.table.selection = {0};
    w.controller->onGotoStorage();
    EXPECT_EQ(w.workspace.urls, (std::vector<std::string>{"http://198.51.100.11", "smb://198.51.100.11"}));
    EXPECT_EQ(w.log.count("count=11111"), 1);
}

TEST_F(Open, RefusesAnAddressThatIsNotPlainIPv4) {
    w.controller->onRefreash();
    w.engine.list = {device("evil", "1.2.3.4@evil.example/\x1b[31m")};
    w.timer.tick();
    w.table.selection = {0};
    w.controller->onLogin();
    EXPECT_TRUE(w.workspace.urls.empty());
    ASSERT_EQ(w.log.count("not opening http for \"1.2.3.4@evil.example/\\x1b[31m\": not an IPv4 address"), 1);
}

TEST(DeviceUrl, AcceptsOnlyStrictDottedQuads) {
    EXPECT_EQ(deviceUrl("http", "198.51.100.10"), "http://198.51.100.10");
    EXPECT_EQ(deviceUrl("smb", "0.0.0.0"), "smb://0.0.0.0");
    EXPECT_EQ(deviceUrl("http", "255.255.255.255"), "http://255.255.255.255");
    for (const char* bad : {"127.1", "0x7f.0.0.1", "1.2.3.4@evil", "01.2.3.4", "256.1.1.1", "", " 1.2.3.4",
                            "1.2.3.4 ", "1.2.3.4.", "1..3.4", "1.2.3.4.5", "1234.1.1.1", "-1.2.3.4", "[::1]",
                            "zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz"})
        EXPECT_EQ(deviceUrl("http", bad), "") << '"' << bad << '"';
    EXPECT_EQ(deviceUrl("http", std::string("1.2.3.4\0", 8)), "");
}

TEST(Window, CloseExitsWithStatusOneAndDoubleClickDoesNothing) {
    Window w;
    w.start();
    w.engine.calls.clear();
    w.controller->onTableviewDoubleClicked();
    EXPECT_TRUE(w.engine.calls.empty());
    EXPECT_TRUE(w.workspace.urls.empty());
    w.controller->windowWillClose();
    EXPECT_EQ(w.exits, std::vector<int>{1});
}

TEST(Window, StatusLineNamesSearchesThatCouldNotStart) {
    Window all;
    all.engine.workers = {{SearchWorkerStatus::Kind::Broadcast, "", 67, true, ""}};
    all.start();
    EXPECT_EQ(all.status.text, "");

    Window w;
    w.engine.workers = {{SearchWorkerStatus::Kind::Broadcast, "", 67, false, "bind: Permission denied"},
                        {SearchWorkerStatus::Kind::Multicast, "", 1900, true, ""},
                        {SearchWorkerStatus::Kind::Command, "198.51.100.1", 1530, false, "Address already in use"}};
    w.start();
    EXPECT_EQ(w.status.text,
              "Broadcast search unavailable: port 67 needs administrator rights (run as root or grant "
              "cap_net_bind_service); Search on 198.51.100.1 unavailable: Address already in use");
}

}  // namespace
