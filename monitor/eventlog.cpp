#include "monitor/eventlog.h"

#include "monitor/portmonitor.h"
#include "platform/handles.h"

namespace {

struct EventSourceTraits : NullWhenMissing<HANDLE> {
    static bool Close(Handle h) { return ::DeregisterEventSource(h) != FALSE; }
};
using EventSource = UniqueHandle<EventSourceTraits>;

// The entry's type from the severity of its message (the two top bits).
WORD EventType(DWORD messageId) {
    switch (messageId >> 30) {
        case STATUS_SEVERITY_ERROR:
            return EVENTLOG_ERROR_TYPE;
        case STATUS_SEVERITY_WARNING:
            return EVENTLOG_WARNING_TYPE;
        default:
            return EVENTLOG_INFORMATION_TYPE;
    }
}

}  // namespace

void WindowsEventLog::Report(DWORD messageId, const std::vector<std::wstring>& strings) {
    EventSource source(::RegisterEventSourceW(nullptr, PortMonitor::kMonitorName));
    if (!source) {
        return;
    }
    std::vector<LPCWSTR> insertions;
    for (const std::wstring& text : strings) {
        insertions.push_back(text.c_str());
    }
    ::ReportEventW(source.Get(), EventType(messageId), 0, messageId, nullptr,
                   static_cast<WORD>(insertions.size()), 0, insertions.data(), nullptr);
}

std::wstring SystemErrorText(DWORD dwError) {
    wchar_t* pText = nullptr;
    DWORD cch = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        dwError, 0, reinterpret_cast<LPWSTR>(&pText), 0, nullptr);
    LocalText text(pText);
    std::wstring message = cch > 0 ? std::wstring(text.Get(), cch) : std::wstring();
    while (!message.empty() &&
           (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ')) {
        message.pop_back();
    }
    return (message.empty() ? std::wstring() : message + L" ") + L"(error " + std::to_wstring(dwError) + L")";
}
