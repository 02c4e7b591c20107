// Installer: the base of every step object. It carries the log path and the
// source directory, writes the installation log and its error records, and
// controls the Spooler service.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/seamhandles.h"
#include "setup/logformat.h"

class Installer {
public:
    Installer(const std::wstring& sourceDir, const std::wstring& logPath);

    // Appends one record: "[", the local time stamp, "] ", the message, CR LF.
    // The file is opened, written and closed for this record alone, shared
    // with nobody meanwhile. Never fails visibly and leaves the thread's
    // last-error value as it found it.
    template <typename... Args>
    void Log(const wchar_t* format, const Args&... args) {
        WriteLogRecord(FormatLogMessage(format, {LogArg(args)...}));
    }

    // "Error: <message>: <code> <detail>. <system text>", or for code 0
    // "<message> <detail>".
    void ReportError(const std::wstring& message, const std::wstring& detail, DWORD code);
    void LogError(const std::wstring& message, DWORD code);

    // The "Spooler" service, through the service control manager. Each opens
    // and closes its own handles.
    bool IsSpoolerRunning();
    // Starts the service and waits until it runs (at most 10 waits of 2 s per
    // start attempt); a second attempt follows when the print server cannot
    // be opened yet.
    bool StartSpooler();
    // Stops the service and waits until it has stopped, at most one minute.
    bool StopSpooler();

protected:
    bool logEnabled;
    std::wstring logPath;
    std::wstring sourceDir;

private:
    void WriteLogRecord(const std::wstring& message);
    sys::ServiceHandle OpenServiceManager();
};

// UTF-16 to 7-bit ASCII: units up to 0x7F as themselves, any other unit as
// "\U" and four capital hex digits. With out null, measures.
std::int32_t WideToAscii(const wchar_t* in, char* out, std::int32_t buf_sz, bool terminate);
std::string WideToAsciiString(const wchar_t* in);
