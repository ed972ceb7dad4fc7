// Fake desktop and engine for the window logic: no toolkit, no network.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "Controller.h"

struct FakeEngine : DeviceEngine {
    std::vector<deviceinfo> list;
    std::vector<SearchWorkerStatus> workers;
    std::vector<std::string> calls;
    int copies = 0;
    void init() override { calls.push_back("init"); }
    void search() override { calls.push_back("search"); }
    void deviceList(std::vector<deviceinfo>& out) override {
        ++copies;
        out = list;
    }
    void clearDeviceList() override {
        calls.push_back("clear");
        list.clear();
    }
    std::vector<SearchWorkerStatus> workerStatus() override { return workers; }
};

inline deviceinfo device(const char* host, const char* ip, const char* product = "DS-220") {
    deviceinfo d;
    std::strncpy(d.host, host, sizeof d.host);
    std::strncpy(d.ip, ip, sizeof d.ip);
    std::strncpy(d.product, product, sizeof d.product);
    return d;
}

// Array controller and table view in one, like the real table. The display
// order is the source order, or sorted by one key.
struct FakeTable : ArrayController, TableView {
    std::vector<RowPtr> rows;
    std::optional<std::string> sortKey;
    bool descending = false;
    std::set<int> selection;  // display indices
    int reloads = 0;
    int columns = 3;
    std::map<int, bool> editable;
    std::map<int, std::string> titles;
    std::map<int, Font> fonts;

    std::vector<RowPtr> display() const {
        std::vector<RowPtr> d = rows;
        if (sortKey)
            std::stable_sort(d.begin(), d.end(), [&](const RowPtr& a, const RowPtr& b) {
                return descending ? a->at(*sortKey) > b->at(*sortKey) : a->at(*sortKey) < b->at(*sortKey);
            });
        return d;
    }
    std::vector<std::string> column(const std::string& key) const {
        std::vector<std::string> out;
        for (const RowPtr& r : display()) out.push_back(r->at(key));
        return out;
    }
    void addObject(const RowPtr& row) override { rows.push_back(row); }
    void removeObjects(const std::vector<RowPtr>& gone) override {
        std::erase_if(rows, [&](const RowPtr& r) { return std::find(gone.begin(), gone.end(), r) != gone.end(); });
    }
    std::vector<RowPtr> selectedObjects() const override {
        std::vector<RowPtr> out;
        const auto d = display();
        for (int i : selection)
            if (i < static_cast<int>(d.size())) out.push_back(d[i]);
        return out;
    }
    void reloadData() override { ++reloads; }
    int selectedRow() const override { return selection.empty() ? -1 : *selection.begin(); }
    int numberOfRows() const override { return static_cast<int>(rows.size()); }
    int numberOfColumns() const override { return columns; }
    void setColumnEditable(int c, bool e) override { editable[c] = e; }
    void setHeaderTitle(int c, const std::string& t) override { titles[c] = t; }
    void setHeaderFont(int c, const Font& f) override { fonts[c] = f; }
};

struct FakeButton : Button {
    bool enabled = true;
    std::string title = "resource";
    std::optional<Font> font;
    void setEnabled(bool e) override { enabled = e; }
    void setTitle(const std::string& t) override { title = t; }
    void setFont(const Font& f) override { font = f; }
};

struct FakeField : TextField {
    std::string text = "resource";
    std::optional<Font> font;
    void setStringValue(const std::string& t) override { text = t; }
    void setFont(const Font& f) override { font = f; }
};

struct FakeTimer : Timer {
    double interval = 0;
    std::function<void()> onTick;
    void scheduleRepeating(double seconds, std::function<void()> f) override {
        interval = seconds;
        onTick = std::move(f);
    }
    void tick(int n = 1) {
        for (int i = 0; i < n; ++i) onTick();
    }
};

struct FakeWorkspace : Workspace {
    std::vector<std::string> urls;
    void openURL(const std::string& url) override { urls.push_back(url); }
};

struct FakeLog : SystemLog {
    mutable std::mutex m;
    std::vector<std::string> lines;
    void log(const std::string& line) override {
        std::lock_guard l(m);
        lines.push_back(line);
    }
    int count(const std::string& line) const {
        std::lock_guard l(m);
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
};

// The test's thread is the main thread. Waiting work from another thread is
// run by pump(); waiting work from the main thread runs at once.
struct FakeMainThread : MainThread {
    std::thread::id mainId = std::this_thread::get_id();
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::function<void()>> queue;
    std::uint64_t done = 0, posted = 0;

