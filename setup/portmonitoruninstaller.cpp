#include "setup/portmonitoruninstaller.h"

#include "setup/portmonitorinstaller.h"

PortMonitorUninstaller::PortMonitorUninstaller(const std::wstring& monitorName, const std::wstring& portName,
                                               const std::wstring& logPath)
    : Installer(L"", logPath), monitorName(monitorName), portName(portName) {}

bool PortMonitorUninstaller::DeleteMonitor() {
    if (sys::DeleteMonitorW(nullptr, nullptr, &monitorName[0])) {
        Log(L"Deleted printer port monitor '%s'", monitorName);
        DeleteEventSource();
        return true;
    }
    DWORD dwError = sys::GetLastError();
    if (dwError == ERROR_UNKNOWN_PRINT_MONITOR) {
        Log(L"Port monitor '%s' is unknown or already deleted", monitorName);
        DeleteEventSource();
        return true;
    }
    LogError(L"DeleteMonitor", dwError);
    return false;
}

void PortMonitorUninstaller::DeleteEventSource() {
    LONG lResult = sys::RegDeleteKeyW(HKEY_LOCAL_MACHINE, EventSourceKey(monitorName).c_str());
    if (lResult != ERROR_SUCCESS && lResult != ERROR_FILE_NOT_FOUND) {
        LogError(L"RegDeleteKey", static_cast<DWORD>(lResult));
        Log(L"Unable to remove the event source of port monitor '%s'", monitorName);
    }
}

int PortMonitorUninstaller::OnSpoolerStopped() { return 1; }
