// SecureFolder: a folder the monitor writes jobs into, held open for as long
// as it is used. The spooler runs the monitor as SYSTEM and every user can
// print, so a folder is used only when nobody else can have put it there or
// redirected it: a plain directory (no reparse point, and the path the
// system really gives it is the path asked for) whose owner is SYSTEM,
// Administrators or the account the spooler runs as. The handle is opened
// without FILE_SHARE_DELETE, so nobody renames or removes the folder while a
// job uses it; where a handle somebody else holds refuses that, the folder
// is opened all the same (see OpenFolder in securefolder.cpp), and its
// access list alone must keep others from renaming it.
#pragma once

#include <string>

#include <windows.h>

#include "platform/handles.h"

class SecureFolder {
public:
    enum class Missing { Create, Fail };

    SecureFolder() = default;

    // Opens the folder at path. A missing folder is created with the
    // security descriptor given in SDDL (Missing::Create) or answers
    // ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND. An existing folder must be
    // plain (else ERROR_CANT_ACCESS_FILE; a file in its place gives
    // ERROR_DIRECTORY) and held by a trusted owner (else ERROR_INVALID_OWNER);
    // when grantee is given, its DACL must allow that account already (else
    // ERROR_INVALID_OWNER: it is another account's folder). Its DACL is then
    // brought to the descriptor's, protected from inheritance. A null sddl
    // only checks the folder: nothing is created or changed.
    static DWORD Open(const std::wstring& path, const wchar_t* sddl, Missing missing, PSID grantee,
                      SecureFolder& folder);

    // Opens a drive's root ("C:\"), where a walk down to a folder begins.
    static DWORD OpenDrive(const std::wstring& driveRoot, SecureFolder& folder);

    // Opens the folder name (one component) in parent, relative to the
    // parent's handle (which KeepInPlace held): the entry itself, never where
    // a link or junction in its place leads, with no right to its content, so
    // that it can be judged without being opened for what it holds. With
    // sddl a missing folder is made with that descriptor (created tells so);
    // without, it answers ERROR_FILE_NOT_FOUND. It must be a plain directory:
    // a file answers ERROR_DIRECTORY, a link or junction
    // ERROR_CANT_ACCESS_FILE. Nothing of it is changed.
    static DWORD OpenIn(const SecureFolder& parent, const std::wstring& name, const wchar_t* sddl,
                        SecureFolder& folder, bool& created);

    // Holds a folder from OpenIn so that nobody renames or removes it while
    // it is held: opened again through its handle, without delete sharing.
    // Where a handle somebody holds refuses that, it stays held with rights
    // outside the sharing check (HeldOutsideSharing).
    DWORD KeepInPlace();

    // Whether a handle somebody else holds kept the folder from being held
    // without delete sharing: nothing keeps it from being renamed but its
    // access list.
    bool HeldOutsideSharing() const { return outsideSharing_; }

    // The checks of a plain directory again, on the handle and the path:
    // before a name is given in the folder.
    DWORD CheckStillPlain() const;

    // The folder's full path, as checked.
    const std::wstring& Path() const { return path_; }
    HANDLE Handle() const { return handle_.Get(); }

private:
    // Opens the folder at its full path and checks it as plain.
    DWORD Hold(const std::wstring& fullPath);

    std::wstring path_;
    FileHandle handle_;
    bool outsideSharing_ = false;
};

// The full path with long names and without a trailing separator, as
// GetFinalPathNameByHandleW gives it for a path that leads where it says.
std::wstring NormalizedPath(const std::wstring& path);
