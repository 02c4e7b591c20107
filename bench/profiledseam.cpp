// The seam, counted and timed, forwarding to the inner binding. Each call
// keeps the thread's last-error value as the inner binding left it, so the
// installer sees exactly what it would see without the profile.
#include "bench/profiledseam.h"

#include <windows.h>

#include <setupapi.h>
#include <winspool.h>
#include <winver.h>

// The inner binding's declarations: the seam's header under the renamed
// namespace.
#define sys zorvane_inner
#include "platform/platform.h"
#undef sys

namespace inner = zorvane_inner;

namespace {

struct Stat {
    const char* name = nullptr;
    std::uint64_t count = 0;
    std::int64_t ticks = 0;
};

// One counter per seam call, handed out on the call's first use.
Stat stats[96];
int statsUsed = 0;
int depth = 0;
std::int64_t platformTicks = 0;
std::int64_t sleepTicks = 0;
std::uint64_t sleepRequestedMs = 0;
std::uint64_t logCalls = 0;
std::int64_t logTicks = 0;
HANDLE logHandle = INVALID_HANDLE_VALUE;
// A log record begins with its path made absolute and its folders checked,
// before its file is opened.
bool logPathChecks = false;
// The error text FormatMessageW handed out for a log record.
HLOCAL logText = nullptr;

std::int64_t Ticks() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double TicksToMs(std::int64_t ticks) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

Stat& Registered(const char* name) {
    Stat& stat = stats[statsUsed++];
    stat.name = name;
    return stat;
}

// Times one call from construction to destruction.
class Timed {
public:
    explicit Timed(Stat& stat, bool isLog = false) : stat_(stat), isLog_(isLog) {
        ++depth;
        start_ = Ticks();
    }
    ~Timed() {
        DWORD error = ::GetLastError();
        std::int64_t elapsed = Ticks() - start_;
        --depth;
        ++stat_.count;
        stat_.ticks += elapsed;
        if (depth == 0) {
            platformTicks += elapsed;
        }
        if (isLog_) {
            ++logCalls;
            logTicks += elapsed;
        }
        ::SetLastError(error);
    }
    Timed(const Timed&) = delete;
    Timed& operator=(const Timed&) = delete;

private:
    Stat& stat_;
    bool isLog_;
    std::int64_t start_;
};

// The calling function's counter.
#define PROFILED(name) static Stat& stat = Registered(name)

}  // namespace

namespace bench {

std::uint64_t SeamProfile::CallCount() const {
    std::uint64_t total = 0;
    for (const CallStats& call : calls) {
        total += call.count;
    }
    return total;
}

const CallStats* SeamProfile::Find(const std::string& name) const {
    for (const CallStats& call : calls) {
        if (call.name == name) {
            return &call;
        }
    }
    return nullptr;
}

void ResetSeamProfile() {
    for (int i = 0; i < statsUsed; ++i) {
        stats[i].count = 0;
        stats[i].ticks = 0;
    }
    platformTicks = sleepTicks = logTicks = 0;
    sleepRequestedMs = logCalls = 0;
}

SeamProfile TakeSeamProfile() {
    SeamProfile profile;
    for (int i = 0; i < statsUsed; ++i) {
        if (stats[i].count > 0) {
            profile.calls.push_back({stats[i].name, stats[i].count, TicksToMs(stats[i].ticks)});
        }
    }
    profile.platformMs = TicksToMs(platformTicks);
    profile.sleepMs = TicksToMs(sleepTicks);
    profile.sleepRequestedMs = sleepRequestedMs;
    profile.logCalls = logCalls;
    profile.logMs = TicksToMs(logTicks);
    return profile;
}

double NowMs() { return TicksToMs(Ticks()); }

}  // namespace bench

