// FolderWalk: a walk down from a drive's root to a folder, one folder at a
// time, each opened relative to the handle of the one above
// (SecureFolder::OpenIn) and held while the next is opened: no rename, link or
// junction above a step changes where the step leads, the same on Windows XP
// as on later Windows. Missing folders are made so that users may look into
// them but not change, rename or remove them.
#pragma once

#include <string>

#include <windows.h>

#include "monitor/foldersecurity.h"
#include "monitor/securefolder.h"

// Whether a folder keeps its place: a trusted owner, and nobody else may
// rename or remove it, through its own access list or its parent's.
bool SafeAbove(const FolderSecurity& folder, const FolderSecurity& parent);

// What stands in a folder's place, in words for the event log: "a file", "a
// link or junction", "a folder owned by S-1-5-...", or an open's error.
std::wstring WhatIsThere(DWORD dwOpenError, const FolderSecurity& security);

class FolderWalk {
public:
    // Begins at a drive's root ("C:\").
    DWORD Start(const std::wstring& driveRoot);
    // Opens or makes name in the current folder, which it then becomes.
    // With mustBeSafe the folder must be SafeAbove, and one held past
    // somebody's handle (SecureFolder::HeldOutsideSharing) must be so in any
    // case: ERROR_INVALID_OWNER. A file answers ERROR_DIRECTORY, a link or
    // junction ERROR_CANT_ACCESS_FILE. On failure the walk stays where it was
    // and RefusedFolder and RefusedWhat tell what was found.
    DWORD Step(const std::wstring& name, bool mustBeSafe);
    // Start, then Step through every folder of fullPath ("C:\a\b").
    DWORD Walk(const std::wstring& fullPath, bool mustBeSafe);

    SecureFolder& Current() { return current_; }
    const FolderSecurity& Security() const { return security_; }
    const std::wstring& RefusedFolder() const { return refusedFolder_; }
    const std::wstring& RefusedWhat() const { return refusedWhat_; }

private:
    SecureFolder current_;
    FolderSecurity security_;
    std::wstring refusedFolder_;
    std::wstring refusedWhat_;
};
