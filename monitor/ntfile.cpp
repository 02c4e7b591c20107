#include "monitor/ntfile.h"

#include <winternl.h>

namespace {

// NtCreateFile's documented options and results that the headers may lack.
constexpr ULONG kFileOpen = 0x00000001;
constexpr ULONG kFileOpenIf = 0x00000003;
constexpr ULONG kFileDirectoryFile = 0x00000001;
constexpr ULONG kFileSynchronousIoNonalert = 0x00000020;
constexpr ULONG kFileOpenReparsePoint = 0x00200000;
constexpr ULONG_PTR kFileCreated = 2;

// FILE_DIRECTORY_INFORMATION, as NtQueryDirectoryFile fills it.
constexpr int kFileDirectoryInformation = 1;
struct DirectoryInformation {
    ULONG NextEntryOffset;
    ULONG FileIndex;
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    LARGE_INTEGER EndOfFile;
    LARGE_INTEGER AllocationSize;
    ULONG FileAttributes;
    ULONG FileNameLength;
    WCHAR FileName[1];
};

using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                        PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtQueryDirectoryFileFn = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                int, BOOLEAN, PUNICODE_STRING, BOOLEAN);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(NTSTATUS);

template <typename Fn>
Fn NtdllFunction(const char* name) {
    // ntdll is loaded in every process for its whole life.
    HMODULE hNtdll = ::GetModuleHandleW(L"ntdll.dll");
    return hNtdll == nullptr ? nullptr
                             : reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(hNtdll, name)));
}

DWORD ErrorOf(NTSTATUS status) {
    static const RtlNtStatusToDosErrorFn toDosError =
        NtdllFunction<RtlNtStatusToDosErrorFn>("RtlNtStatusToDosError");
    if (status >= 0) {
        return ERROR_SUCCESS;
    }
    return toDosError != nullptr ? toDosError(status) : ERROR_GEN_FAILURE;
}

// The name in hParent, case-insensitive as Win32 opens names.
struct RelativeName {
    RelativeName(HANDLE hParent, const std::wstring& name, PSECURITY_DESCRIPTOR pDescriptor) {
        text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
        text.MaximumLength = text.Length;
        text.Buffer = const_cast<wchar_t*>(name.data());
        attributes.Length = sizeof(attributes);
        attributes.RootDirectory = hParent;
        attributes.ObjectName = &text;
        attributes.Attributes = OBJ_CASE_INSENSITIVE;
        attributes.SecurityDescriptor = pDescriptor;
        attributes.SecurityQualityOfService = nullptr;
    }
    // A component only: a separator or ".." would leave the parent, and an
    // empty name opens the parent itself.
    static bool Fits(const std::wstring& name) {
        return !name.empty() && name.size() < 32768 && name.find_first_of(L"\\/") == std::wstring::npos &&
               name != L"." && name != L"..";
    }

    UNICODE_STRING text;
    OBJECT_ATTRIBUTES attributes;
};

// NtCreateFile of a folder relative to hParent: the entry itself
// (FILE_OPEN_REPARSE_POINT), made with pCreate when missing.
DWORD Open(HANDLE hParent, const std::wstring& name, ACCESS_MASK access, ULONG share,
           PSECURITY_DESCRIPTOR pCreate, FileHandle& folder, bool& created) {
    static const NtCreateFileFn ntCreateFile = NtdllFunction<NtCreateFileFn>("NtCreateFile");
    created = false;
    if (ntCreateFile == nullptr) {
        return ERROR_PROC_NOT_FOUND;
    }
    RelativeName relative(hParent, name, pCreate);
    IO_STATUS_BLOCK status{};
    HANDLE hFolder = nullptr;
    NTSTATUS result =
        ntCreateFile(&hFolder, access | SYNCHRONIZE, &relative.attributes, &status, nullptr,
                     FILE_ATTRIBUTE_NORMAL, share, pCreate != nullptr ? kFileOpenIf : kFileOpen,
                     kFileDirectoryFile | kFileSynchronousIoNonalert | kFileOpenReparsePoint, nullptr, 0);
    DWORD dwError = ErrorOf(result);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    folder = FileHandle(hFolder);
    created = status.Information == kFileCreated;
    return ERROR_SUCCESS;
}

}  // namespace

namespace ntfile {

DWORD OpenFolderIn(HANDLE hParent, const std::wstring& name, ACCESS_MASK access, ULONG share,
                   PSECURITY_DESCRIPTOR pCreate, FileHandle& folder, bool& created) {
    return RelativeName::Fits(name) ? Open(hParent, name, access, share, pCreate, folder, created)
                                    : ERROR_INVALID_NAME;
}

DWORD ReopenFolder(HANDLE hFolder, ACCESS_MASK access, ULONG share, FileHandle& folder) {
    bool created = false;
    return Open(hFolder, std::wstring(), access, share, nullptr, folder, created);
}

DWORD AttributesIn(HANDLE hParent, const std::wstring& name, DWORD& attributes) {
    static const NtQueryDirectoryFileFn queryDirectory =
        NtdllFunction<NtQueryDirectoryFileFn>("NtQueryDirectoryFile");
    if (queryDirectory == nullptr) {
        return ERROR_PROC_NOT_FOUND;
    }
    // No wildcard can occur in a name that names a file.
    if (!RelativeName::Fits(name) || name.find_first_of(L"*?<>\"") != std::wstring::npos) {
        return ERROR_INVALID_NAME;
    }
    RelativeName mask(nullptr, name, nullptr);
    // Room for the record and the longest name a component has.
    alignas(8) BYTE buffer[sizeof(DirectoryInformation) + 256 * sizeof(wchar_t)];
    IO_STATUS_BLOCK status{};
    DWORD dwError =
        ErrorOf(queryDirectory(hParent, nullptr, nullptr, nullptr, &status, buffer, sizeof(buffer),
                               kFileDirectoryInformation, TRUE, &mask.text, TRUE));
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    const DirectoryInformation* entry = reinterpret_cast<const DirectoryInformation*>(buffer);
    attributes = entry->FileAttributes;
    return ERROR_SUCCESS;
}

}  // namespace ntfile
