#include "KnownBoxes.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "CliOutput.h"

namespace cli {
namespace {

constexpr auto kOpenerGrace = std::chrono::seconds(3);

const char kKnownUsage[] = "Usage: nasscout-cli known [--format table|json]\n";
const char kOpenUsage[] =
    "Usage: nasscout-cli open BOX [--share] [--timeout SECONDS] [--target SPEC]... [--rate N] [--log-dir "
    "DIR] "
    "[--single-address] [--verbose]\n";
const char kResolveUsage[] =
    "Usage: nasscout-cli resolve BOX [--timeout SECONDS] [--target SPEC]... [--rate N] [--log-dir DIR] "
    "[--single-address] [--verbose]\n";
const char kForgetUsage[] = "Usage: nasscout-cli forget BOX|--all\n";

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return text;
}

std::string IdOf(const std::string& key) { return key.substr(key.find('\x1f') + 1); }

std::string Text(const char (&field)[32]) { return std::string(FieldText(field)); }

nlohmann::ordered_json Protocols(unsigned mask) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    if (mask & store::kBroadcast) list.push_back("broadcast");
    if (mask & store::kSsdp) list.push_back("ssdp");
    return list;
}

std::string Describe(const store::KnownBox& b) {
    return DisplayText(b.host.empty() ? "-" : b.host) + " (" + DisplayText(b.factory) + " " +
           DisplayText(b.id) + ") at " + b.ip + ", last seen " + store::IsoUtc(b.lastSeen);
}

}  // namespace

StoreFeed::StoreFeed(bool off) {
    if (!off) store_ = std::make_unique<store::BoxStore>(store::DefaultStorePath());
    ReportNotices();
}

void StoreFeed::ReportNotices() {
    if (!store_) return;
    for (const store::Notice& n : store_->TakeNotices()) {
        if (n.kind == store::Notice::Kind::Damaged)
            std::fprintf(
                stderr,
                "nasscout-cli: the store of known boxes was damaged; it was moved to %s and a new one "
                "started\n",
                n.file.c_str());
        else
            std::fprintf(stderr, "nasscout-cli: known boxes cannot be saved in %s (%s); the search goes on\n",
                         n.file.c_str(), n.reason.c_str());
    }
}

std::vector<store::Move> StoreFeed::Record(const std::vector<deviceinfo>& list) {
    if (!store_) return {};
    std::vector<store::Move> moves =
        store_->Record(store::AnswerLog::Instance().Sightings(list), std::time(nullptr));
    ReportNotices();
    return moves;
}

void MarkMoves(std::vector<DeviceEvent>& events, const std::vector<store::Move>& moves) {
    for (DeviceEvent& e : events) {
        if (e.kind != DeviceEvent::Kind::Added) continue;
        const std::string key = store::RecordKey(e.device);
        for (const store::Move& m : moves)
            if (m.box.ip == FieldText(e.device.ip) &&
                std::find(m.box.keys.begin(), m.box.keys.end(), key) != m.box.keys.end()) {
                e.kind = DeviceEvent::Kind::Moved;
                e.from = m.from;
            }
    }
}

std::string MovedLine(const store::Move& m) {
    return "nasscout-cli: " + DisplayText(m.box.host.empty() ? "-" : m.box.host) + " (" +
           DisplayText(m.box.factory) + " " + DisplayText(m.box.id) + ") is now at " + m.box.ip + ", was " +
           m.from + "\n";
}

std::string FormatKnownTable(const std::vector<store::KnownBox>& boxes) {
    if (boxes.empty()) return "No boxes known.\n";
    std::vector<deviceinfo> rows;
    std::vector<std::string> seen;
    for (const store::KnownBox& b : boxes) {
        deviceinfo d;
        std::snprintf(d.host, sizeof d.host, "%s", b.host.c_str());
        std::snprintf(d.ip, sizeof d.ip, "%s", b.ip.c_str());
        std::snprintf(d.product, sizeof d.product, "%s", b.product.c_str());
        std::snprintf(d.factory, sizeof d.factory, "%s", b.factory.c_str());
        rows.push_back(d);
        seen.push_back(store::IsoUtc(b.lastSeen));
    }
    // The device table's columns, and when each box was last seen after them.
    const std::string table = FormatTable(rows);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < table.size();) {
        const std::size_t end = table.find('\n', at);
        lines.push_back(table.substr(at, end - at));
        at = end + 1;
    }
    std::size_t width = 0;
    for (const std::string& line : lines) width = std::max(width, line.size());
    std::string out;
    for (std::size_t k = 0; k < lines.size(); ++k)
        out += lines[k] + std::string(width - lines[k].size() + 2, ' ') +
               (k == 0 ? "LAST SEEN" : seen[k - 1]) + "\n";
    return out;
}

