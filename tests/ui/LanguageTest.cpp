#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Fakes.h"
#include "FloatValue.h"
#include "LanguageChoice.h"
#include "ThreadOperationQueue.h"

namespace {

// Which file the window asks for, given the preferred languages.
std::string chosenFile(const std::vector<std::string>& languages) {
    Window w;
    w.preferences.languages = languages;
    for (const char* lang : {"en", "de", "fr", "pt"}) w.resources.files[std::string("XML_") + lang] = "<x/>";
    w.start();
    const std::string& line = w.log.lines.at(1);
    return line.substr(line.rfind('/') + 1);
}

TEST(LanguageChoice, OnlyAnExactFirstLanguageSelectsItsFile) {
    EXPECT_EQ(chosenFile({"de"}), "XML_de.xml");
    EXPECT_EQ(chosenFile({"pt", "de"}), "XML_pt.xml");
    for (const auto& langs : std::vector<std::vector<std::string>>{{"de-DE"}, {"en"}, {"zh-Hans"}, {"sv", "de"}, {}})
        EXPECT_EQ(chosenFile(langs), "XML_en.xml") << (langs.empty() ? "(none)" : langs.front());
    EXPECT_EQ(languageResourceName("pl"), "XML_pl");
    EXPECT_EQ(languageResourceName(std::nullopt), "XML_en");
}

TEST(LanguageChoice, MissingFileMeansNoTableAndABareCountdown) {
    Window w;
    w.preferences.languages = {"pt"};
    w.start();
    EXPECT_EQ(w.log.lines.at(0), "current=pt");
    EXPECT_EQ(w.log.lines.at(1), "fileToOpen = (null)");
    EXPECT_EQ(w.controller->parseOperation(), nullptr);
    w.timer.tick();
    EXPECT_EQ(w.countdown.text, "10");
    EXPECT_EQ(w.login.title, "resource");
    EXPECT_EQ(w.caption.text, "resource");
}

TEST(LanguageChoice, EnvironmentIsReducedToTheLanguageCode) {
    auto from = [](std::map<std::string, std::string> env) {
        return languageFromEnvironment([&](const char* name) -> const char* {
            auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        });
    };
    EXPECT_EQ(from({{"LANG", "de_DE.UTF-8"}}), "de");
    EXPECT_EQ(from({{"LC_ALL", "pt_BR"}, {"LANG", "de_DE"}}), "pt");
    EXPECT_EQ(from({{"LANGUAGE", "fr:de"}, {"LC_ALL", "pl_PL"}}), "fr");
    EXPECT_EQ(from({{"LANGUAGE", ""}, {"LC_MESSAGES", "nl_NL@euro"}}), "nl");
    EXPECT_EQ(from({{"LANG", "C"}}), std::nullopt);
    EXPECT_EQ(from({{"LC_ALL", "POSIX"}, {"LANG", "de_DE"}}), std::nullopt);
    EXPECT_EQ(from({{"LANG", "C.UTF-8"}}), std::nullopt);
    EXPECT_EQ(from({}), std::nullopt);
    EXPECT_EQ(languageResourceName(from({{"LANGUAGE", "de-DE"}})), "XML_en");
}

struct Parsed {
    Window w;
    std::vector<Notification> added, errors;
    explicit Parsed(const std::string& xml) {
        w.resources.files["XML_en"] = xml;
        w.notifications.addObserver(kReflashLanguage, [this](const Notification& n) { added.push_back(n); });
        w.notifications.addObserver(kEarthquakesErrorNotif, [this](const Notification& n) { errors.push_back(n); });
        w.start();
    }
    const FontNode* entry(const std::string& key) { return w.controller->parseOperation()->entry(key); }
    std::size_t size() { return w.controller->parseOperation()->currentParseBatchDic().size(); }
};

TEST(Parse, NodesBecomeEntriesByKeyAndTheLaterDuplicateWins) {
    Parsed p(R"(<LanguageCFG>
      <NODE><KEY KeyString="Refresh" String="old"/></NODE>
      <NODE><KEY KeyString="Refresh" String="new" Font="DejaVu Sans" Color="red" Size="12" Offset="3">ignored</KEY></NODE>
      <NODE></NODE>
      <NODE><KEY String="no key"/></NODE>
      <!-- nesting does not matter --><x><NODE><KEY KeyString="Deep" String="d"/></NODE></x>
    </LanguageCFG>)");
    ASSERT_EQ(p.size(), 2u);
    const FontNode* e = p.entry("Refresh");
    EXPECT_EQ(e->String, "new");
    EXPECT_EQ(e->Font, "DejaVu Sans");
    EXPECT_EQ(e->FontColor, "red");
    EXPECT_EQ(e->FontSize, "12");
    EXPECT_EQ(e->FontOffset, "3");
    EXPECT_NE(p.entry("Deep"), nullptr);
    EXPECT_EQ(p.added.size(), 1u);
    EXPECT_EQ(p.added[0].object, p.w.controller->parseOperation().get());
    EXPECT_EQ(p.w.log.count("KEY1=KEY"), 4);
}

TEST(Parse, KeyOutsideANodeRewritesTheLastEntryAndASecondKeyResetsMissingFields) {
    Parsed p(R"(<LanguageCFG>
      <KEY KeyString="Before" String="nothing to fill"/>
      <NODE><KEY KeyString="A" String="a" Font="DejaVu Sans" Size="11"/><KEY KeyString="A" String="a2"/></NODE>
      <KEY KeyString="Moved" String="rewritten"/>
    </LanguageCFG>)");
    ASSERT_EQ(p.size(), 1u);
    const FontNode* e = p.entry("A");
    ASSERT_NE(e, nullptr) << "the entry stays under its old key";
    EXPECT_EQ(e->KeyString, "Moved");
    EXPECT_EQ(e->String, "rewritten");
    EXPECT_EQ(e->Font, std::nullopt);
    EXPECT_EQ(e->FontSize, std::nullopt);
}

TEST(Parse, WrongRootFillsTheTableButAppliesNothing) {
    Parsed p(languageFile(englishEntries(), "Strings"));
    EXPECT_EQ(p.size(), 8u);
    EXPECT_TRUE(p.added.empty());
    EXPECT_EQ(p.w.login.title, "resource");
    EXPECT_TRUE(p.w.table.editable.empty());
    p.w.timer.tick();
    EXPECT_EQ(p.w.countdown.text, "Search time: 10");
}

TEST(Parse, TruncatedFileReportsTheErrorLaterOnTheMainThreadAndAppliesNothing) {
    const std::string full = languageFile(englishEntries());
    Parsed p(full.substr(0, full.find("Device List") + 40));
    EXPECT_EQ(p.size(), 6u) << "entries before the error stay";
    EXPECT_TRUE(p.errors.empty()) << "posted through the main thread's queue, not waited for";
    p.w.mainThread.pump();
    ASSERT_EQ(p.errors.size(), 1u);
    const auto& error = std::any_cast<const ParseError&>(p.errors[0].userInfo.at(kEarthquakesMsgErrorKey));
    EXPECT_NE(error.code, 0);
    EXPECT_FALSE(error.description.empty());
    EXPECT_TRUE(p.added.empty());
    EXPECT_EQ(p.w.login.title, "resource");
    EXPECT_TRUE(p.w.alert.shown.empty());
}

TEST(Apply, EntriesStyleHeadersButtonsAndCaption) {
    Window w;
    w.table.columns = 4;
    w.start();
    EXPECT_TRUE(w.alert.shown.empty());
    EXPECT_EQ(w.table.titles, (std::map<int, std::string>{{0, "Host name"}, {1, "IP address"}, {2, "Device type"}}));
    EXPECT_EQ(w.table.editable, (std::map<int, bool>{{0, false}, {1, false}, {2, false}, {3, false}}));
    EXPECT_EQ(w.table.fonts.count(3), 0u);
    EXPECT_EQ(w.table.fonts[0].family, "DejaVu Sans");
    EXPECT_EQ(w.login.title, "Log In");
    EXPECT_EQ(w.refresh.title, "Refresh");
    EXPECT_EQ(w.storage.title, "My storage");
    EXPECT_EQ(w.caption.text, "Device List");
    ASSERT_TRUE(w.caption.font);
    EXPECT_EQ(w.caption.font->pointSize, 11);
}

TEST(Apply, SmallTableRaisesTheAlertAndIsStillApplied) {
    Window w;
    w.resources.files["XML_en"] = R"(<LanguageCFG>
      <NODE><KEY KeyString="Log In" String="Enter" Font="DejaVu Serif" Size=" 12.5pt"/></NODE>
      <NODE><KEY KeyString="Refresh" String="Again" Font="DejaVu Sans" Size="big"/></NODE>
      <NODE><KEY KeyString="My storage" String="Files" Font="No Such Font" Size="12"/></NODE>
      <NODE><KEY KeyString="Device List" String="Boxes"/></NODE>
    </LanguageCFG>)";
    w.start();
    ASSERT_EQ(w.alert.shown.size(), 1u);
    EXPECT_EQ(w.alert.shown[0], (std::vector<std::string>{"aaa", "OK", "bbb"}));
    EXPECT_EQ(w.login.title, "Enter");
    EXPECT_EQ(w.login.font->pointSize, 12.5);
    EXPECT_EQ(w.refresh.font->pointSize, FakeFonts::kDefaultSize);
    EXPECT_EQ(w.storage.title, "Files");
    EXPECT_EQ(w.storage.font, std::nullopt) << "unknown font leaves the font alone";
    EXPECT_EQ(w.caption.text, "Boxes");
    EXPECT_EQ(w.caption.font, std::nullopt);
    EXPECT_TRUE(w.table.titles.empty());
}

