// The simulated machine's kernel32.
#include "tests/sim/sim_binding.h"

using namespace sim;

namespace {

// Standard output is a handle of its own, not a file.
HANDLE const kStandardOutput = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x5D0));

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
    if (M().openFiles.erase(hObject) == 0) {
        ADD_FAILURE() << "CloseHandle of a handle that is not open";
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return ::CloseHandle(hObject);
}

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
    if (Enter("GetStdHandle", {SimNumber(static_cast<int32_t>(nStdHandle))})) {
        return INVALID_HANDLE_VALUE;
    }
    if (nStdHandle != STD_OUTPUT_HANDLE) {
        return Unmodeled("GetStdHandle other than standard output", INVALID_HANDLE_VALUE);
    }
    return M().hasStandardOutput ? kStandardOutput : nullptr;
}

}  // namespace sys
