#include "monitor/securefolder.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include <aclapi.h>
#include <sddl.h>

#include "monitor/foldersecurity.h"
#include "monitor/newerapi.h"
#include "monitor/ntfile.h"
#include "monitor/samename.h"

namespace {

// Enough to check the folder and bring its DACL; nothing to delete it. These
// rights take no part in the sharing check.
constexpr DWORD kCheckAccess = READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// Enough to check a folder that is walked or judged, whose access list is
// never changed; nothing of it takes part in the sharing check.
constexpr DWORD kLookAccess = READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

DWORD SecurityDescriptorFrom(const wchar_t* sddl, LocalMemory& descriptor) {
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &pDescriptor,
                                                                nullptr)) {
        return ::GetLastError();
    }
    descriptor = LocalMemory(pDescriptor);
    return ERROR_SUCCESS;
}

// FILE_FLAG_OPEN_REPARSE_POINT: a junction or link is opened itself, so that
// its attributes show it, instead of the folder it leads to. FILE_TRAVERSE
// makes the handle take part in the sharing check: without delete sharing,
// nobody renames or removes the folder while it is held. A handle somebody
// else holds that shares no reading, or that may delete, refuses that
// (ERROR_SHARING_VIOLATION); the folder is then opened with rights outside
// the sharing check, so that no handle can stop a job. A move then needs
// delete rights, which on the root and the owners' folders only SYSTEM and
// Administrators have.
FileHandle OpenFolder(const std::wstring& path) {
    const DWORD kFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    FileHandle folder(::CreateFileW(path.c_str(), kCheckAccess | FILE_TRAVERSE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, kFlags,
                                    nullptr));
    if (folder || ::GetLastError() != ERROR_SHARING_VIOLATION) {
        return folder;
    }
    return FileHandle(::CreateFileW(path.c_str(), kCheckAccess,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, kFlags, nullptr));
}

DWORD CheckPlain(HANDLE hFolder, const std::wstring& path) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(hFolder, &info)) {
        return ::GetLastError();
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return ERROR_DIRECTORY;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return ERROR_CANT_ACCESS_FILE;
    }
    // Wine shows a symbolic link only in the path's attributes and in the
    // final path; Windows shows it on the handle as well.
    DWORD dwAttributes = ::GetFileAttributesW(path.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return ERROR_CANT_ACCESS_FILE;
    }
    std::wstring finalPath;
    DWORD dwError = newerapi::FinalPath(hFolder, finalPath);
    if (dwError == ERROR_PROC_NOT_FOUND) {
        return ERROR_SUCCESS;  // Windows XP: the handle's attributes are all there is
    }
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    return SameName(finalPath, path) ? ERROR_SUCCESS : ERROR_CANT_ACCESS_FILE;
}

DWORD CheckOwner(HANDLE hFolder) {
    FolderSecurity security;
    DWORD dwError = FolderSecurity::Read(hFolder, security);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    return security.OwnerTrusted() ? ERROR_SUCCESS : ERROR_INVALID_OWNER;
}

PACL DaclOf(PSECURITY_DESCRIPTOR pDescriptor) {
    BOOL bPresent = FALSE;
    BOOL bDefaulted = FALSE;
    PACL pDacl = nullptr;
    return ::GetSecurityDescriptorDacl(pDescriptor, &bPresent, &pDacl, &bDefaulted) && bPresent ? pDacl
                                                                                                : nullptr;
}

bool SameAces(PACL a, PACL b) {
    if (a == nullptr || b == nullptr || a->AceCount != b->AceCount) {
        return false;
    }
    for (WORD i = 0; i < a->AceCount; ++i) {
        void* pAceA = nullptr;
        void* pAceB = nullptr;
        if (!::GetAce(a, i, &pAceA) || !::GetAce(b, i, &pAceB)) {
            return false;
        }
        WORD cbAce = static_cast<ACE_HEADER*>(pAceA)->AceSize;
        if (cbAce != static_cast<ACE_HEADER*>(pAceB)->AceSize || std::memcmp(pAceA, pAceB, cbAce) != 0) {
            return false;
        }
    }
    return true;
}

// Whether an entry of the folder's DACL allows the account anything.
DWORD CheckGrants(HANDLE hFolder, PSID grantee) {
    PACL pDacl = nullptr;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    DWORD dwError = ::GetSecurityInfo(hFolder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      &pDacl, nullptr, &pDescriptor);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    LocalMemory descriptor(pDescriptor);
    for (WORD i = 0; pDacl != nullptr && i < pDacl->AceCount; ++i) {
        void* pAce = nullptr;
        if (::GetAce(pDacl, i, &pAce) && static_cast<ACE_HEADER*>(pAce)->AceType == ACCESS_ALLOWED_ACE_TYPE &&
            ::EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(pAce)->SidStart, grantee)) {
            return ERROR_SUCCESS;
        }
    }
    return ERROR_INVALID_OWNER;
}

// Sets the wanted DACL, protected from inheritance, unless the folder has it.
// Setting it also passes its inheritable entries on to what the folder holds.
DWORD BringDacl(HANDLE hFolder, PSECURITY_DESCRIPTOR pWanted) {
    PACL pWantedDacl = DaclOf(pWanted);
    PACL pDacl = nullptr;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    if (::GetSecurityInfo(hFolder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &pDacl,
                          nullptr, &pDescriptor) == ERROR_SUCCESS) {
        LocalMemory descriptor(pDescriptor);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD dwRevision = 0;
        if (::GetSecurityDescriptorControl(pDescriptor, &control, &dwRevision) &&
            (control & SE_DACL_PROTECTED) != 0 && SameAces(pDacl, pWantedDacl)) {
            return ERROR_SUCCESS;
        }
    }
    return ::SetSecurityInfo(hFolder, SE_FILE_OBJECT,
                             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                             nullptr, pWantedDacl, nullptr);
}

}  // namespace

