#include "setup/installer.h"

#include <cassert>

#include "setup/uniquehandle.h"

namespace {

// Another process (a log viewer, a virus scanner) may hold the log for a
// moment; a record waits at most this long for it before it is given up.
constexpr int kLogOpenTries = 10;
constexpr DWORD kLogOpenRetryMs = 50;

constexpr DWORD kFormatMessageFlags =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
constexpr DWORD kNeutralDefaultLanguage = 0x400;

// Opens the log for appending, created when missing, shared with nobody.
FileHandle OpenLogForAppend(const std::wstring& logPath) {
    for (int attempt = 1;; ++attempt) {
        FileHandle file(sys::CreateFileW(logPath.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file || sys::GetLastError() != ERROR_SHARING_VIOLATION || attempt == kLogOpenTries) {
            return file;
        }
        sys::Sleep(kLogOpenRetryMs);
    }
}

// Six bytes for every unit beyond 7-bit ASCII.
std::int32_t AsciiWidth(wchar_t unit) { return unit <= 0x7F ? 1 : 6; }

}  // namespace

Installer::Installer(const std::wstring& sourceDir, const std::wstring& logPath)
    : logEnabled(!logPath.empty()), logPath(logPath), sourceDir(sourceDir) {}

void Installer::WriteLogRecord(const std::wstring& message) {
    DWORD dwSavedError = sys::GetLastError();
    FileHandle file = OpenLogForAppend(logPath);
    if (file) {
        SYSTEMTIME now;
        sys::GetLocalTime(&now);
        std::string bytes = ToLogBytes(L"[" + FormatTimeStamp(now) + L"] " + message + L"\n");
        DWORD dwWritten = 0;
        sys::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr);
        file.reset();
    }
    sys::SetLastError(dwSavedError);
}

void Installer::ReportError(const std::wstring& message, const std::wstring& detail, DWORD code) {
    if (code != 0 && !logEnabled) {
        return;
    }
    std::wstring sTitle = code != 0 ? FormatLogMessage(L"Error: %s: %d", {message, code}) : message;

    LocalText pBuffer;
    DWORD dwLen = sys::FormatMessageW(kFormatMessageFlags, nullptr, code, kNeutralDefaultLanguage,
                                      reinterpret_cast<LPWSTR>(pBuffer.receive()), 0, nullptr);
    // A code without system text (SetupAPI's own codes) still gets its record,
    // with the heading and the detail alone.
    std::wstring msg = detail;
    if (code != 0 && dwLen != 0 && pBuffer) {
        msg += L". ";
        msg += pBuffer.get();
    }
    if (logEnabled) {
        Log(L"%s %s", sTitle, msg);
    }
}

void Installer::LogError(const std::wstring& message, DWORD code) { ReportError(message, L"", code); }

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
