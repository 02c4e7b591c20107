// PortMonitor: one initialised instance of the monitor (the spooler's
// hMonitor), with its registry, its ports and the event log its ports report
// to. It lists the ports and opens them and the configuration channel.
#pragma once

#include <memory>

#include <windows.h>

#include "monitor/eventlog.h"
#include "monitor/monitorregistry.h"
#include "monitor/outputroots.h"
#include "monitor/portstore.h"
#include "monitor/printport.h"
#include "monitor/xcvsession.h"

class PortMonitor {
public:
    static constexpr DWORD kSignature = 0x4E4F4D5A;  // "ZMON"
    static const wchar_t kMonitorName[];
    static const wchar_t kPortDescription[];

    // Also makes the output roots (the default root and each port's own, see
    // OutputRoots) and keeps what interrupted jobs left in them as incomplete
    // files, reporting each.
    static DWORD Create(const MONITORINIT& init, std::unique_ptr<PortMonitor>& monitor);

    explicit PortMonitor(std::unique_ptr<MonitorRegistry> registry);
    PortMonitor(const PortMonitor&) = delete;
    PortMonitor& operator=(const PortMonitor&) = delete;

    bool HasSignature() const { return signature_ == kSignature; }

    // EnumPorts at level 1 (PORT_INFO_1W) or 2 (PORT_INFO_2W): the records,
    // then their strings, in one buffer. cbNeeded is always set;
    // ERROR_INSUFFICIENT_BUFFER when the buffer is missing or too small,
    // ERROR_INVALID_LEVEL for another level.
    DWORD EnumPorts(DWORD level, BYTE* pPorts, DWORD cbBuf, DWORD& cbNeeded, DWORD& cReturned) const;
    // ERROR_UNKNOWN_PORT for a port this monitor does not have. Makes the
    // root of an OutputFolder that is new to the monitor.
    DWORD OpenPort(const wchar_t* portName, std::unique_ptr<PrintPort>& port) const;
    std::unique_ptr<XcvSession> OpenXcv(ACCESS_MASK grantedAccess) const;

private:
    void KeepLeftoverJobs() const;

    DWORD signature_ = kSignature;
    std::unique_ptr<MonitorRegistry> registry_;
    PortStore ports_;
    // Shared with the ports, which the spooler may close after Shutdown.
    std::shared_ptr<EventSink> events_ = std::make_shared<WindowsEventLog>();
    std::shared_ptr<OutputRoots> roots_ = std::make_shared<OutputRoots>(events_);
};
