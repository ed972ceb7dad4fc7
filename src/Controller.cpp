#include "Controller.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "DeviceUrl.h"
#include "FloatValue.h"
#include "KnownBoxesText.h"
#include "LanguageChoice.h"
#include "SearchTargetsText.h"
#include "WorkerStatusText.h"

namespace {

// Record texts are fixed 32-byte fields filled from the network; they need
// not be terminated.
template <std::size_t N>
std::string fieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// For log lines: device texts may hold control characters.
std::string printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c != 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            static const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// 65534 -> "65,534" with separator ",".
std::string grouped(unsigned long long n, const std::string& separator) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += separator;
        out += digits[i];
    }
    return out;
}

}  // namespace

Controller::Controller(Outlets outlets, Desktop desktop, DeviceEngine& engine)
    : o_(outlets), d_(std::move(desktop)), engine_(engine) {}

Controller::~Controller() {
    if (observer_) d_.notifications.removeObserver(*observer_);
    if (o_.array_controller) o_.array_controller->removeObjects(device_);
    device_.clear();
}

void Controller::awakeFromNib() {
    device_.clear();
    loadLanguage();

    engine_.init();
    if (rememberBoxes(d_.settings ? d_.settings->value(kRememberBoxesSetting) : std::nullopt))
        boxes_ = engine_.knownBoxes();
    if (boxes_) boxProblems_ = boxes_->problems();  // a damaged file is news before any box answers
    loadTargets();
    search();
    workers_ = engine_.workerStatus();
    broadcastSends_ = engine_.broadcastSends();
    showStatus(LanguageTexts(finishedTable()));

    counter_ = 0;
    setButtonsEnabled(false);
    d_.timer.scheduleRepeating(1.0, [this] { getDeviceList(); });
    count_ = 0;
}

void Controller::loadLanguage() {
    const std::vector<std::string> languages = d_.preferences.preferredLanguages();
    std::optional<std::string> current;
    if (!languages.empty()) current = languages.front();
    d_.log.log("current=" + (current ? *current : std::string("(null)")));

    const std::optional<std::string> path = d_.resources.pathForResource(languageResourceName(current), "xml");
    observer_ = d_.notifications.addObserver(kReflashLanguage, [this](const Notification& n) { ReflashLanguage(n); });
    std::optional<std::vector<char>> bytes;
    if (path) bytes = d_.resources.contentsOfFile(*path);
    if (bytes) {
        parseOperation_ = ParseOperation::initWithData(std::move(*bytes), d_.notifications, d_.mainThread, d_.log);
        d_.parseQueue.addOperation(parseOperation_);
    }
    d_.log.log("fileToOpen = " + (path ? *path : std::string("(null)")));
}

void Controller::loadTargets() {
    if (!d_.settings) return;
    const std::optional<std::string> text = d_.settings->value(kTargetsSetting);
    if (!text) return;
    targetsText_ = *text;
    // A hand-edited file may hold anything; the dialog shows it for mending.
    if (!ParseSearchTargetLines(targetsText_, targets_, storedTargetsError_)) {
        d_.log.log("other networks not searched: " + printable(storedTargetsError_.Describe()));
        return;
    }
    if (!targets_.Empty()) engine_.setSearchTargets(targets_);
}

void Controller::search() {
    engine_.search();
    lastSweep_ = {};
    // Without targets the engine is not asked to sweep, unless a sweep of
    // targets the user has just removed may still be running: asking with
    // none stops it.
    if (!targets_.Empty() || sweeping_) sweeping_ = engine_.sweepSearchTargets() && !targets_.Empty();
}

void Controller::setButtonsEnabled(bool enabled) {
    for (Button* b : {o_.loginbutton, o_.refreshbutton, o_.storagebutton})
        if (b) b->setEnabled(enabled);
}

const FontNode* Controller::finishedEntry(const std::string& key) const {
    // The parse thread writes the table until it finishes.
    if (!parseOperation_ || !parseOperation_->isFinished()) return nullptr;
    return parseOperation_->entry(key);
}

const LanguageTable* Controller::finishedTable() const {
    if (!parseOperation_ || !parseOperation_->isFinished()) return nullptr;
    return &parseOperation_->currentParseBatchDic();
}

