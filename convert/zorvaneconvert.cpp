// zorvaneconvert.exe IN.xps OUT [--format F] [--dpi N] [--transparent]: the
// conversion engine from a command line, for saved XPS files. F is pdf (the
// default), pdfa1b, pdfa2b, xps, svg, emf, png, jpeg or tiff; N the raster
// resolution; --transparent keeps what nothing draws transparent in PNG and
// TIFF.
//
// Exit code 0 when the output was written whole. Otherwise 1, one line on
// stderr naming the input and the reason, and no output: every file is
// written under a temporary name beside OUT and renamed only once the whole
// conversion succeeded. A per-page format (svg, emf, png, jpeg) writes OUT
// for a one-page document, else OUT's stem with "-1", "-2"... and OUT's
// extension. With ZORVANE_CONVERT_STATS set, one more line on stderr for the
// benchmarks (platform/runstats.h).
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include <windows.h>

#include "engine/converter.h"
#include "platform/handles.h"
#include "platform/runstats.h"

namespace {

struct Arguments {
    std::wstring input, output;
    bool xps = false;  // the package itself, once it has been read whole
    engine::ConvertOptions options;
};

// The file's name without its folder and extension: the document's title.
std::wstring Stem(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L"\\/:");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    std::size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
}

// OUT's name for page n of a many-page result: "<stem>-<n><extension>".
std::wstring PageFileName(const std::wstring& output, unsigned page) {
    std::size_t slash = output.find_last_of(L"\\/:");
    std::size_t dot = output.rfind(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash) ||
        dot == (slash == std::wstring::npos ? 0 : slash + 1)) {
        dot = output.size();
    }
    return output.substr(0, dot) + L"-" + std::to_wstring(page) + output.substr(dot);
}

// The files of one conversion under temporary names, renamed to their own
// names only by Commit; whatever was not committed is deleted.
class OutputFiles {
public:
    explicit OutputFiles(std::wstring output) : output_(std::move(output)) {}
    ~OutputFiles() {
        file_.Close();
        for (const std::wstring& temporary : temporaries_) {
            if (!temporary.empty()) {
                ::DeleteFileW(temporary.c_str());
            }
        }
    }
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    HRESULT Next() {
        if (file_ && !file_.Close()) {
            return HRESULT_FROM_WIN32(::GetLastError());
        }
        // Process ids come back: a name an earlier run left behind (it was
        // killed) is passed over, never opened or deleted.
        std::wstring stem = output_ + L".zcv" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                            std::to_wstring(temporaries_.size() + 1);
        for (unsigned attempt = 0; attempt < kNameAttempts; ++attempt) {
            std::wstring temporary = stem + (attempt == 0 ? L"" : L"-" + std::to_wstring(attempt)) + L".tmp";
            file_ = FileHandle(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file_) {
                temporaries_.push_back(temporary);
                return S_OK;
            }
            if (::GetLastError() != ERROR_FILE_EXISTS) {
                break;
            }
        }
        return HRESULT_FROM_WIN32(::GetLastError());
    }

    HRESULT Write(const void* bytes, std::size_t size) {
        if (!file_ || size > MAXDWORD) {
            return E_UNEXPECTED;
        }
        DWORD written = 0;
        return ::WriteFile(file_.Get(), bytes, static_cast<DWORD>(size), &written, nullptr) && written == size
                   ? S_OK
                   : HRESULT_FROM_WIN32(::GetLastError());
    }

    // One file is OUT; several are OUT's page names. A name in the way is
    // replaced, as a program that writes OUT is expected to.
    HRESULT Commit() {
        if (file_ && !file_.Close()) {
            return HRESULT_FROM_WIN32(::GetLastError());
        }
        for (std::size_t i = 0; i < temporaries_.size(); ++i) {
            std::wstring name = temporaries_.size() == 1 ? output_ : PageFileName(output_, i + 1);
            if (!::MoveFileExW(temporaries_[i].c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING)) {
                return HRESULT_FROM_WIN32(::GetLastError());
            }
            temporaries_[i].clear();
        }
        return S_OK;
    }

private:
    static constexpr unsigned kNameAttempts = 1000;
    std::wstring output_;
    std::vector<std::wstring> temporaries_;
    FileHandle file_;
};

