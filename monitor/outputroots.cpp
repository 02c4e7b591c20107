#include "monitor/outputroots.h"

#include <algorithm>

#include "monitor/outputfolder.h"
#include "zorvaneidentity.h"

namespace {

const wchar_t kProductFolder[] = ZORVANE_WIDE(ZORVANE_PRODUCT_NAME);

// Folders the walk makes above a port's root: users may look into them, not
// change, rename or remove them.
const wchar_t kWaySecurity[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// What was found, in words, for the event log.
std::wstring WhatIsThere(DWORD dwError, const FolderSecurity& security) {
    switch (dwError) {
        case ERROR_SUCCESS:
            break;
        case ERROR_DIRECTORY:
            return L"a file";
        case ERROR_CANT_ACCESS_FILE:
            return L"a link or junction";
        default:
            return SystemErrorText(dwError);
    }
    if (!security.OwnerTrusted()) {
        return L"a folder owned by " + security.Owner();
    }
    return security.OthersMayRemove() ? L"a folder that others may rename or remove"
                                      : L"a folder that others may open or change";
}

// Whether an answer of OpenIn means that something the monitor did not make
// holds the name; other failures (a full disk) stop the search.
bool Taken(DWORD dwError) {
    return dwError == ERROR_DIRECTORY || dwError == ERROR_CANT_ACCESS_FILE ||
           dwError == ERROR_ACCESS_DENIED || dwError == ERROR_SHARING_VIOLATION;
}

// A folder the refusal names, and why.
struct Refusal {
    std::wstring folder;
    std::wstring what;
};

// Opens the folders of fullPath from the drive's root down, each relative to
// the one above, making what is missing with kWaySecurity. With mustBeSafe
// each must be SafeAbove; a folder held past somebody's handle must be so in
// any case. last is fullPath's folder, with its security.
DWORD OpenWay(const std::wstring& fullPath, bool mustBeSafe, SecureFolder& last, FolderSecurity& security,
              Refusal& refusal) {
    SecureFolder folder;
    DWORD dwError = SecureFolder::OpenDrive(fullPath.substr(0, 3), folder);
    if (dwError == ERROR_SUCCESS) {
        dwError = FolderSecurity::Read(folder.Handle(), security);
    }
    for (size_t start = 3; dwError == ERROR_SUCCESS && start < fullPath.size();) {
        size_t end = std::min(fullPath.find(L'\\', start), fullPath.size());
        std::wstring name = fullPath.substr(start, end - start);
        start = end + 1;
        SecureFolder next;
        bool created = false;
        FolderSecurity nextSecurity;
        dwError = SecureFolder::OpenIn(folder, name, kWaySecurity, next, created);
        if (dwError == ERROR_SUCCESS) {
            dwError = FolderSecurity::Read(next.Handle(), nextSecurity);
        }
        if (dwError == ERROR_SUCCESS && (mustBeSafe || next.HeldOutsideSharing()) &&
            !SafeAbove(nextSecurity, security)) {
            dwError = ERROR_INVALID_OWNER;
        }
        if (dwError != ERROR_SUCCESS) {
            refusal = {JoinPath(folder.Path(), name), WhatIsThere(dwError, nextSecurity)};
            return dwError;
        }
        security = nextSecurity;
        folder = std::move(next);
    }
    if (dwError == ERROR_SUCCESS) {
        last = std::move(folder);
    }
    return dwError;
}

}  // namespace

ExistingFolder JudgeExisting(const FolderSecurity& folder, const FolderSecurity& parent) {
    if (!SafeAbove(folder, parent)) {
        return ExistingFolder::Refused;
    }
    if (folder.IsMonitors()) {
        return ExistingFolder::IsRoot;
    }
    // Else the root it holds could be moved by others.
    return folder.OthersMayRemoveWhatItHolds() ? ExistingFolder::Refused : ExistingFolder::HoldsRoot;
}

bool SafeAbove(const FolderSecurity& folder, const FolderSecurity& parent) {
    return folder.OwnerTrusted() && !folder.OthersMayRemove() && !parent.OthersMayRemoveWhatItHolds();
}

OutputRoots::OutputRoots(std::shared_ptr<EventSink> events) : events_(std::move(events)) {}

std::wstring OutputRoots::Prepare(const std::wstring& outputFolder) {
    SecureFolder root;
    std::wstring shown;
    {
        CriticalSectionLock lock(lock_);
        if (!prepared_.insert(outputFolder).second) {
            return std::wstring();
        }
    }
    return Open(outputFolder, root, shown) == ERROR_SUCCESS ? root.Path() : std::wstring();
}

DWORD OutputRoots::Open(const std::wstring& outputFolder, SecureFolder& root, std::wstring& shown) {
    CriticalSectionLock lock(lock_);
    if (outputFolder.empty()) {
        return OpenDefault(root, shown);
    }
    std::wstring fullPath;
    shown = outputFolder;
    DWORD dwError = CheckOutputRoot(outputFolder, fullPath);
    return dwError == ERROR_SUCCESS ? OpenFixed(fullPath, root, shown) : dwError;
}

DWORD OutputRoots::OpenFixed(const std::wstring& fullPath, SecureFolder& root, std::wstring& shown) {
    size_t separator = fullPath.find_last_of(L'\\');
    std::wstring leaf = fullPath.substr(separator + 1);
    SecureFolder parent;
    FolderSecurity parentSecurity;
    Refusal refusal;
    DWORD dwError =
        OpenWay(fullPath.substr(0, separator == 2 ? 3 : separator), true, parent, parentSecurity, refusal);
    SecureFolder folder;
    if (dwError == ERROR_SUCCESS) {
        bool created = false;
        FolderSecurity security;
        dwError = SecureFolder::OpenIn(parent, leaf, kRootSecurity, folder, created);
        if (dwError == ERROR_SUCCESS && !created) {
            dwError = FolderSecurity::Read(folder.Handle(), security);
        }
        ExistingFolder judged = created                    ? ExistingFolder::IsRoot
                                : dwError == ERROR_SUCCESS ? JudgeExisting(security, parentSecurity)
                                                           : ExistingFolder::Refused;
        if (judged == ExistingFolder::IsRoot) {
            root = std::move(folder);
            shown = root.Path();
            return ERROR_SUCCESS;
        }
        if (judged == ExistingFolder::HoldsRoot) {
            shown = JoinPath(folder.Path(), kProductFolder);
            return RootIn(folder, kProductFolder, root);
        }
        refusal = {fullPath, WhatIsThere(dwError, security)};
    }
    dwError = OpenDefault(root, shown);
    ReportOnce(MSG_OUTPUT_FOLDER_REFUSED,
               {fullPath, refusal.folder, refusal.what, dwError == ERROR_SUCCESS ? root.Path() : shown});
    return dwError;
}

DWORD OutputRoots::OpenDefault(SecureFolder& root, std::wstring& shown) {
    std::wstring defaultRoot;
    DWORD dwError = DefaultOutputFolder(defaultRoot);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    shown = defaultRoot;
    std::wstring base = defaultRoot.substr(0, defaultRoot.find_last_of(L'\\'));
    std::wstring fullBase;
    dwError = CheckOutputRoot(base, fullBase);
    // The common documents are Windows' own: their access list is Windows'
    // to choose, and they are only walked as plain directories.
    SecureFolder baseFolder;
    FolderSecurity security;
    Refusal refusal;
    if (dwError == ERROR_SUCCESS) {
        dwError = OpenWay(fullBase, false, baseFolder, security, refusal);
    }
    return dwError == ERROR_SUCCESS ? RootIn(baseFolder, kProductFolder, root) : dwError;
}

DWORD OutputRoots::RootIn(const SecureFolder& base, const std::wstring& name, SecureFolder& root) {
    std::vector<std::pair<std::wstring, std::wstring>> taken;  // the path, what holds it
    DWORD dwError = ERROR_SUCCESS;
    for (unsigned long n = 1;; ++n) {
        std::wstring candidate = n == 1 ? name : name + L" (" + std::to_wstring(n) + L")";
        SecureFolder folder;
        bool created = false;
        FolderSecurity security;
        dwError = SecureFolder::OpenIn(base, candidate, kRootSecurity, folder, created);
        if (dwError == ERROR_SUCCESS && !created) {
            dwError = FolderSecurity::Read(folder.Handle(), security);
        }
        if (dwError == ERROR_SUCCESS && (created || security.IsMonitors())) {
            root = std::move(folder);
            break;
        }
        if (dwError != ERROR_SUCCESS && !Taken(dwError)) {
            break;
        }
        taken.emplace_back(JoinPath(base.Path(), candidate), WhatIsThere(dwError, security));
    }
    for (const auto& held : taken) {
        ReportOnce(MSG_ROOT_PATH_TAKEN, {held.first, held.second,
                                         dwError == ERROR_SUCCESS ? root.Path() : SystemErrorText(dwError)});
    }
    return dwError;
}

void OutputRoots::ReportOnce(DWORD messageId, const std::vector<std::wstring>& strings) {
    std::vector<std::wstring> key(strings);
    key.push_back(std::to_wstring(messageId));
    if (reported_.insert(key).second) {
        events_->Report(messageId, strings);
    }
}
