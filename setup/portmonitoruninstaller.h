// PortMonitorUninstaller: unregisters the port monitor from the spooler.
#pragma once

#include <string>

#include "setup/installer.h"

class PortMonitorUninstaller : public Installer {
public:
    PortMonitorUninstaller(const std::wstring& monitorName, const std::wstring& portName,
                           const std::wstring& logPath);

    // True when the monitor is gone afterwards, also when it never was there.
    // Once it is gone, so is its event source (a failure there is logged).
    bool DeleteMonitor();
    // Called while the spooler is stopped; there is nothing to do then.
    int OnSpoolerStopped();

protected:
    void DeleteEventSource();

    std::wstring monitorName;
    std::wstring portName;
};
