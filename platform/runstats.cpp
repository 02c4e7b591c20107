#include "platform/runstats.h"

#include <cstdio>
#include <cwchar>

#include <psapi.h>

namespace {

unsigned long Milliseconds(const FILETIME& time) {  // from 100 ns units
    return static_cast<unsigned long>(
        (static_cast<unsigned long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 10000);
}

}  // namespace

void PrintRunStatistics(const wchar_t* program, DWORD startTicks) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) {
        std::fwprintf(stderr, L"%ls: GetProcessMemoryInfo failed: %lu\n", program, ::GetLastError());
    }
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        std::fwprintf(stderr, L"%ls: GetProcessTimes failed: %lu\n", program, ::GetLastError());
    }
    std::fwprintf(stderr, L"%ls: %lu ms, peak working set %lu KiB, processor %lu ms\n", program,
                  static_cast<unsigned long>(::GetTickCount() - startTicks),
                  static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024),
                  Milliseconds(kernel) + Milliseconds(user));
}