std::string FormatKnownJson(const std::vector<store::KnownBox>& boxes) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const store::KnownBox& b : boxes) {
        nlohmann::ordered_json j;
        j["id"] = ValidUtf8(b.id);
        j["factory"] = ValidUtf8(b.factory);
        j["host"] = ValidUtf8(b.host);
        j["product"] = ValidUtf8(b.product);
        j["version"] = ValidUtf8(b.version);
        j["ip"] = b.ip;
        j["first_seen"] = store::IsoUtc(b.firstSeen);
        j["last_seen"] = store::IsoUtc(b.lastSeen);
        j["protocols"] = Protocols(b.protocols);
        j["addresses"] = nlohmann::ordered_json::array();
        for (const store::EarlierAddress& a : b.addresses)
            j["addresses"].push_back({{"ip", a.ip}, {"last_seen", store::IsoUtc(a.lastSeen)}});
        array.push_back(std::move(j));
    }
    return array.dump(2) + "\n";
}

std::vector<const store::KnownBox*> MatchBoxes(const std::vector<store::KnownBox>& boxes,
                                               const std::string& box) {
    const std::string wanted = Lower(box);
    std::vector<const store::KnownBox*> out;
    for (const store::KnownBox& b : boxes) {
        bool named = Lower(b.host) == wanted || b.ip == box;
        for (const std::string& key : b.keys) named = named || Lower(IdOf(key)) == wanted;
        if (named) out.push_back(&b);
    }
    if (!out.empty()) return out;
    // An address a box had before: the box seen there last.
    const store::KnownBox* last = nullptr;
    std::time_t when = 0;
    for (const store::KnownBox& b : boxes)
        for (const store::EarlierAddress& a : b.addresses)
            if (a.ip == box && (last == nullptr || a.lastSeen > when)) {
                last = &b;
                when = a.lastSeen;
            }
    if (last != nullptr) out.push_back(last);
    return out;
}

bool IsTheBox(const deviceinfo& record, const std::vector<std::string>& heardKeys,
              const store::KnownBox* known, const std::string& box) {
    if (known != nullptr) {
        std::vector<std::string> keys = heardKeys;
        keys.push_back(store::RecordKey(record));
        for (const std::string& key : keys)
            if (std::find(known->keys.begin(), known->keys.end(), key) != known->keys.end()) return true;
        return false;
    }
    const std::string wanted = Lower(box);
    return Lower(Text(record.host)) == wanted || Lower(Text(record.id)) == wanted || Text(record.ip) == box;
}

void BoxCommands::Register(CLI::App& app, double& timeout, const CLI::Validator& seconds,
                           const std::function<void(CLI::App*)>& searchOptions) {
    known = app.add_subcommand("known", "List the boxes seen before, most recently seen first");
    known->add_option("--format", format, "table (default) or json")
        ->check(CLI::IsMember({"table", "json"}).description(""))
        ->type_name("table|json");
    known->footer(
        "json prints one array of objects with the keys \"id\", \"factory\", \"host\", \"product\", "
        "\"version\",\n"
        "\"ip\" (the last address), \"first_seen\", \"last_seen\" (ISO 8601, UTC), \"protocols\" and "
        "\"addresses\"\n"
        "(earlier ones, each {\"ip\", \"last_seen\"}). The boxes are kept in "
        "$XDG_STATE_HOME/nasscout/boxes.db\n"
        "(default ~/.local/state/nasscout/boxes.db); scan, watch, open, resolve and the window write to it.");

    auto finder = [&](const char* name, const char* about) {
        CLI::App* cmd = app.add_subcommand(name, about);
        cmd->add_option("BOX", box, "Host name (any case), id or address of a box")->required();
        cmd->add_option("--timeout", timeout,
                        "Seconds to wait for the box at most; fractions allowed (default 11)")
            ->check(seconds)
            ->type_name("SECONDS");
        searchOptions(cmd);
        cmd->footer(
            "Searches, and also asks the box's last known address directly, so a box once found behind a "
            "router\n"
            "is found again without --target. Returns as soon as the box answers.\n"
            "Exit status: 0 done; 3 the box did not answer (its last known address is printed);\n"
            "4 BOX names more than one known box (they are listed); 2 bad arguments.");
        return cmd;
    };
    open = finder("open",
                  "Find a box by name and open its web page (or its file shares) in the desktop's program");
    open->add_flag("--share", share, "Open smb://ADDRESS, the box's file shares, instead of http://ADDRESS");
    resolve = finder("resolve", "Find a box by name and print the address it answers from now");
    resolve->footer(resolve->get_footer() +
                    "\nExample:\n  sudo mount -t cifs \"//$(nasscout-cli resolve nas-office)/share\" /mnt");

    forget = app.add_subcommand("forget", "Remove a box (or with --all every box) from the known boxes");
    forget->add_option("BOX", box, "Host name (any case), id or last address of a box");
    forget->add_flag("--all", all, "Forget every box");
    forget->footer(
        "Exit status: 0 forgotten, 3 no known box has that name, 4 it names several (they are listed),\n"
        "2 bad arguments.");
}

