// The C boundary for hosts: each entry point calls the client or the sweep
// and fills the C structs; no logic or state of its own.
#include "nasscout/SearchDeviceOpt.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "Common/SearchTargets.h"
#include "SearchDeviceHandle/SearchDeviceClient.h"
#include "SearchDeviceHandle/SearchTargetSweep.h"
#include "ShowLog/ShowLog.h"

extern "C" int search_dll_init(int (*callback)(void*, int), bool log_on, const char* log_dir, bool multi_ip) {
    SearchDeviceShowLog::io_log_init(log_on, log_dir);
    CSearchDeviceClient::InitSocketThread(callback, multi_ip);
    return 0;
}

extern "C" void search_dll_exit(void) {
    // No probe may leave once the workers are stopped.
    CSearchTargetSweep::Stop();
    CSearchDeviceClient::ExitSocketThread();
    SearchDeviceShowLog::io_log_exit();
}

extern "C" int SendMessageToDevice(dhcppacket* packet) { return CSearchDeviceClient::SendSearch(packet); }

extern "C" int search_set_targets(const char* targets, int rate, char* error, int error_size) {
    std::string reason;
    CSearchTargetList list;
    SearchTargetError refusal;
    if (rate == 0) rate = kSearchRateDefault;
    if (targets != nullptr && !ParseSearchTargetLines(targets, list, refusal))
        reason = refusal.Describe();
    else if (CSearchTargetSweep::SetTargets(list, rate) != 0)
        reason = "rate " + std::to_string(rate) + ": must be from " + std::to_string(kSearchRateMin) + " to " +
                 std::to_string(kSearchRateMax) + " datagrams per second";
    if (reason.empty()) return 0;
    if (error != nullptr && error_size > 0) std::snprintf(error, static_cast<std::size_t>(error_size), "%s", reason.c_str());
    return -1;
}

extern "C" int search_sweep_targets(void) { return CSearchTargetSweep::Start(); }

static_assert(static_cast<int>(SweepProgress::State::Idle) == SEARCH_SWEEP_IDLE &&
              static_cast<int>(SweepProgress::State::Running) == SEARCH_SWEEP_RUNNING &&
              static_cast<int>(SweepProgress::State::Finished) == SEARCH_SWEEP_FINISHED &&
              static_cast<int>(SweepProgress::State::Cancelled) == SEARCH_SWEEP_CANCELLED);

extern "C" int search_sweep_progress(sweepprogress* progress) {
    if (progress == nullptr) return 0;
    const SweepProgress p = CSearchTargetSweep::Progress();
    *progress = sweepprogress{p.done,    p.total,     p.sent,
                              p.failed,  p.rate,      p.achieved,
                              p.elapsed, p.remaining, static_cast<int>(p.state),
                              p.number,  {}};
    std::snprintf(progress->error, sizeof progress->error, "%s", p.error.c_str());
    return 0;
}

extern "C" int search_sweep_wait(int timeout_ms) { return CSearchTargetSweep::Wait(timeout_ms) ? 1 : 0; }

extern "C" void search_sweep_cancel(void) { CSearchTargetSweep::Cancel(); }
