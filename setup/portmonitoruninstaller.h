// PortMonitorUninstaller: unregisters the port monitor from the spooler.
#pragma once

#include <string>

#include "setup/installer.h"

class PortMonitorUninstaller : public Installer {
public:
    PortMonitorUninstaller(const std::wstring& monitorName, const std::wstring& portName,
                           const std::wstring& logPath);

    // True when the monitor is gone afterwards, also when it never was there.
    bool DeleteMonitor();
    // Called while the spooler is stopped; there is nothing to do then.
    int OnSpoolerStopped();

protected:
    std::wstring monitorName;
    std::wstring portName;
};
