// The simulated machine's kernel32.
#include "tests/sim/sim_binding.h"

using namespace sim;

namespace {

// The standard handles are handles of their own, not files.
HANDLE const kStandardInput = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x5C0));
HANDLE const kStandardOutput = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x5D0));
HANDLE const kStandardError = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x5E0));

bool Runs(USHORT program, USHORT native) {
    return program == IMAGE_FILE_MACHINE_I386 || program == native ||
           (program == IMAGE_FILE_MACHINE_AMD64 && native == IMAGE_FILE_MACHINE_ARM64);
}

// Whether a file handle holds one of `rights`, generic rights
// mapped as the file system maps them. Wine does not check every right that
// Windows does; the machine does.
bool Granted(HANDLE file, DWORD rights) {
    DWORD access = M().openFileAccess[file];
    if ((access & GENERIC_ALL) != 0) {
        return true;
    }
    access |= (access & GENERIC_READ) != 0 ? FILE_GENERIC_READ : 0;
    access |= (access & GENERIC_WRITE) != 0 ? FILE_GENERIC_WRITE : 0;
    return (access & rights) != 0;
}

// A call on a file handle the machine did not hand out fails the test.
bool NotOpen(const char* call, HANDLE file) {
    if (M().openFiles.count(file) != 0) {
        return false;
    }
    ADD_FAILURE() << call << " on a handle that is not open";
    ::SetLastError(ERROR_INVALID_HANDLE);
    return true;
}

}  // namespace

namespace sys {

void WINAPI SetLastError(DWORD dwErrCode) {
    M().Record("SetLastError", {SimNumber(dwErrCode)});
    ::SetLastError(dwErrCode);
}

DWORD WINAPI GetLastError() { return ::GetLastError(); }

void WINAPI Sleep(DWORD dwMilliseconds) {
    M().Record("Sleep", {SimNumber(dwMilliseconds)});
    M().elapsedMs += dwMilliseconds;
    if (M().onSleep) {
        M().onSleep(dwMilliseconds);
    }
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    M().Record("GetLocalTime", {});
    *lpSystemTime = M().Now();
}

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, va_list* Arguments) {
    if (Enter("FormatMessageW", {SimHex(dwFlags), SimNumber(dwMessageId), SimHex(dwLanguageId)})) {
        return 0;
    }
    if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) == 0 ||
        lpSource != nullptr || nSize != 0 || Arguments != nullptr) {
        return Unmodeled("FormatMessageW (other than from the system, allocating)", DWORD{0});
    }
    auto text = M().messageTexts.find(dwMessageId);
    if (text == M().messageTexts.end()) {
        ::SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    size_t bytes = (text->second.size() + 1) * sizeof(wchar_t);
    HLOCAL memory = ::LocalAlloc(LMEM_FIXED, bytes);
    memcpy(memory, text->second.c_str(), bytes);
    M().openLocalMemory.insert(memory);
    *reinterpret_cast<LPWSTR*>(lpBuffer) = static_cast<LPWSTR>(memory);
    return static_cast<DWORD>(text->second.size());
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    M().Record("LocalFree", {});
    if (hMem == nullptr) {
        return nullptr;
    }
    if (M().openLocalMemory.erase(hMem) == 0) {
        ADD_FAILURE() << "LocalFree of memory the machine did not hand out";
        ::SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    return ::LocalFree(hMem);
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
    if (Enter("MultiByteToWideChar",
              {SimNumber(CodePage), SimHex(dwFlags), SimNumber(cbMultiByte), SimNumber(cchWideChar)})) {
        return 0;
    }
    return ::MultiByteToWideChar(CodePage, dwFlags, lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar);
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    if (Enter("GetModuleFileNameW", {SimNumber(nSize)})) {
        return 0;
    }
    if (hModule != nullptr) {
        return Unmodeled("GetModuleFileNameW of a module other than the executable", DWORD{0});
    }
    const std::wstring& path = M().modulePath;
    if (nSize == 0) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // As on Windows XP and later: a path that does not fit is cut to the
    // buffer, terminated, and answered with the buffer's size.
    DWORD copied = static_cast<DWORD>(std::min<size_t>(path.size(), nSize - 1));
    path.copy(lpFilename, copied);
    lpFilename[copied] = L'\0';
    if (path.size() >= nSize) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    return copied;
}

UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    if (Enter("GetSystemDirectoryW", {SimNumber(uSize)})) {
        return 0;
    }
    const std::wstring& path = M().systemDirectory;
    if (path.size() + 1 > uSize) {
        return static_cast<UINT>(path.size() + 1);
    }
    path.copy(lpBuffer, path.size());
    lpBuffer[path.size()] = L'\0';
    return static_cast<UINT>(path.size());
}

