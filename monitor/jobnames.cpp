#include "monitor/jobnames.h"

#include <cwchar>

namespace {

const wchar_t kUntitled[] = L"Untitled";

// What applications put before the document's own name.
const wchar_t* const kApplicationPrefixes[] = {
    L"Microsoft Word - ",      L"Microsoft Excel - ",  L"Microsoft PowerPoint - ", L"Microsoft Visio - ",
    L"Microsoft Publisher - ", L"Microsoft Access - ", L"Microsoft OneNote - ",
};

// Extensions of document types: the job's file gets the extension of what
// it holds instead.
const wchar_t* const kDocumentExtensions[] = {
    L".doc",  L".docx", L".docm", L".dotx", L".xls",  L".xlsx", L".xlsm", L".csv",  L".ppt",
    L".pptx", L".pptm", L".pub",  L".vsd",  L".vsdx", L".txt",  L".rtf",  L".odt",  L".ods",
    L".odp",  L".odg",  L".htm",  L".html", L".mht",  L".xml",  L".xps",  L".oxps", L".pdf",
    L".svg",  L".emf",  L".png",  L".jpg",  L".jpeg", L".gif",  L".bmp",  L".tif",  L".tiff",
};

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool StartsWithNoCase(const std::wstring& text, const wchar_t* start) {
    size_t cch = std::wcslen(start);
    return text.size() >= cch && ::_wcsnicmp(text.c_str(), start, cch) == 0;
}

bool EndsWithNoCase(const std::wstring& text, const wchar_t* end) {
    size_t cch = std::wcslen(end);
    return text.size() > cch && ::_wcsicmp(text.c_str() + text.size() - cch, end) == 0;
}

// "C:\Users\Me\Report.docx" and "\\server\share\Report.docx" as "Report.docx".
std::wstring LastPartOfPath(const std::wstring& name) {
    bool isPath = (name.size() > 2 && name[1] == L':' && IsSeparator(name[2])) ||
                  (name.size() > 1 && IsSeparator(name[0]) && IsSeparator(name[1]));
    return isPath ? name.substr(name.find_last_of(L"\\/") + 1) : name;
}

std::wstring WithoutApplicationPrefix(const std::wstring& name) {
    for (const wchar_t* prefix : kApplicationPrefixes) {
        if (StartsWithNoCase(name, prefix)) {
            return name.substr(std::wcslen(prefix));
        }
    }
    return name;
}

std::wstring WithoutDocumentExtension(const std::wstring& name) {
    for (const wchar_t* extension : kDocumentExtensions) {
        if (EndsWithNoCase(name, extension)) {
            return name.substr(0, name.size() - std::wcslen(extension));
        }
    }
    return name;
}

// What Windows cannot have in a file's name.
std::wstring WithoutForbiddenCharacters(const std::wstring& name) {
    const std::wstring kForbidden = L"\\/:*?\"<>|";
    std::wstring kept;
    for (wchar_t c : name) {
        if (c >= 0x20 && kForbidden.find(c) == std::wstring::npos) {
            kept += c;
        }
    }
    return kept;
}

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

bool IsDeviceName(const std::wstring& name) {
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ') {
        base.pop_back();
    }
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CONERR$"}) {
        if (::_wcsicmp(base.c_str(), device) == 0) {
            return true;
        }
    }
    wchar_t last = base.size() == 4 ? base[3] : L'\0';
    bool numbered =
        (last >= L'0' && last <= L'9') || last == L'\u00b9' || last == L'\u00b2' || last == L'\u00b3';
    return numbered &&
           (::_wcsnicmp(base.c_str(), L"COM", 3) == 0 || ::_wcsnicmp(base.c_str(), L"LPT", 3) == 0);
}

std::wstring WithoutTrailingDotsAndBlanks(std::wstring name) {
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) {
        name.pop_back();
    }
    return name;
}

std::wstring CutName(const std::wstring& name, size_t room) {
    if (name.size() <= room) {
        return name;
    }
    size_t end = room > 0 && IsHighSurrogate(name[room - 1]) ? room - 1 : room;
    return WithoutTrailingDotsAndBlanks(name.substr(0, end));
}

std::wstring DocumentStem(const wchar_t* pDocName) {
    std::wstring name = LastPartOfPath(WithoutApplicationPrefix(pDocName != nullptr ? pDocName : L""));
    name = WithoutTrailingDotsAndBlanks(WithoutForbiddenCharacters(name));
    name = WithoutTrailingDotsAndBlanks(WithoutDocumentExtension(name));
    name.erase(0, name.find_first_not_of(L' '));
    return name.empty() || IsDeviceName(name) ? kUntitled : name;
}

std::wstring DocumentFileName(const std::wstring& stem, unsigned long long n, size_t page, size_t pages,
                              const wchar_t* extension, size_t room) {
    std::wstring suffix = n > 1 ? L" (" + std::to_wstring(n) + L")" : L"";
    if (pages > 1) {
        suffix += L"-" + std::to_wstring(page);
    }
    suffix += extension;
    size_t stemRoom = room > suffix.size() ? room - suffix.size() : 0;
    std::wstring cut = CutName(stem, stemRoom);
    if (cut.empty() || IsDeviceName(cut + suffix)) {
        cut = CutName(kUntitled, stemRoom);
    }
    return cut + suffix;
}

DWORD FirstFreeTry(const std::wstring& stem, size_t pages, const wchar_t* extension, size_t room,
                   const NameTaken& isTaken, unsigned long long& n) {
    for (;; ++n) {
        bool taken = false;
        for (size_t page = 1; page <= pages && !taken; ++page) {
            DWORD dwError = isTaken(DocumentFileName(stem, n, page, pages, extension, room), taken);
            if (dwError != ERROR_SUCCESS) {
                return dwError;
            }
        }
        if (!taken) {
            return ERROR_SUCCESS;
        }
    }
}

std::wstring IncompleteFileName(const SYSTEMTIME& stamp, const std::wstring& label, unsigned long long n,
                                const wchar_t* extension) {
    wchar_t pStamp[32];
    int cch = std::swprintf(pStamp, sizeof(pStamp) / sizeof(pStamp[0]), L"%04u%02u%02u-%02u%02u%02u-",
                            stamp.wYear, stamp.wMonth, stamp.wDay, stamp.wHour, stamp.wMinute, stamp.wSecond);
    std::wstring name = std::wstring(pStamp, cch > 0 ? static_cast<size_t>(cch) : 0) + label + L"-incomplete";
    if (n > 1) {
        name += L"-" + std::to_wstring(n);
    }
    return name + extension;
}
