#include "monitor/samename.h"

#include <windows.h>
#include <winternl.h>

namespace {

using CompareStringOrdinalFn = int(WINAPI*)(LPCWSTR, int, LPCWSTR, int, BOOL);
using RtlEqualUnicodeStringFn = BOOLEAN(NTAPI*)(PCUNICODE_STRING, PCUNICODE_STRING, BOOLEAN);

// UNICODE_STRING counts bytes in 16 bits.
constexpr size_t kLongestName = 32767;

template <typename Fn>
Fn SystemFunction(const wchar_t* module, const char* name) {
    // kernel32 and ntdll are loaded in every process for its whole life.
    HMODULE hModule = ::GetModuleHandleW(module);
    return hModule == nullptr
               ? nullptr
               : reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(hModule, name)));
}

UNICODE_STRING Counted(const std::wstring& text) {
    UNICODE_STRING counted;
    counted.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    counted.MaximumLength = counted.Length;
    counted.Buffer = const_cast<wchar_t*>(text.data());
    return counted;
}

}  // namespace

bool SameName(const std::wstring& a, const std::wstring& b) {
    static const CompareStringOrdinalFn compareOrdinal =
        SystemFunction<CompareStringOrdinalFn>(L"kernel32.dll", "CompareStringOrdinal");
    if (compareOrdinal == nullptr) {
        return SameNameThroughNtdll(a, b);
    }
    return a.size() <= kLongestName && b.size() <= kLongestName &&
           compareOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
               CSTR_EQUAL;
}

bool SameNameThroughNtdll(const std::wstring& a, const std::wstring& b) {
    static const RtlEqualUnicodeStringFn equal =
        SystemFunction<RtlEqualUnicodeStringFn>(L"ntdll.dll", "RtlEqualUnicodeString");
    if (equal == nullptr || a.size() > kLongestName || b.size() > kLongestName) {
        return false;
    }
    UNICODE_STRING countedA = Counted(a);
    UNICODE_STRING countedB = Counted(b);
    return equal(&countedA, &countedB, TRUE) != FALSE;
}