void Controller::showStatus(const LanguageTexts& texts) {
    if (!o_.statusField) return;
    std::string text = workerStatusText(workers_, texts);
    auto addLine = [&text](const std::string& line) {
        if (!text.empty()) text += "\n";
        text += line;
    };
    if (const std::string sent = broadcastSendText(broadcastSends_, workers_, texts); !sent.empty())
        addLine(sent);
    if (storedTargetsError_.reason != SearchTargetError::Reason::None)
        addLine(
            LanguageTexts::fill(texts.text("Status Targets Refused", "Other networks not searched: {reason}"),
                                {{"reason", searchTargetsErrorText(storedTargetsError_, texts)}}));
    if (targetsNotSaved_ && d_.settings)
        addLine(LanguageTexts::fill(texts.text("Status Targets Not Saved",
                                               "The other networks could not be saved in {file}; they are "
                                               "asked until the window closes."),
                                    {{"file", d_.settings->location()}}));
    if (sweeping_ && lastSweep_.total > 0) {
        const std::string separator = texts.text("Digit Group Separator", ",");
        addLine(LanguageTexts::fill(
            texts.text("Status Targets Asking", "Other networks: asking {done} of {total} addresses…"),
            {{"done", grouped(lastSweep_.done, separator)}, {"total", grouped(lastSweep_.total, separator)}}));
    }
    if (!sweeping_ && lastSweep_.failed > 0)
        addLine(LanguageTexts::fill(
            texts.text("Status Targets Failed",
                       "Other networks: {failed} of {attempts} requests not sent: {reason}"),
            {{"failed", std::to_string(lastSweep_.failed)},
             {"attempts", std::to_string(lastSweep_.attempts)},
             {"reason", lastSweep_.error}}));
    for (const KnownBoxes::Moved& m : moved_) addLine(boxMovedText(m, texts));
    for (const KnownBoxes::Problem& p : boxProblems_) addLine(boxProblemText(p, texts));
    if (searchEnded_ && count_ == 0)
        addLine(LanguageTexts::fill(
            texts.text("Status Nothing Found", "No devices found. Run nasscout-cli doctor, or see \"Troubleshooting\" in {readme}."),
            {{"readme", d_.readmePath}}));
    o_.statusField->setStringValue(text);
}

void Controller::getDeviceList() {
    std::vector<deviceinfo> list;
    engine_.deviceList(list);

    if (sweeping_) {
        lastSweep_ = engine_.sweepStatus();
        sweeping_ = lastSweep_.running;
        if (sweeping_) {
            // A /16 takes minutes: the boxes already listed can be opened
            // meanwhile, while a new search waits for the sweep to end.
            for (Button* b : {o_.loginbutton, o_.storagebutton})
                if (b) b->setEnabled(true);
        } else if (lastSweep_.failed > 0) {
            d_.log.log("other networks: " + std::to_string(lastSweep_.failed) + " of " +
                       std::to_string(lastSweep_.attempts) + " requests not sent: " + lastSweep_.error);
        }
        showStatus(LanguageTexts(finishedTable()));  // the progress, or its end
    }

    if (counter_ >= kCountdownTicks) {
        setButtonsEnabled(true);
        if (o_.countdownField) o_.countdownField->setStringValue("");
        if (!searchEnded_) {
            searchEnded_ = true;
            showStatus(LanguageTexts(finishedTable()));
        }
        return;
    }

    int left;
    if (sweeping_) {
        // Answers get their full time once the last target was asked: until
        // then the count stays at 0 and the sweep's time left is added on top.
        left = kCountdownTicks - 1 + std::max(1, static_cast<int>(std::ceil(lastSweep_.remaining)));
    } else {
        ++counter_;
        left = kCountdownTicks - counter_;
    }
    const std::string remaining = std::to_string(left);
    const FontNode* label = finishedEntry("Search Time");
    // Without a label the number stands alone.
    const std::string text = label && label->String ? *label->String + " " + remaining : remaining;
    if (o_.countdownField) o_.countdownField->setStringValue(text);

    d_.log.log("vListDevice.size() = " + std::to_string(list.size()));

    if (static_cast<std::int64_t>(list.size()) == count_) return;

    if (boxes_) {
        std::vector<KnownBoxes::Moved> moved = boxes_->record(list);
        std::vector<KnownBoxes::Problem> problems = boxes_->problems();
        moved_.insert(moved_.end(), moved.begin(), moved.end());
        boxProblems_.insert(boxProblems_.end(), problems.begin(), problems.end());
        if (!moved.empty() || !problems.empty()) showStatus(LanguageTexts(finishedTable()));
    }
    clearTable();
    const LanguageTexts texts(finishedTable());
    for (const deviceinfo& info : list) {
        auto row = std::make_shared<const Row>(Row{
            {"HomeHost", fieldText(info.host)},
            {"IP", fieldText(info.ip)},
            {"DeviceType", fieldText(info.product)},
            {"ToolTip", boxToolTip(info, boxes_ ? boxes_->facts(info) : std::nullopt, texts)},
        });
        device_.push_back(row);
        if (o_.array_controller) o_.array_controller->addObject(row);
    }
    if (o_.tableview) o_.tableview->reloadData();
    count_ = static_cast<std::int32_t>(list.size());
}

