// Coverage builds (NASSCOUT_COVERAGE): a program that leaves through _exit
// skips the exit handler that writes its coverage counters, so it writes them
// itself first. In every other build this is nothing.
#pragma once

#ifdef NASSCOUT_COVERAGE
extern "C" void __gcov_dump(void);
inline void FlushCoverage() { __gcov_dump(); }
#else
inline void FlushCoverage() {}
#endif
