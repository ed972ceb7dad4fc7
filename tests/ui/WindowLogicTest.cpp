// The window's logic on fakes: countdown, table, buttons, opening devices, the
// status line, other networks, and the language tables from file choice to
// parse and apply.
#include <gtest/gtest.h>

#include "Fakes.h"
#include "KnownBoxesText.h"
#include "LanguageChoice.h"
#include "TestFiles.h"
#include "ThreadOperationQueue.h"

namespace {

using Strings = std::vector<std::string>;
using K = SearchWorkerStatus::Kind;

// The table's rows as "host ip type;".
std::string shown(const FakeTable& t) {
    std::string s;
    for (const RowPtr& r : t.rows)
        s += r->at("HomeHost") + " " + r->at("IP") + " " + r->at("DeviceType") + ";";
    return s;
}

// A phrase missing from the language file stays English; a value is never read as a marker.
TEST(Countdown, RunsTenToZeroThenEnablesTheButtonsOnEveryTickWithTheStatusLineTranslated) {
    Window w({{"Status Rights", "Port {port} braucht root"},
              {"Status Nothing Found", "Nichts da, siehe {readme}"},
              {"Open Failed", "{address} geht nicht"},
              {"Copy address", "Kopieren"}});
    w.engine.workers = {{K::Broadcast, "", 67, false, "bind: Permission denied"},
                        {K::Multicast, "", 1900, true, ""},
                        {K::Command, "198.51.100.1", 1530, false, "busy {port}"}};
    w.start();
    const std::string failed =
        "Broadcast search unavailable: Port 67 braucht root; Search on 198.51.100.1 unavailable: busy {port}";
    for (int remaining = 10; remaining >= 0; --remaining) {
        EXPECT_EQ(w.buttons() + w.status.text, "---" + failed);
        w.desktop.tick();
        EXPECT_EQ(w.countdown.text, "Search time: " + std::to_string(remaining));
    }
    for (int later = 0; later < 2; ++later) {
        w.login.enabled = false;
        w.countdown.text = "stale";
        w.desktop.tick();
        EXPECT_EQ(w.buttons() + w.countdown.text, "+++");
    }
    EXPECT_EQ(w.status.text, failed + "\nNichts da, siehe /doc/README");
    w.engine.workers.clear();
    w.controller->onRefreash();
    EXPECT_EQ(w.status.text, "");
    w.engine.list = {device("a", "198.51.100.10")};
    w.desktop.tick(13);
    EXPECT_EQ(w.status.text, "") << "this search found a device";

    w.table.selection = {0};
    w.desktop.openFails = true;
    w.controller->onGotoStorage();
    EXPECT_EQ(w.desktop.failures,
              Strings{"smb://198.51.100.10 geht nicht|Opening file shares needs a file manager with network "
                      "support. You can copy the address and open it in another program.|Kopieren|"
                      "smb://198.51.100.10|Close"});
}

// Said until the next search; not when the broadcast search did not start, as its own line says why.
TEST(Countdown, TheStatusLineNamesTheInterfacesTheBroadcastSearchCouldNotGoOutThrough) {
    const SearchBroadcastSend wired{"eth0", "198.51.100.1", true, ""}, usb{"usb0", "203.0.113.1", false, ""},
        wifi{"wlan0", "169.254.7.9", false, "Network is unreachable"};
    const std::tuple<bool, std::vector<SearchBroadcastSend>, std::string> searches[] = {
        {true,
         {wired, wifi, usb},
         "The broadcast search could not go out through wlan0 (Network is unreachable), usb0."},
        {true, {wired}, ""},
        {true, {}, "No network interface can carry the broadcast search."},
        {false, {}, "Broadcast search unavailable: port 67 could not be opened"}};
    Window w;
    w.start();
    for (const auto& [started, sends, said] : searches) {
        w.engine.workers = {{K::Broadcast, "", 67, started, ""}};
        w.engine.sends = sends;
        w.controller->onRefreash();
        EXPECT_EQ(w.status.text, said);
    }
}

// Which texts count as an address is fuzz_replay_device_url's, against inet_pton.
TEST(Table, RebuiltOnlyWhenTheListSizeChangesUntilTheCountdownEndsAndOpensOneRowsStrictIPv4Address) {
    Window w;
    w.start();
    w.desktop.tick(3);
    deviceinfo full = device("", "198.51.100.10");
    std::memset(full.host, 'H', sizeof full.host);  // no terminator: ip follows
    const std::string first = std::string(32, 'H') + " 198.51.100.10 DS-220;";
    const std::pair<std::vector<deviceinfo>, std::string> steps[] = {
        {{full}, first},
        {{device("other", "198.51.100.11")}, first},  // same size: not rebuilt
        {{}, ""},
        {{device("a", "198.51.100.11"), device("b", "198.51.100.12"),
          device("evil", "1.2.3.4@evil.example/\x1b[31m")},
         "a 198.51.100.11 DS-220;b 198.51.100.12 DS-220;evil 1.2.3.4@evil.example/\x1b[31m DS-220;"},
    };
    for (const auto& [list, table] : steps) {
        const int reloads = w.table.reloads;
        w.engine.list = list;
        w.desktop.tick();
        EXPECT_EQ(shown(w.table), table);
        EXPECT_EQ(w.table.reloads > reloads, &table != &steps[1].second);
    }
    w.desktop.tick(4);  // the countdown is over
    w.engine.list.push_back(device("late", "198.51.100.13"));
    w.desktop.tick(2);
    EXPECT_EQ(w.table.rows.size(), 3u) << "a device answering late waits for a new search";

    for (std::set<int> selection : {std::set<int>{}, {0, 1}, {7}}) {
        w.table.selection = selection;
        w.controller->onLogin();
    }
    w.controller->tableViewSortDescriptorsDidChange();
    EXPECT_EQ(w.desktop.count("count=11111"), 1);
    w.table.selection = {1};
    w.controller->onGotoStorage();
    w.table.selection = {2};
    w.controller->onLogin();
    w.controller->onTableviewDoubleClicked();
    EXPECT_EQ(w.desktop.urls, Strings{"smb://198.51.100.12"});
    EXPECT_EQ(w.desktop.count("not opening http for \"1.2.3.4@evil.example/\\x1b[31m\": not an IPv4 address"),
              1);

    w.controller->onRefreash();
    EXPECT_EQ(w.buttons() + shown(w.table), "---");
    EXPECT_EQ(w.engine.calls, (Strings{"init", "search", "clear", "search"}));
    w.engine.list = {device("b", "198.51.100.11")};
    w.desktop.tick();
    EXPECT_EQ(w.countdown.text + "|" + shown(w.table), "Search time: 10|b 198.51.100.11 DS-220;");
}

TEST(OtherNetworks, TheDialogRefusesWhatTheCommandLineRefusesKeepsWhatItSavesAndTheCountdownWaitsForIt) {
    Window w({{"Other networks.Bad prefix", "{item}: nur /16 bis /32"}});
    w.desktop.settings[Controller::kTargetsSetting] = "10.0.0.0/8";  // edited by hand
    w.start();
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

    const std::string typed = "198.18.10.0/24\n198.18.10.77, 198.18.11.5 \n\n";
    EXPECT_EQ(w.desktop.save(typed), "");
    EXPECT_EQ(w.desktop.settings["targets"] + w.status.text, typed) << "kept as typed";
    // While the sweep runs, the boxes listed open, Refresh waits and the status line counts.
    const std::tuple<double, unsigned long long, unsigned long long, std::string> asking[] = {
        {3.2, 0, 0, "14+-+"},
        {0.4, 999, 1000, "11+-+Other networks: asking 999 of 1,000 addresses…"},
        {0.0, 65534, 1234567, "11+-+Other networks: asking 65,534 of 1,234,567 addresses…"}};
    for (const auto& [left, done, total, shown] : asking) {
        std::tie(w.engine.sweep.remaining, w.engine.sweep.done, w.engine.sweep.total) = std::tie(left, done, total);
        w.desktop.tick();
        EXPECT_EQ(w.countdown.text + w.buttons() + w.status.text, "Search time: " + shown);
    }
    w.engine.sweep = {false, 0, 510, 2, "Network is unreachable"};
    w.desktop.tick(11);
    EXPECT_EQ(w.countdown.text + w.buttons(), "Search time: 0+-+") << "eleven seconds after the sweep";
    EXPECT_EQ(w.status.text, "Other networks: 2 of 510 requests not sent: Network is unreachable");
    w.desktop.tick();
    EXPECT_EQ(w.buttons(), "+++");
    EXPECT_EQ(w.desktop.save("198.18.10.77, 198.18.10.0/24, 198.18.11.5"), "");  // the same: no new search
    w.controller->onRefreash();  // sweeping again
    w.desktop.settingsWritable = false;
    EXPECT_EQ(w.desktop.save(""), "");  // none left: the running sweep is stopped
    w.controller->onRefreash();
    EXPECT_EQ(w.engine.calls,
              (Strings{"init", "search", "targets 255", "clear", "search", "sweep", "clear", "search",
                       "sweep", "targets 0", "clear", "search", "sweep", "clear", "search"}));
    EXPECT_EQ(w.status.text,
              "The other networks could not be saved in /home/user/.config/nasscout/nasscout.conf; they are "
              "asked until the window closes.");
}

TEST(LanguageChoice, TheFirstLanguageOfTheEnvironmentSelectsItsFileByExactCode) {
    using Env = std::map<std::string, std::string>;
    const std::pair<Env, const char*> cases[] = {{{{"LANG", "de_DE.UTF-8"}}, "de"},
                                                 {{{"LC_ALL", "pt_BR"}, {"LANG", "de_DE"}}, "pt"},
                                                 {{{"LANGUAGE", "fr:de"}, {"LC_ALL", "pl_PL"}}, "fr"},
                                                 {{{"LANGUAGE", ""}, {"LC_MESSAGES", "nl_NL@euro"}}, "nl"},
                                                 {{{"LANGUAGE", "de-DE"}}, "en"},
                                                 {{{"LANGUAGE", "sv:de"}}, "en"},
                                                 {{{"LC_ALL", "POSIX"}, {"LANG", "de"}}, "en"},
                                                 {{{"LC_ALL", "C.UTF-8"}, {"LANG", "de"}}, "en"},
                                                 {{}, "en"}};
    for (const auto& [env, file] : cases)
        EXPECT_EQ(languageResourceName(languageFromEnvironment([&](const char* name) -> const char* {
                      auto it = env.find(name);
                      return it == env.end() ? nullptr : it->second.c_str();
                  })),
                  std::string("XML_") + file)
            << env.size();
}

// An entry's six fields, "-" for each one absent.
std::string fields(const FontNode* e) {
    std::string s;
    for (const auto* f : {&e->KeyString, &e->String, &e->Font, &e->FontColor, &e->FontSize, &e->FontOffset})
        s += f->value_or("-") + "|";
    return s;
}

struct Parsed : Window {
    std::vector<Notification> added, errors;
    explicit Parsed(const std::string& xml) {
        desktop.files["XML_en"] = xml;
        notifications.addObserver(kReflashLanguage, [this](const Notification& n) { added.push_back(n); });
        notifications.addObserver(kEarthquakesErrorNotif,
                                  [this](const Notification& n) { errors.push_back(n); });
        start();
    }
    const FontNode* entry(const std::string& key) { return controller->parseOperation()->entry(key); }
    const LanguageTable& entries() { return controller->parseOperation()->currentParseBatchDic(); }
};

TEST(Parse, NodesBecomeEntriesByKeyAtAnyDepthTheLaterDuplicateWinningAndASmallTableAlertsAndIsStillApplied) {
    Parsed p(R"(<LanguageCFG>
      <KEY KeyString="Before" String="nothing to fill"/>
      <NODE><KEY KeyString="Refresh" String="old"/></NODE>
      <NODE><KEY KeyString="Refresh" String="Again" Font="DejaVu Serif" Color="red" Size=" 12.5pt" Offset="3">x</KEY></NODE>
      <NODE></NODE><NODE><KEY String="no key"/></NODE>
      <!-- nesting does not matter --><x><NODE><KEY KeyString="Device List" String="Font" Font="DejaVu Sans"/></NODE></x>
      <NODE><KEY KeyString="Log In" String="Enter" Font="No Such Font" Size="12"/></NODE>
      <NODE><KEY KeyString="My storage" String="a" Font="DejaVu Sans" Size="11"/><KEY KeyString="My storage" String="a2"/></NODE>
      <KEY KeyString="Moved" String="rewritten"/>
    </LanguageCFG>)");
    ASSERT_EQ(p.entries().size(), 4u);
    EXPECT_EQ(fields(p.entry("Refresh")), "Refresh|Again|DejaVu Serif|red| 12.5pt|3|");
    EXPECT_EQ(fields(p.entry("Device List")), "Device List|Font|DejaVu Sans|-|-|-|")
        << "values that look like names";
    ASSERT_NE(p.entry("My storage"), nullptr) << "the rewritten entry stays under its old key";
    EXPECT_EQ(fields(p.entry("My storage")), "Moved|rewritten|-|-|-|-|")
        << "a second KEY resets what it lacks";
    EXPECT_EQ(p.desktop.count("KEY1=KEY"), 9);

    EXPECT_EQ(p.login.text + "|" + p.refresh.text + "|" + p.storage.text + "|" + p.caption.text,
              "Enter|Again|rewritten|Font");
    ASSERT_TRUE(p.refresh.font && p.caption.font);
    EXPECT_EQ(p.refresh.font->pointSize, 12.5);
    EXPECT_EQ(p.caption.font->pointSize, 9) << "a font without a size still applies, at the default size";
    EXPECT_FALSE(p.login.font || p.storage.font) << "an unknown font leaves the font alone";
}

TEST(Apply, ParsedOnItsOwnThreadTheTableIsAppliedOnTheMainThreadToTheFirstThreeHeadersAndTheControls) {
    Window w;
    w.table.columns = 4;
    ThreadOperationQueue queue;
    w.queue = &queue;
    std::thread::id appliedOn;
    w.notifications.addObserver(kReflashLanguage,
                                [&](const Notification&) { appliedOn = std::this_thread::get_id(); });
    w.start();
    // The parse now waits for the main thread; until it has finished the countdown must not read the table.
    w.mainThread.waitForWork();
    w.desktop.tick();
    EXPECT_EQ(w.countdown.text, "10");
    w.mainThread.pump([&] { return w.controller->parseOperation()->isFinished(); });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(appliedOn, std::this_thread::get_id());
    EXPECT_TRUE(w.desktop.alerts.empty());
    EXPECT_EQ(w.table.headers, (std::map<int, std::string>{{0, "|read-only|Host name|DejaVu Sans"},
                                                           {1, "|read-only|IP address|DejaVu Sans"},
                                                           {2, "|read-only|Device type|DejaVu Sans"},
                                                           {3, "|read-only"}}));
    EXPECT_EQ(w.login.text + "|" + w.caption.text, "Log In|Device List");
    w.desktop.tick();
    EXPECT_EQ(w.countdown.text, "Search time: 9");
}

// Every title in one window carries its own access letter, taken from the title.
void expectOwnLetters(const std::vector<std::pair<std::string, std::string>>& titles,
                      const std::string& lang) {
    std::set<int> letters;
    for (const auto& [title, letter] : titles) {
        EXPECT_TRUE(letter.size() == 1 && strcasestr(title.c_str(), letter.c_str()))
            << lang << " " << title << " '" << letter << "'";
        letters.insert(std::tolower(static_cast<unsigned char>(letter[0])));
    }
    EXPECT_EQ(letters.size(), titles.size()) << lang << ": one letter for two controls";
}

TEST(KnownBoxes, AMoveStaysOnTheStatusLineUntilRefreshAndTheTooltipTellsWhatIsKnownUnlessTurnedOff) {
    struct Boxes : KnownBoxes {
        std::vector<Moved> moves{{"nas-office", "198.51.100.23", "198.51.100.10"}};
        std::vector<Problem> pending{{true, "/state/boxes.db.bad-X", ""}};
        std::vector<Moved> record(const std::vector<deviceinfo>&) override { return std::exchange(moves, {}); }
        std::optional<Facts> facts(const deviceinfo&) override { return Facts{"2.1.7", 0, 90000}; }
        std::vector<Problem> problems() override { return std::exchange(pending, {}); }
    };
    const std::string damaged = "The list of known boxes was damaged; it was moved to /state/boxes.db.bad-X and "
                                "a new one started.";
    for (const char* setting : {"", "Off"}) {
        const bool on = *setting == '\0';
        Boxes boxes;
        Window w;
        w.engine.boxes = &boxes;
        if (!on) w.desktop.settings[kRememberBoxesSetting] = setting;
        w.start();
        deviceinfo d = device("nas-office", "198.51.100.23");  // a broadcast record: no version
        std::strcpy(d.factory, "ORVALE");
        w.engine.list = {d};
        w.desktop.tick();
        EXPECT_EQ(w.status.text, on ? "nas-office is now at 198.51.100.23, was 198.51.100.10\n" + damaged : "");
        EXPECT_EQ(w.table.rows.at(0)->at("ToolTip"),
                  on ? "Maker: ORVALE\nFirmware version: 2.1.7\nFirst seen: 1970-01-01 00:00 UTC\n"
                       "Last seen: 1970-01-02 01:00 UTC"
                     : "Maker: ORVALE");
        w.controller->onRefreash();
        EXPECT_EQ(w.status.text, on ? damaged : "");
    }
}

TEST(ShippedFiles, EachParsesCleanlyWithTextsKnownFontsAndForEveryControlANameADescriptionAndItsOwnLetter) {
    Parsed english(testfiles::readFile(NASSCOUT_LANG_DIR "/XML_en.xml"));
    for (const char* lang : {"en", "de", "fr", "es", "it", "nl", "da", "pl", "pt"}) {
        Parsed p(testfiles::readFile(std::string(NASSCOUT_LANG_DIR "/XML_") + lang + ".xml"));
        p.mainThread.pump();
        EXPECT_TRUE(p.errors.empty() && p.added.size() == 1 && !p.desktop.title.empty()) << lang;
        for (const auto& [key, entry] : english.entries()) {  // every file has each entry
            const std::string text = p.entry(key) ? p.entry(key)->String.value_or("") : "";
            EXPECT_TRUE(!text.empty() && (lang != std::string("fr") || text.find(" :") == std::string::npos))
                << lang << " " << key << ": missing, or French without a no-break space before a colon";
        }
        for (const auto& [key, text] : kEnglish)
            EXPECT_TRUE(key == "Search Time" || p.desktop.fontWithName(p.entry(key)->Font.value_or(""), 0))
                << lang << " " << key;
        p.controller->onOtherNetworks();
        const TargetsDialog::Texts& d = *p.desktop.dialog;
        std::vector<std::pair<std::string, std::string>> window;
        for (const FakeControl* c : {&p.login, &p.refresh, &p.storage, &p.caption, &p.others}) {
            window.emplace_back(c->text, c->access.mnemonic);
            EXPECT_FALSE(c->access.name.empty() || c->access.description.empty()) << lang << " " << c->text;
        }
        expectOwnLetters(window, lang);
        expectOwnLetters({{d.label, d.labelAccess.mnemonic},
                          {d.save.title, d.save.access.mnemonic},
                          {d.cancel.title, d.cancel.access.mnemonic}},
                         lang);
        for (const AccessTexts* a : std::initializer_list<const AccessTexts*>{
                 &p.countdown.access, &p.status.access, &p.table.access, &d.labelAccess})
            EXPECT_FALSE(a->name.empty() || a->description.empty()) << lang;
    }
}

}  // namespace
