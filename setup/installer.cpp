#include "setup/installer.h"

#include <cassert>

#include "platform/seamhandles.h"

namespace {

// Another process (a log viewer, a virus scanner) may hold the log for a
// moment; a record waits at most this long for it before it is given up.
constexpr int kLogOpenTries = 10;
constexpr DWORD kLogOpenRetryMs = 50;

constexpr DWORD kFormatMessageFlags =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
constexpr DWORD kNeutralDefaultLanguage = 0x400;

constexpr wchar_t kSpoolerService[] = L"Spooler";
constexpr int kStartAttempts = 2;
constexpr int kStartWaits = 10;
constexpr DWORD kStartWaitMs = 2000;
// A service that has not stopped after a minute will not stop by itself.
constexpr int kStopWaits = 120;
constexpr DWORD kStopWaitMs = 500;

// The log's directory may be writable by anyone while the installer runs
// elevated: a log that is a link (a reparse point, or a file with a second
// hard link) could point anywhere, so no record is written through it.
bool IsLink(HANDLE hFile) {
    BY_HANDLE_FILE_INFORMATION info;
    return !sys::GetFileInformationByHandle(hFile, &info) ||
           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks > 1;
}

// Where a full path's folders begin: after "C:\", "\\server\share\",
// "\\?\C:\" or "\\?\UNC\server\share\".
size_t RootLength(const std::wstring& path) {
    auto afterSeparators = [&path](size_t from, int count) {
        for (size_t at = from; at < path.size(); ++at) {
            if (path[at] == L'\\' && --count == 0) {
                return at + 1;
            }
        }
        return path.size();
    };
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        return afterSeparators(8, 2);
    }
    if (path.compare(0, 4, L"\\\\?\\") == 0) {
        return afterSeparators(4, 1);
    }
    if (path.compare(0, 2, L"\\\\") == 0) {
        return afterSeparators(2, 2);
    }
    return path.size() > 2 && path[1] == L':' ? 3 : 0;
}

// The log path made absolute, or empty when a folder on its way is a reparse
// point (a junction or symbolic link put in place of, say, C:\testxyzzy) or
// cannot be examined.
std::wstring PlainLogPath(const std::wstring& logPath) {
    DWORD dwNeeded = sys::GetFullPathNameW(logPath.c_str(), 0, nullptr, nullptr);
    if (dwNeeded == 0) {
        return std::wstring();
    }
    std::wstring fullPath(dwNeeded, L'\0');
    DWORD dwLength = sys::GetFullPathNameW(logPath.c_str(), dwNeeded, &fullPath[0], nullptr);
    if (dwLength == 0 || dwLength >= dwNeeded) {
        return std::wstring();
    }
    fullPath.resize(dwLength);
    for (size_t at = fullPath.find(L'\\', RootLength(fullPath)); at != std::wstring::npos;
         at = fullPath.find(L'\\', at + 1)) {
        DWORD dwAttributes = sys::GetFileAttributesW(fullPath.substr(0, at).c_str());
        if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return std::wstring();
        }
    }
    return fullPath;
}

// Opens the log for appending, created when missing, shared with nobody. A
// link itself is opened, not what it points at. Writing is needed besides
// appending to cut a short record back, reading attributes to see links.
sys::FileHandle OpenLogForAppend(const std::wstring& logPath) {
    std::wstring fullPath = logPath.empty() ? logPath : PlainLogPath(logPath);
    if (fullPath.empty()) {
        return sys::FileHandle();
    }
    for (int attempt = 1;; ++attempt) {
        sys::FileHandle file(sys::CreateFileW(
            fullPath.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_DATA | FILE_APPEND_DATA, 0, nullptr,
            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (file) {
            return IsLink(file.Get()) ? sys::FileHandle() : std::move(file);
        }
        if (sys::GetLastError() != ERROR_SHARING_VIOLATION || attempt == kLogOpenTries) {
            return file;
        }
        sys::Sleep(kLogOpenRetryMs);
    }
}

// Appends the bytes at the end of the file, whole or not at all: a write cut
// short (a full disk) is cut back to where the record began, and the record
// is lost like one whose log cannot be opened.
void AppendWhole(HANDLE hFile, const std::string& bytes) {
    LONG lStartHigh = 0;
    sys::SetLastError(NO_ERROR);
    DWORD dwStartLow = sys::SetFilePointer(hFile, 0, &lStartHigh, FILE_END);
    if (dwStartLow == INVALID_SET_FILE_POINTER && sys::GetLastError() != NO_ERROR) {
        return;
    }
    DWORD dwWritten = 0;
    BOOL bWritten =
        sys::WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr);
    if (!bWritten || dwWritten != bytes.size()) {
        sys::SetFilePointer(hFile, static_cast<LONG>(dwStartLow), &lStartHigh, FILE_BEGIN);
        sys::SetEndOfFile(hFile);
    }
}

// Six bytes for every unit beyond 7-bit ASCII.
std::int32_t AsciiWidth(wchar_t unit) { return unit <= 0x7F ? 1 : 6; }

}  // namespace