BOOL WINAPI CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
    if (Enter("CopyFileW", {SimText(lpExistingFileName), SimText(lpNewFileName), SimNumber(bFailIfExists)})) {
        return FALSE;
    }
    if (OutsideRoot("CopyFileW", lpExistingFileName) || OutsideRoot("CopyFileW", lpNewFileName)) {
        return FALSE;
    }
    return ::CopyFileW(lpExistingFileName, lpNewFileName, bFailIfExists);
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
    if (Enter("DeleteFileW", {SimText(lpFileName)}) || OutsideRoot("DeleteFileW", lpFileName)) {
        return FALSE;
    }
    return ::DeleteFileW(lpFileName);
}

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    if (Enter("CreateFileW", {SimText(lpFileName), SimHex(dwDesiredAccess), SimHex(dwShareMode),
                              SimNumber(dwCreationDisposition), SimHex(dwFlagsAndAttributes)}) ||
        OutsideRoot("CreateFileW", lpFileName)) {
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = ::CreateFileW(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                                dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
    if (file != INVALID_HANDLE_VALUE) {
        M().openFiles[file] = lpFileName;
        M().openFileAccess[file] = dwDesiredAccess;
    }
    return file;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    if (Enter("WriteFile", {SimNumber(nNumberOfBytesToWrite)})) {
        return FALSE;
    }
    if (hFile == kStandardOutput) {
        M().standardOutput.append(static_cast<const char*>(lpBuffer), nNumberOfBytesToWrite);
        *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
        return TRUE;
    }
    if (NotOpen("WriteFile", hFile)) {
        return FALSE;
    }
    if (!Granted(hFile, FILE_WRITE_DATA | FILE_APPEND_DATA)) {
        return Fails(ERROR_ACCESS_DENIED, FALSE);
    }
    DWORD fits = static_cast<DWORD>(std::min<std::uint64_t>(nNumberOfBytesToWrite, M().diskFreeBytes));
    if (!::WriteFile(hFile, lpBuffer, fits, lpNumberOfBytesWritten, lpOverlapped)) {
        return FALSE;
    }
    if (M().diskFreeBytes != UINT64_MAX) {
        M().diskFreeBytes -= *lpNumberOfBytesWritten;
    }
    return fits == nNumberOfBytesToWrite ? TRUE : Fails(ERROR_DISK_FULL, FALSE);
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    if (Enter("SetFilePointer", {SimNumber(lDistanceToMove),
                                 lpDistanceToMoveHigh ? SimNumber(*lpDistanceToMoveHigh) : L"(null)",
                                 SimNumber(dwMoveMethod)})) {
        return INVALID_SET_FILE_POINTER;
    }
    if (NotOpen("SetFilePointer", hFile)) {
        return INVALID_SET_FILE_POINTER;
    }
    return ::SetFilePointer(hFile, lDistanceToMove, lpDistanceToMoveHigh, dwMoveMethod);
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    if (Enter("SetEndOfFile", {})) {
        return FALSE;
    }
    if (NotOpen("SetEndOfFile", hFile)) {
        return FALSE;
    }
    if (!Granted(hFile, FILE_WRITE_DATA)) {
        return Fails(ERROR_ACCESS_DENIED, FALSE);
    }
    return ::SetEndOfFile(hFile);
}

DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart) {
    if (Enter("GetFullPathNameW", {SimText(lpFileName), SimNumber(nBufferLength)})) {
        return 0;
    }
    wchar_t full[4 * MAX_PATH];
    DWORD length = ::GetFullPathNameW(lpFileName, 4 * MAX_PATH, full, nullptr);
    if (length == 0 || length >= 4 * MAX_PATH) {
        return length;
    }
    // The machine's drive C: is its root: a path elsewhere on C: (the default
    // log path C:/testxyzzy/...) is taken as one inside the root.
    std::wstring path(full, length);
    if (!M().Holds(path) && _wcsnicmp(path.c_str(), L"C:\\", 3) == 0) {
        path = M().root + path.substr(2);
    }
    if (nBufferLength <= path.size()) {
        return static_cast<DWORD>(path.size() + 1);
    }
    path.copy(lpBuffer, path.size());
    lpBuffer[path.size()] = L'\0';
    if (lpFilePart != nullptr) {
        *lpFilePart = lpBuffer + path.find_last_of(L'\\') + 1;
    }
    return static_cast<DWORD>(path.size());
}

BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime) {
    if (Enter("GetFileTime",
              {lpCreationTime ? L"creation" : L"(null)", lpLastAccessTime ? L"access" : L"(null)",
               lpLastWriteTime ? L"write" : L"(null)"})) {
        return FALSE;
    }
    if (NotOpen("GetFileTime", hFile)) {
        return FALSE;
    }
    return ::GetFileTime(hFile, lpCreationTime, lpLastAccessTime, lpLastWriteTime);
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
    if (Enter("GetFileAttributesW", {SimText(lpFileName)})) {
        return INVALID_FILE_ATTRIBUTES;
    }
    // The folders that lead to the machine's root stand for its drive's root.
    std::wstring inRoot = lpFileName != nullptr ? std::wstring(lpFileName) + L"\\" : std::wstring();
    std::wstring root = M().root + L"\\";
    if (inRoot.size() > 1 && inRoot.size() <= root.size() &&
        _wcsnicmp(root.c_str(), inRoot.c_str(), inRoot.size()) == 0) {
        return FILE_ATTRIBUTE_DIRECTORY;
    }
    if (OutsideRoot("GetFileAttributesW", lpFileName)) {
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = ::GetFileAttributesW(lpFileName);
    if (attributes != INVALID_FILE_ATTRIBUTES && M().reparsePoints.count(lpFileName) != 0) {
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return attributes;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    if (Enter("GetFileInformationByHandle", {})) {
        return FALSE;
    }
    if (NotOpen("GetFileInformationByHandle", hFile)) {
        return FALSE;
    }
    if (!Granted(hFile, FILE_READ_ATTRIBUTES)) {
        return Fails(ERROR_ACCESS_DENIED, FALSE);
    }
    if (!::GetFileInformationByHandle(hFile, lpFileInformation)) {
        return FALSE;
    }
    // Wine follows symbolic links silently; the machine can show one.
    if (M().reparsePoints.count(M().openFiles.at(hFile)) != 0) {
        lpFileInformation->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return TRUE;
}

BOOL WINAPI SetDefaultDllDirectories(DWORD DirectoryFlags) {
    if (Enter("SetDefaultDllDirectories", {SimHex(DirectoryFlags)})) {
        return FALSE;
    }
    return M().hasDefaultDllDirectories ? TRUE : Fails(ERROR_PROC_NOT_FOUND, FALSE);
}

BOOL WINAPI SetDllDirectoryW(LPCWSTR lpPathName) {
    return Enter("SetDllDirectoryW", {SimText(lpPathName)}) ? FALSE : TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    M().Record("CloseHandle", {});
    M().openFileAccess.erase(hObject);
    if (M().openProcesses.erase(hObject) == 1) {
        return TRUE;
    }
    // Closing a handle leaves the mutex's ownership as it is (Windows
    // abandons it only when the owning thread ends); the last handle on the
    // machine takes the mutex with it.
    auto mutex = M().openMutexes.find(hObject);
    if (mutex != M().openMutexes.end()) {
        std::wstring name = mutex->second.name;
        M().openMutexes.erase(mutex);
        bool stillOpen = M().mutexes[name].heldByOtherRun;
        for (const auto& open : M().openMutexes) {
            stillOpen = stillOpen || _wcsicmp(open.second.name.c_str(), name.c_str()) == 0;
        }
        if (!stillOpen) {
            M().mutexes.erase(name);
        }
        return TRUE;
    }
    if (M().openFiles.erase(hObject) == 0) {
        ADD_FAILURE() << "CloseHandle of a handle that is not open";
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return ::CloseHandle(hObject);
}

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName) {
    if (Enter("CreateMutexW", {lpMutexAttributes ? L"security" : L"(default security)",
                               SimNumber(bInitialOwner), SimText(lpName)})) {
        return nullptr;
    }
    if (lpName == nullptr || bInitialOwner) {
        return Unmodeled("CreateMutexW other than named and not owned", HANDLE{nullptr});
    }
    auto existing = M().mutexes.find(lpName);
    if (existing != M().mutexes.end() && existing->second.onlyWaitAllowed) {
        return Fails(ERROR_ACCESS_DENIED, HANDLE{nullptr});
    }
    SimulatedMachine::Mutex& mutex = M().mutexes[lpName];
    if (existing == M().mutexes.end() && lpMutexAttributes != nullptr) {
        auto descriptor = static_cast<const BYTE*>(lpMutexAttributes->lpSecurityDescriptor);
        mutex.security.assign(
            descriptor, descriptor + ::GetSecurityDescriptorLength(lpMutexAttributes->lpSecurityDescriptor));
    }
    HANDLE handle = M().NewHandle();
    M().openMutexes[handle] = {lpName, MUTEX_ALL_ACCESS};
    // As Windows: success, and the last-error value tells whether it existed.
    ::SetLastError(existing != M().mutexes.end() ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

HANDLE WINAPI OpenMutexW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
    if (Enter("OpenMutexW", {SimHex(dwDesiredAccess), SimNumber(bInheritHandle), SimText(lpName)})) {
        return nullptr;
    }
    if (lpName == nullptr || M().mutexes.count(lpName) == 0) {
        return Fails(ERROR_FILE_NOT_FOUND, HANDLE{nullptr});
    }
    if (M().mutexes[lpName].onlyWaitAllowed && (dwDesiredAccess & ~(SYNCHRONIZE | MUTEX_MODIFY_STATE)) != 0) {
        return Fails(ERROR_ACCESS_DENIED, HANDLE{nullptr});
    }
    HANDLE handle = M().NewHandle();
    M().openMutexes[handle] = {lpName, dwDesiredAccess};
    return handle;
}

// Waits on a mutex (the virtual clock moves by the time waited) or on a
// started process (which has ended by then).
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    if (Enter("WaitForSingleObject", {SimNumber(dwMilliseconds)})) {
        return WAIT_FAILED;
    }
    if (M().openProcesses.count(hHandle) == 1) {
        return WAIT_OBJECT_0;
    }
    auto opened = M().openMutexes.find(hHandle);
    if (opened == M().openMutexes.end()) {
        return Unmodeled("WaitForSingleObject on anything but a mutex or a started process", WAIT_FAILED);
    }
    if ((opened->second.access & SYNCHRONIZE) == 0) {
        return Fails(ERROR_ACCESS_DENIED, WAIT_FAILED);
    }
    SimulatedMachine::Mutex& mutex = M().mutexes[opened->second.name];
    bool abandoned = false;
    if (mutex.heldByOtherRun) {
        bool forever = mutex.releasedAfterMs == SimulatedMachine::kForever;
        if (forever || static_cast<DWORD>(mutex.releasedAfterMs) > dwMilliseconds) {
            M().elapsedMs += dwMilliseconds;
            if (!forever) {
                mutex.releasedAfterMs -= static_cast<int>(dwMilliseconds);
            }
            return WAIT_TIMEOUT;
        }
        M().elapsedMs += static_cast<DWORD>(mutex.releasedAfterMs);
        mutex.heldByOtherRun = false;
        abandoned = mutex.holderKilled;
        mutex.holderKilled = false;
    }
    ++mutex.ownedByRun;
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
    M().Record("ReleaseMutex", {});
    auto opened = M().openMutexes.find(hMutex);
    if (opened == M().openMutexes.end()) {
        ADD_FAILURE() << "ReleaseMutex of a handle that is not an open mutex";
        return Fails(ERROR_INVALID_HANDLE, FALSE);
    }
    SimulatedMachine::Mutex& mutex = M().mutexes[opened->second.name];
    if (mutex.ownedByRun == 0) {
        return Fails(ERROR_NOT_OWNER, FALSE);
    }
    --mutex.ownedByRun;
    return TRUE;
}

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
    if (Enter("GetStdHandle", {SimNumber(static_cast<int32_t>(nStdHandle))})) {
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = nStdHandle == STD_INPUT_HANDLE    ? kStandardInput
                    : nStdHandle == STD_OUTPUT_HANDLE ? kStandardOutput
                    : nStdHandle == STD_ERROR_HANDLE  ? kStandardError
                                                      : INVALID_HANDLE_VALUE;
    if (handle == INVALID_HANDLE_VALUE) {
        return Unmodeled("GetStdHandle of an unknown kind", INVALID_HANDLE_VALUE);
    }
    return M().hasStandardOutput ? handle : nullptr;
}

HANDLE WINAPI GetCurrentProcess() {
    M().Record("GetCurrentProcess", {});
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-1));
}

BOOL WINAPI IsWow64Process2(HANDLE hProcess, USHORT* pProcessMachine, USHORT* pNativeMachine) {
    if (Enter("IsWow64Process2", {})) {
        return FALSE;
    }
    if (!M().hasIsWow64Process2) {
        return Fails(ERROR_PROC_NOT_FOUND, FALSE);
    }
    if (hProcess != GetCurrentProcess() || pNativeMachine == nullptr) {
        return Unmodeled("IsWow64Process2 of another process or without the native machine", FALSE);
    }
    bool wow64 = M().nativeMachine != IMAGE_FILE_MACHINE_I386;
    *pProcessMachine = wow64 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_UNKNOWN;
    *pNativeMachine = M().nativeMachine;
    return TRUE;
}

BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) {
    if (Enter("IsWow64Process", {})) {
        return FALSE;
    }
    if (!M().hasIsWow64Process) {
        return Fails(ERROR_PROC_NOT_FOUND, FALSE);
    }
    if (hProcess != GetCurrentProcess()) {
        return Unmodeled("IsWow64Process of another process", FALSE);
    }
    *Wow64Process = M().nativeMachine != IMAGE_FILE_MACHINE_I386 ? TRUE : FALSE;
    return TRUE;
}