namespace sys {

// ---- kernel32 ----

void WINAPI SetLastError(DWORD dwErrCode) {
    PROFILED("SetLastError");
    Timed timed(stat);
    inner::SetLastError(dwErrCode);
}

DWORD WINAPI GetLastError() {
    PROFILED("GetLastError");
    Timed timed(stat);
    return inner::GetLastError();
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    PROFILED("Sleep");
    sleepRequestedMs += dwMilliseconds;
    std::int64_t start = Ticks();
    {
        Timed timed(stat);
        inner::Sleep(dwMilliseconds);
    }
    sleepTicks += Ticks() - start;
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    PROFILED("GetLocalTime");
    Timed timed(stat, true);
    inner::GetLocalTime(lpSystemTime);
}

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, va_list* Arguments) {
    PROFILED("FormatMessageW");
    DWORD length;
    {
        Timed timed(stat, true);
        length =
            inner::FormatMessageW(dwFlags, lpSource, dwMessageId, dwLanguageId, lpBuffer, nSize, Arguments);
    }
    if (length != 0 && (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        logText = *reinterpret_cast<HLOCAL*>(lpBuffer);
    }
    return length;
}

// The log's when it frees an error text; the lock's security descriptor is
// freed here too.
HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    PROFILED("LocalFree");
    bool isLog = hMem != nullptr && hMem == logText;
    if (isLog) {
        logText = nullptr;
    }
    Timed timed(stat, isLog);
    return inner::LocalFree(hMem);
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
    PROFILED("MultiByteToWideChar");
    Timed timed(stat);
    return inner::MultiByteToWideChar(CodePage, dwFlags, lpMultiByteStr, cbMultiByte, lpWideCharStr,
                                      cchWideChar);
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    PROFILED("GetModuleFileNameW");
    Timed timed(stat);
    return inner::GetModuleFileNameW(hModule, lpFilename, nSize);
}

UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    PROFILED("GetSystemDirectoryW");
    Timed timed(stat);
    return inner::GetSystemDirectoryW(lpBuffer, uSize);
}

BOOL WINAPI CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
    PROFILED("CopyFileW");
    Timed timed(stat);
    return inner::CopyFileW(lpExistingFileName, lpNewFileName, bFailIfExists);
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
    PROFILED("DeleteFileW");
    Timed timed(stat);
    return inner::DeleteFileW(lpFileName);
}

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    PROFILED("CreateFileW");
    // The log is the one file opened for appending.
    bool isLog = (dwDesiredAccess & FILE_APPEND_DATA) != 0;
    logPathChecks = false;
    HANDLE file;
    {
        Timed timed(stat, isLog);
        file = inner::CreateFileW(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                                  dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
    }
    if (isLog) {
        logHandle = file;
    }
    return file;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    PROFILED("WriteFile");
    Timed timed(stat, hFile == logHandle);
    return inner::WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    PROFILED("SetFilePointer");
    Timed timed(stat, hFile == logHandle);
    return inner::SetFilePointer(hFile, lDistanceToMove, lpDistanceToMoveHigh, dwMoveMethod);
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    PROFILED("SetEndOfFile");
    Timed timed(stat, hFile == logHandle);
    return inner::SetEndOfFile(hFile);
}

// Only the log makes paths absolute.
DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart) {
    PROFILED("GetFullPathNameW");
    logPathChecks = true;
    Timed timed(stat, true);
    return inner::GetFullPathNameW(lpFileName, nBufferLength, lpBuffer, lpFilePart);
}

BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime) {
    PROFILED("GetFileTime");
    Timed timed(stat);
    return inner::GetFileTime(hFile, lpCreationTime, lpLastAccessTime, lpLastWriteTime);
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
    PROFILED("GetFileAttributesW");
    Timed timed(stat, logPathChecks);
    return inner::GetFileAttributesW(lpFileName);
}

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    PROFILED("GetFileInformationByHandle");
    Timed timed(stat, hFile == logHandle);
    return inner::GetFileInformationByHandle(hFile, lpFileInformation);
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    PROFILED("CloseHandle");
    bool isLog = hObject == logHandle;
    if (isLog) {
        logHandle = INVALID_HANDLE_VALUE;
    }
    Timed timed(stat, isLog);
    return inner::CloseHandle(hObject);
}

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
    PROFILED("GetStdHandle");
    Timed timed(stat);
    return inner::GetStdHandle(nStdHandle);
}

