// Names compared as the file system and the account database compare them:
// without regard to case over all of Unicode ("\u00c9" is "\u00e9"), one
// UTF-16 unit against one ("\u00df" is not "SS"). The C runtime's _wcsicmp
// folds ASCII only. For paths and account names alike.
#pragma once

#include <string>

// CompareStringOrdinal with bIgnoreCase (Windows Vista on), else
// RtlEqualUnicodeString with CaseInSensitive (Windows XP); both are looked
// up at run time. Names over 32,767 units are never the same.
bool SameName(const std::wstring& a, const std::wstring& b);

// The Windows XP way, whatever the system: SameName takes it where
// CompareStringOrdinal is missing.
bool SameNameThroughNtdll(const std::wstring& a, const std::wstring& b);
