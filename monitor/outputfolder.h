// Where the print jobs go: an output root (a port's own folder, or the
// product's folder under the documents that all users share) and in it one
// folder per job owner.
//
// The root's DACL, protected from inheritance, has SYSTEM and Administrators
// only. Users reach their own folders through "bypass traverse checking",
// which every user holds by default; so no user can open the root, and no
// handle of theirs can stand in a job's way (FILE_TRAVERSE is the bit of
// FILE_EXECUTE, which the sharing check counts as reading). An owner's folder
// adds the owner, who may list it and read and delete the jobs' files in it,
// but not rename or remove the folder. Jobs whose owner cannot be learned go
// into a folder that only SYSTEM and Administrators can reach, so that not
// knowing the owner never gives anybody more access.
//
// Every path stays within MAX_PATH, so that every program can open the jobs:
// a root is refused when it leaves too little room, and an owner's folder
// name is cut to the room there is.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "monitor/jobowner.h"
#include "monitor/securefolder.h"

// <common documents>\Zorvane Creator (CSIDL_COMMON_DOCUMENTS).
DWORD DefaultOutputFolder(std::wstring& folder);

// Whether root can be an output root, and its full path. Refused with
// ERROR_BAD_PATHNAME: what is not an absolute path on a local drive
// (relative and drive-relative paths, "\\?\", "\\.\", UNC paths, network
// drives, device names), a drive's root, the Windows folder and what is in
// it; with ERROR_FILENAME_EXCED_RANGE: a path too long to hold the jobs'
// files.
DWORD CheckOutputRoot(const std::wstring& root, std::wstring& fullPath);

// The room every owner's folder leaves for a file's name: the longest name
// of a job kept as incomplete, "<yyyymmdd>-<hhmmss>-job4294967295-incomplete-9999.xps";
// a document's name is cut to the room there is (FileNameRoom).
constexpr size_t kLongestJobFileName = 49;

// The folder, under an output root, of the jobs of an owner that cannot be
// learned. Its brackets cannot occur in an account name.
extern const wchar_t kUnknownOwnerFolder[];

// The job's two folders, held open while the job is written.
struct JobFolders {
    SecureFolder root;
    SecureFolder owner;
};

// The security of an output root and of the unknown owner's folder:
// SYSTEM and Administrators only, protected from inheritance.
extern const wchar_t kRootSecurity[];

// Takes the root (see OutputRoots) and opens root\<owner's user name> in it,
// creating it when missing. A user name that cannot name a folder
// (characters no account name holds, a device name such as CON or LPT1.txt,
// a trailing dot or blank) and an unknown owner give the unknown owner's
// folder; a folder of that user name that grants another account gives way
// to "<user name> (<SID>)". ERROR_FILENAME_EXCED_RANGE when the root leaves
// too little room for the jobs' paths.
DWORD OpenJobFolders(SecureFolder root, const JobOwner& owner, JobFolders& folders);

// The folders under root that jobs may have been written into (root itself
// and its owner folders), each checked as SecureFolder checks, nothing
// created or changed. Empty when the root is not there or is refused.
std::vector<SecureFolder> ExistingJobFolders(const std::wstring& root);

// How long a file's name in folder may be for its path to stay within
// MAX_PATH.
size_t FileNameRoom(const std::wstring& folder);

// folder and fileName with one separator between them.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& fileName);
