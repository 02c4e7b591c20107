#include "monitor/eventlog.h"

#include "monitor/portmonitor.h"
#include "platform/handles.h"
#include "platform/systemmessage.h"

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
    std::wstring message = SystemMessage(dwError);
    return (message.empty() ? std::wstring() : message + L" ") + L"(error " + std::to_wstring(dwError) + L")";
}
