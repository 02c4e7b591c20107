// The platform seam: every call the installer makes into Windows, with Windows'
// own names, signatures and contract (a BOOL or handle result plus the
// thread's last-error value). The installer calls them as sys::Name(...).
//
// Two bindings are chosen at link time:
//   platform/windows_binding.cpp  the real system (setup.exe);
//   tests/sim/                    the simulated machine (unit tests).
//
// Next to each call: which failures the installer handles and how.
#pragma once

#include <windows.h>

#include <sddl.h>
#include <setupapi.h>
#include <winspool.h>
#include <winver.h>

namespace sys {

// ---- Thread state, time, memory (kernel32) --------------------------------

void WINAPI SetLastError(DWORD dwErrCode);
DWORD WINAPI GetLastError();
// Every wait of the installer goes through here (spooler start and stop,
// removal attempts, retries of a log file held by another process).
void WINAPI Sleep(DWORD dwMilliseconds);
// The log's time stamp.
void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);
// Message texts for error records. No text (e.g. SetupAPI's own codes):
// zero result, the record is written without the text.
DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, va_list* Arguments);
HLOCAL WINAPI LocalFree(HLOCAL hMem);
// The "/log" argument, from the ANSI code page. A zero count leaves the
// default log path in place.
int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar);

// ---- Files and directories (kernel32) -------------------------------------

// The source directory: the executable's own path.
DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
// Where the port monitor files are copied.
UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize);
// Monitor, driver and profile copies; failures are reported per file.
BOOL WINAPI CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists);
// Clean-up of the staged system driver files; failures are reported per file.
BOOL WINAPI DeleteFileW(LPCWSTR lpFileName);
// The log file (ERROR_SHARING_VIOLATION is retried briefly, anything else
// costs the record) and the driver's version probe.
HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// Log records and the result line; a failed write is not reported. A log
// record written short (a full disk) is cut back to its start.
BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
// The log record's start (the end of the file) and the cut back to it after a
// short write; a failure costs the record.
DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod);
BOOL WINAPI SetEndOfFile(HANDLE hFile);
// The log path made absolute, so that every folder on the way can be checked;
// a failure costs the record.
DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart);
// The driver date.
BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime);
// Existence of each driver file: any attributes at all count as present.
// The folders on the log's way: a reparse point, or attributes that cannot be
// read, give the record up.
DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName);
// The log is never written through a link: more than one hard link or a
// reparse point (symbolic link, junction) gives the record up.
BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation);
BOOL WINAPI CloseHandle(HANDLE hObject);
// The result line; no standard output (the usual case for a GUI program
// started without redirection) means the line goes nowhere. The 64-bit
// setup inherits all three standard handles.
HANDLE WINAPI GetStdHandle(DWORD nStdHandle);

// DLLs the system loads on the installer's behalf come from the system
// directory only: SetDefaultDllDirectories where Windows has it (Windows 8,
// or 7 with its update), else SetDllDirectoryW(L"") (Windows XP SP1 on),
// which takes the current directory out of the search. Both are looked up at
// run time; absent, they fail with ERROR_PROC_NOT_FOUND.
BOOL WINAPI SetDefaultDllDirectories(DWORD DirectoryFlags);
BOOL WINAPI SetDllDirectoryW(LPCWSTR lpPathName);

// ---- Processes (kernel32) -------------------------------------------------

// Only the 32-bit setup.exe asks these, at its start, to hand a run on
// 64-bit Windows over to the 64-bit setup.exe beside it.
HANDLE WINAPI GetCurrentProcess();
// Where a 32-bit process runs. IsWow64Process2 (Windows 10 1511 on) also
// names the machine; IsWow64Process (Windows XP SP2 on) only tells WOW64.
// Both are looked up at run time; absent, they fail with
// ERROR_PROC_NOT_FOUND, which means: ask the older one, or no WOW64 at all.
// Any other failure ends the run with a record.
BOOL WINAPI IsWow64Process2(HANDLE hProcess, USHORT* pProcessMachine, USHORT* pNativeMachine);
BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process);
// The arguments for the 64-bit setup, as they were given.
LPWSTR WINAPI GetCommandLineW();
// The 64-bit setup: a failure to start it, to wait for it or to read its
// exit code ends the run with a record, never with the 32-bit path.
BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                           LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation);
BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);

// ---- Synchronisation (kernel32/advapi32) ----------------------------------

// One run at a time: the machine-wide named mutex around the whole run.
// ERROR_ACCESS_DENIED (the mutex exists and its security lets this caller
// only wait on it and release it) leads to OpenMutexW; any other failure
// ends the run before it changes anything.
HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName);
HANDLE WINAPI OpenMutexW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
// The lock: WAIT_TIMEOUT after the bound ends the run; WAIT_ABANDONED (the
// run that held the lock was ended) counts as taken. The 64-bit setup: see
// CreateProcessW.
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL WINAPI ReleaseMutex(HANDLE hMutex);
// The mutex's security descriptor, from its text form; freed with LocalFree.
BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR StringSecurityDescriptor,
                                                                 DWORD StringSDRevision,
                                                                 PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                                 PULONG SecurityDescriptorSize);