BOOL WINAPI SetDefaultDllDirectories(DWORD DirectoryFlags) {
    PROFILED("SetDefaultDllDirectories");
    Timed timed(stat);
    return inner::SetDefaultDllDirectories(DirectoryFlags);
}

BOOL WINAPI SetDllDirectoryW(LPCWSTR lpPathName) {
    PROFILED("SetDllDirectoryW");
    Timed timed(stat);
    return inner::SetDllDirectoryW(lpPathName);
}

HANDLE WINAPI GetCurrentProcess() {
    PROFILED("GetCurrentProcess");
    Timed timed(stat);
    return inner::GetCurrentProcess();
}

BOOL WINAPI IsWow64Process2(HANDLE hProcess, USHORT* pProcessMachine, USHORT* pNativeMachine) {
    PROFILED("IsWow64Process2");
    Timed timed(stat);
    return inner::IsWow64Process2(hProcess, pProcessMachine, pNativeMachine);
}

BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) {
    PROFILED("IsWow64Process");
    Timed timed(stat);
    return inner::IsWow64Process(hProcess, Wow64Process);
}

LPWSTR WINAPI GetCommandLineW() {
    PROFILED("GetCommandLineW");
    Timed timed(stat);
    return inner::GetCommandLineW();
}

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                           LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
    PROFILED("CreateProcessW");
    Timed timed(stat);
    return inner::CreateProcessW(lpApplicationName, lpCommandLine, lpProcessAttributes, lpThreadAttributes,
                                 bInheritHandles, dwCreationFlags, lpEnvironment, lpCurrentDirectory,
                                 lpStartupInfo, lpProcessInformation);
}

// ---- Synchronisation ----

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName) {
    PROFILED("CreateMutexW");
    Timed timed(stat);
    return inner::CreateMutexW(lpMutexAttributes, bInitialOwner, lpName);
}

HANDLE WINAPI OpenMutexW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
    PROFILED("OpenMutexW");
    Timed timed(stat);
    return inner::OpenMutexW(dwDesiredAccess, bInheritHandle, lpName);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    PROFILED("WaitForSingleObject");
    Timed timed(stat);
    return inner::WaitForSingleObject(hHandle, dwMilliseconds);
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    PROFILED("GetExitCodeProcess");
    Timed timed(stat);
    return inner::GetExitCodeProcess(hProcess, lpExitCode);
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
    PROFILED("ReleaseMutex");
    Timed timed(stat);
    return inner::ReleaseMutex(hMutex);
}

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR StringSecurityDescriptor,
                                                                 DWORD StringSDRevision,
                                                                 PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                                 PULONG SecurityDescriptorSize) {
    PROFILED("ConvertStringSecurityDescriptorToSecurityDescriptorW");
    Timed timed(stat);
    return inner::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        StringSecurityDescriptor, StringSDRevision, SecurityDescriptor, SecurityDescriptorSize);
}

// ---- advapi32 ----

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess) {
    PROFILED("OpenSCManagerW");
    Timed timed(stat);
    return inner::OpenSCManagerW(lpMachineName, lpDatabaseName, dwDesiredAccess);
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess) {
    PROFILED("OpenServiceW");
    Timed timed(stat);
    return inner::OpenServiceW(hSCManager, lpServiceName, dwDesiredAccess);
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    PROFILED("QueryServiceStatus");
    Timed timed(stat);
    return inner::QueryServiceStatus(hService, lpServiceStatus);
}

BOOL WINAPI StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCWSTR* lpServiceArgVectors) {
    PROFILED("StartServiceW");
    Timed timed(stat);
    return inner::StartServiceW(hService, dwNumServiceArgs, lpServiceArgVectors);
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
    PROFILED("ControlService");
    Timed timed(stat);
    return inner::ControlService(hService, dwControl, lpServiceStatus);
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    PROFILED("CloseServiceHandle");
    Timed timed(stat);
    return inner::CloseServiceHandle(hSCObject);
}

LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                            REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
    PROFILED("RegCreateKeyExW");
    Timed timed(stat);
    return inner::RegCreateKeyExW(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                  lpSecurityAttributes, phkResult, lpdwDisposition);
}

LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                           DWORD cbData) {
    PROFILED("RegSetValueExW");
    Timed timed(stat);
    return inner::RegSetValueExW(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    PROFILED("RegDeleteKeyW");
    Timed timed(stat);
    return inner::RegDeleteKeyW(hKey, lpSubKey);
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    PROFILED("RegCloseKey");
    Timed timed(stat);
    return inner::RegCloseKey(hKey);
}

// ---- winspool.drv ----

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault) {
    PROFILED("OpenPrinterW");
    Timed timed(stat);
    return inner::OpenPrinterW(pPrinterName, phPrinter, pDefault);
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
    PROFILED("ClosePrinter");
    Timed timed(stat);
    return inner::ClosePrinter(hPrinter);
}

BOOL WINAPI AddMonitorW(LPWSTR pName, DWORD Level, LPBYTE pMonitorInfo) {
    PROFILED("AddMonitorW");
    Timed timed(stat);
    return inner::AddMonitorW(pName, Level, pMonitorInfo);
}

BOOL WINAPI DeleteMonitorW(LPWSTR pName, LPWSTR pEnvironment, LPWSTR pMonitorName) {
    PROFILED("DeleteMonitorW");
    Timed timed(stat);
    return inner::DeleteMonitorW(pName, pEnvironment, pMonitorName);
}

BOOL WINAPI XcvDataW(HANDLE hXcv, PCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData, PBYTE pOutputData,
                     DWORD cbOutputData, PDWORD pcbOutputNeeded, PDWORD pdwStatus) {
    PROFILED("XcvDataW");
    Timed timed(stat);
    return inner::XcvDataW(hXcv, pszDataName, pInputData, cbInputData, pOutputData, cbOutputData,
                           pcbOutputNeeded, pdwStatus);
}

BOOL WINAPI EnumPortsW(LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                       LPDWORD pcReturned) {
    PROFILED("EnumPortsW");
    Timed timed(stat);
    return inner::EnumPortsW(pName, Level, pPorts, cbBuf, pcbNeeded, pcReturned);
}

BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level,
                                       LPBYTE pDriverDirectory, DWORD cbBuf, LPDWORD pcbNeeded) {
    PROFILED("GetPrinterDriverDirectoryW");
    Timed timed(stat);
    return inner::GetPrinterDriverDirectoryW(pName, pEnvironment, Level, pDriverDirectory, cbBuf, pcbNeeded);
}

BOOL WINAPI AddPrinterDriverW(LPWSTR pName, DWORD Level, LPBYTE pDriverInfo) {
    PROFILED("AddPrinterDriverW");
    Timed timed(stat);
    return inner::AddPrinterDriverW(pName, Level, pDriverInfo);
}

BOOL WINAPI DeletePrinterDriverExW(LPWSTR pName, LPWSTR pEnvironment, LPWSTR pDriverName, DWORD dwDeleteFlag,
                                   DWORD dwVersionFlag) {
    PROFILED("DeletePrinterDriverExW");
    Timed timed(stat);
    return inner::DeletePrinterDriverExW(pName, pEnvironment, pDriverName, dwDeleteFlag, dwVersionFlag);
}

HANDLE WINAPI AddPrinterW(LPWSTR pName, DWORD Level, LPBYTE pPrinter) {
    PROFILED("AddPrinterW");
    Timed timed(stat);
    return inner::AddPrinterW(pName, Level, pPrinter);
}

BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned) {
    PROFILED("EnumPrintersW");
    Timed timed(stat);
    return inner::EnumPrintersW(Flags, Name, Level, pPrinterEnum, cbBuf, pcbNeeded, pcReturned);
}

BOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command) {
    PROFILED("SetPrinterW");
    Timed timed(stat);
    return inner::SetPrinterW(hPrinter, Level, pPrinter, Command);
}

BOOL WINAPI DeletePrinter(HANDLE hPrinter) {
    PROFILED("DeletePrinter");
    Timed timed(stat);
    return inner::DeletePrinter(hPrinter);
}

// ---- setupapi.dll ----