    void perform(std::function<void()> work, bool wait) override {
        if (wait && std::this_thread::get_id() == mainId) {
            work();
            return;
        }
        std::unique_lock l(m);
        queue.push_back(std::move(work));
        const std::uint64_t ticket = ++posted;
        cv.notify_all();
        if (wait) cv.wait(l, [&] { return done >= ticket; });
    }
    void waitForWork() {
        std::unique_lock l(m);
        cv.wait(l, [&] { return !queue.empty(); });
    }
    // Runs queued work on the main thread until `until` holds.
    void pump(const std::function<bool()>& until = [] { return true; }) {
        std::unique_lock l(m);
        for (;;) {
            while (!queue.empty()) {
                auto work = std::move(queue.front());
                queue.pop_front();
                l.unlock();
                work();
                l.lock();
                ++done;
                cv.notify_all();
            }
            l.unlock();
            if (until()) return;
            l.lock();
            cv.wait_for(l, std::chrono::milliseconds(10));
        }
    }
};

struct InlineQueue : OperationQueue {
    void addOperation(std::shared_ptr<Operation> op) override { op->main(); }
};

struct FakeAlert : Alert {
    std::vector<std::vector<std::string>> shown;
    void show(const std::string& m, const std::string& b, const std::string& i) override { shown.push_back({m, b, i}); }
};

struct FakeFonts : FontCatalogue {
    static constexpr double kDefaultSize = 9;
    std::optional<Font> fontWithName(const std::string& name, double size) override {
        if (name != "DejaVu Sans" && name != "DejaVu Serif") return std::nullopt;
        return Font{name, size > 0 ? size : kDefaultSize};
    }
};

struct FakeResources : Resources {
    std::map<std::string, std::string> files;  // "XML_de" -> contents
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const override {
        if (type != "xml" || !files.count(name)) return std::nullopt;
        return "/lang/" + name + ".xml";
    }
    std::optional<std::vector<char>> contentsOfFile(const std::string& path) const override {
        for (const auto& [name, text] : files)
            if (path == "/lang/" + name + ".xml") return std::vector<char>(text.begin(), text.end());
        return std::nullopt;
    }
};

struct FakePreferences : Preferences {
    std::vector<std::string> languages;
    std::vector<std::string> preferredLanguages() const override { return languages; }
};

// A language file: one NODE per (key, text), fonts "DejaVu Sans" 11.
inline std::string languageFile(const std::vector<std::pair<std::string, std::string>>& entries,
                                const std::string& root = "LanguageCFG") {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root + ">\n";
    for (const auto& [key, text] : entries)
        xml += "<NODE><KEY KeyString=\"" + key + "\" String=\"" + text +
               "\" Font=\"DejaVu Sans\" Color=\"#000\" Size=\"11\" Offset=\"0\"/></NODE>\n";
    return xml + "</" + root + ">\n";
}

inline std::vector<std::pair<std::string, std::string>> englishEntries() {
    return {{"List1", "Host name"}, {"List2", "IP address"}, {"List3", "Device type"}, {"Log In", "Log In"},
            {"Refresh", "Refresh"},  {"My storage", "My storage"}, {"Device List", "Device List"},
            {"Search Time", "Search time:"}};
}

// The whole window on fakes.
struct Window {
    FakeEngine engine;
    FakeTable table;
    FakeButton login, refresh, storage;
    FakeField countdown, caption, status;
    FakeTimer timer;
    FakeWorkspace workspace;
    FakeLog log;
    FakeMainThread mainThread;
    InlineQueue inlineQueue;
    OperationQueue* queue = &inlineQueue;
    FakeAlert alert;
    FakeFonts fonts;
    FakeResources resources;
    FakePreferences preferences;
    NotificationCenter notifications;
    std::vector<int> exits;
    std::unique_ptr<Controller> controller;

    Window() { resources.files["XML_en"] = languageFile(englishEntries()); }

    Controller& start() {
        controller = std::make_unique<Controller>(
            Controller::Outlets{&table, &table, &login, &refresh, &storage, &countdown, &caption, &status},
            Controller::Desktop{timer, workspace, log, mainThread, *queue, alert, fonts, resources, preferences,
                                notifications, [this](int s) { exits.push_back(s); }},
            engine);
        controller->awakeFromNib();
        return *controller;
    }
    bool buttonsEnabled() const { return login.enabled && refresh.enabled && storage.enabled; }
    bool buttonsDisabled() const { return !login.enabled && !refresh.enabled && !storage.enabled; }
};
