#include "monitor/outputfolder.h"

#include <shlobj.h>

namespace {

const wchar_t kProductFolder[] = L"Zorvane Creator";

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsFolder(const std::wstring& path) {
    DWORD dwAttributes = ::GetFileAttributesW(path.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

DWORD DefaultOutputFolder(std::wstring& folder) {
    wchar_t pDocuments[MAX_PATH];
    HRESULT hr = ::SHGetFolderPathW(nullptr, CSIDL_COMMON_DOCUMENTS | CSIDL_FLAG_CREATE, nullptr,
                                    SHGFP_TYPE_CURRENT, pDocuments);
    if (FAILED(hr)) {
        return HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : ERROR_PATH_NOT_FOUND;
    }
    folder = JoinPath(pDocuments, kProductFolder);
    return ERROR_SUCCESS;
}

DWORD EnsureFolder(const std::wstring& folder) {
    std::wstring path = folder;
    while (!path.empty() && IsSeparator(path.back())) {
        path.pop_back();
    }
    if (path.empty() || IsFolder(path)) {
        return ERROR_SUCCESS;
    }
    size_t separator = path.find_last_of(L"\\/");
    // Above a drive ("C:") or a share there is nothing to create.
    if (separator != std::wstring::npos && separator > 0 && path[separator - 1] != L':' &&
        !IsSeparator(path[separator - 1])) {
        DWORD dwError = EnsureFolder(path.substr(0, separator));
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
    }
    if (!::CreateDirectoryW(path.c_str(), nullptr)) {
        DWORD dwError = ::GetLastError();
        if (dwError != ERROR_ALREADY_EXISTS) {
            return dwError;
        }
        // Made in the meantime, or a file of that name is in the way.
        return IsFolder(path) ? ERROR_SUCCESS : ERROR_DIRECTORY;
    }
    return ERROR_SUCCESS;
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& fileName) {
    if (folder.empty() || IsSeparator(folder.back())) {
        return folder + fileName;
    }
    return folder + L"\\" + fileName;
}
