#include "platform/systemlibrary.h"

// Binding runs between a caller's SetLastError and the call it prepares: a
// load or lookup that succeeds leaves the caller's value as it was (a
// successful load may leave a value of its own on Windows).
FARPROC SystemLibrary::Proc(const char* procName) {
    DWORD dwCallersError = ::GetLastError();
    if (module_ == nullptr && !Load()) {
        return nullptr;
    }
    FARPROC proc = ::GetProcAddress(module_, procName);
    if (proc != nullptr) {
        ::SetLastError(dwCallersError);
    }
    return proc;
}

bool SystemLibrary::Load() {
    wchar_t path[MAX_PATH + 1];
    UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    size_t nameLength = ::lstrlenW(fileName_);
    if (length == 0 || length + 1 + nameLength >= MAX_PATH) {
        ::SetLastError(length == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    path[length] = L'\\';
    ::lstrcpyW(path + length + 1, fileName_);
    // With a full path, the library's own dependencies are searched from its
    // directory first.
    module_ = ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module_ != nullptr;
}

void RestrictDllSearchToSystemDirectory() {
    constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;
    static SystemLibrary kernel32{L"kernel32.dll"};
    auto setDefaultDllDirectories = kernel32.Bind<BOOL WINAPI(DWORD)>("SetDefaultDllDirectories");
    if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(kLoadLibrarySearchSystem32)) {
        return;
    }
    if (auto setDllDirectory = kernel32.Bind<BOOL WINAPI(LPCWSTR)>("SetDllDirectoryW")) {
        setDllDirectory(L"");
    }
}