void Controller::clearTable() {
    if (o_.array_controller) o_.array_controller->removeObjects(device_);
    device_.clear();
}

void Controller::onRefreash() {
    clearTable();
    if (o_.tableview) o_.tableview->reloadData();
    engine_.clearDeviceList();
    moved_.clear();
    search();
    count_ = 0;
    counter_ = 0;
    setButtonsEnabled(false);
    // A search may add workers for new addresses, or fail where the last one worked.
    workers_ = engine_.workerStatus();
    broadcastSends_ = engine_.broadcastSends();  // the search has sent by now
    searchEnded_ = false;
    showStatus(LanguageTexts(finishedTable()));
}

void Controller::onLogin() { openSelected("http"); }

void Controller::onGotoStorage() { openSelected("smb"); }

void Controller::openSelected(const std::string& scheme) {
    if (!o_.tableview || !o_.array_controller) return;
    const int row = o_.tableview->selectedRow();
    if (row < 0 || row >= o_.tableview->numberOfRows()) return;
    // The selection, not the row index: the table may be sorted.
    const std::vector<RowPtr> selected = o_.array_controller->selectedObjects();
    if (selected.size() != 1) return;
    const auto ip = selected.front()->find("IP");
    const std::string address = ip == selected.front()->end() ? std::string() : ip->second;
    const std::string url = deviceUrl(scheme, address);
    if (url.empty()) {
        d_.log.log("not opening " + scheme + " for \"" + printable(address) + "\": not an IPv4 address");
        return;
    }
    d_.workspace.openURL(url, [this, scheme, url] { showOpenFailure(scheme, url); });
}

void Controller::showOpenFailure(const std::string& scheme, const std::string& url) {
    d_.log.log("could not open " + url);
    if (!d_.failureMessage) return;
    const LanguageTexts t(finishedTable());
    const std::string details = scheme == "smb"
                                    ? t.text("Open Failed smb",
                                             "Opening file shares needs a file manager with network support. "
                                             "You can copy the address and open it in another program.")
                                    : t.text("Open Failed http",
                                             "No web browser is set up to open it. "
                                             "You can copy the address and open it in another program.");
    d_.failureMessage->show(
        LanguageTexts::fill(t.text("Open Failed", "Could not open {address}"), {{"address", url}}), details,
        {t.text("Copy address", "Copy address"), t.access("Copy address")}, url,
        {t.text("Close", "Close"), t.access("Close")});
}

void Controller::onOtherNetworks() {
    if (!d_.targetsDialog) return;
    const LanguageTexts t(finishedTable());
    d_.targetsDialog->show(
        {t.text("Other networks.Title", "Other networks"),
         t.text(
             "Other networks.Explanation",
             "Routers do not pass the search on to other networks or VLANs. Enter the devices and networks "
             "to ask directly, one per line or separated by commas: addresses such as 10.1.20.7, and "
             "networks from /16 to /32 such as 10.1.20.0/24. They are asked after every search; a /24 "
             "takes about half a second, a /16 about two minutes."),
         t.text("Other networks.Targets", "Addresses and networks:"),
         t.access("Other networks.Targets"),
         {t.text("Save", "Save"), t.access("Save")},
         {t.text("Cancel", "Cancel"), t.access("Cancel")}},
        targetsText_, [this](const std::string& text) { return saveTargets(text); });
}