HRESULT CopyPackage(const xps::XpsPackage& package, const std::wstring& input, OutputFiles& files) {
    // Only a package the engine reads whole is handed on as XPS.
    xps::FixedStructure structure;
    HRESULT hr = package.ReadStructure(structure);
    FileHandle source(::CreateFileW(input.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (SUCCEEDED(hr) && !source) {
        hr = HRESULT_FROM_WIN32(::GetLastError());
    }
    if (SUCCEEDED(hr)) {
        hr = files.Next();
    }
    std::vector<char> chunk(1u << 16);
    for (DWORD read = 1; SUCCEEDED(hr) && read != 0;) {
        if (!::ReadFile(source.Get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
            hr = HRESULT_FROM_WIN32(::GetLastError());
        } else if (read != 0) {
            hr = files.Write(chunk.data(), read);
        }
    }
    return hr;
}

HRESULT Run(Arguments& arguments) {
    xps::XpsPackage package;
    HRESULT hr = package.OpenFile(arguments.input);
    if (FAILED(hr)) {
        return hr;
    }
    OutputFiles files(arguments.output);
    if (arguments.xps) {
        hr = CopyPackage(package, arguments.input, files);
    } else {
        bool perPage = engine::IsPerPageFormat(arguments.options.format);
        arguments.options.title = Stem(arguments.input);
        arguments.options.beginFile = [&files](unsigned) { return files.Next(); };
        hr = perPage ? S_OK : files.Next();
        if (SUCCEEDED(hr)) {
            hr = engine::Convert(package, arguments.options, [&files](const void* bytes, std::size_t size) {
                return files.Write(bytes, size);
            });
        }
    }
    return SUCCEEDED(hr) ? files.Commit() : hr;
}

HRESULT RunGuarded(Arguments& arguments) {
    try {
        return Run(arguments);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

bool ParseArguments(int argc, wchar_t** argv, Arguments& arguments) {
    if (argc < 3) {
        return false;
    }
    arguments.input = argv[1];
    arguments.output = argv[2];
    for (int i = 3; i < argc; i += 2) {
        if (std::wcscmp(argv[i], L"--transparent") == 0) {
            arguments.options.transparent = true;
            --i;
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        if (std::wcscmp(argv[i], L"--format") == 0) {
            arguments.xps = _wcsicmp(argv[i + 1], L"xps") == 0;
            if (!arguments.xps && !engine::OutputFormatNamed(argv[i + 1], arguments.options.format)) {
                return false;
            }
        } else if (std::wcscmp(argv[i], L"--dpi") == 0) {
            wchar_t* pEnd = nullptr;
            unsigned long dpi = std::wcstoul(argv[i + 1], &pEnd, 10);
            if (pEnd == argv[i + 1] || *pEnd != L'\0' || dpi < engine::kMinDpi || dpi > engine::kMaxDpi) {
                return false;
            }
            arguments.options.dpi = static_cast<unsigned>(dpi);
        } else {
            return false;
        }
    }
    return true;
}

void PrintUsage(FILE* to) {
    std::fwprintf(to,
                  L"usage: zorvaneconvert IN.xps OUT [--format pdf|pdfa1b|pdfa2b|xps|svg|emf|png|jpeg|tiff] "
                  L"[--dpi %u-%u] [--transparent]\n",
                  engine::kMinDpi, engine::kMaxDpi);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD startTicks = ::GetTickCount();
    // Asked for, the usage is the answer: on standard output, exit 0.
    if (argc == 2 && (std::wcscmp(argv[1], L"--help") == 0 || std::wcscmp(argv[1], L"-h") == 0 ||
                      std::wcscmp(argv[1], L"/?") == 0)) {
        PrintUsage(stdout);
        return 0;
    }
    Arguments arguments;
    if (!ParseArguments(argc, argv, arguments)) {
        PrintUsage(stderr);
        return 1;
    }
    HRESULT hr = RunGuarded(arguments);
    if (FAILED(hr)) {
        std::fwprintf(stderr, L"zorvaneconvert: %ls: %ls\n", arguments.input.c_str(),
                      engine::DescribeFailure(hr).c_str());
    }
    if (::GetEnvironmentVariableW(L"ZORVANE_CONVERT_STATS", nullptr, 0) != 0) {
        PrintRunStatistics(L"zorvaneconvert", startTicks);
    }
    return FAILED(hr) ? 1 : 0;
}
