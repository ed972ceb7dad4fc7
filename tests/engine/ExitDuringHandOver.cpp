// Ends the process with exit() while worker-like threads are in the middle
// of handing records over to the device list. Nothing the hand-over can
// reach may be torn down under them: no child may crash or hang.
//
//   exit_during_handover [RUNS]   runs RUNS children (default 200), each
//                                 exiting at a random moment; at most ~15 s
//                                 in all. NASSCOUT_EXIT_RUNS overrides RUNS.
//   exit_during_handover --child LOGDIR SEED   one child
// A failing child's seed is printed; rerun it with --child to reproduce.
//
// No network: the records are made up and handed over directly.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "DeviceSearchInterface.h"
#include "SearchDeviceClient.h"
#include "ShowLog.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<long> g_handedOver{0};

void workerLoop(int port, unsigned seed) {
    std::minstd_rand rng(seed);
    const std::int32_t kinds[] = {kDeviceAnswer, kDeviceAlive, kDeviceByebye, 3};
    const char* makers[] = {"orvale", "KESTIL", "acme"};
    for (;;) {
        deviceinfo d;
        unsigned n = rng() % 16;
        std::snprintf(d.id, sizeof d.id, "dev%u", n);
        std::snprintf(d.ip, sizeof d.ip, "198.51.100.%u", 10 + n);
        std::snprintf(d.factory, sizeof d.factory, "%s", makers[rng() % 3]);
        d.type = kinds[rng() % 4];
        CSearchDeviceClient::HandleDeviceMessage(&d, sizeof d, port);
        ++g_handedOver;
    }
}

// Stands in for the main thread and a host's refresher.
void readerLoop() {
    CDeviceSearchInterface* front = CDeviceSearchInterface::GetInstance();
    std::vector<deviceinfo> copy;
    for (unsigned i = 0;; ++i) {
        front->GetDeviceList(copy);
        if (i % 7 == 0) front->RefreshDeviceList();
        if (i % 101 == 0) front->ClearDeviceList();
    }
}

[[noreturn]] void runChild(const char* logDir, unsigned seed) {
    std::minstd_rand rng(seed);
    SearchDeviceShowLog::io_log_init(true, logDir);
    CSearchDeviceClient::SetDeviceCallback(&CDeviceSearchInterface::SearchDeviceRecallHandle);

    const int ports[] = {67, 1900, 1530, 1550};
    for (int port : ports) std::thread(workerLoop, port, seed + static_cast<unsigned>(port)).detach();
    std::thread(readerLoop).detach();

    // Wait for some traffic (or not at all), then a little more, then leave.
    long wanted = static_cast<long>(rng() % 200);
    const auto giveUp = Clock::now() + std::chrono::seconds(2);
    while (g_handedOver < wanted && Clock::now() < giveUp) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
    std::exit(0);
}

enum class Outcome { Ok, Crashed, Hung };

Outcome runOnce(const std::string& self, const std::string& logDir, unsigned seed, std::string& why) {
    std::string seedText = std::to_string(seed);
    char* args[] = {const_cast<char*>(self.c_str()), const_cast<char*>("--child"),
                    const_cast<char*>(logDir.c_str()), seedText.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The front end prints one line per record; keep stderr for sanitizers.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    // ThreadSanitizer lingers a second at every exit by default; a short
    // pause still catches reports from threads that outlive main.
    std::vector<std::string> env;
    std::string tsan = "TSAN_OPTIONS=";
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "TSAN_OPTIONS=", 13) == 0)
            tsan = std::string(*e) + ":";
        else
            env.emplace_back(*e);
    }
    env.push_back(tsan + "atexit_sleep_ms=50");
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, args, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        why = std::string("cannot start child: ") + std::strerror(rc);
        return Outcome::Crashed;
    }

    const auto deadline = Clock::now() + std::chrono::seconds(10);
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            why = "no exit within 10 s";
            return Outcome::Hung;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return Outcome::Ok;
    why = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                              : "exit status " + std::to_string(WEXITSTATUS(status));
    return Outcome::Crashed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        runChild(argv[2], static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)));

    long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 200;
    if (const char* env = std::getenv("NASSCOUT_EXIT_RUNS"); env && *env) runs = std::strtol(env, nullptr, 10);
    if (runs < 1) {
        std::fprintf(stderr, "usage: %s [RUNS]\n", argv[0]);
        return 2;
    }

    const char* tmp = std::getenv("TMPDIR");
    std::string logDir = std::string(tmp && *tmp ? tmp : "/tmp") + "/nasscout-exit-XXXXXX";
    if (mkdtemp(logDir.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    logDir += '/';
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();

    // Sanitizer builds start children slowly; the budget keeps the whole
    // run short there, at the price of fewer children.
    const auto budgetEnd = Clock::now() + std::chrono::seconds(15);
    std::random_device entropy;
    long done = 0, failed = 0;
    for (; done < runs && (done == 0 || Clock::now() < budgetEnd); ++done) {
        unsigned seed = entropy();
        std::string why;
        if (runOnce(self, logDir, seed, why) != Outcome::Ok) {
            ++failed;
            std::fprintf(stderr, "child %ld (seed %u): %s\n", done, seed, why.c_str());
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(logDir, ignored);
    std::printf("exit_during_handover: %ld of %ld children run, %ld failed\n", done, runs, failed);
    return failed == 0 ? 0 : 1;
}
