// PortMonitorInstaller: finds the installation's own files, puts the port
// monitor into the system directory, registers it and creates the port.
#pragma once

#include <string>

#include "setup/installer.h"

// The directory of the running executable with its trailing separator, or
// empty when the path cannot be had whole or holds no separator.
std::wstring ExecutableDirectory();

// The monitor's event source: its key under HKEY_LOCAL_MACHINE, in the event
// log's Application log, named after the monitor.
std::wstring EventSourceKey(const std::wstring& monitorName);

class PortMonitorInstaller : public Installer {
public:
    PortMonitorInstaller(const std::wstring& sourceDir, const std::wstring& monitorName,
                         const std::wstring& portName, const std::wstring& logPath);

    // The executable's directory; it also becomes this object's sourceDir.
    std::wstring GetSourceDirectory();
    // Copies the monitor files and registers the monitor and its event
    // source; an already registered monitor counts as success.
    bool InstallMonitor(bool standalone);
    // "zorvanemon.dll", and for a stand-alone installation "queldac.dll",
    // into the system directory; failures are logged, never fatal.
    bool CopyMonitorFiles(bool standalone);
    // The event source the monitor reports to, with the monitor DLL as its
    // message file; a failure is logged and answered false.
    bool AddEventSource();
    // Asks the monitor, through the spooler's transceive channel, to create
    // the port; refuses a port that another monitor owns.
    bool AddPort();
    // Whether the port is not there or belongs to this monitor, as EnumPortsW
    // at level 2 lists them. A port of another monitor (Local Port's, say)
    // would never reach this monitor, so the printer could not print. A port
    // list that cannot be had is logged and counts as free: nothing was found
    // wrong.
    bool PortIsFreeOrOurs();

protected:
    std::wstring monitorName;
    std::wstring portName;
};
