#include "engine/failure.h"

#include <cstdio>

#include "platform/systemmessage.h"

namespace engine {

std::wstring DescribeFailure(HRESULT hr) {
    static const struct {
        HRESULT hr;
        const wchar_t* text;
    } kReasons[] = {
        {HRESULT_FROM_WIN32(ERROR_BAD_FORMAT), L"not an XPS document"},
        {HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), L"the package is damaged"},
        {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L"a part the document names is missing"},
        {HRESULT_FROM_WIN32(ERROR_INVALID_DATA), L"a part of the document is invalid"},
        {HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), L"the document uses what the engine does not read"},
        {HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), L"the document is over one of the engine's limits"},
        {HRESULT_FROM_WIN32(ERROR_TIMEOUT), L"the conversion took longer than its time limit"},
        {HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_QUOTA), L"the document asks for more work than its size allows"},
        {E_OUTOFMEMORY, L"out of memory"},
        {E_NOTIMPL, L"the engine does not make this format yet"},
    };
    wchar_t pCode[16];
    std::swprintf(pCode, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    for (const auto& known : kReasons) {
        if (known.hr == hr) {
            return std::wstring(known.text) + L" (" + pCode + L")";
        }
    }
    std::wstring reason = SystemMessage(static_cast<DWORD>(hr));
    while (!reason.empty() && reason.back() == L'.') {
        reason.pop_back();
    }
    return (reason.empty() ? std::wstring(L"failure") : reason) + L" (" + pCode + L")";
}

}  // namespace engine
