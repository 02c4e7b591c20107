// Where the print jobs go: a port's own folder, or the product's folder under
// the documents that all users share.
#pragma once

#include <string>

#include <windows.h>

// <common documents>\Zorvane Creator (CSIDL_COMMON_DOCUMENTS).
DWORD DefaultOutputFolder(std::wstring& folder);

// Creates the folder and any missing folders above it; a folder that exists
// already is fine. ERROR_DIRECTORY when a file stands where a folder should.
DWORD EnsureFolder(const std::wstring& folder);

// folder and fileName with one separator between them.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& fileName);
