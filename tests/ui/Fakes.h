// Fake desktop and engine for the window logic: no toolkit, no network.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "Controller.h"

struct FakeEngine : DeviceEngine {
    std::vector<deviceinfo> list;
    std::vector<SearchWorkerStatus> workers;
    std::vector<std::string> calls;
    void init() override { calls.push_back("init"); }
    void search() override { calls.push_back("search"); }
    void deviceList(std::vector<deviceinfo>& out) override { out = list; }
    void clearDeviceList() override { calls.push_back("clear"), list.clear(); }
    std::vector<SearchWorkerStatus> workerStatus() override { return workers; }
    std::vector<SearchBroadcastSend> sends;
    std::vector<SearchBroadcastSend> broadcastSends() override { return sends; }
    CSearchTargetList targets;
    SweepStatus sweep;  // what every poll reports
    void setSearchTargets(const CSearchTargetList& t) override {
        calls.push_back("targets " + std::to_string(t.Count()));
        targets = t;
    }
    bool sweepSearchTargets() override {
        calls.push_back("sweep");
        return sweep.running = !targets.Empty();
    }
    SweepStatus sweepStatus() override { return sweep; }
    KnownBoxes* boxes = nullptr;
    KnownBoxes* knownBoxes() override { return boxes; }
};

inline deviceinfo device(const char* host, const char* ip) {
    deviceinfo d;
    std::strncpy(d.host, host, sizeof d.host - 1);
    std::strncpy(d.ip, ip, sizeof d.ip - 1);
    std::strcpy(d.product, "DS-220");
    return d;
}

// Array controller and table view in one, rows in the order added.
struct FakeTable : ArrayController, TableView {
    std::vector<RowPtr> rows;
    std::set<int> selection;
    int reloads = 0, columns = 3;
    std::map<int, std::string> headers;  // "|read-only|title|font"
    AccessTexts access;
    void setAccess(const AccessTexts& a) override { access = a; }
    void addObject(const RowPtr& row) override { rows.push_back(row); }
    void removeObjects(const std::vector<RowPtr>& gone) override {
        std::erase_if(rows, [&](const RowPtr& r) { return std::ranges::find(gone, r) != gone.end(); });
    }
    std::vector<RowPtr> selectedObjects() const override {
        std::vector<RowPtr> out;
        for (int i : selection)
            if (i < numberOfRows()) out.push_back(rows[i]);
        return out;
    }
    void reloadData() override { ++reloads; }
    int selectedRow() const override { return selection.empty() ? -1 : *selection.begin(); }
    int numberOfRows() const override { return static_cast<int>(rows.size()); }
    int numberOfColumns() const override { return columns; }
    void setColumnEditable(int c, bool e) override { headers[c] += e ? "|editable" : "|read-only"; }
    void setHeaderTitle(int c, const std::string& t) override { headers[c] += "|" + t; }
    void setHeaderFont(int c, const Font& f) override { headers[c] += "|" + f.family; }
};

// A button or a text field.
struct FakeControl : Button, TextField {
    bool enabled = true;
    std::string text = "resource";
    std::optional<Font> font;
    AccessTexts access;
    void setAccess(const AccessTexts& a) override { access = a; }
    void setEnabled(bool e) override { enabled = e; }
    void setTitle(const std::string& t) override { text = t; }
    void setStringValue(const std::string& t) override { text = t; }
    void setFont(const Font& f) override { font = f; }
};

