// The engine's dated diagnostic log: one CR LF line per event, appended to
// DIR/YYYY-MM-DD-SearchDeviceLog.txt and echoed to standard output.
//
// Switched once by io_log_init before any worker exists; afterwards the state
// is only read, so writers on any thread need no lock. Every write opens,
// appends and closes the file, so no handle is shared between threads.
#pragma once

#include <string>

namespace SearchDeviceShowLog {

int io_log_init(bool enable, const char* directory);
// True when lines are written: the log was switched on with a usable path.
bool io_log_enabled();
namespace detail {
// Whether io_log_traced holds; kept by io_log_init and io_log_echo.
extern bool g_traced;
}  // namespace detail
// True when lines go anywhere: to the log file or, echoed, to the terminal.
// Inline, so that hot paths skip their trace calls for the price of a load.
inline bool io_log_traced() { return detail::g_traced; }
void io_log_path_create(const char* path);
int io_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int io_printf_time(const char* format, ...) __attribute__((format(printf, 1, 2)));
int io_log(const char* a, const char* b, int line, const char* message);
std::string get_curtime();
void io_log_exit();

// With echo on, io_printf and io_printf_time write their lines to standard
// output even when there is no log file (a terminal trace). Off by default;
// io_log_init leaves it as it is.
void io_log_echo(bool on);

}  // namespace SearchDeviceShowLog