HINF WINAPI SetupOpenInfFileW(PCWSTR FileName, PCWSTR InfClass, DWORD InfStyle, PUINT ErrorLine) {
    PROFILED("SetupOpenInfFileW");
    Timed timed(stat);
    return inner::SetupOpenInfFileW(FileName, InfClass, InfStyle, ErrorLine);
}

BOOL WINAPI SetupSetDirectoryIdW(HINF InfHandle, DWORD Id, PCWSTR Directory) {
    PROFILED("SetupSetDirectoryIdW");
    Timed timed(stat);
    return inner::SetupSetDirectoryIdW(InfHandle, Id, Directory);
}

HSPFILEQ WINAPI SetupOpenFileQueue() {
    PROFILED("SetupOpenFileQueue");
    Timed timed(stat);
    return inner::SetupOpenFileQueue();
}

PVOID WINAPI SetupInitDefaultQueueCallbackEx(HWND OwnerWindow, HWND AlternateProgressWindow,
                                             UINT ProgressMessage, DWORD Reserved1, PVOID Reserved2) {
    PROFILED("SetupInitDefaultQueueCallbackEx");
    Timed timed(stat);
    return inner::SetupInitDefaultQueueCallbackEx(OwnerWindow, AlternateProgressWindow, ProgressMessage,
                                                  Reserved1, Reserved2);
}

BOOL WINAPI SetupInstallFilesFromInfSectionW(HINF InfHandle, HINF LayoutInfHandle, HSPFILEQ FileQueue,
                                             PCWSTR SectionName, PCWSTR SourceRootPath, UINT CopyFlags) {
    PROFILED("SetupInstallFilesFromInfSectionW");
    Timed timed(stat);
    return inner::SetupInstallFilesFromInfSectionW(InfHandle, LayoutInfHandle, FileQueue, SectionName,
                                                   SourceRootPath, CopyFlags);
}

// Called back by the commit for each file operation (nested in its time).
UINT WINAPI SetupDefaultQueueCallbackW(PVOID Context, UINT Notification, UINT_PTR Param1, UINT_PTR Param2) {
    PROFILED("SetupDefaultQueueCallbackW");
    Timed timed(stat);
    return inner::SetupDefaultQueueCallbackW(Context, Notification, Param1, Param2);
}

BOOL WINAPI SetupCommitFileQueueW(HWND Owner, HSPFILEQ QueueHandle, PSP_FILE_CALLBACK_W MsgHandler,
                                  PVOID Context) {
    PROFILED("SetupCommitFileQueueW");
    Timed timed(stat);
    // The inner binding is handed its own default callback (the simulated
    // machine insists on it), so the callbacks count in the commit's time.
    return inner::SetupCommitFileQueueW(
        Owner, QueueHandle,
        MsgHandler == &sys::SetupDefaultQueueCallbackW ? &inner::SetupDefaultQueueCallbackW : MsgHandler,
        Context);
}

void WINAPI SetupTermDefaultQueueCallback(PVOID Context) {
    PROFILED("SetupTermDefaultQueueCallback");
    Timed timed(stat);
    inner::SetupTermDefaultQueueCallback(Context);
}

BOOL WINAPI SetupCloseFileQueue(HSPFILEQ QueueHandle) {
    PROFILED("SetupCloseFileQueue");
    Timed timed(stat);
    return inner::SetupCloseFileQueue(QueueHandle);
}

void WINAPI SetupCloseInfFile(HINF InfHandle) {
    PROFILED("SetupCloseInfFile");
    Timed timed(stat);
    inner::SetupCloseInfFile(InfHandle);
}

// ---- version.dll ----

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle) {
    PROFILED("GetFileVersionInfoSizeW");
    Timed timed(stat);
    return inner::GetFileVersionInfoSizeW(lptstrFilename, lpdwHandle);
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData) {
    PROFILED("GetFileVersionInfoW");
    Timed timed(stat);
    return inner::GetFileVersionInfoW(lptstrFilename, dwHandle, dwLen, lpData);
}

BOOL WINAPI VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
    PROFILED("VerQueryValueW");
    Timed timed(stat);
    return inner::VerQueryValueW(pBlock, lpSubBlock, lplpBuffer, puLen);
}

}  // namespace sys