Installer::Installer(const std::wstring& sourceDir, const std::wstring& logPath)
    : logEnabled(!logPath.empty()), logPath(logPath), sourceDir(sourceDir) {}

void Installer::WriteLogRecord(const std::wstring& message) {
    DWORD dwSavedError = sys::GetLastError();
    sys::FileHandle file = OpenLogForAppend(logPath);
    if (file) {
        SYSTEMTIME now;
        sys::GetLocalTime(&now);
        AppendWhole(file.Get(), ToLogBytes(L"[" + FormatTimeStamp(now) + L"] " + message + L"\n"));
        file.Close();
    }
    sys::SetLastError(dwSavedError);
}

void Installer::ReportError(const std::wstring& message, const std::wstring& detail, DWORD code) {
    if (code != 0 && !logEnabled) {
        return;
    }
    std::wstring sTitle = code != 0 ? FormatLogMessage(L"Error: %s: %d", {message, code}) : message;

    sys::LocalText pBuffer;
    DWORD dwLen = sys::FormatMessageW(kFormatMessageFlags, nullptr, code, kNeutralDefaultLanguage,
                                      reinterpret_cast<LPWSTR>(pBuffer.Receive()), 0, nullptr);
    // A code without system text (SetupAPI's own codes) still gets its record,
    // with the heading and the detail alone.
    std::wstring msg = detail;
    if (code != 0 && dwLen != 0 && pBuffer) {
        msg += L". ";
        msg += pBuffer.Get();
    }
    if (logEnabled) {
        Log(L"%s %s", sTitle, msg);
    }
}

void Installer::LogError(const std::wstring& message, DWORD code) { ReportError(message, L"", code); }

bool Installer::IsSpoolerRunning() {
    sys::ServiceHandle hSCManager(sys::OpenSCManagerW(nullptr, nullptr, GENERIC_READ));
    if (!hSCManager) {
        return false;
    }
    sys::ServiceHandle hService(sys::OpenServiceW(hSCManager.Get(), kSpoolerService, SERVICE_QUERY_STATUS));
    if (!hService) {
        return false;
    }
    SERVICE_STATUS ssStatus{};
    return sys::QueryServiceStatus(hService.Get(), &ssStatus) && ssStatus.dwCurrentState == SERVICE_RUNNING;
}

// The service control manager, to start and stop services, or its failure
// reported.
sys::ServiceHandle Installer::OpenServiceManager() {
    sys::SetLastError(0);
    sys::ServiceHandle hSCManager(sys::OpenSCManagerW(nullptr, nullptr, GENERIC_EXECUTE));
    if (!hSCManager) {
        LogError(L"opening connection to service manager", sys::GetLastError());
    }
    return hSCManager;
}

