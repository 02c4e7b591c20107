// The report of setup-profiled.exe (setup.exe's code on the profiled seam):
// written when the process ends, to the file that ZORVANE_SEAM_PROFILE names,
// as "key value" lines.
#include <cstdio>
#include <string>

#include <windows.h>

#include <psapi.h>

#include "bench/profiledseam.h"

namespace {

class ProfileReport {
public:
    ProfileReport() : startMs_(bench::NowMs()) {}
    ~ProfileReport() {
        double processMs = bench::NowMs() - startMs_;
        wchar_t path[MAX_PATH];
        DWORD length = ::GetEnvironmentVariableW(L"ZORVANE_SEAM_PROFILE", path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return;
        }
        // Binary: lines end in LF alone, as bench/run's tools read them; text
        // mode would end every value with a CR.
        FILE* out = _wfopen(path, L"wb");
        if (out == nullptr) {
            return;
        }
        bench::SeamProfile profile = bench::TakeSeamProfile();
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof(memory);
        ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));
        std::fprintf(out, "process_ms %.3f\n", processMs);
        std::fprintf(out, "platform_ms %.3f\n", profile.platformMs);
        std::fprintf(out, "sleep_ms %.3f\n", profile.sleepMs);
        std::fprintf(out, "sleep_requested_ms %llu\n",
                     static_cast<unsigned long long>(profile.sleepRequestedMs));
        std::fprintf(out, "log_calls %llu\n", static_cast<unsigned long long>(profile.logCalls));
        std::fprintf(out, "log_ms %.3f\n", profile.logMs);
        std::fprintf(out, "calls %llu\n", static_cast<unsigned long long>(profile.CallCount()));
        std::fprintf(out, "peak_working_set_kb %lu\n",
                     static_cast<unsigned long>(memory.PeakWorkingSetSize / 1024));
        std::fprintf(out, "peak_pagefile_kb %lu\n",
                     static_cast<unsigned long>(memory.PeakPagefileUsage / 1024));
        for (const bench::CallStats& call : profile.calls) {
            std::fprintf(out, "call %s %llu %.3f\n", call.name.c_str(),
                         static_cast<unsigned long long>(call.count), call.ms);
        }
        std::fclose(out);
    }

private:
    double startMs_;
};

// Constructed before WinMain runs, destroyed after it returns.
ProfileReport report;

}  // namespace
