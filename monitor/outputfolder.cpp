#include "monitor/outputfolder.h"

#include <sddl.h>
#include <shlobj.h>

#include "zorvaneidentity.h"

namespace {

const wchar_t kProductFolder[] = ZORVANE_WIDE(ZORVANE_PRODUCT_NAME);

// Users: FILE_TRAVERSE | SYNCHRONIZE, on the root only.
const wchar_t kRootSecurity[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x100020;;;BU)";
const wchar_t kUnknownOwnerSecurity[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// The owner: read, list, pass through and delete (0x1300A9), inherited by
// the jobs' files.
std::wstring OwnerSecurity(const std::wstring& sid) {
    return std::wstring(kUnknownOwnerSecurity) + L"(A;OICI;0x1300a9;;;" + sid + L")";
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsFolder(const std::wstring& path) {
    DWORD dwAttributes = ::GetFileAttributesW(path.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Account names never hold these, nor control characters; a name made of
// them, or of dots and blanks only, would lead elsewhere or nowhere.
bool CanNameFolder(const std::wstring& userName) {
    if (userName.empty() || userName.size() > 104 ||
        userName.find_first_of(L"\"/\\[]:;|=,+*?<>") != std::wstring::npos ||
        userName.find_first_not_of(L". ") == std::wstring::npos || userName.back() == L'.' ||
        userName.back() == L' ') {
        return false;
    }
    for (wchar_t c : userName) {
        if (c < 0x20) {
            return false;
        }
    }
    return true;
}

std::wstring ParentOf(const std::wstring& path) {
    std::wstring trimmed = path;
    while (!trimmed.empty() && IsSeparator(trimmed.back())) {
        trimmed.pop_back();
    }
    size_t separator = trimmed.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : trimmed.substr(0, separator);
}

}  // namespace

const wchar_t kUnknownOwnerFolder[] = L"[unknown owner]";

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

DWORD OpenJobFolders(const std::wstring& root, const JobOwner& owner, JobFolders& folders) {
    DWORD dwError = EnsureFolder(ParentOf(root));
    if (dwError == ERROR_SUCCESS) {
        dwError =
            SecureFolder::Open(root, kRootSecurity, SecureFolder::Missing::Create, nullptr, folders.root);
    }
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    PSID pSid = nullptr;
    if (!owner.Known() || !CanNameFolder(owner.userName) ||
        !::ConvertStringSidToSidW(owner.sid.c_str(), &pSid)) {
        return SecureFolder::Open(JoinPath(folders.root.Path(), kUnknownOwnerFolder), kUnknownOwnerSecurity,
                                  SecureFolder::Missing::Create, nullptr, folders.owner);
    }
    LocalMemory sid(pSid);
    std::wstring security = OwnerSecurity(owner.sid);
    dwError = SecureFolder::Open(JoinPath(folders.root.Path(), owner.userName), security.c_str(),
                                 SecureFolder::Missing::Create, pSid, folders.owner);
    if (dwError != ERROR_INVALID_OWNER) {
        return dwError;
    }
    // Another account of the same name (another domain's, or one since deleted).
    std::wstring distinctName = owner.userName + L" (" + owner.sid + L")";
    return SecureFolder::Open(JoinPath(folders.root.Path(), distinctName), security.c_str(),
                              SecureFolder::Missing::Create, pSid, folders.owner);
}

std::vector<SecureFolder> ExistingJobFolders(const std::wstring& root) {
    std::vector<SecureFolder> folders(1);
    if (SecureFolder::Open(root, kRootSecurity, SecureFolder::Missing::Fail, nullptr, folders[0]) !=
        ERROR_SUCCESS) {
        return {};
    }
    WIN32_FIND_DATAW found;
    FindHandle search(::FindFirstFileW(JoinPath(folders[0].Path(), L"*").c_str(), &found));
    if (!search) {
        return folders;
    }
    do {
        std::wstring name = found.cFileName;
        SecureFolder folder;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && name != L"." && name != L".." &&
            SecureFolder::Open(JoinPath(folders[0].Path(), name), nullptr, SecureFolder::Missing::Fail,
                               nullptr, folder) == ERROR_SUCCESS) {
            folders.push_back(std::move(folder));
        }
    } while (::FindNextFileW(search.Get(), &found));
    return folders;
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& fileName) {
    if (folder.empty() || IsSeparator(folder.back())) {
        return folder + fileName;
    }
    return folder + L"\\" + fileName;
}
