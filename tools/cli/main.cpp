// nasscout-cli: the search engine from a terminal (scan, watch, and the boxes known before).
// clang-format off
#include <utility>  // before any Asio header pulled in through the engine
// clang-format on

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "AnswerLog.h"
#include "CliOutput.h"
#include "Common/BindHelper.h"
#include "Common/CoverageDump.h"
#include "Common/SearchTargets.h"
#include "DeviceSearchInterface.h"
#include "Doctor.h"
#include "KnownBoxes.h"
#include "ShowLog/ShowLog.h"
#include "SnapshotDiff.h"
#include "StartWarnings.h"

namespace {

constexpr double kMaxSeconds = 86400;
constexpr auto kPoll = std::chrono::milliseconds(100);
// The log keeps its path in 4096 bytes, the dated file name included.
constexpr std::size_t kMaxLogDir = 4000;

const char kScanUsage[] =
    "Usage: nasscout-cli scan [--timeout SECONDS] [--format table|json] [--target SPEC]... [--rate N] "
    "[--log-dir DIR] [--single-address] [--no-store] [--verbose]\n";
const char kDoctorUsage[] = "Usage: nasscout-cli doctor [--timeout SECONDS] [--format text|json]\n";
const char kWatchUsage[] =
    "Usage: nasscout-cli watch [--interval SECONDS] [--rounds N] [--format text|jsonl] [--target SPEC]... "
    "[--rate N] [--log-dir DIR] [--single-address] [--no-store] [--verbose]\n";

struct Options {
    double timeout = 11;
    double interval = 10;
    long rounds = 0;
    std::string format;
    std::string logDir;
    bool singleAddress = false;
    bool verbose = false;
    bool noStore = false;
    std::vector<std::string> targetTexts;
    std::string rateText;
    CSearchTargetList targets;
    int rate = kSearchRateDefault;
};

// The number of the stop signal that came (SIGINT or SIGTERM), else 0. Read by
// every thread, so an atomic; lock-free, so the handler may write it.
std::atomic<int> g_stop{0};
static_assert(std::atomic<int>::is_always_lock_free);
void OnStopSignal(int signal) {
    // A second one ends the program at once, also while the first one's
    // partial result is stuck on a terminal or a pipe that nobody reads.
    if (g_stop.exchange(signal) != 0) _exit(128 + signal);
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Seconds as a finite number in [low, high]; CLI11's range check lets NaN pass.
CLI::Validator Seconds(double low, double high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            double value = 0;
            if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || value < low ||
                value > high)
                return "must be a number of seconds from " + CLI::detail::to_string(low) + " to " +
                       CLI::detail::to_string(high);
            return {};
        },
        "");
}

class Cli {
public:
    // Standard output belongs to the result alone: the engine's own lines (the
    // log echo, the per-record maker line) go to /dev/null, or to stderr with
    // --verbose, and results are written through a private copy of fd 1.
    bool TakeStandardOutput(bool verbose) {
        int fd = dup(STDOUT_FILENO);
        if (fd < 0 || (results = fdopen(fd, "w")) == nullptr) {
            std::fprintf(stderr, "nasscout-cli: cannot write to standard output: %s\n", std::strerror(errno));
            return false;
        }
        int sink = verbose ? dup(STDERR_FILENO) : open("/dev/null", O_WRONLY);
        if (sink < 0 || dup2(sink, STDOUT_FILENO) < 0) {
            std::fprintf(stderr, "nasscout-cli: cannot redirect the engine's output: %s\n",
                         std::strerror(errno));
            return false;
        }
        close(sink);
        // Into /dev/null a full buffer saves a system call per record.
        if (verbose)
            setvbuf(stdout, nullptr, _IOLBF, 0);
        else
            setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
        return true;
    }

    void Start(const Options& o) {
        // --verbose shows the whole trace, with or without a log file.
        if (o.verbose) SearchDeviceShowLog::io_log_echo(true);
        warnings.singleAddress = o.singleAddress;
        engine = CDeviceSearchInterface::GetInstance();
        engine->DeviceSearchDllInit(&store::AnswerLog::Listener, !o.logDir.empty(),
                                    o.logDir.empty() ? nullptr : o.logDir.c_str(), !o.singleAddress);
        ReportStartFailures();
    }

    void Search() {
        store::AnswerLog::Instance().Reset();
        engine->SendSearchDeviceCommand(nullptr);
        ReportStartFailures();  // a search may add workers for new addresses
        ReportBroadcastSends();
    }

