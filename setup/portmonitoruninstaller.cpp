#include "setup/portmonitoruninstaller.h"

PortMonitorUninstaller::PortMonitorUninstaller(const std::wstring& monitorName, const std::wstring& portName,
                                               const std::wstring& logPath)
    : Installer(L"", logPath), monitorName(monitorName), portName(portName) {}

bool PortMonitorUninstaller::DeleteMonitor() {
    if (sys::DeleteMonitorW(nullptr, nullptr, &monitorName[0])) {
        Log(L"Deleted printer port monitor '%s'", monitorName);
        return true;
    }
    DWORD dwError = sys::GetLastError();
    if (dwError == ERROR_UNKNOWN_PRINT_MONITOR) {
        Log(L"Port monitor '%s' is unknown or already deleted", monitorName);
        return true;
    }
    LogError(L"DeleteMonitor", dwError);
    return false;
}

int PortMonitorUninstaller::OnSpoolerStopped() { return 1; }
