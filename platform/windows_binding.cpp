// The real system behind the seam. kernel32 and advapi32 are linked directly;
// winspool.drv, setupapi.dll and version.dll are system libraries loaded by
// full path on first use; binding leaves the caller's last-error value as it
// was. A function that cannot be bound fails like a failed call: the
// loader's last-error value stays set and the usual failure result is
// returned.
#include "platform/platform.h"
#include "platform/systemlibrary.h"

namespace {

// Constant-initialised: no start-up code, no guard.
SystemLibrary kernel32{L"kernel32.dll"};
SystemLibrary winspool{L"winspool.drv"};
SystemLibrary setupapi{L"setupapi.dll"};
SystemLibrary version{L"version.dll"};

template <typename Fn>
Fn* Bind(SystemLibrary& library, const char* procName) {
    return library.Bind<Fn>(procName);
}

}  // namespace

namespace sys {

// ---- kernel32 ----

void WINAPI SetLastError(DWORD dwErrCode) { ::SetLastError(dwErrCode); }
DWORD WINAPI GetLastError() { return ::GetLastError(); }
void WINAPI Sleep(DWORD dwMilliseconds) { ::Sleep(dwMilliseconds); }
void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) { ::GetLocalTime(lpSystemTime); }

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, va_list* Arguments) {
    return ::FormatMessageW(dwFlags, lpSource, dwMessageId, dwLanguageId, lpBuffer, nSize, Arguments);
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) { return ::LocalFree(hMem); }

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
    return ::MultiByteToWideChar(CodePage, dwFlags, lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar);
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    return ::GetModuleFileNameW(hModule, lpFilename, nSize);
}

UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    return ::GetSystemDirectoryW(lpBuffer, uSize);
}

BOOL WINAPI CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
    return ::CopyFileW(lpExistingFileName, lpNewFileName, bFailIfExists);
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) { return ::DeleteFileW(lpFileName); }

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    return ::CreateFileW(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                         dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    return ::WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    return ::SetFilePointer(hFile, lDistanceToMove, lpDistanceToMoveHigh, dwMoveMethod);
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) { return ::SetEndOfFile(hFile); }

DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart) {
    return ::GetFullPathNameW(lpFileName, nBufferLength, lpBuffer, lpFilePart);
}

BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime) {
    return ::GetFileTime(hFile, lpCreationTime, lpLastAccessTime, lpLastWriteTime);
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) { return ::GetFileAttributesW(lpFileName); }
BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    return ::GetFileInformationByHandle(hFile, lpFileInformation);
}

BOOL WINAPI CloseHandle(HANDLE hObject) { return ::CloseHandle(hObject); }
HANDLE WINAPI GetStdHandle(DWORD nStdHandle) { return ::GetStdHandle(nStdHandle); }

// Newer than Windows XP: looked up at run time.
BOOL WINAPI SetDefaultDllDirectories(DWORD DirectoryFlags) {
    auto fn = Bind<BOOL WINAPI(DWORD)>(kernel32, "SetDefaultDllDirectories");
    return fn ? fn(DirectoryFlags) : FALSE;
}

BOOL WINAPI SetDllDirectoryW(LPCWSTR lpPathName) {
    auto fn = Bind<BOOL WINAPI(LPCWSTR)>(kernel32, "SetDllDirectoryW");
    return fn ? fn(lpPathName) : FALSE;
}

HANDLE WINAPI GetCurrentProcess() { return ::GetCurrentProcess(); }

// Newer than the Windows XP generation (IsWow64Process: XP SP2): looked up at
// run time.
BOOL WINAPI IsWow64Process2(HANDLE hProcess, USHORT* pProcessMachine, USHORT* pNativeMachine) {
    auto fn = Bind<BOOL WINAPI(HANDLE, USHORT*, USHORT*)>(kernel32, "IsWow64Process2");
    return fn ? fn(hProcess, pProcessMachine, pNativeMachine) : FALSE;
}

BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) {
    auto fn = Bind<BOOL WINAPI(HANDLE, PBOOL)>(kernel32, "IsWow64Process");
    return fn ? fn(hProcess, Wow64Process) : FALSE;
}

LPWSTR WINAPI GetCommandLineW() { return ::GetCommandLineW(); }

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                           LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
    return ::CreateProcessW(lpApplicationName, lpCommandLine, lpProcessAttributes, lpThreadAttributes,
                            bInheritHandles, dwCreationFlags, lpEnvironment, lpCurrentDirectory,
                            lpStartupInfo, lpProcessInformation);
}

// ---- Synchronisation ----

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName) {
    return ::CreateMutexW(lpMutexAttributes, bInitialOwner, lpName);
}

