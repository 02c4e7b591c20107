#include "monitor/outputfolder.h"

#include <algorithm>
#include <cwchar>

#include <sddl.h>
#include <shlobj.h>

#include "monitor/jobnames.h"
#include "monitor/samename.h"
#include "zorvaneidentity.h"

namespace {

const wchar_t kProductFolder[] = ZORVANE_WIDE(ZORVANE_PRODUCT_NAME);

// Inherited by what the root and the unknown owner's folder hold.
const wchar_t kAdministratorsOnly[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// The owner: list, pass through and read the folder itself (0x1200A9), and
// also delete the jobs' files in it (0x1300A9).
std::wstring OwnerSecurity(const std::wstring& sid) {
    return std::wstring(kAdministratorsOnly) + L"(A;;0x1200a9;;;" + sid + L")(A;OIIO;0x1300a9;;;" + sid +
           L")";
}

// MAX_PATH counts the terminating null.
constexpr size_t kLongestPath = MAX_PATH - 1;
// What an owner's folder name needs at least: one character of a user name
// and " (<SID>)" of a local or domain account (four sub-authorities of up to
// ten digits: 52 characters).
constexpr size_t kLeastFolderNameRoom = 1 + 2 + 52 + 1;

// Room for an owner's folder name: a job's longest path is root\folder\file.
size_t FolderNameRoom(const std::wstring& root) {
    size_t used = root.size() + 2 + kLongestJobFileName;
    return used < kLongestPath ? kLongestPath - used : 0;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Account names never hold these, nor control characters; a name made of
// them, or of dots and blanks only, would lead elsewhere or nowhere, and a
// trailing dot or blank Windows drops.
bool CanNameFolder(const std::wstring& userName) {
    if (userName.empty() || userName.find_first_of(L"\"/\\[]:;|=,+*?<>") != std::wstring::npos ||
        userName.back() == L'.' || userName.back() == L' ' || IsDeviceName(userName)) {
        return false;
    }
    for (wchar_t c : userName) {
        if (c < 0x20) {
            return false;
        }
    }
    return true;
}

// The user name cut to the room, without the dots and blanks a cut may leave
// at its end; empty when it cannot name a folder.
std::wstring FolderNameOf(const std::wstring& userName, size_t room) {
    if (!CanNameFolder(userName)) {
        return std::wstring();
    }
    return CutName(userName, room);
}

bool IsInside(const std::wstring& path, const std::wstring& folder) {
    return path.size() > folder.size() && path[folder.size()] == L'\\' &&
           SameName(path.substr(0, folder.size()), folder);
}

DWORD CheckFullPath(const std::wstring& fullPath) {
    // GetFullPathNameW turns a device's name in the last place into "\\.\NUL".
    if (fullPath.size() <= 3 || !IsDriveLetter(fullPath[0]) || fullPath.compare(1, 2, L":\\") != 0) {
        return ERROR_BAD_PATHNAME;
    }
    for (size_t start = 3; start < fullPath.size();) {
        size_t end = std::min(fullPath.find(L'\\', start), fullPath.size());
        if (IsDeviceName(fullPath.substr(start, end - start))) {
            return ERROR_BAD_PATHNAME;
        }
        start = end + 1;
    }
    UINT uType = ::GetDriveTypeW(fullPath.substr(0, 3).c_str());
    if (uType != DRIVE_FIXED && uType != DRIVE_REMOVABLE && uType != DRIVE_RAMDISK) {
        return ERROR_BAD_PATHNAME;
    }
    wchar_t pWindows[MAX_PATH];
    UINT uLen = ::GetSystemWindowsDirectoryW(pWindows, MAX_PATH);
    if (uLen == 0 || uLen >= MAX_PATH) {
        return uLen == 0 ? ::GetLastError() : ERROR_BUFFER_OVERFLOW;
    }
    std::wstring windows = NormalizedPath(std::wstring(pWindows, uLen));
    if (SameName(fullPath, windows) || IsInside(fullPath, windows)) {
        return ERROR_BAD_PATHNAME;
    }
    return FolderNameRoom(fullPath) < kLeastFolderNameRoom ? ERROR_FILENAME_EXCED_RANGE : ERROR_SUCCESS;
}

DWORD OpenUnknownOwnerFolder(JobFolders& folders) {
    return SecureFolder::Open(JoinPath(folders.root.Path(), kUnknownOwnerFolder), kAdministratorsOnly,
                              SecureFolder::Missing::Create, nullptr, folders.owner);
}

}  // namespace

const wchar_t kUnknownOwnerFolder[] = L"[unknown owner]";
const wchar_t kRootSecurity[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

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

DWORD CheckOutputRoot(const std::wstring& root, std::wstring& fullPath) {
    // Only "C:\..." leads to a local folder by itself; a colon further on
    // would name a stream.
    if (root.size() < 3 || !IsDriveLetter(root[0]) || root[1] != L':' || !IsSeparator(root[2]) ||
        root.find(L':', 2) != std::wstring::npos) {
        return ERROR_BAD_PATHNAME;
    }
    fullPath = NormalizedPath(root);
    return CheckFullPath(fullPath);
}

DWORD OpenJobFolders(SecureFolder root, const JobOwner& owner, JobFolders& folders) {
    folders.root = std::move(root);
    // Short names on the way come out long, and a root may have a number.
    size_t room = FolderNameRoom(folders.root.Path());
    if (room < kLeastFolderNameRoom) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    std::wstring folderName = owner.Known() ? FolderNameOf(owner.userName, room) : std::wstring();
    PSID pSid = nullptr;
    if (folderName.empty() || !::ConvertStringSidToSidW(owner.sid.c_str(), &pSid)) {
        return OpenUnknownOwnerFolder(folders);
    }
    LocalMemory sid(pSid);
    std::wstring security = OwnerSecurity(owner.sid);
    DWORD dwError = SecureFolder::Open(JoinPath(folders.root.Path(), folderName), security.c_str(),
                                       SecureFolder::Missing::Create, pSid, folders.owner);
    if (dwError != ERROR_INVALID_OWNER) {
        return dwError;
    }
    // Another account of the same name (another domain's, one since deleted,
    // or one whose cut name is the same).
    std::wstring suffix = L" (" + owner.sid + L")";
    std::wstring distinctName =
        suffix.size() < room ? FolderNameOf(owner.userName, room - suffix.size()) : L"";
    if (distinctName.empty()) {
        return OpenUnknownOwnerFolder(folders);
    }
    return SecureFolder::Open(JoinPath(folders.root.Path(), distinctName + suffix), security.c_str(),
                              SecureFolder::Missing::Create, pSid, folders.owner);
}

std::vector<SecureFolder> ExistingJobFolders(const std::wstring& root) {
    std::vector<SecureFolder> folders(1);
    std::wstring fullPath;
    if (CheckOutputRoot(root, fullPath) != ERROR_SUCCESS ||
        SecureFolder::Open(fullPath, nullptr, SecureFolder::Missing::Fail, nullptr, folders[0]) !=
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

size_t FileNameRoom(const std::wstring& folder) {
    return folder.size() + 1 < kLongestPath ? kLongestPath - folder.size() - 1 : 0;
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& fileName) {
    if (folder.empty() || IsSeparator(folder.back())) {
        return folder + fileName;
    }
    return folder + L"\\" + fileName;
}
