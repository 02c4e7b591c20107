// The names of a job's files in its owner's folder, and of the folders:
//   - a job written whole is named after its document: "<document><ext>",
//     then "<document> (2)<ext>", "<document> (3)<ext>"... while a name is
//     taken; a file set of several pages is "<document>-1<ext>",
//     "<document>-2<ext>"..., with one " (n)" for the whole set, before the
//     page's number;
//   - a job kept as incomplete is "<yyyymmdd>-<hhmmss>-<label>-incomplete<ext>",
//     then with "-2", "-3"... while a name is taken; the label is "job<id>",
//     or "interrupted" for what a job cut off by a stop left.
// Every name fits the room it is given (the characters left for it in a path
// of MAX_PATH), cut on a UTF-16 boundary, never inside a surrogate pair.
#pragma once

#include <functional>
#include <string>

#include <windows.h>

// Names of devices in every folder, also with an extension, "NUL.txt"
// ("Naming Files, Paths, and Namespaces": CON, PRN, AUX, NUL, and COM and
// LPT with the digits 0 to 9 and the superscripts one to three; and the
// console's CONIN$, CONOUT$ and CONERR$, which Windows 8 on opens as devices).
bool IsDeviceName(const std::wstring& name);

// name without the dots and blanks at its end, which Windows drops.
std::wstring WithoutTrailingDotsAndBlanks(std::wstring name);

// name cut to at most room UTF-16 units, never between the two units of a
// surrogate pair, without the dots and blanks a cut leaves at its end.
std::wstring CutName(const std::wstring& name, size_t room);

// What a document's name (DOC_INFO_1's pDocName, null when the spooler gave
// none) leaves to name its files: a full path's last part; without the
// application's own prefix ("Microsoft Word - ") and a document type's
// extension ("Report.docx"); without \ / : * ? " < > |, control characters,
// leading blanks and trailing dots and blanks. "Untitled" when nothing is
// left or a device name is. Not cut: see DocumentFileName.
std::wstring DocumentStem(const wchar_t* pDocName);

// The name of a job's file at the n-th try (from 1) in room characters:
// "<stem>[ (n)][-<page>]<extension>", the page's number (from 1) only in a
// set of several pages. The stem is cut to fit; a cut that leaves nothing,
// or a device name, gives "Untitled".
std::wstring DocumentFileName(const std::wstring& stem, unsigned long long n, size_t page, size_t pages,
                              const wchar_t* extension, size_t room);

// Whether a name is taken in the owner's folder: ERROR_SUCCESS with the
// answer, or the error that kept it from being learned.
using NameTaken = std::function<DWORD(const std::wstring& name, bool& taken)>;

// The first try from n on (n is updated) at which no name of a set of pages
// is taken.
DWORD FirstFreeTry(const std::wstring& stem, size_t pages, const wchar_t* extension, size_t room,
                   const NameTaken& isTaken, unsigned long long& n);

// The name of a job kept as incomplete at the n-th try (from 1).
std::wstring IncompleteFileName(const SYSTEMTIME& stamp, const std::wstring& label, unsigned long long n,
                                const wchar_t* extension);