HANDLE WINAPI OpenMutexW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
    return ::OpenMutexW(dwDesiredAccess, bInheritHandle, lpName);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return ::WaitForSingleObject(hHandle, dwMilliseconds);
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    return ::GetExitCodeProcess(hProcess, lpExitCode);
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) { return ::ReleaseMutex(hMutex); }

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR StringSecurityDescriptor,
                                                                 DWORD StringSDRevision,
                                                                 PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                                 PULONG SecurityDescriptorSize) {
    return ::ConvertStringSecurityDescriptorToSecurityDescriptorW(StringSecurityDescriptor, StringSDRevision,
                                                                  SecurityDescriptor, SecurityDescriptorSize);
}

// ---- advapi32 ----

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess) {
    return ::OpenSCManagerW(lpMachineName, lpDatabaseName, dwDesiredAccess);
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess) {
    return ::OpenServiceW(hSCManager, lpServiceName, dwDesiredAccess);
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    return ::QueryServiceStatus(hService, lpServiceStatus);
}

BOOL WINAPI StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCWSTR* lpServiceArgVectors) {
    return ::StartServiceW(hService, dwNumServiceArgs, lpServiceArgVectors);
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
    return ::ControlService(hService, dwControl, lpServiceStatus);
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) { return ::CloseServiceHandle(hSCObject); }

LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                            REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
    return ::RegCreateKeyExW(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
                             phkResult, lpdwDisposition);
}

LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                           DWORD cbData) {
    return ::RegSetValueExW(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) { return ::RegDeleteKeyW(hKey, lpSubKey); }
LONG WINAPI RegCloseKey(HKEY hKey) { return ::RegCloseKey(hKey); }

// ---- winspool.drv ----

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault) {
    auto fn = Bind<decltype(::OpenPrinterW)>(winspool, "OpenPrinterW");
    return fn ? fn(pPrinterName, phPrinter, pDefault) : FALSE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
    auto fn = Bind<decltype(::ClosePrinter)>(winspool, "ClosePrinter");
    return fn ? fn(hPrinter) : FALSE;
}

BOOL WINAPI AddMonitorW(LPWSTR pName, DWORD Level, LPBYTE pMonitorInfo) {
    auto fn = Bind<decltype(::AddMonitorW)>(winspool, "AddMonitorW");
    return fn ? fn(pName, Level, pMonitorInfo) : FALSE;
}

BOOL WINAPI DeleteMonitorW(LPWSTR pName, LPWSTR pEnvironment, LPWSTR pMonitorName) {
    auto fn = Bind<decltype(::DeleteMonitorW)>(winspool, "DeleteMonitorW");
    return fn ? fn(pName, pEnvironment, pMonitorName) : FALSE;
}

BOOL WINAPI XcvDataW(HANDLE hXcv, PCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData, PBYTE pOutputData,
                     DWORD cbOutputData, PDWORD pcbOutputNeeded, PDWORD pdwStatus) {
    auto fn = Bind<decltype(::XcvDataW)>(winspool, "XcvDataW");
    return fn ? fn(hXcv, pszDataName, pInputData, cbInputData, pOutputData, cbOutputData, pcbOutputNeeded,
                   pdwStatus)
              : FALSE;
}

BOOL WINAPI EnumPortsW(LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                       LPDWORD pcReturned) {
    auto fn = Bind<decltype(::EnumPortsW)>(winspool, "EnumPortsW");
    return fn ? fn(pName, Level, pPorts, cbBuf, pcbNeeded, pcReturned) : FALSE;
}

BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level,
                                       LPBYTE pDriverDirectory, DWORD cbBuf, LPDWORD pcbNeeded) {
    auto fn = Bind<decltype(::GetPrinterDriverDirectoryW)>(winspool, "GetPrinterDriverDirectoryW");
    return fn ? fn(pName, pEnvironment, Level, pDriverDirectory, cbBuf, pcbNeeded) : FALSE;
}

BOOL WINAPI AddPrinterDriverW(LPWSTR pName, DWORD Level, LPBYTE pDriverInfo) {
    auto fn = Bind<decltype(::AddPrinterDriverW)>(winspool, "AddPrinterDriverW");
    return fn ? fn(pName, Level, pDriverInfo) : FALSE;
}

BOOL WINAPI DeletePrinterDriverExW(LPWSTR pName, LPWSTR pEnvironment, LPWSTR pDriverName, DWORD dwDeleteFlag,
                                   DWORD dwVersionFlag) {
    auto fn = Bind<decltype(::DeletePrinterDriverExW)>(winspool, "DeletePrinterDriverExW");
    return fn ? fn(pName, pEnvironment, pDriverName, dwDeleteFlag, dwVersionFlag) : FALSE;
}

HANDLE WINAPI AddPrinterW(LPWSTR pName, DWORD Level, LPBYTE pPrinter) {
    auto fn = Bind<decltype(::AddPrinterW)>(winspool, "AddPrinterW");
    return fn ? fn(pName, Level, pPrinter) : nullptr;
}

BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned) {
    auto fn = Bind<decltype(::EnumPrintersW)>(winspool, "EnumPrintersW");
    return fn ? fn(Flags, Name, Level, pPrinterEnum, cbBuf, pcbNeeded, pcReturned) : FALSE;
}

BOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command) {
    auto fn = Bind<decltype(::SetPrinterW)>(winspool, "SetPrinterW");
    return fn ? fn(hPrinter, Level, pPrinter, Command) : FALSE;
}

BOOL WINAPI DeletePrinter(HANDLE hPrinter) {
    auto fn = Bind<decltype(::DeletePrinter)>(winspool, "DeletePrinter");
    return fn ? fn(hPrinter) : FALSE;
}

// ---- setupapi.dll ----

HINF WINAPI SetupOpenInfFileW(PCWSTR FileName, PCWSTR InfClass, DWORD InfStyle, PUINT ErrorLine) {
    auto fn = Bind<decltype(::SetupOpenInfFileW)>(setupapi, "SetupOpenInfFileW");
    return fn ? fn(FileName, InfClass, InfStyle, ErrorLine) : INVALID_HANDLE_VALUE;
}

BOOL WINAPI SetupSetDirectoryIdW(HINF InfHandle, DWORD Id, PCWSTR Directory) {
    auto fn = Bind<decltype(::SetupSetDirectoryIdW)>(setupapi, "SetupSetDirectoryIdW");
    return fn ? fn(InfHandle, Id, Directory) : FALSE;
}

HSPFILEQ WINAPI SetupOpenFileQueue() {
    auto fn = Bind<decltype(::SetupOpenFileQueue)>(setupapi, "SetupOpenFileQueue");
    return fn ? fn() : INVALID_HANDLE_VALUE;
}

PVOID WINAPI SetupInitDefaultQueueCallbackEx(HWND OwnerWindow, HWND AlternateProgressWindow,
                                             UINT ProgressMessage, DWORD Reserved1, PVOID Reserved2) {
    auto fn = Bind<decltype(::SetupInitDefaultQueueCallbackEx)>(setupapi, "SetupInitDefaultQueueCallbackEx");
    return fn ? fn(OwnerWindow, AlternateProgressWindow, ProgressMessage, Reserved1, Reserved2) : nullptr;
}

BOOL WINAPI SetupInstallFilesFromInfSectionW(HINF InfHandle, HINF LayoutInfHandle, HSPFILEQ FileQueue,
                                             PCWSTR SectionName, PCWSTR SourceRootPath, UINT CopyFlags) {
    auto fn =
        Bind<decltype(::SetupInstallFilesFromInfSectionW)>(setupapi, "SetupInstallFilesFromInfSectionW");
    return fn ? fn(InfHandle, LayoutInfHandle, FileQueue, SectionName, SourceRootPath, CopyFlags) : FALSE;
}

UINT WINAPI SetupDefaultQueueCallbackW(PVOID Context, UINT Notification, UINT_PTR Param1, UINT_PTR Param2) {
    auto fn = Bind<decltype(::SetupDefaultQueueCallbackW)>(setupapi, "SetupDefaultQueueCallbackW");
    return fn ? fn(Context, Notification, Param1, Param2) : FILEOP_ABORT;
}

BOOL WINAPI SetupCommitFileQueueW(HWND Owner, HSPFILEQ QueueHandle, PSP_FILE_CALLBACK_W MsgHandler,
                                  PVOID Context) {
    auto fn = Bind<decltype(::SetupCommitFileQueueW)>(setupapi, "SetupCommitFileQueueW");
    return fn ? fn(Owner, QueueHandle, MsgHandler, Context) : FALSE;
}

void WINAPI SetupTermDefaultQueueCallback(PVOID Context) {
    if (auto fn =
            Bind<decltype(::SetupTermDefaultQueueCallback)>(setupapi, "SetupTermDefaultQueueCallback")) {
        fn(Context);
    }
}

BOOL WINAPI SetupCloseFileQueue(HSPFILEQ QueueHandle) {
    auto fn = Bind<decltype(::SetupCloseFileQueue)>(setupapi, "SetupCloseFileQueue");
    return fn ? fn(QueueHandle) : FALSE;
}

void WINAPI SetupCloseInfFile(HINF InfHandle) {
    if (auto fn = Bind<decltype(::SetupCloseInfFile)>(setupapi, "SetupCloseInfFile")) {
        fn(InfHandle);
    }
}

// ---- version.dll ----

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle) {
    auto fn = Bind<decltype(::GetFileVersionInfoSizeW)>(version, "GetFileVersionInfoSizeW");
    return fn ? fn(lptstrFilename, lpdwHandle) : 0;
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData) {
    auto fn = Bind<decltype(::GetFileVersionInfoW)>(version, "GetFileVersionInfoW");
    return fn ? fn(lptstrFilename, dwHandle, dwLen, lpData) : FALSE;
}

BOOL WINAPI VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
    auto fn = Bind<decltype(::VerQueryValueW)>(version, "VerQueryValueW");
    return fn ? fn(pBlock, lpSubBlock, lplpBuffer, puLen) : FALSE;
}

}  // namespace sys
