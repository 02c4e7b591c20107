// The part of <windows.h> the portable sources use, with Windows' sizes and
// values, so that the fuzz targets build on Linux. Calls that reach the
// system are declared here and faked in fakes.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using HRESULT = std::int32_t;
using INT = int;
using UINT = unsigned int;
using BOOL = int;
using FLOAT = float;
using REAL = float;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using ULONG_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using WCHAR = wchar_t;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPVOID = void*;
using HANDLE = void*;
using HMODULE = struct HINSTANCE__*;
using HKEY = struct HKEY__*;
using HLOCAL = void*;
using HDC = struct HDC__*;
using COLORREF = DWORD;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define MAXDWORD 0xffffffffu
#define INFINITE 0xffffffffu
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(~std::uintptr_t{0}))
#define INVALID_FILE_SIZE 0xffffffffu

#define SEVERITY_SUCCESS 0
#define SEVERITY_ERROR 1
#define FACILITY_ITF 4
#define FACILITY_WIN32 7
#define MAKE_HRESULT(sev, fac, code)                                                                         \
    static_cast<HRESULT>((static_cast<std::uint32_t>(sev) << 31) | (static_cast<std::uint32_t>(fac) << 16) | \
                         static_cast<std::uint32_t>(code))
constexpr HRESULT HRESULT_FROM_WIN32(std::uint32_t x) {
    return static_cast<HRESULT>(x) <= 0
               ? static_cast<HRESULT>(x)
               : static_cast<HRESULT>((x & 0xFFFF) | (FACILITY_WIN32 << 16) | 0x80000000u);
}
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

#define S_OK static_cast<HRESULT>(0)
#define S_FALSE static_cast<HRESULT>(1)
#define E_NOTIMPL static_cast<HRESULT>(0x80004001u)
#define E_POINTER static_cast<HRESULT>(0x80004003u)
#define E_FAIL static_cast<HRESULT>(0x80004005u)
#define E_UNEXPECTED static_cast<HRESULT>(0x8000FFFFu)
#define E_OUTOFMEMORY static_cast<HRESULT>(0x8007000Eu)
#define E_INVALIDARG static_cast<HRESULT>(0x80070057u)

#define ERROR_SUCCESS 0u
#define NO_ERROR 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_BAD_FORMAT 11u
#define ERROR_INVALID_DATA 13u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_FILE_TOO_LARGE 223u
#define ERROR_TIMEOUT 1460u
#define ERROR_STACK_OVERFLOW 1001u
#define ERROR_NOT_ENOUGH_QUOTA 1816u
#define ERROR_FILE_CORRUPT 1392u
#define ERROR_NO_UNICODE_TRANSLATION 1113u

#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x1u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x80u

struct SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
struct CRITICAL_SECTION {
    void* unused;
};
struct SECURITY_ATTRIBUTES;
struct OVERLAPPED {
    ULONG_PTR Internal, InternalHigh;
    DWORD Offset, OffsetHigh;
    HANDLE hEvent;
};
struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2, Data3;
    std::uint8_t Data4[8];
};
using REFGUID = const GUID&;
using REFIID = const GUID&;
struct POINT {
    LONG x, y;
};
struct RECT {
    LONG left, top, right, bottom;
};

// The system's side, faked in fakes.cpp: files never open, time stands still.
HANDLE CreateFileW(LPCWSTR, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD, DWORD, HANDLE);
BOOL ReadFile(HANDLE, LPVOID, DWORD, DWORD*, OVERLAPPED*);
DWORD GetFileSize(HANDLE, DWORD*);
BOOL CloseHandle(HANDLE);
BOOL FindClose(HANDLE);
LONG RegCloseKey(HKEY);
BOOL FreeLibrary(HMODULE);
HLOCAL LocalFree(HLOCAL);
DWORD GetLastError();
void SetLastError(DWORD);
DWORD GetTickCount();
void Sleep(DWORD);
void GetSystemTime(SYSTEMTIME*);
void InitializeCriticalSection(CRITICAL_SECTION*);
void DeleteCriticalSection(CRITICAL_SECTION*);
void EnterCriticalSection(CRITICAL_SECTION*);
void LeaveCriticalSection(CRITICAL_SECTION*);
