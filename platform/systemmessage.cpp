#include "platform/systemmessage.h"

#include "platform/handles.h"

std::wstring SystemMessage(DWORD code) {
    wchar_t* pText = nullptr;
    DWORD cch = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<LPWSTR>(&pText), 0, nullptr);
    LocalText text(pText);
    std::wstring message = cch > 0 && text ? std::wstring(text.Get(), cch) : std::wstring();
    while (!message.empty() &&
           (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ')) {
        message.pop_back();
    }
    return message;
}