TEST(Apply, FloatValueReadsTheLeadingNumber) {
    EXPECT_EQ(floatValue("12.5"), 12.5f);
    EXPECT_EQ(floatValue("  11pt"), 11.0f);
    EXPECT_EQ(floatValue("-3"), -3.0f);
    EXPECT_EQ(floatValue(".5"), 0.5f);
    EXPECT_EQ(floatValue("1e1"), 10.0f);
    EXPECT_EQ(floatValue("12,5"), 12.0f) << "the decimal point is always \".\"";
    for (const char* none : {"", "pt11", "nan", "inf", ".", "1e999", "+-1"}) EXPECT_EQ(floatValue(none), 0.0f) << none;
}

TEST(Apply, ParseOnItsOwnThreadAppliesOnTheMainThreadWhileItWaits) {
    Window w;
    ThreadOperationQueue queue;
    w.queue = &queue;
    std::thread::id appliedOn;
    w.notifications.addObserver(kReflashLanguage, [&](const Notification&) { appliedOn = std::this_thread::get_id(); });
    w.start();
    // The parse now waits for the main thread: the table is complete but the
    // operation has not finished, so the countdown must not read it yet.
    w.mainThread.waitForWork();
    w.timer.tick();
    EXPECT_EQ(w.countdown.text, "10");
    w.mainThread.pump([&] { return w.controller->parseOperation()->isFinished(); });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(appliedOn, std::this_thread::get_id());
    EXPECT_EQ(w.login.title, "Log In");
    w.timer.tick();
    EXPECT_EQ(w.countdown.text, "Search time: 9");
}

TEST(ShippedFiles, EachHasTheEightEntriesAndParsesCleanly) {
    const std::vector<std::string> keys{"List1",      "List2",       "List3",      "Log In",
                                        "Refresh",    "My storage",  "Device List", "Search Time"};
    for (const char* lang : {"en", "de", "fr", "es", "it", "nl", "da", "pl", "pt"}) {
        std::ifstream in(std::string(NASSCOUT_LANG_DIR) + "/XML_" + lang + ".xml", std::ios::binary);
        ASSERT_TRUE(in) << lang;
        std::stringstream text;
        text << in.rdbuf();
        Parsed p(text.str());
        p.w.mainThread.pump();
        EXPECT_TRUE(p.errors.empty()) << lang;
        EXPECT_EQ(p.added.size(), 1u) << lang;
        for (const std::string& key : keys) {
            const FontNode* e = p.entry(key);
            ASSERT_NE(e, nullptr) << lang << " " << key;
            EXPECT_FALSE(e->String.value_or("").empty()) << lang << " " << key;
            if (key != "Search Time") {
                EXPECT_TRUE(p.w.fonts.fontWithName(e->Font.value_or(""), 0)) << lang << " " << key;
            }
        }
    }
}

}  // namespace
