// What an administrator sees: the monitor's entries in the Windows
// Application event log, under the event source the installation registers
// (HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\<monitor
// name>, whose EventMessageFile is zorvanemon.dll). The messages are the
// DLL's message table (monitormessages.mc).
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "monitormessages.h"

class EventSink {
public:
    virtual ~EventSink() = default;
    // One entry: a message of the table and its insertion strings.
    virtual void Report(DWORD messageId, const std::vector<std::wstring>& strings) = 0;
};

// RegisterEventSourceW, ReportEventW and DeregisterEventSource for each
// entry: entries are rare, and the event log service need not run when the
// spooler starts. A failure loses the entry and nothing else.
class WindowsEventLog : public EventSink {
public:
    void Report(DWORD messageId, const std::vector<std::wstring>& strings) override;
};

// The system's text for the code with the code itself: "Access is denied.
// (error 5)".
std::wstring SystemErrorText(DWORD dwError);