// ---- Service control manager (advapi32) -----------------------------------

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess);
SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess);
BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus);
// ERROR_SERVICE_ALREADY_RUNNING counts as started.
BOOL WINAPI StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCWSTR* lpServiceArgVectors);
// ERROR_SERVICE_NOT_ACTIVE counts as stopped.
BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus);
BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject);

// ---- Registry (advapi32) ----------------------------------------------------
// These answer their code instead of setting the last-error value.

// The monitor's event source, a key of the event log's Application log with
// its message file and types. A failure is logged and the installation goes
// on: the monitor's entries then lack their texts.
LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                            REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition);
LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                           DWORD cbData);
// The event source once the monitor is gone; ERROR_FILE_NOT_FOUND counts as
// removed, another failure is logged.
LONG WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
LONG WINAPI RegCloseKey(HKEY hKey);

// ---- Print spooler (winspool.drv) -----------------------------------------

// A printer by name (already installed?), the local print server (null
// name), a monitor's transceive channel (",XcvMonitor <name>").
BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault);
BOOL WINAPI ClosePrinter(HANDLE hPrinter);
// ERROR_PRINT_MONITOR_ALREADY_INSTALLED is success; ERROR_MOD_NOT_FOUND has
// its own message.
BOOL WINAPI AddMonitorW(LPWSTR pName, DWORD Level, LPBYTE pMonitorInfo);
// ERROR_UNKNOWN_PRINT_MONITOR counts as deleted.
BOOL WINAPI DeleteMonitorW(LPWSTR pName, LPWSTR pEnvironment, LPWSTR pMonitorName);
// "AddPort": TRUE only says the monitor was reached; the monitor's status
// decides (ERROR_ALREADY_EXISTS counts as added). A failed call reports its
// last-error value, a refusing monitor its status.
BOOL WINAPI XcvDataW(HANDLE hXcv, PCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData, PBYTE pOutputData,
                     DWORD cbOutputData, PDWORD pcbOutputNeeded, PDWORD pdwStatus);
// Level 2: which monitor owns a port. A size probe answers
// ERROR_INSUFFICIENT_BUFFER with the byte count; any other failure is logged
// and the port is added unchecked.
BOOL WINAPI EnumPortsW(LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                       LPDWORD pcReturned);
BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level,
                                       LPBYTE pDriverDirectory, DWORD cbBuf, LPDWORD pcbNeeded);
BOOL WINAPI AddPrinterDriverW(LPWSTR pName, DWORD Level, LPBYTE pDriverInfo);
// ERROR_UNKNOWN_PRINTER_DRIVER counts as deleted.
BOOL WINAPI DeletePrinterDriverExW(LPWSTR pName, LPWSTR pEnvironment, LPWSTR pDriverName, DWORD dwDeleteFlag,
                                   DWORD dwVersionFlag);
// ERROR_CAN_NOT_COMPLETE points at the GPD files.
HANDLE WINAPI AddPrinterW(LPWSTR pName, DWORD Level, LPBYTE pPrinter);
// A size probe answers ERROR_INSUFFICIENT_BUFFER with the byte count.
BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned);
// Level 0 with PRINTER_CONTROL_PURGE; a failure is reported, the printer is
// still deleted.
BOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command);
BOOL WINAPI DeletePrinter(HANDLE hPrinter);

// ---- SetupAPI (setupapi.dll) ----------------------------------------------

// Staging of Windows' own Unidrv and XPS files from the printer INF files.
HINF WINAPI SetupOpenInfFileW(PCWSTR FileName, PCWSTR InfClass, DWORD InfStyle, PUINT ErrorLine);
BOOL WINAPI SetupSetDirectoryIdW(HINF InfHandle, DWORD Id, PCWSTR Directory);
HSPFILEQ WINAPI SetupOpenFileQueue();
PVOID WINAPI SetupInitDefaultQueueCallbackEx(HWND OwnerWindow, HWND AlternateProgressWindow,
                                             UINT ProgressMessage, DWORD Reserved1, PVOID Reserved2);
BOOL WINAPI SetupInstallFilesFromInfSectionW(HINF InfHandle, HINF LayoutInfHandle, HSPFILEQ FileQueue,
                                             PCWSTR SectionName, PCWSTR SourceRootPath, UINT CopyFlags);
// The message handler passed to SetupCommitFileQueueW.
UINT WINAPI SetupDefaultQueueCallbackW(PVOID Context, UINT Notification, UINT_PTR Param1, UINT_PTR Param2);
BOOL WINAPI SetupCommitFileQueueW(HWND Owner, HSPFILEQ QueueHandle, PSP_FILE_CALLBACK_W MsgHandler,
                                  PVOID Context);
void WINAPI SetupTermDefaultQueueCallback(PVOID Context);
BOOL WINAPI SetupCloseFileQueue(HSPFILEQ QueueHandle);
void WINAPI SetupCloseInfFile(HINF InfHandle);

// ---- Version resources (version.dll) --------------------------------------

// The driver version: the product version of the driver's UI DLL.
DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle);
BOOL WINAPI GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData);
BOOL WINAPI VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen);

}  // namespace sys
