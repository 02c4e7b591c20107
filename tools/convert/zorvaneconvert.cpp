// zorvaneconvert.exe IN.xps OUT --format pdf|pdfa1b|pdfa2b: the conversion
// engine from a command line. Exit code 0 when OUT was written whole;
// otherwise 1, no output, and no OUT. With ZORVANE_CONVERT_STATS set, one
// more line on stderr for the benchmarks: the conversion's time inside the
// process (without Wine's start) and its peak working set.
#include <cstdio>
#include <cwchar>
#include <string>

#include <windows.h>

#include <psapi.h>

#include "engine/converter.h"
#include "platform/handles.h"

namespace {

// The file's name without its folder and extension: the document's title.
std::wstring Stem(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L"\\/:");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    std::size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
}

int Run(const std::wstring& input, const std::wstring& output, engine::OutputFormat format) {
    xps::XpsPackage package;
    if (FAILED(package.OpenFile(input))) {
        return 1;
    }
    FileHandle file(::CreateFileW(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return 1;
    }
    engine::ConvertOptions options;
    options.format = format;
    options.title = Stem(input);
    HRESULT hr = engine::Convert(package, options, [&file](const void* bytes, std::size_t size) {
        DWORD written = 0;
        return ::WriteFile(file.Get(), bytes, static_cast<DWORD>(size), &written, nullptr) && written == size
                   ? S_OK
                   : HRESULT_FROM_WIN32(::GetLastError());
    });
    bool closed = file.Close();
    if (FAILED(hr) || !closed) {
        ::DeleteFileW(output.c_str());
        return 1;
    }
    return 0;
}

int RunOrDiscard(const std::wstring& input, const std::wstring& output, engine::OutputFormat format) {
    try {
        return Run(input, output, format);
    } catch (...) {
        ::DeleteFileW(output.c_str());
        return 1;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD startTicks = ::GetTickCount();
    engine::OutputFormat format = engine::OutputFormat::Pdf;
    if (argc != 5 || std::wcscmp(argv[3], L"--format") != 0 || !engine::OutputFormatNamed(argv[4], format)) {
        return 1;
    }
    int exitCode = RunOrDiscard(argv[1], argv[2], format);
    if (::GetEnvironmentVariableW(L"ZORVANE_CONVERT_STATS", nullptr, 0) != 0) {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof(counters);
        if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) {
            std::fwprintf(stderr, L"zorvaneconvert: GetProcessMemoryInfo failed: %lu\n", ::GetLastError());
        }
        std::fwprintf(stderr, L"zorvaneconvert: %lu ms, peak working set %lu KiB\n",
                      static_cast<unsigned long>(::GetTickCount() - startTicks),
                      static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024));
    }
    return exitCode;
}
