// The port monitor's write path against a plain file copy: one job of the
// given size through "ZorvanePort" (StartDocPort, WritePort per chunk,
// EndDocPort, with the monitor's folder checks, its file and its rename)
// and a ReadFile/WriteFile copy of the same bytes in the same chunks, side
// by side in each repetition, the order turning from one to the next.
//   monitorbench <zorvanemon.dll> <work folder> <MB> <chunk bytes> <repetitions>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/monitor/monitor_test_support.h"
#include "zorvaneidentity.h"

namespace {

const wchar_t kPort[] = ZORVANE_WIDE(ZORVANE_PORT_NAME);

double Seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Reads the source in chunks and hands each to sink; false when a call fails.
template <typename Sink>
bool ForEachChunk(const std::wstring& source, std::vector<BYTE>& chunk, Sink sink) {
    FileHandle file(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    bool ok = static_cast<bool>(file);
    DWORD cbRead = 0;
    while (ok && ::ReadFile(file.Get(), chunk.data(), static_cast<DWORD>(chunk.size()), &cbRead, nullptr) &&
           cbRead > 0) {
        ok = sink(chunk.data(), cbRead);
    }
    return ok;
}

double PlainCopy(const std::wstring& source, const std::wstring& target, std::vector<BYTE>& chunk) {
    double start = Seconds();
    FileHandle file(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    bool ok = file && ForEachChunk(source, chunk, [&](BYTE* pData, DWORD cb) {
                  DWORD cbWritten = 0;
                  return ::WriteFile(file.Get(), pData, cb, &cbWritten, nullptr) && cbWritten == cb;
              });
    ok = file.Close() && ok;
    double elapsed = Seconds() - start;
    ::DeleteFileW(target.c_str());
    return ok ? elapsed : -1;
}

double Job(const Monitor& monitor, const std::wstring& source, const std::wstring& jobFolder,
           std::vector<BYTE>& chunk) {
    const MONITOR2& functions = monitor.Functions();
    double start = Seconds();
    HANDLE hPort = nullptr;
    bool ok = functions.pfnOpenPort(monitor.Handle(), const_cast<wchar_t*>(kPort), &hPort) &&
              functions.pfnStartDocPort(hPort, nullptr, 0, 0, nullptr);
    ok = ok && ForEachChunk(source, chunk, [&](BYTE* pData, DWORD cb) {
             DWORD cbWritten = 0;
             return functions.pfnWritePort(hPort, pData, cb, &cbWritten) && cbWritten == cb;
         });
    ok = functions.pfnEndDocPort(hPort) && ok;
    functions.pfnClosePort(hPort);
    double elapsed = Seconds() - start;
    TempFolder::RemoveTree(jobFolder);
    return ok ? elapsed : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr,
                     "usage: monitorbench <zorvanemon.dll> <work folder> <MB> <chunk bytes> <reps>\n");
        return 2;
    }
    DWORD dwError = ERROR_SUCCESS;
    if (!MonitorDll::Load(WindowsPath(argv[1]), dwError)) {
        std::fprintf(stderr, "cannot load the monitor: error %lu\n", dwError);
        return 1;
    }
    std::wstring work = WindowsPath(argv[2]);
    unsigned long long cbJob = std::strtoull(argv[3], nullptr, 10) << 20;
    std::vector<BYTE> chunk(std::strtoul(argv[4], nullptr, 10));
    int reps = std::atoi(argv[5]);

    // The job's bytes: not all alike, so that nothing along the way can
    // make less of them.
    std::wstring source = work + L"\\source.bin";
    FileHandle file(::CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    unsigned state = 12345;
    for (unsigned long long done = 0; done < cbJob; done += chunk.size()) {
        for (BYTE& b : chunk) {
            state = state * 1103515245u + 12345u;
            b = static_cast<BYTE>(state >> 16);
        }
        DWORD cbWritten = 0;
        ::WriteFile(file.Get(), chunk.data(),
                    static_cast<DWORD>(std::min<unsigned long long>(chunk.size(), cbJob - done)), &cbWritten,
                    nullptr);
    }
    file.Close();

    FakeMonitorRegistry registry;
    Monitor monitor(registry.MonitorInit());
    monitor.AddPort(kPort);
    std::wstring root = work + L"\\output";
    registry.SetString(ZORVANE_WIDE("Ports\\" ZORVANE_PORT_NAME), L"OutputFolder", root);

    std::vector<double> copies, jobs, ratios;
    // One untimed round of each puts the source into the page cache.
    PlainCopy(source, work + L"\\copy.bin", chunk);
    Job(monitor, source, root, chunk);
    for (int rep = 0; rep < reps; ++rep) {
        double copy = 0, job = 0;
        if (rep % 2 == 0) {
            copy = PlainCopy(source, work + L"\\copy.bin", chunk);
            job = Job(monitor, source, root, chunk);
        } else {
            job = Job(monitor, source, root, chunk);
            copy = PlainCopy(source, work + L"\\copy.bin", chunk);
        }
        if (copy < 0 || job < 0) {
            std::fprintf(stderr, "a run failed: error %lu\n", ::GetLastError());
            return 1;
        }
        copies.push_back(copy);
        jobs.push_back(job);
        ratios.push_back(job / copy);
    }
    ::DeleteFileW(source.c_str());
    std::printf("%s MB in chunks of %s bytes, medians of %d runs\n", argv[3], argv[4], reps);
    std::printf("  plain copy (ReadFile/WriteFile)      %8.1f ms\n", Median(copies) * 1000);
    std::printf("  job through " ZORVANE_PORT_NAME "              %8.1f ms\n", Median(jobs) * 1000);
    std::printf("  job / copy                           %8.3f    goal <= 1.2: %s\n",
                Median(jobs) / Median(copies), Median(jobs) / Median(copies) <= 1.2 ? "met" : "missed");
    std::printf("  job / copy, run by run               %8.3f (%.3f-%.3f)\n", Median(ratios),
                *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()));
    return 0;
}