    // Asks every target directly and returns when all were asked (or a stop
    // signal came), calling tick now and then. Without targets it does nothing;
    // a sweep the engine refuses is warned about and noted in sweepRefused.
    template <typename Tick>
    void SweepTargets(const Options& o, bool terminal, Tick tick) {
        if (o.targets.Empty()) return;
        engine->SetSearchTargets(o.targets, o.rate);
        const unsigned number = engine->GetSweepProgress().number;
        if (const int result = engine->SweepSearchTargets(); result != 0) {
            const SweepProgress p = engine->GetSweepProgress();  // a new number: its thread failed
            const std::string warning = cli::SweepRefusedWarning(result, p.number != number ? p.error : "");
            if (warning != lastSweepWarning) std::fprintf(stderr, "%s\n", warning.c_str());
            lastSweepWarning = warning;
            sweepRefused = true;
            return;
        }
        const bool inPlace = terminal && !o.verbose;
        auto nextLine = std::chrono::steady_clock::now();  // whole lines once a second
        while (!engine->WaitSweep(static_cast<int>(kPoll.count()))) {
            if (g_stop) {
                engine->CancelSweep();
                break;
            }
            // The line goes before tick prints anything to the same terminal.
            if (inPlace) std::fprintf(stderr, "\r%70s\r", "");
            tick();
            if (inPlace || std::chrono::steady_clock::now() >= nextLine) {
                std::fputs(cli::SweepProgressText(engine->GetSweepProgress(), terminal, o.verbose).c_str(),
                           stderr);
                nextLine = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            }
        }
        if (inPlace) std::fprintf(stderr, "\r%70s\r", "");
        const SweepProgress done = engine->GetSweepProgress();
        if (done.failed > 0) {
            const std::string warning = std::to_string(done.failed) + " of " +
                                        std::to_string(done.sent + done.failed) +
                                        " datagrams to the targets could not be sent: " + done.error;
            if (warning != lastSweepWarning) std::fprintf(stderr, "nasscout-cli: %s\n", warning.c_str());
            lastSweepWarning = warning;
        }
    }

    std::vector<deviceinfo> Snapshot() {
        std::vector<deviceinfo> list;
        engine->GetDeviceList(list);
        return list;
    }

    void Print(const std::string& text) {
        std::fputs(text.c_str(), results);
        std::fflush(results);
    }

    // Workers are detached and may be receiving right now; leave without
    // running destructors they could race with.
    [[noreturn]] void Finish(int status) {
        std::fflush(results);
        std::fflush(stdout);
        std::fflush(stderr);
        FlushCoverage();
        _exit(status);
    }

    CDeviceSearchInterface* engine = nullptr;
    // A sweep of the targets asked for was refused: the result printed is not what was asked.
    bool sweepRefused = false;

private:
    void ReportStartFailures() {
        for (const std::string& warning : warnings.NewWarnings(engine->GetWorkerStatus()))
            std::fprintf(stderr, "%s\n", warning.c_str());
    }

    // Once per search, and only when it differs from the last one: a watch
    // on a machine without that network would otherwise repeat it every round.
    void ReportBroadcastSends() {
        bool started = false;
        for (const SearchWorkerStatus& w : engine->GetWorkerStatus())
            if (w.kind == SearchWorkerStatus::Kind::Broadcast && !w.forSweeps) started = w.started;
        const std::string warning = cli::BroadcastSendWarning(engine->GetBroadcastSends(), started);
        if (!warning.empty() && warning != lastBroadcastWarning) std::fprintf(stderr, "%s\n", warning.c_str());
        lastBroadcastWarning = warning;
    }

    FILE* results = nullptr;
    cli::StartWarningTracker warnings;
    std::string lastBroadcastWarning;
    std::string lastSweepWarning;
};

// Sleeps in short steps until the deadline or a stop signal, calling tick after each.
template <typename Tick>
void WaitUntil(std::chrono::steady_clock::time_point deadline, Tick tick) {
    while (!g_stop) {
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kPoll, deadline - now));
        tick(deadline);
    }
}

std::chrono::steady_clock::time_point After(double seconds) {
    return std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                  std::chrono::duration<double>(seconds));
}