DWORD SecureFolder::Open(const std::wstring& path, const wchar_t* sddl, Missing missing, PSID grantee,
                         SecureFolder& folder) {
    LocalMemory descriptor;
    DWORD dwError = sddl != nullptr ? SecurityDescriptorFrom(sddl, descriptor) : ERROR_SUCCESS;
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    std::wstring fullPath = NormalizedPath(path);
    bool created = false;
    if (missing == Missing::Create && sddl != nullptr) {
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.Get(), FALSE};
        created = ::CreateDirectoryW(fullPath.c_str(), &attributes) != FALSE;
        if (!created && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            return ::GetLastError();
        }
    }
    SecureFolder opened;
    dwError = opened.Hold(fullPath);
    if (dwError == ERROR_SUCCESS) {
        dwError = CheckOwner(opened.Handle());
    }
    if (dwError == ERROR_SUCCESS && grantee != nullptr && !created) {
        dwError = CheckGrants(opened.Handle(), grantee);
    }
    if (dwError == ERROR_SUCCESS && sddl != nullptr) {
        dwError = BringDacl(opened.Handle(), descriptor.Get());
    }
    if (dwError == ERROR_SUCCESS) {
        folder = std::move(opened);
    }
    return dwError;
}

DWORD SecureFolder::OpenDrive(const std::wstring& driveRoot, SecureFolder& folder) {
    // Nobody renames a drive's root: its sharing does not matter.
    FileHandle handle(::CreateFileW(driveRoot.c_str(), kLookAccess | FILE_TRAVERSE | FILE_LIST_DIRECTORY,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) {
        return ::GetLastError();
    }
    folder.path_ = driveRoot;
    folder.handle_ = std::move(handle);
    folder.outsideSharing_ = false;
    return ERROR_SUCCESS;
}

DWORD SecureFolder::OpenIn(const SecureFolder& parent, const std::wstring& name, const wchar_t* sddl,
                           SecureFolder& folder, bool& created) {
    LocalMemory descriptor;
    DWORD dwError = sddl != nullptr ? SecurityDescriptorFrom(sddl, descriptor) : ERROR_SUCCESS;
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    // Rights outside the sharing check: no handle somebody holds refuses it.
    FileHandle handle;
    dwError = ntfile::OpenFolderIn(parent.Handle(), name, kLookAccess,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, descriptor.Get(),
                                   handle, created);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle.Get(), &info)) {
        return ::GetLastError();
    }
    // Wine shows a symbolic link only in the directory's entry, which the
    // parent lists when KeepInPlace held it without delete sharing.
    DWORD dwEntry = 0;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (ntfile::AttributesIn(parent.Handle(), name, dwEntry) == ERROR_SUCCESS &&
         (dwEntry & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
        return ERROR_CANT_ACCESS_FILE;
    }
    folder.path_ = parent.Path();
    if (folder.path_.empty() || folder.path_.back() != L'\\') {
        folder.path_ += L'\\';
    }
    folder.path_ += name;
    folder.handle_ = std::move(handle);
    folder.outsideSharing_ = true;
    return ERROR_SUCCESS;
}

DWORD SecureFolder::KeepInPlace() {
    // FILE_TRAVERSE takes part in the sharing check, as in OpenFolder;
    // FILE_LIST_DIRECTORY lets OpenIn see the entries in it as listed.
    FileHandle held;
    DWORD dwError = ntfile::ReopenFolder(handle_.Get(), kLookAccess | FILE_TRAVERSE | FILE_LIST_DIRECTORY,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, held);
    if (dwError == ERROR_SHARING_VIOLATION) {
        return ERROR_SUCCESS;
    }
    if (dwError == ERROR_SUCCESS) {
        handle_ = std::move(held);
        outsideSharing_ = false;
    }
    return dwError;
}

DWORD SecureFolder::Hold(const std::wstring& fullPath) {
    FileHandle handle = OpenFolder(fullPath);
    if (!handle) {
        return ::GetLastError();
    }
    DWORD dwError = CheckPlain(handle.Get(), fullPath);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    path_ = fullPath;
    handle_ = std::move(handle);
    return ERROR_SUCCESS;
}

DWORD SecureFolder::CheckStillPlain() const { return CheckPlain(handle_.Get(), path_); }

std::wstring NormalizedPath(const std::wstring& path) {
    std::vector<wchar_t> full(MAX_PATH);
    DWORD cch = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (cch >= full.size()) {
        full.resize(cch + 1);
        cch = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    std::wstring result = cch > 0 && cch < full.size() ? std::wstring(full.data(), cch) : path;
    std::vector<wchar_t> longPath(result.size() + MAX_PATH);
    cch = ::GetLongPathNameW(result.c_str(), longPath.data(), static_cast<DWORD>(longPath.size()));
    if (cch > 0 && cch < longPath.size()) {
        result.assign(longPath.data(), cch);
    }
    // A root ("C:\") keeps its separator.
    while (result.size() > 3 && (result.back() == L'\\' || result.back() == L'/')) {
        result.pop_back();
    }
    return result;
}
