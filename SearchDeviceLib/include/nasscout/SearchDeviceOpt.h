// Public C interface of the search engine.
#pragma once

#include "Common/CommonStruct.h"

#ifdef __cplusplus
extern "C" {
#endif

// Starts the log (when log_on and a directory ending in '/' are given), then
// the search workers. callback receives every decoded record; it must not be
// null. multi_ip adds a search worker for every local IPv4 address. Returns 0.
int search_dll_init(int (*callback)(void*, int), bool log_on, const char* log_dir, bool multi_ip);

// Stops the workers (without waiting for their threads), then closes the log.
void search_dll_exit(void);

// One search on every worker. A null packet means the default broadcast
// request 0B 01 00 00 FF FF FF FF followed by 140 zero bytes. Returns 0.
int SendMessageToDevice(dhcppacket* packet);

// ---- Targets: addresses beyond the broadcast domain, asked by unicast ----
//
// Routers drop the limited broadcast and do not forward the multicast group,
// but they forward unicast. A sweep sends, for every target address in
// ascending order, the default 148-byte request to ADDRESS:68 and the 129-byte
// M-SEARCH to ADDRESS:1900, paced evenly at the set rate (datagrams per
// second, both kinds together). The answers are decoded by the workers that
// decode every other answer and reach the device list (and the listener given
// at start) through the same hand-over, maker filter and merge.
//
// Which socket sends: the request goes from the broadcast worker (port 67) and
// the M-SEARCH from the any-address SSDP worker (port 1900), so that answers
// come back to them. When port 1900 is shared with another program of this
// machine (a unicast answer may then go to that program), or that worker did
// not start, the M-SEARCH goes from the per-address worker bound to the local
// address the system routes the target from. Where no such worker runs, or
// the broadcast worker did not start, a worker on a port the system chooses is
// made once for the purpose and kept. The log names the choice.
//
// Threads: a sweep runs on a thread of its own; search_sweep_targets returns
// at once. Starting a sweep cancels a running one, and search_dll_exit cancels
// it before the workers stop. search_set_targets, search_sweep_targets and
// search_sweep_cancel belong to the thread that starts, searches and stops the
// engine; search_sweep_progress and search_sweep_wait may be called from any
// thread. With no targets set, nothing is ever sent beyond the searches above.

enum {
    SEARCH_SWEEP_IDLE = 0,  // no sweep since the engine started
    SEARCH_SWEEP_RUNNING = 1,
    SEARCH_SWEEP_FINISHED = 2,   // every address was probed (some sends may have failed)
    SEARCH_SWEEP_CANCELLED = 3,  // a new sweep, search_sweep_cancel or search_dll_exit stopped it
};

// A snapshot of the latest sweep.
typedef struct sweepprogress {
    unsigned long long done;    // addresses probed so far
    unsigned long long total;   // addresses in the sweep
    unsigned long long sent;    // datagrams sent
    unsigned long long failed;  // datagrams the system refused (no route, no socket, ...)
    int rate;                   // datagrams per second asked for
    double achieved;            // datagrams per second so far (sent and failed)
    double elapsed;             // seconds since the sweep started (until it ended, once it has)
    double remaining;           // seconds left at the set rate (two datagrams per address); 0 once ended
    int state;                  // SEARCH_SWEEP_*
    unsigned int number;        // 1 for the first sweep, one more for each further one
    char error[128];            // the first send error's text, empty when none
} sweepprogress;

// Sets the targets for later sweeps and the rate, replacing earlier ones. The
// text holds addresses (10.1.20.7) and CIDR blocks from /16 to /32
// (10.1.20.0/24), separated by commas or line breaks; a block of /30 or wider
// leaves out its network and broadcast addresses; duplicates collapse. An
// empty text or null clears the targets. rate is 1 to 100000, or 0 for the
// default 1000. Returns 0; -1 when the text or the rate is refused, with a one-line
// reason naming the offending item in error (when error_size > 0), and the
// earlier targets kept. A running sweep goes on with what it started with.
int search_set_targets(const char* targets, int rate, char* error, int error_size);

// Starts a sweep of the targets set, typically right after SendMessageToDevice.
// Returns 0 when it started, 1 when there are no targets (nothing is sent, a
// running sweep is cancelled), -1 when the engine is not running (not started,
// or stopped) or no thread could be made for the sweep.
int search_sweep_targets(void);

// Fills progress with the latest sweep's state. Returns 0.
int search_sweep_progress(sweepprogress* progress);

// Waits until no sweep runs, at most timeout_ms milliseconds (< 0: no limit).
// Returns 1 when none runs, 0 on timeout.
int search_sweep_wait(int timeout_ms);

// Cancels a running sweep and returns once its thread has stopped sending.
void search_sweep_cancel(void);

#ifdef __cplusplus
}
#endif
