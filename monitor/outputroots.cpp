#include "monitor/outputroots.h"

#include "monitor/folderwalk.h"
#include "monitor/outputfolder.h"
#include "zorvaneidentity.h"

namespace {

const wchar_t kProductFolder[] = ZORVANE_WIDE(ZORVANE_PRODUCT_NAME);

// Whether an answer of OpenIn means that something the monitor did not make
// holds the name; other failures (a full disk) stop the search.
bool Taken(DWORD dwError) {
    return dwError == ERROR_DIRECTORY || dwError == ERROR_CANT_ACCESS_FILE ||
           dwError == ERROR_ACCESS_DENIED || dwError == ERROR_SHARING_VIOLATION;
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
    FolderWalk walk;
    DWORD dwError = walk.Walk(fullPath.substr(0, separator == 2 ? 3 : separator), true);
    std::wstring refusedFolder = walk.RefusedFolder();
    std::wstring refusedWhat = walk.RefusedWhat();
    if (dwError == ERROR_SUCCESS) {
        SecureFolder folder;
        bool created = false;
        FolderSecurity security;
        dwError = SecureFolder::OpenIn(walk.Current(), leaf, kRootSecurity, folder, created);
        if (dwError == ERROR_SUCCESS && !created) {
            dwError = FolderSecurity::Read(folder.Handle(), security);
        }
        ExistingFolder judged = created                    ? ExistingFolder::IsRoot
                                : dwError == ERROR_SUCCESS ? JudgeExisting(security, walk.Security())
                                                           : ExistingFolder::Refused;
        if (judged != ExistingFolder::Refused) {
            dwError = folder.KeepInPlace();
        }
        if (dwError == ERROR_SUCCESS && judged == ExistingFolder::IsRoot) {
            root = std::move(folder);
            shown = root.Path();
            return ERROR_SUCCESS;
        }
        if (dwError == ERROR_SUCCESS && judged == ExistingFolder::HoldsRoot) {
            shown = JoinPath(folder.Path(), kProductFolder);
            return RootIn(folder, kProductFolder, root);
        }
        refusedFolder = fullPath;
        refusedWhat = WhatIsThere(dwError, security);
    }
    dwError = OpenDefault(root, shown);
    ReportOnce(MSG_OUTPUT_FOLDER_REFUSED,
               {fullPath, refusedFolder, refusedWhat, dwError == ERROR_SUCCESS ? root.Path() : shown});
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
    FolderWalk walk;
    if (dwError == ERROR_SUCCESS) {
        dwError = walk.Walk(fullBase, false);
    }
    return dwError == ERROR_SUCCESS ? RootIn(walk.Current(), kProductFolder, root) : dwError;
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
            dwError = folder.KeepInPlace();
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