std::string Controller::saveTargets(const std::string& text) {
    CSearchTargetList parsed;
    SearchTargetError error;
    if (!ParseSearchTargetLines(text, parsed, error))
        return searchTargetsErrorText(error, LanguageTexts(finishedTable()));
    targetsText_ = text;
    storedTargetsError_ = {};
    if (d_.settings) {
        targetsNotSaved_ = !d_.settings->setValue(kTargetsSetting, text);
        if (targetsNotSaved_) d_.log.log("could not save the other networks in " + d_.settings->location());
    }
    if (parsed == targets_) {
        showStatus(LanguageTexts(finishedTable()));
        return {};
    }
    targets_ = std::move(parsed);
    engine_.setSearchTargets(targets_);
    // The user wants to see what the new targets answer, now.
    onRefreash();
    return {};
}

void Controller::onTableviewDoubleClicked() {}

void Controller::tableViewSortDescriptorsDidChange() {
    if (o_.tableview) o_.tableview->reloadData();
    d_.log.log("count=11111");
}

void Controller::windowWillClose() { d_.exitProcess(1); }

std::optional<Font> Controller::fontOf(const FontNode& node) {
    if (!node.Font) return std::nullopt;
    return d_.fonts.fontWithName(*node.Font, node.FontSize ? floatValue(*node.FontSize) : 0.0);
}

void Controller::ReflashLanguage(const Notification&) {
    if (!parseOperation_) return;
    const LanguageTable& table = parseOperation_->currentParseBatchDic();
    if (table.size() <= 4) d_.alert.show("aaa", "OK", "bbb");

    auto lookup = [&](const std::string& key) -> const FontNode* {
        const auto it = table.find(key);
        return it == table.end() ? nullptr : it->second.get();
    };

    if (o_.tableview) {
        static const char* kHeaders[] = {"List1", "List2", "List3"};
        const int columns = o_.tableview->numberOfColumns();
        for (int c = 0; c < columns; ++c) {
            o_.tableview->setColumnEditable(c, false);
            if (c >= 3) continue;
            if (const FontNode* e = lookup(kHeaders[c])) {
                if (e->String) o_.tableview->setHeaderTitle(c, *e->String);
                if (auto f = fontOf(*e)) o_.tableview->setHeaderFont(c, *f);
            }
        }
    }
    const std::pair<const char*, Button*> buttons[] = {{"Log In", o_.loginbutton},
                                                       {"Refresh", o_.refreshbutton},
                                                       {"My storage", o_.storagebutton},
                                                       {"Other networks", o_.othersbutton}};
    for (const auto& [key, button] : buttons) {
        const FontNode* e = lookup(key);
        if (!e || !button) continue;
        if (e->String) button->setTitle(*e->String);
        if (auto f = fontOf(*e)) button->setFont(*f);
    }
    if (const FontNode* e = lookup("Device List"); e && o_.deviceListField) {
        if (e->String) o_.deviceListField->setStringValue(*e->String);
        if (auto f = fontOf(*e)) o_.deviceListField->setFont(*f);
    }

    // The parse thread waits while this runs, so the table is safe to read
    // although the operation has not finished yet.
    const LanguageTexts texts(&table);
    applyAccessTexts(texts);
    showStatus(texts);
}

void Controller::applyAccessTexts(const LanguageTexts& texts) {
    if (const std::string title = texts.text("Window Title", ""); o_.window && !title.empty())
        o_.window->setTitle(title);
    // Each control and the entry it takes its texts from; a new control adds a line.
    const std::pair<const char*, Accessible*> controls[] = {
        {"Device Table", o_.tableview},      {"Log In", o_.loginbutton},
        {"Refresh", o_.refreshbutton},       {"My storage", o_.storagebutton},
        {"Device List", o_.deviceListField}, {"Search Time", o_.countdownField},
        {"Status", o_.statusField},          {"Other networks", o_.othersbutton}};
    for (const auto& [key, control] : controls)
        if (control) control->setAccess(texts.access(key));
}
