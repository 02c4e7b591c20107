// Where the print jobs go: an output root (a port's own folder, or the
// product's folder under the documents that all users share) and in it one
// folder per job owner.
//
// The root's DACL, protected from inheritance: SYSTEM and Administrators
// have full control, Users may only pass through. An owner's folder adds the
// owner, who may read and delete what it holds. Jobs whose owner cannot be
// learned go into a folder that only SYSTEM and Administrators can reach, so
// that not knowing the owner never gives anybody more access.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "monitor/securefolder.h"
#include "monitor/spoolerjob.h"

// <common documents>\Zorvane Creator (CSIDL_COMMON_DOCUMENTS).
DWORD DefaultOutputFolder(std::wstring& folder);

// Creates the folder and any missing folders above it, with the security
// they inherit; a folder that exists already is fine. ERROR_DIRECTORY when a
// file stands where a folder should. For the folders above an output root.
DWORD EnsureFolder(const std::wstring& folder);

// The folder, under an output root, of the jobs of an owner that cannot be
// learned. Its brackets cannot occur in an account name.
extern const wchar_t kUnknownOwnerFolder[];

// The job's two folders, held open while the job is written.
struct JobFolders {
    SecureFolder root;
    SecureFolder owner;
};

// Opens root and root\<owner's user name>, creating what is missing. A user
// name that cannot name a folder, and an unknown owner, give the unknown
// owner's folder; a folder of that user name that grants another account
// gives way to "<user name> (<SID>)".
DWORD OpenJobFolders(const std::wstring& root, const JobOwner& owner, JobFolders& folders);

// The folders under root that jobs may have been written into (root itself
// and its owner folders), each checked as SecureFolder checks, nothing
// created; the root's DACL is brought to the root's. Empty when the root is
// not there.
std::vector<SecureFolder> ExistingJobFolders(const std::wstring& root);

// folder and fileName with one separator between them.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& fileName);
