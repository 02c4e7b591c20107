// OutputRoots: the folders the monitor writes jobs under, made before any
// user can take their paths: when the monitor starts, when a port's
// OutputFolder is set or changed (seen when the port is opened), and checked
// again at each job's start.
//
// A root is a folder the monitor made, with SYSTEM and Administrators only
// (FolderSecurity::IsMonitors); an existing folder's access list is never
// replaced. The default root is "Zorvane Creator" in the common documents. A
// port's OutputFolder is the root itself when it has a root's list (the
// monitor made it when it was missing), or holds a root "Zorvane Creator"
// when it is another folder that only trusted accounts own and can rename or
// remove.
//
// Whatever else holds a root's path (a file, a link or junction, a folder a
// user owns or that others may open or change) is left as it is, its content
// never opened, and the root takes the next name beside it: "Zorvane Creator
// (2)", "(3)"... The folders above a port's OutputFolder are walked from the
// drive's root down, each opened relative to the one above; missing ones are
// made so that users may look but not change them. An OutputFolder with a
// folder above it that is no plain directory, or that others own or may
// rename or remove, and one that is such a thing itself, is refused: that
// port's jobs go to the default root. The event log names each thing found
// in the way and each refusal, once for the monitor's life.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include "monitor/eventlog.h"
#include "monitor/foldersecurity.h"
#include "monitor/securefolder.h"
#include "platform/handles.h"

// What an existing folder at the path of a port's OutputFolder is to the
// monitor, from its own security and its parent's.
enum class ExistingFolder {
    IsRoot,     // the monitor made it, and nobody else may move it: the root
    HoldsRoot,  // another that nobody else may move, nor what it holds: the
                // root is made inside
    Refused,    // a user's, or others may rename or remove it
};
ExistingFolder JudgeExisting(const FolderSecurity& folder, const FolderSecurity& parent);

class OutputRoots {
public:
    explicit OutputRoots(std::shared_ptr<EventSink> events);
    OutputRoots(const OutputRoots&) = delete;
    OutputRoots& operator=(const OutputRoots&) = delete;

    // Makes the root of a port's OutputFolder (empty: the default root)
    // unless that was done for this value already; answers the root's path,
    // empty when there is none.
    std::wstring Prepare(const std::wstring& outputFolder);
    // Opens the root a job goes to; shown is the folder to name in a
    // failure. An OutputFolder that is no absolute local path is refused as
    // CheckOutputRoot says; one refused for what is on its way or at its
    // place gives the default root.
    DWORD Open(const std::wstring& outputFolder, SecureFolder& root, std::wstring& shown);

private:
    DWORD OpenFixed(const std::wstring& fullPath, SecureFolder& root, std::wstring& shown);
    DWORD OpenDefault(SecureFolder& root, std::wstring& shown);
    // The first name from name on in base that holds a root of the monitor's,
    // made where missing.
    DWORD RootIn(const SecureFolder& base, const std::wstring& name, SecureFolder& root);
    void ReportOnce(DWORD messageId, const std::vector<std::wstring>& strings);

    std::shared_ptr<EventSink> events_;
    CriticalSection lock_;
    std::set<std::wstring> prepared_;
    std::set<std::vector<std::wstring>> reported_;
};