bool Installer::StartSpooler() {
    bool result = false;
    HANDLE hServer = nullptr;

    sys::ServiceHandle hSCManager = OpenServiceManager();
    if (!hSCManager) {
        return false;
    }
    sys::SetLastError(0);
    sys::ServiceHandle hService(
        sys::OpenServiceW(hSCManager.Get(), kSpoolerService, SERVICE_START | SERVICE_QUERY_STATUS));
    if (!hService) {
        return false;
    }

    for (int attempt = 0; attempt < kStartAttempts && hServer == nullptr; ++attempt) {
        sys::SetLastError(0);
        if (!sys::StartServiceW(hService.Get(), 0, nullptr) &&
            sys::GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
            LogError(L"starting spooler service", sys::GetLastError());
            return false;
        }

        sys::SetLastError(0);
        SERVICE_STATUS ssStatus{};
        bool queried = sys::QueryServiceStatus(hService.Get(), &ssStatus);
        for (int waits = 0; queried && ssStatus.dwCurrentState != SERVICE_RUNNING && waits < kStartWaits;
             ++waits) {
            sys::SetLastError(0);
            sys::Sleep(kStartWaitMs);
            queried = sys::QueryServiceStatus(hService.Get(), &ssStatus);
        }
        // A time-out reports code 0; a failed query its own code.
        if (!queried || ssStatus.dwCurrentState != SERVICE_RUNNING) {
            LogError(L"spooler service will not run", sys::GetLastError());
            return false;
        }
        result = true;

        // The service may run before its print server answers; then one more
        // attempt gives it time.
        if (sys::OpenPrinterW(nullptr, &hServer, nullptr)) {
            sys::ClosePrinter(hServer);
        } else {
            hServer = nullptr;
        }
    }
    return result;
}

bool Installer::StopSpooler() {
    sys::ServiceHandle hSCManager = OpenServiceManager();
    if (!hSCManager) {
        return false;
    }
    sys::SetLastError(0);
    sys::ServiceHandle hService(sys::OpenServiceW(hSCManager.Get(), kSpoolerService,
                                                  SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS));
    if (!hService) {
        LogError(L"opening connection to spooler service", sys::GetLastError());
        return false;
    }

    sys::SetLastError(0);
    SERVICE_STATUS ssStatus{};
    if (!sys::ControlService(hService.Get(), SERVICE_CONTROL_STOP, &ssStatus) &&
        sys::GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        LogError(L"sending stop control code to spooler service", sys::GetLastError());
        return false;
    }

    // A failed query ends the wait as well: the service is as good as stopped.
    for (int waits = 1;; ++waits) {
        sys::Sleep(kStopWaitMs);
        if (!sys::QueryServiceStatus(hService.Get(), &ssStatus) ||
            ssStatus.dwCurrentState == SERVICE_STOPPED) {
            return true;
        }
        if (waits == kStopWaits) {
            LogError(L"spooler service will not stop", 0);
            return false;
        }
    }
}

std::int32_t WideToAscii(const wchar_t* in, char* out, std::int32_t buf_sz, bool terminate) {
    static const char kHexDigits[] = "0123456789ABCDEF";
    if (in == nullptr) {
        in = L"";
    }
    if (out == nullptr) {
        std::int32_t size = terminate ? 1 : 0;
        for (const wchar_t* p = in; *p != L'\0'; ++p) {
            size += AsciiWidth(*p);
        }
        return size;
    }
    if (buf_sz <= 0) {
        return 0;
    }
    std::int32_t out_sz = 0;
    const wchar_t* p = in;
    for (; *p != L'\0'; ++p) {
        std::int32_t next = out_sz + AsciiWidth(*p);
        bool fits = terminate ? next < buf_sz : next <= buf_sz;
        if (!fits) {
            break;
        }
        if (*p <= 0x7F) {
            out[out_sz] = static_cast<char>(*p);
        } else {
            unsigned unit = *p;
            char* escape = out + out_sz;
            escape[0] = '\\';
            escape[1] = 'U';
            escape[2] = kHexDigits[(unit >> 12) & 0xF];
            escape[3] = kHexDigits[(unit >> 8) & 0xF];
            escape[4] = kHexDigits[(unit >> 4) & 0xF];
            escape[5] = kHexDigits[unit & 0xF];
        }
        out_sz = next;
    }
    // Filling the buffer to its last byte while input remains means the
    // caller did not measure first.
    // clang-format off
    assert(*p == L'\0' || out_sz<buf_sz);
    // clang-format on
    if (terminate) {
        out[out_sz++] = '\0';
    }
    return out_sz;
}

std::string WideToAsciiString(const wchar_t* in) {
    std::int32_t n = WideToAscii(in, nullptr, 0, false);
    if (n == 0) {
        return std::string();
    }
    std::string text(static_cast<size_t>(n), '\0');
    WideToAscii(in, &text[0], n, false);
    return text;
}