const char* BoxCommands::Usage() const {
    if (known->parsed()) return kKnownUsage;
    if (open->parsed()) return kOpenUsage;
    if (resolve->parsed()) return kResolveUsage;
    if (forget->parsed()) return kForgetUsage;
    return nullptr;
}

int BoxCommands::RunLocal() const {
    if (forget->parsed() && all == !box.empty()) {
        std::fprintf(stderr, "nasscout-cli: forget needs either BOX or --all\n%s", kForgetUsage);
        return 2;
    }
    StoreFeed feed(false);
    store::BoxStore* boxes = feed.get();
    if (known->parsed()) {
        const std::vector<store::KnownBox> list = boxes ? boxes->All() : std::vector<store::KnownBox>{};
        const std::string text = format == "json" ? FormatKnownJson(list) : FormatKnownTable(list);
        std::fputs(text.c_str(), stdout);
        feed.ReportNotices();
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (!boxes) return 0;
    if (all) {
        const int gone = boxes->ForgetAll();
        feed.ReportNotices();
        std::fprintf(stderr, "nasscout-cli: %d box(es) forgotten\n", gone);
        return 0;
    }
    const std::vector<store::KnownBox> list = boxes->All();
    const std::vector<const store::KnownBox*> named = MatchBoxes(list, box);
    if (named.empty()) {
        std::fprintf(stderr, "nasscout-cli: no known box is called '%s'\n", DisplayText(box).c_str());
        return 3;
    }
    if (named.size() > 1) return Ambiguous(box, named);
    boxes->Forget({named.front()->keys.front()});
    feed.ReportNotices();
    return 0;
}

int Ambiguous(const std::string& box, const std::vector<const store::KnownBox*>& named) {
    std::fprintf(stderr, "nasscout-cli: '%s' names %zu known boxes:\n", DisplayText(box).c_str(),
                 named.size());
    for (const store::KnownBox* b : named) std::fprintf(stderr, "  %s\n", Describe(*b).c_str());
    return 4;
}

int NoAnswer(const std::string& box, const store::KnownBox* known, double timeout) {
    if (known != nullptr)
        std::fprintf(stderr, "nasscout-cli: %s did not answer within %g s; it was last at %s, seen %s\n",
                     DisplayText(box).c_str(), timeout, known->ip.c_str(),
                     store::IsoUtc(known->lastSeen).c_str());
    else
        std::fprintf(stderr, "nasscout-cli: no known box is called '%s', and none of that name answered\n",
                     DisplayText(box).c_str());
    return 3;
}

int OpenUrl(const std::string& url) {
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("nasscout-cli: cannot start xdg-open");
        return 1;
    }
    if (pid == 0) {
        execlp("xdg-open", "xdg-open", url.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + kOpenerGrace;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        // Still there: it waits for the browser it started, which has the URL.
        if (std::chrono::steady_clock::now() >= deadline) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 0;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        std::fprintf(stderr, "nasscout-cli: could not open %s: xdg-open is not installed\n", url.c_str());
    else
        std::fprintf(stderr, "nasscout-cli: could not open %s: xdg-open %s %d\n", url.c_str(),
                     WIFEXITED(status) ? "exited with" : "ended by signal",
                     WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    return 1;
}

}  // namespace cli