// The rest of the desktop; parse operations run at once, on the calling thread.
struct FakeDesktop : Timer, Workspace, SystemLog, Alert, FontCatalogue, Resources, Preferences, OperationQueue,
                     FailureMessage, WindowFrame, Settings, TargetsDialog {
    std::function<void()> onTick;
    std::vector<std::string> urls, alerts, failures;
    bool openFails = false;
    std::string title;
    std::map<std::string, std::string> files;  // "XML_de" -> contents, its path the name alone
    mutable std::mutex m;
    std::vector<std::string> lines;

    void scheduleRepeating(double seconds, std::function<void()> f) override {
        EXPECT_EQ(seconds, 1.0);
        onTick = std::move(f);
    }
    void tick(int n = 1) {
        while (n-- > 0) onTick();
    }
    void openURL(const std::string& url, std::function<void()> failed) override {
        urls.push_back(url);
        if (openFails) failed();
    }
    void show(const std::string& message, const std::string& details, const ButtonText& copy,
              const std::string& copyText, const ButtonText& close) override {
        failures.push_back(message + "|" + details + "|" + copy.title + "|" + copyText + "|" + close.title);
    }
    void setTitle(const std::string& t) override { title = t; }
    void log(const std::string& line) override {
        std::lock_guard l(m);
        lines.push_back(line);
    }
    int count(const std::string& line) const {
        std::lock_guard l(m);
        return static_cast<int>(std::ranges::count(lines, line));
    }
    void show(const std::string& message, const std::string& button, const std::string& info) override {
        alerts.push_back(message + "|" + button + "|" + info);
    }
    std::optional<Font> fontWithName(const std::string& name, double size) override {
        if (name != "DejaVu Sans" && name != "DejaVu Serif") return std::nullopt;
        return Font{name, size > 0 ? size : 9};
    }
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const override {
        return type == "xml" && files.count(name) ? std::optional(name) : std::nullopt;
    }
    std::optional<std::vector<char>> contentsOfFile(const std::string& name) const override {
        if (!files.count(name)) return std::nullopt;
        return std::vector<char>(files.at(name).begin(), files.at(name).end());
    }
    std::vector<std::string> preferredLanguages() const override { return {}; }
    void addOperation(std::shared_ptr<Operation> op) override { op->main(); }

    std::map<std::string, std::string> settings;
    bool settingsWritable = true;
    std::optional<std::string> value(const std::string& key) const override {
        return settings.count(key) ? std::optional(settings.at(key)) : std::nullopt;
    }
    bool setValue(const std::string& key, const std::string& v) override {
        if (settingsWritable) settings[key] = v;
        return settingsWritable;
    }
    std::string location() const override { return "/home/user/.config/nasscout/nasscout.conf"; }

    // The open dialog: its texts, the text it was opened with, its Save.
    std::optional<TargetsDialog::Texts> dialog;
    std::string dialogText;
    std::function<std::string(const std::string&)> save;
    void show(const TargetsDialog::Texts& t, const std::string& text,
              std::function<std::string(const std::string&)> onSave) override {
        dialog = t;
        dialogText = text;
        save = std::move(onSave);
    }
};

// The test's thread is the main thread: work posted from another thread waits
// for pump(); waiting work from the main thread runs at once.
struct FakeMainThread : MainThread {
    std::thread::id mainId = std::this_thread::get_id();
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::packaged_task<void()>> queue;

    void perform(std::function<void()> work, bool wait) override {
        if (wait && std::this_thread::get_id() == mainId) return work();
        std::packaged_task<void()> task(std::move(work));
        std::future<void> ran = task.get_future();
        std::unique_lock l(m);
        queue.push_back(std::move(task));
        cv.notify_all();
        l.unlock();
        if (wait) ran.wait();
    }
    // Runs queued work on the main thread until `until` holds.
    void pump(const std::function<bool()>& until = [] { return true; }) {
        std::unique_lock l(m);
        while (!queue.empty() || !until()) {
            if (!cv.wait_for(l, std::chrono::milliseconds(10), [&] { return !queue.empty(); })) continue;
            auto work = std::move(queue.front());
            queue.pop_front();
            l.unlock();
            work();
            l.lock();
        }
    }
    void waitForWork() {
        std::unique_lock l(m);
        cv.wait(l, [&] { return !queue.empty(); });
    }
};

// A language file: one NODE per (key, text), fonts "DejaVu Sans" 11.
inline std::string languageFile(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<LanguageCFG>\n";
    for (const auto& [key, text] : entries)
        xml += "<NODE><KEY KeyString=\"" + key + "\" String=\"" + text +
               "\" Font=\"DejaVu Sans\" Color=\"#000\" Size=\"11\" Offset=\"0\"/></NODE>\n";
    return xml + "</LanguageCFG>\n";
}

inline const std::vector<std::pair<std::string, std::string>> kEnglish = {
    {"List1", "Host name"},  {"List2", "IP address"},        {"List3", "Device type"},
    {"Log In", "Log In"},    {"Refresh", "Refresh"},         {"My storage", "My storage"},
    {"Device List", "Device List"}, {"Search Time", "Search time:"}};

// The whole window on fakes.
struct Window {
    FakeEngine engine;
    FakeTable table;
    FakeControl login, refresh, storage, countdown, caption, status, others;
    FakeDesktop desktop;
    FakeMainThread mainThread;
    OperationQueue* queue = &desktop;
    NotificationCenter notifications;
    std::unique_ptr<Controller> controller;

    // English, with the extra entries of a test.
    explicit Window(std::initializer_list<std::pair<std::string, std::string>> extra = {}) {
        auto entries = kEnglish;
        entries.insert(entries.end(), extra);
        desktop.files["XML_en"] = languageFile(entries);
    }
    void start() {
        FakeDesktop& d = desktop;
        controller = std::make_unique<Controller>(
            Controller::Outlets{&table, &table, &login, &refresh, &storage, &countdown, &caption, &status, &d,
                                &others},
            Controller::Desktop{d, d, d, mainThread, *queue, d, d, d, d, notifications, [](int) {}, &d,
                                "/doc/README", &d, &d},
            engine);
        controller->awakeFromNib();
    }
    // "+++" when all three buttons are enabled, "---" when none is.
    std::string buttons() const {
        return std::string(login.enabled ? "+" : "-") + (refresh.enabled ? "+" : "-") + (storage.enabled ? "+" : "-");
    }
};
