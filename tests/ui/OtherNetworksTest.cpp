// Other networks on fakes: stored targets swept after each search with the
// countdown holding for them, and the dialog that checks and keeps them.
#include <gtest/gtest.h>

#include "Fakes.h"

namespace {

using Strings = std::vector<std::string>;

TEST(OtherNetworks, StoredTargetsAreAskedAfterEverySearchAndTheCountdownWaitsForThem) {
    Window w;
    w.desktop.settings[Controller::kTargetsSetting] = "198.18.10.0/24\n198.18.10.77, 198.18.11.5";
    w.start();
    EXPECT_EQ(w.engine.calls, (Strings{"init", "targets 255", "search", "sweep"}));
    for (const auto& [left, shown] : {std::pair{3.2, "14"}, {0.4, "11"}, {0.0, "11"}}) {
        w.engine.sweep.remaining = left;
        w.desktop.tick();
        EXPECT_EQ(w.countdown.text + w.buttons(), std::string("Search time: ") + shown + "---");
    }
    w.engine.sweep = {false, 0, 510, 2, "Network is unreachable"};
    w.desktop.tick(11);
    EXPECT_EQ(w.countdown.text + w.buttons(), "Search time: 0---") << "eleven seconds after the sweep";
    EXPECT_EQ(w.status.text, "Other networks: 2 of 510 requests not sent: Network is unreachable");
    w.desktop.tick();
    EXPECT_EQ(w.buttons(), "+++");
    w.controller->onRefreash();
    EXPECT_EQ(w.engine.calls,
              (Strings{"init", "targets 255", "search", "sweep", "clear", "search", "sweep"}));
    EXPECT_EQ(w.status.text, "");
}

TEST(OtherNetworks, TheDialogRefusesWhatTheCommandLineRefusesAndKeepsAndSearchesWhatItSaves) {
    Window w;
    auto entries = kEnglish;
    entries.push_back({"Other networks.Bad prefix", "{item}: nur /16 bis /32"});
    w.desktop.files["XML_en"] = languageFile(entries);
    w.desktop.settings["targets"] = "10.0.0.0/8";  // edited by hand
    w.start();
    EXPECT_EQ(w.engine.calls, (Strings{"init", "search"}));
    EXPECT_EQ(w.status.text, "Other networks not searched: 10.0.0.0/8: nur /16 bis /32");
    w.controller->onOtherNetworks();
    ASSERT_TRUE(w.desktop.dialog);
    EXPECT_EQ(w.desktop.dialogText + "|" + w.desktop.dialog->save.title, "10.0.0.0/8|Save");
    const std::pair<const char*, const char*> refused[] = {
        {"198.18.10.0/24,\n", "'198.18.10.0/24,': a comma too many leaves an empty item"},
        {"nas.example.org",
         "'nas.example.org' is not an IPv4 address or network such as 10.1.20.7 or 10.1.20.0/24"},
        {"198.18.10.0/33", "198.18.10.0/33: nur /16 bis /32"},
        {"10.1.1.1\n224.0.0.251",
         "'224.0.0.251' cannot be asked directly: it is a broadcast, multicast or reserved address"}};
    for (const auto& [text, reason] : refused) EXPECT_EQ(w.desktop.save(text), reason);
    EXPECT_EQ(w.desktop.settings["targets"], "10.0.0.0/8");
    EXPECT_EQ(w.engine.calls.size(), 2u);

    EXPECT_EQ(w.desktop.save(" 198.18.10.20 \n\n"), "");
    EXPECT_EQ(w.desktop.settings["targets"], " 198.18.10.20 \n\n") << "kept as typed";
    EXPECT_EQ(w.status.text, "");
    EXPECT_EQ(w.desktop.save("198.18.10.20"), "");  // the same address: no new search
    w.desktop.settingsWritable = false;
    EXPECT_EQ(w.desktop.save(""), "");  // none left: the running sweep is stopped
    w.controller->onRefreash();
    EXPECT_EQ(w.engine.calls, (Strings{"init", "search", "targets 1", "clear", "search", "sweep", "targets 0",
                                       "clear", "search", "sweep", "clear", "search"}));
    EXPECT_EQ(w.status.text,
              "The other networks could not be saved in /home/user/.config/nasscout/nasscout.conf; they are "
              "asked until the window closes.");
}

}  // namespace
