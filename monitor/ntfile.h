// Folders opened relative to the folder above them, through ntdll's native
// file functions (NtCreateFile, NtQueryDirectoryFile), which every Windows
// from XP on exports. They are looked up at run time: the monitor imports
// kernel32 and advapi32 only. The name is resolved inside the folder whose
// handle is held, so no rename or link above it can change where it leads.
#pragma once

#include <string>

#include <windows.h>

#include "platform/handles.h"

namespace ntfile {

// Opens the folder name (one component) in hParent: the directory entry
// itself (FILE_OPEN_REPARSE_POINT), not where a link or junction in its
// place leads. With pCreate, a missing folder is made with that security
// descriptor, and created tells so. A file in its place answers
// ERROR_DIRECTORY; a share mode that a handle somebody holds refuses,
// ERROR_SHARING_VIOLATION.
DWORD OpenFolderIn(HANDLE hParent, const std::wstring& name, ACCESS_MASK access, ULONG share,
                   PSECURITY_DESCRIPTOR pCreate, FileHandle& folder, bool& created);

// Opens the folder hFolder is open on once more, through that handle (an
// empty name relative to it, as ReOpenFile does), with other access and
// sharing: no name is looked up again.
DWORD ReopenFolder(HANDLE hFolder, ACCESS_MASK access, ULONG share, FileHandle& folder);

// The attributes of the entry name in hParent as the directory lists it
// (NtQueryDirectoryFile; hParent needs FILE_LIST_DIRECTORY): Wine shows a
// symbolic link only there, not on a handle opened through it.
DWORD AttributesIn(HANDLE hParent, const std::wstring& name, DWORD& attributes);

}  // namespace ntfile