int RunScan(const Options& o) {
    CatchStopSignals();  // Ctrl-C or SIGTERM ends the wait early; what was found is printed
    Cli cli;
    if (!cli.TakeStandardOutput(o.verbose)) return 1;
    cli.Start(o);
    cli::StoreFeed feed(o.noStore);
    cli.Search();
    const bool terminal = isatty(STDERR_FILENO), progress = terminal && !o.verbose;
    // The timeout counts from the last probe, so far targets get it in full.
    cli.SweepTargets(o, terminal, [] {});
    WaitUntil(After(o.timeout), [&](auto deadline) {
        if (!progress) return;
        double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        std::fprintf(stderr, "\rsearching: %4.1f s left, %zu device(s) found   ", std::max(left, 0.0),
                     cli.Snapshot().size());
    });
    if (progress) std::fprintf(stderr, "\r%60s\r", "");
    std::vector<deviceinfo> list = cli.Snapshot();
    for (const store::Move& move : feed.Record(list)) std::fputs(cli::MovedLine(move).c_str(), stderr);
    cli.Print(o.format == "json" ? cli::FormatJsonArray(list) : cli::FormatTable(list));
    cli.Finish(g_stop != 0 ? 128 + g_stop : cli.sweepRefused ? 1 : 0);
}

int RunWatch(const Options& o) {
    CatchStopSignals();
    Cli cli;
    if (!cli.TakeStandardOutput(o.verbose)) return 1;
    cli.Start(o);
    cli::StoreFeed feed(o.noStore);
    std::vector<deviceinfo> shown;
    // The store is written when the list changed and once a round.
    auto report = [&](bool roundEnd = false) {
        std::vector<deviceinfo> now = cli.Snapshot();
        std::vector<cli::DeviceEvent> events = cli::DiffSnapshots(shown, now);
        if (roundEnd || !events.empty()) cli::MarkMoves(events, feed.Record(now));
        for (const cli::DeviceEvent& event : events)
            cli.Print(o.format == "jsonl" ? cli::FormatEventJsonl(event) : cli::FormatEventText(event));
        shown = std::move(now);
    };
    const bool terminal = isatty(STDERR_FILENO);
    for (long round = 0; !g_stop && (o.rounds == 0 || round < o.rounds); ++round) {
        cli.Search();
        cli.SweepTargets(o, terminal, [&] { report(); });
        if (g_stop) break;
        WaitUntil(After(o.interval), [&](auto) { report(); });
        if (g_stop) break;
        cli.engine->RefreshDeviceList();
        report(true);
    }
    cli.Finish(cli.sweepRefused ? 1 : 0);
}

int RunFind(Options& o, const cli::BoxCommands& boxes) {
    CatchStopSignals();
    Cli cli;
    if (!cli.TakeStandardOutput(o.verbose)) return 1;
    return cli::FindBox(cli, o, boxes, g_stop);
}

bool CheckLogDir(std::string& dir) {
    struct stat info {};
    if (stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        std::fprintf(stderr, "nasscout-cli: log directory '%s' does not exist or is not a directory\n",
                     dir.c_str());
        return false;
    }
    if (access(dir.c_str(), W_OK | X_OK) != 0) {
        std::fprintf(stderr, "nasscout-cli: log directory '%s' is not writable\n", dir.c_str());
        return false;
    }
    if (dir.size() > kMaxLogDir) {
        std::fprintf(stderr, "nasscout-cli: log directory path is longer than %zu characters\n", kMaxLogDir);
        return false;
    }
    if (dir.back() != '/') dir += '/';  // the engine glues the file name on as is
    return true;
}