LPWSTR WINAPI GetCommandLineW() {
    M().Record("GetCommandLineW", {});
    return &M().commandLine[0];
}

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                           LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
    if (Enter("CreateProcessW",
              {SimText(lpApplicationName), SimText(lpCommandLine), SimNumber(bInheritHandles),
               SimHex(dwCreationFlags), SimHex(lpStartupInfo->dwFlags)})) {
        return FALSE;
    }
    if (lpApplicationName == nullptr || lpProcessAttributes != nullptr || lpThreadAttributes != nullptr ||
        lpEnvironment != nullptr || lpCurrentDirectory != nullptr) {
        return Unmodeled("CreateProcessW other than of a named program in the caller's environment", FALSE);
    }
    auto program = M().programs.find(lpApplicationName);
    if (program == M().programs.end()) {
        return Fails(ERROR_FILE_NOT_FOUND, FALSE);
    }
    if (!Runs(program->second.machine, M().nativeMachine)) {
        return Fails(ERROR_BAD_EXE_FORMAT, FALSE);
    }
    M().startedCommandLines.push_back(lpCommandLine);
    // The program writes to the standard output it was handed, if any.
    bool inheritsOutput = bInheritHandles && (lpStartupInfo->dwFlags & STARTF_USESTDHANDLES) != 0 &&
                          lpStartupInfo->hStdOutput == kStandardOutput;
    if (inheritsOutput) {
        M().standardOutput += program->second.standardOutput;
    }
    lpProcessInformation->hProcess = M().NewHandle();
    lpProcessInformation->hThread = M().NewHandle();
    lpProcessInformation->dwProcessId = 0x1234;
    lpProcessInformation->dwThreadId = 0x1238;
    M().openProcesses[lpProcessInformation->hProcess] = program->second.exitCode;
    M().openProcesses[lpProcessInformation->hThread] = program->second.exitCode;
    return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    if (Enter("GetExitCodeProcess", {})) {
        return FALSE;
    }
    auto process = M().openProcesses.find(hProcess);
    if (process == M().openProcesses.end()) {
        ADD_FAILURE() << "GetExitCodeProcess on a handle that is not open";
        return Fails(ERROR_INVALID_HANDLE, FALSE);
    }
    *lpExitCode = process->second;
    return TRUE;
}

}  // namespace sys
