#include "monitor/folderwalk.h"

#include <algorithm>

#include "monitor/eventlog.h"

namespace {

const wchar_t kWaySecurity[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

}  // namespace

bool SafeAbove(const FolderSecurity& folder, const FolderSecurity& parent) {
    return folder.OwnerTrusted() && !folder.OthersMayRemove() && !parent.OthersMayRemoveWhatItHolds();
}

std::wstring WhatIsThere(DWORD dwOpenError, const FolderSecurity& security) {
    switch (dwOpenError) {
        case ERROR_SUCCESS:
            break;
        case ERROR_DIRECTORY:
            return L"a file";
        case ERROR_CANT_ACCESS_FILE:
            return L"a link or junction";
        default:
            return SystemErrorText(dwOpenError);
    }
    if (!security.OwnerTrusted()) {
        return L"a folder owned by " + security.Owner();
    }
    return security.OthersMayRemove() ? L"a folder that others may rename or remove"
                                      : L"a folder that others may open or change";
}

DWORD FolderWalk::Start(const std::wstring& driveRoot) {
    DWORD dwError = SecureFolder::OpenDrive(driveRoot, current_);
    return dwError == ERROR_SUCCESS ? FolderSecurity::Read(current_.Handle(), security_) : dwError;
}

DWORD FolderWalk::Step(const std::wstring& name, bool mustBeSafe) {
    SecureFolder next;
    bool created = false;
    FolderSecurity security;
    DWORD dwError = SecureFolder::OpenIn(current_, name, kWaySecurity, next, created);
    if (dwError == ERROR_SUCCESS) {
        dwError = FolderSecurity::Read(next.Handle(), security);
    }
    if (dwError == ERROR_SUCCESS && (mustBeSafe || next.HeldOutsideSharing()) &&
        !SafeAbove(security, security_)) {
        dwError = ERROR_INVALID_OWNER;
    }
    if (dwError != ERROR_SUCCESS) {
        refusedFolder_ = current_.Path() + (current_.Path().back() == L'\\' ? L"" : L"\\") + name;
        refusedWhat_ = WhatIsThere(dwError == ERROR_INVALID_OWNER ? ERROR_SUCCESS : dwError, security);
        return dwError;
    }
    current_ = std::move(next);
    security_ = security;
    return ERROR_SUCCESS;
}

DWORD FolderWalk::Walk(const std::wstring& fullPath, bool mustBeSafe) {
    DWORD dwError = Start(fullPath.substr(0, 3));
    for (size_t start = 3; dwError == ERROR_SUCCESS && start < fullPath.size();) {
        size_t end = std::min(fullPath.find(L'\\', start), fullPath.size());
        dwError = Step(fullPath.substr(start, end - start), mustBeSafe);
        start = end + 1;
    }
    return dwError;
}
