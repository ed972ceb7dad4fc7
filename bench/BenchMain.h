// main() for the benchmark programs: the engine writes a line per record to
// standard output, so that goes to /dev/null and the figures go to stderr
// (and to --benchmark_out when given). The search log stays off.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <iostream>

#include "ShowLog/ShowLog.h"

#define NASSCOUT_BENCHMARK_MAIN()                                          \
    int main(int argc, char** argv) {                                     \
        benchmark::Initialize(&argc, argv);                               \
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1; \
        SearchDeviceShowLog::io_log_init(false, nullptr);                 \
        int sink = open("/dev/null", O_WRONLY);                           \
        if (sink >= 0) dup2(sink, STDOUT_FILENO);                         \
        benchmark::ConsoleReporter console(                               \
            isatty(STDERR_FILENO) ? benchmark::ConsoleReporter::OO_Defaults \
                                  : benchmark::ConsoleReporter::OO_Tabular);  \
        console.SetOutputStream(&std::cerr);                              \
        console.SetErrorStream(&std::cerr);                               \
        benchmark::RunSpecifiedBenchmarks(&console);                      \
        benchmark::Shutdown();                                            \
        return 0;                                                         \
    }