void AddCommonOptions(CLI::App* cmd, Options& o) {
    // Taken as text and checked after parsing, so that a bad value gets one
    // line that names it.
    cmd->add_option("--target", o.targetTexts,
                    "Also ask SPEC directly, by unicast, for boxes behind a router: an IPv4 address or a CIDR "
                    "block from /16 to /32; comma lists allowed; repeatable")
        ->allow_extra_args(false)
        ->type_name("SPEC");
    cmd->add_option("--rate", o.rateText,
                    "Datagrams per second while asking the targets, " + std::to_string(kSearchRateMin) + " to " +
                        std::to_string(kSearchRateMax) + " (default " + std::to_string(kSearchRateDefault) + ")")
        ->type_name("N");
    cmd->add_option("--log-dir", o.logDir,
                    "Write the engine's search log to DIR/YYYY-MM-DD-SearchDeviceLog.txt (DIR must exist)")
        ->type_name("DIR");
    cmd->add_flag("--single-address", o.singleAddress,
                  "Search only through the two any-address sockets, not from every local IPv4 address");
    cmd->add_flag("--no-store", o.noStore,
                  "Neither read nor write the boxes known before ($XDG_STATE_HOME/nasscout/boxes.db)");
    cmd->add_flag("--verbose", o.verbose,
                  "Copy the engine's whole trace (and its per-record lines) to standard error");
    cmd->set_version_flag("--version", "nasscout-cli " NASSCOUT_VERSION);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    CLI::App app{
        "Find network storage boxes on the local IPv4 networks (broadcast and SSDP discovery).\n"
        "Standard output carries only the result; progress and warnings go to standard error.",
        "nasscout-cli"};
    app.set_version_flag("--version", "nasscout-cli " NASSCOUT_VERSION);
    app.require_subcommand(1);
    app.footer(
        "Examples:\n"
        "  nasscout-cli scan\n"
        "  nasscout-cli scan --timeout 3 --format json | jq -r '.[].ip'\n"
        "  nasscout-cli watch --interval 5 --format jsonl\n"
        "  nasscout-cli doctor        (nothing found? it says why)\n"
        "  nasscout-cli scan --target 10.1.20.0/24 --target 10.1.30.7,10.1.30.9 --rate 2000\n"
        "  nasscout-cli open nas-office\n"
        "Targets are for boxes behind a router, which the broadcast and the multicast search do not pass:\n"
        "each target address gets the broadcast request on UDP port 68 and the M-SEARCH on port 1900,\n"
        "in ascending order, evenly paced (a /24 takes about half a second at the default rate).\n"
        "Port 67 (broadcast search) needs root, or the bind helper with its capability (the package\n"
        "sets it; nasscout-cli itself carries none): sudo setcap cap_net_bind_service=ep " +
        std::string(BindHelperPath()) +
        "\n"
        "Exit status: 0 on success (also when nothing was found), 1 when the targets could not be asked,\n"
        "2 for bad arguments (open, resolve: 3 the box did not answer, 4 the name fits several boxes);\n"
        "scan interrupted by Ctrl-C or SIGTERM prints what it found so far and exits 130 or 143.");

    CLI::App* scan = app.add_subcommand("scan", "Search once, wait, print the device list and exit");
    scan->add_option("--timeout", o.timeout, "Seconds to wait for answers; fractions allowed (default 11)")
        ->check(Seconds(0, kMaxSeconds))
        ->type_name("SECONDS");
    scan->add_option("--format", o.format, "table (default) or json")
        ->check(CLI::IsMember({"table", "json"}).description(""))
        ->type_name("table|json");
    AddCommonOptions(scan, o);
    scan->footer(
        "The table lists HOST NAME, IP ADDRESS, DEVICE TYPE and MAKER in the order the devices were found.\n"
        "json prints one array of objects with the string keys \"id\", \"ip\", \"host\", \"product\", "
        "\"extra\",\n"
        "\"version\", \"factory\" and the integer keys \"type\" (1 answer, 2 alive) and \"lifetime\".\n"
        "Ctrl-C or SIGTERM ends the wait early: what was found so far is printed (exit status 130, 143).\n"
        "A known box that answers from another address than before gets one line on standard error.\n"
        "Examples:\n"
        "  nasscout-cli scan\n"
        "  nasscout-cli scan --timeout 2.5 --format json\n"
        "  nasscout-cli scan --log-dir /tmp --verbose\n"
        "  nasscout-cli scan --target 10.1.20.0/24 --timeout 3\n"
        "With --target, the default search goes first, then every target is asked, and --timeout counts\n"
        "from the last of them. A terminal shows the progress on standard error.");

    CLI::App* watch = app.add_subcommand("watch", "Search every interval, age the list, print each change");
    watch
        ->add_option("--interval", o.interval,
                     "Seconds between a search and the following ageing pass; fractions allowed (default 10)")
        ->check(Seconds(0.1, kMaxSeconds))
        ->type_name("SECONDS");
    watch->add_option("--rounds", o.rounds, "Stop after N rounds; 0 (default) runs until Ctrl-C or SIGTERM")
        ->check(CLI::Range(0L, 1000000000L).description(""))
        ->type_name("N");
    watch->add_option("--format", o.format, "text (default) or jsonl")
        ->check(CLI::IsMember({"text", "jsonl"}).description(""))
        ->type_name("text|jsonl");
    AddCommonOptions(watch, o);
    watch->footer(
        "Each round: one search, wait the interval, one ageing pass. A device that stops answering is "
        "removed\n"
        "by the second ageing pass after its last answer; a byebye announcement removes it at once.\n"
        "text lines:  + HOST IP DEVICE-TYPE MAKER   (added; '~' changed, '-' removed; empty texts show as "
        "'-')\n"
        "             > HOST IP DEVICE-TYPE MAKER (was OLD_IP)   (a known box that moved, instead of added)\n"
        "jsonl lines: {\"event\":\"added|changed|removed\",\"device\":{...the keys of scan --format "
        "json...}},\n"
        "             {\"event\":\"moved\",\"from\":\"OLD_IP\",\"device\":{...}}\n"
        "Examples:\n"
        "  nasscout-cli watch\n"
        "  nasscout-cli watch --interval 5 --format jsonl\n"
        "  nasscout-cli watch --interval 1 --rounds 3\n"
        "  nasscout-cli watch --target 10.1.20.0/24\n"
        "With --target, each round asks every target after its search, then waits the interval.");

    double doctorTimeout = 3;
    std::string doctorFormat = "text";
    CLI::App* doctor = app.add_subcommand(
        "doctor", "Check this machine, search once and explain why boxes may not be found; changes nothing");
    doctor->add_option("--timeout", doctorTimeout, "Seconds the search waits for answers (default 3)")
        ->check(Seconds(0, kMaxSeconds))
        ->type_name("SECONDS");
    doctor->add_option("--format", doctorFormat, "text (default) or json")
        ->check(CLI::IsMember({"text", "json"}).description(""))
        ->type_name("text|json");
    doctor->set_version_flag("--version", "nasscout-cli " NASSCOUT_VERSION);
    doctor->footer(
        "Checks the port-67 privilege (and the bind helper), every interface, the default route, port 1900,\n"
        "firewalld, ufw and (as root) nftables, the time to look up this machine's host name, then runs one\n"
        "search (the default request and M-SEARCH). Each finding says what was checked, what was found and\n"
        "the fix. json prints one object: {\"ok\": bool, \"findings\": [{\"check\", \"status\" (ok, warning,\n"
        "blocking), \"message\", \"fix\"}], \"search\": {\"seconds\", \"answers\", \"devices\"}}.\n"
        "Exit status: 0 when nothing blocks a search, 1 when something does, 2 for bad arguments.");

    cli::BoxCommands boxes;
    boxes.Register(app, o.timeout, Seconds(0, kMaxSeconds), [&o](CLI::App* cmd) { AddCommonOptions(cmd, o); });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        std::fprintf(stderr, "nasscout-cli: %s\n", e.what());
        if (const char* usage = boxes.Usage()) {
            std::fprintf(stderr, "%sRun 'nasscout-cli COMMAND --help' for details.\n", usage);
            return 2;
        }
        bool inScan = scan->parsed(), inWatch = watch->parsed(), inDoctor = doctor->parsed();
        if (inScan || (!inWatch && !inDoctor)) std::fputs(kScanUsage, stderr);
        if (inWatch || (!inScan && !inDoctor)) std::fputs(kWatchUsage, stderr);
        if (inDoctor || (!inScan && !inWatch)) std::fputs(kDoctorUsage, stderr);
        std::fputs("Run 'nasscout-cli COMMAND --help' for details.\n", stderr);
        return 2;
    }
    if (doctor->parsed()) return cli::RunDoctor(doctorTimeout, doctorFormat == "json");
    if (boxes.known->parsed() || boxes.forget->parsed()) return boxes.RunLocal();
    CLI::App* chosen = scan->parsed()      ? scan
                       : watch->parsed()   ? watch
                       : boxes.open->parsed() ? boxes.open
                                           : boxes.resolve;
    if (chosen->count("--log-dir") > 0 && !CheckLogDir(o.logDir)) {
        std::fputs(boxes.Usage() ? boxes.Usage() : chosen == scan ? kScanUsage : kWatchUsage, stderr);
        return 2;
    }
    for (const std::string& text : o.targetTexts) {
        SearchTargetError error;
        if (!ParseSearchTargets(text, o.targets, error)) {
            std::fprintf(stderr, "nasscout-cli: --target %s\n", error.Describe().c_str());
            return 2;
        }
    }
    if (chosen->count("--rate") > 0 && !ParseSearchRate(o.rateText, o.rate)) {
        std::fprintf(stderr, "nasscout-cli: --rate '%s': must be a whole number of datagrams per second from %d to %d\n",
                     o.rateText.c_str(), kSearchRateMin, kSearchRateMax);
        return 2;
    }
    if (boxes.Searches()) return RunFind(o, boxes);
    if (scan->parsed()) return RunScan(o);
    return RunWatch(o);
}
