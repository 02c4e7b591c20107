// Functions that Windows Vista added to kernel32, looked up at run time so
// that the monitor still loads on the Windows XP generation. Each answers
// false with ERROR_PROC_NOT_FOUND where the system lacks the function.
#pragma once

#include <string>

#include <windows.h>

namespace newerapi {

// Whether the system renames and deletes through a handle (Windows Vista on).
bool HasFileInformationByHandle();

// The path the handle's file really has, as a DOS path without the "\\?\"
// prefix (GetFinalPathNameByHandleW). ERROR_PROC_NOT_FOUND on Windows XP.
DWORD FinalPath(HANDLE hFile, std::wstring& path);

// Gives the handle's file a new name in the same volume; never replaces an
// existing file (ERROR_ALREADY_EXISTS). The handle needs DELETE access.
bool RenameByHandle(HANDLE hFile, const std::wstring& newPath);

// Deletes the handle's file once the handle is closed. The handle needs
// DELETE access.
bool DeleteByHandle(HANDLE hFile);

}  // namespace newerapi
