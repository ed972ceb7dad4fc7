// nasscout-cli and the store of known boxes: what scan and watch write to it,
// and the commands that read it (known, open, resolve, forget).
#pragma once

#include <arpa/inet.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AnswerLog.h"
#include "BoxStore.h"
#include "CliOutput.h"
#include "Common/CommonStruct.h"
#include "Common/SearchTargets.h"
#include "SnapshotDiff.h"

namespace cli {

// The store as one run of nasscout-cli uses it: problems on standard error,
// each once; nothing at all with --no-store.
class StoreFeed {
public:
    explicit StoreFeed(bool off);
    // Writes the list's boxes that answered since the last search; the moves.
    std::vector<store::Move> Record(const std::vector<deviceinfo>& list);
    store::BoxStore* get() { return store_.get(); }
    void ReportNotices();

private:
    std::unique_ptr<store::BoxStore> store_;
};

// Added events of boxes that moved become Moved, with the address they left.
void MarkMoves(std::vector<DeviceEvent>& events, const std::vector<store::Move>& moves);

// "nasscout-cli: nas-office (ORVALE A1B2C3) is now at 198.51.100.23, was 198.51.100.10\n"
std::string MovedLine(const store::Move& move);
// Columns HOST NAME, IP ADDRESS, DEVICE TYPE, MAKER, LAST SEEN; "No boxes known." when empty.
std::string FormatKnownTable(const std::vector<store::KnownBox>& boxes);
// One array of {id, factory, host, product, version, ip, first_seen, last_seen, protocols, addresses}.
std::string FormatKnownJson(const std::vector<store::KnownBox>& boxes);

// The boxes a user's BOX names: the host name (any case), an id, or the last
// address; failing those, the box that had that address most recently.
std::vector<const store::KnownBox*> MatchBoxes(const std::vector<store::KnownBox>& boxes,
                                               const std::string& box);
// Whether a record of the list is the box asked for: one of the known box's
// identities (also one heard at the record's address in this search), or
// for a box never seen, the name, id or address asked for.
bool IsTheBox(const deviceinfo& record, const std::vector<std::string>& heardKeys,
              const store::KnownBox* known, const std::string& box);

// The subcommands known, open, resolve and forget.
struct BoxCommands {
    CLI::App *known = nullptr, *open = nullptr, *resolve = nullptr, *forget = nullptr;
    std::string box, format;
    bool share = false, all = false;

    // searchOptions adds the options open and resolve share with scan.
    void Register(CLI::App& app, double& timeout, const CLI::Validator& seconds,
                  const std::function<void(CLI::App*)>& searchOptions);
    // The usage line of the parsed command, null when none of these was.
    const char* Usage() const;
    bool Searches() const { return open->parsed() || resolve->parsed(); }
    // known, forget: no search. The exit status.
    int RunLocal() const;
};

// xdg-open URL: 0 once it took the URL, else 1 with a message. An opener
// that waits for the program it started counts as a success after a while.
int OpenUrl(const std::string& url);

// Lists the boxes BOX names on standard error: exit status 4.
int Ambiguous(const std::string& box, const std::vector<const store::KnownBox*>& named);
// Says the box did not answer: exit status 3.
int NoAnswer(const std::string& box, const store::KnownBox* known, double timeout);

// open and resolve, on the CLI's engine session (Start, Search, SweepTargets,
// Snapshot, Print, Finish, engine). The options are scan's, with noStore.
template <class Session, class Options>
int FindBox(Session& cli, Options& o, const BoxCommands& cmd, const std::atomic<int>& stop) {
    StoreFeed feed(o.noStore);
    const std::vector<store::KnownBox> known =
        feed.get() ? feed.get()->All() : std::vector<store::KnownBox>{};
    const std::vector<const store::KnownBox*> named = MatchBoxes(known, cmd.box);
    if (named.size() > 1) return Ambiguous(cmd.box, named);
    const store::KnownBox* box = named.empty() ? nullptr : named.front();
    // Asked directly too: beyond a router no search reaches it.
    const std::string direct = box ? box->ip : cmd.box;
    in_addr parsed{};
    SearchTargetError ignored;
    if (inet_pton(AF_INET, direct.c_str(), &parsed) == 1) ParseSearchTargets(direct, o.targets, ignored);

    cli.Start(o);
    cli.Search();
    std::string ip;
    auto look = [&] {
        for (const deviceinfo& d : cli.Snapshot()) {
            const std::string at(FieldText(d.ip));
            in_addr address{};  // what is opened or printed for a shell is a plain address
            if (inet_pton(AF_INET, at.c_str(), &address) == 1 &&
                IsTheBox(d, store::AnswerLog::Instance().KeysAt(at), box, cmd.box)) {
                ip = at;
                return true;
            }
        }
        return false;
    };
    cli.SweepTargets(o, false, [&] {
        if (ip.empty() && look()) cli.engine->CancelSweep();
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(o.timeout);
    while (ip.empty() && !look() && !stop && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (ip.empty()) cli.Finish(stop ? 128 + stop : NoAnswer(cmd.box, box, o.timeout));
    for (const store::Move& move : feed.Record(cli.Snapshot())) std::fputs(MovedLine(move).c_str(), stderr);
    if (cmd.resolve->parsed()) {
        cli.Print(ip + "\n");
        cli.Finish(0);
    }
    cli.Finish(OpenUrl((cmd.share ? "smb://" : "http://") + ip));
}

}  // namespace cli
