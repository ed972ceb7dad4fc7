#include "ShowLog/ShowLog.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace SearchDeviceShowLog {
namespace {

char io_log_path[4096];
bool g_bLogEnable = false;
bool g_bEcho = false;

constexpr std::size_t kLineMax = 1023;

bool logUsable() { return g_bLogEnable && io_log_path[0] != '\0'; }
bool traceWanted() { return logUsable() || g_bEcho; }
void noteTraced() { detail::g_traced = traceWanted(); }

void appendToFile(const char* text) {
    if (FILE* f = std::fopen(io_log_path, "a+")) {
        std::fputs(text, f);
        std::fclose(f);
    }
}

// Formats into a zeroed 1024-byte buffer; false when the message is empty or
// would not fit (nothing is ever cut short).
bool formatMessage(char (&buf)[1024], const char* format, va_list args) {
    std::memset(buf, 0, sizeof buf);
    int n = std::vsnprintf(buf, sizeof buf, format, args);
    return n > 0 && static_cast<std::size_t>(n) <= kLineMax;
}

void writeLine(const char* line) {
    if (logUsable()) appendToFile(line);
    std::fputs(line, stdout);
}

}  // namespace

bool detail::g_traced = false;

int io_log_init(bool enable, const char* directory) {
    g_bLogEnable = enable;
    std::memset(io_log_path, 0, sizeof io_log_path);
    noteTraced();
    if (!enable || directory == nullptr) return 0;

    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[64] = {};
    std::snprintf(name, sizeof name, "%02d-%02d-%02d-%s", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, "SearchDeviceLog.txt");

    // A path that would not fit is refused whole rather than cut: a truncated
    // path would silently write somewhere else.
    if (std::strlen(directory) + std::strlen(name) > sizeof io_log_path - 1) return 0;

    std::strncpy(io_log_path, directory, sizeof io_log_path - 1);
    io_log_path_create(io_log_path);
    std::strcat(io_log_path, name);
    noteTraced();
    appendToFile("------Start Log System-------\r\n");
    return 1;
}

bool io_log_enabled() { return logUsable(); }

void io_log_path_create(const char*) {}

int io_printf(const char* format, ...) {
    if (!traceWanted() || format == nullptr) return 0;
    char message[1024];
    va_list args;
    va_start(args, format);
    bool ok = formatMessage(message, format, args);
    va_end(args);
    if (!ok) return 0;

    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char line[1024] = {};
    int n = std::snprintf(line, sizeof line, "%s*[%02d::%02d:%02d:%02d]\r\n", message, local.tm_mday,
                          local.tm_hour, local.tm_min, local.tm_sec);
    if (n < 0 || static_cast<std::size_t>(n) > kLineMax) return 0;
    writeLine(line);
    return 1;
}

int io_printf_time(const char* format, ...) {
    if (!traceWanted() || format == nullptr) return 0;
    char message[1024];
    va_list args;
    va_start(args, format);
    bool ok = formatMessage(message, format, args);
    va_end(args);
    if (!ok) return 0;

    std::string time = get_curtime();
    char line[1024] = {};
    int n = std::snprintf(line, sizeof line, "[--%s--]*%s\r\n", time.c_str(), message);
    if (n < 0 || static_cast<std::size_t>(n) > kLineMax) return 0;
    writeLine(line);
    return 1;
}

int io_log(const char* a, const char* b, int number, const char* message) {
    if (!logUsable() || a == nullptr || b == nullptr || message == nullptr) return 0;
    FILE* f = std::fopen(io_log_path, "a+");
    if (f == nullptr) return 0;
    char line[1024] = {};
    int n = std::snprintf(line, sizeof line, "[%s]:%s(%d): %s\r\n", a, b, number, message);
    if (n < 0 || static_cast<std::size_t>(n) > kLineMax) {
        std::fclose(f);
        return 0;
    }
    std::fputs(line, f);
    std::fclose(f);
    return 1;
}

std::string get_curtime() {
    // microsec_clock::local_time converts through the reentrant localtime_r.
    std::string iso =
        boost::posix_time::to_iso_extended_string(boost::posix_time::microsec_clock::local_time());
    std::size_t t = iso.find('T');
    return t == std::string::npos ? iso : iso.substr(t + 1);
}

void io_log_exit() {
    if (logUsable()) appendToFile("------Exit Log System-------\r\n");
}

void io_log_echo(bool on) {
    g_bEcho = on;
    noteTraced();
}

}  // namespace SearchDeviceShowLog
