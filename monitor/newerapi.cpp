#include "monitor/newerapi.h"

#include <cstring>
#include <vector>

namespace {

// FILE_INFO_BY_HANDLE_CLASS values and the records they take, as documented
// for SetFileInformationByHandle (the headers declare them for Vista on only).
constexpr int kFileRenameInfo = 3;
constexpr int kFileDispositionInfo = 4;

struct FileRenameInfo {
    BOOLEAN ReplaceIfExists;
    HANDLE RootDirectory;
    DWORD FileNameLength;  // in bytes, without a terminating zero
    WCHAR FileName[1];
};

struct FileDispositionInfo {
    BOOLEAN DeleteFile;
};

using GetFinalPathNameByHandleWFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
using SetFileInformationByHandleFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);

template <typename Fn>
Fn Kernel32Function(const char* name) {
    // kernel32 is loaded in every process for its whole life.
    HMODULE hKernel32 = ::GetModuleHandleW(L"kernel32.dll");
    return hKernel32 == nullptr
               ? nullptr
               : reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(hKernel32, name)));
}

SetFileInformationByHandleFn SetInformation() {
    static const SetFileInformationByHandleFn fn =
        Kernel32Function<SetFileInformationByHandleFn>("SetFileInformationByHandle");
    return fn;
}

bool Missing() {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
}

}  // namespace

namespace newerapi {

bool HasFileInformationByHandle() { return SetInformation() != nullptr; }

DWORD FinalPath(HANDLE hFile, std::wstring& path) {
    static const GetFinalPathNameByHandleWFn getFinalPath =
        Kernel32Function<GetFinalPathNameByHandleWFn>("GetFinalPathNameByHandleW");
    if (getFinalPath == nullptr) {
        return ERROR_PROC_NOT_FOUND;
    }
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD cch = getFinalPath(hFile, buffer.data(), static_cast<DWORD>(buffer.size()),
                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (cch == 0) {
            return ::GetLastError();
        }
        if (cch < buffer.size()) {
            path.assign(buffer.data(), cch);
            break;
        }
        buffer.resize(cch + 1);
    }
    const std::wstring kUncPrefix = L"\\\\?\\UNC\\";
    const std::wstring kPrefix = L"\\\\?\\";
    if (path.compare(0, kUncPrefix.size(), kUncPrefix) == 0) {
        path = L"\\\\" + path.substr(kUncPrefix.size());
    } else if (path.compare(0, kPrefix.size(), kPrefix) == 0) {
        path = path.substr(kPrefix.size());
    }
    return ERROR_SUCCESS;
}

bool RenameByHandle(HANDLE hFile, const std::wstring& newPath) {
    SetFileInformationByHandleFn setInformation = SetInformation();
    if (setInformation == nullptr) {
        return Missing();
    }
    size_t cbName = newPath.size() * sizeof(wchar_t);
    std::vector<BYTE> buffer(sizeof(FileRenameInfo) + cbName);
    FileRenameInfo* info = reinterpret_cast<FileRenameInfo*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(cbName);
    std::memcpy(info->FileName, newPath.c_str(), cbName);
    return setInformation(hFile, kFileRenameInfo, info, static_cast<DWORD>(buffer.size())) != FALSE;
}

bool DeleteByHandle(HANDLE hFile) {
    SetFileInformationByHandleFn setInformation = SetInformation();
    if (setInformation == nullptr) {
        return Missing();
    }
    FileDispositionInfo info{TRUE};
    return setInformation(hFile, kFileDispositionInfo, &info, sizeof(info)) != FALSE;
}

}  // namespace newerapi
