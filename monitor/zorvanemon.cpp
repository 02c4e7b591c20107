// zorvanemon.dll, the entry points: InitializePrintMonitor2 and the monitor
// functions it hands the spooler in a MONITOR2. Each entry point rejects bad
// arguments with ERROR_INVALID_PARAMETER, then passes the call to the object
// behind the handle; handles are the monitor's own objects:
//   hMonitor  PortMonitor   (InitializePrintMonitor2 ... Shutdown)
//   hPort     PrintPort     (OpenPort ... ClosePort)
//   hXcv      XcvSession    (XcvOpenPort ... XcvClosePort)
// The spooler runs monitors inside its own process (Wine inside the calling
// program): no exception may leave an entry point, so each is noexcept and
// catches everything. The job's entry points
// that touch the file system run as the monitor's process, not as the
// printing user the spooler may impersonate (ClientImpersonationPause).
#include <memory>

#include "monitor/clientidentity.h"
#include "monitor/portmonitor.h"

namespace {

// The object behind a handle that this monitor gave out, or null.
template <typename T>
T* FromHandle(HANDLE handle) {
    T* object = static_cast<T*>(handle);
    return object != nullptr && object->HasSignature() ? object : nullptr;
}

// An operation's result code. The only exceptions the monitor's code can
// meet are the standard library's allocation failures.
template <typename Operation>
DWORD StatusOf(Operation operation) noexcept {
    try {
        return operation();
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

// An operation's result code as the spooler expects it from most monitor
// functions: TRUE, or FALSE with the code as the thread's last-error.
template <typename Operation>
BOOL Run(Operation operation) noexcept {
    DWORD dwError = StatusOf(operation);
    if (dwError != ERROR_SUCCESS) {
        ::SetLastError(dwError);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI ZmEnumPorts(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                        LPDWORD pcbNeeded, LPDWORD pcReturned) noexcept {
    (void)pName;  // the server; this monitor serves the local machine only
    return Run([&]() -> DWORD {
        const PortMonitor* monitor = FromHandle<PortMonitor>(hMonitor);
        if (monitor == nullptr || pcbNeeded == nullptr || pcReturned == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        return monitor->EnumPorts(Level, pPorts, cbBuf, *pcbNeeded, *pcReturned);
    });
}

BOOL WINAPI ZmOpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle) noexcept {
    return Run([&]() -> DWORD {
        const PortMonitor* monitor = FromHandle<PortMonitor>(hMonitor);
        if (monitor == nullptr || pName == nullptr || pHandle == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        // A new OutputFolder's root is made here, as the monitor itself.
        ClientImpersonationPause asMonitor;
        std::unique_ptr<PrintPort> port;
        DWORD dwError = monitor->OpenPort(pName, port);
        if (dwError == ERROR_SUCCESS) {
            *pHandle = port.release();
        }
        return dwError;
    });
}

// The document's name names the job's files: DOC_INFO_1 and DOC_INFO_2 both
// begin with pDocName.
BOOL WINAPI ZmStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level,
                           LPBYTE pDocInfo) noexcept {
    return Run([&]() -> DWORD {
        PrintPort* port = FromHandle<PrintPort>(hPort);
        if (port == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        const wchar_t* documentName = (Level == 1 || Level == 2) && pDocInfo != nullptr
                                          ? reinterpret_cast<const DOC_INFO_1W*>(pDocInfo)->pDocName
                                          : nullptr;
        ClientImpersonationPause asMonitor;
        return port->StartDoc(pPrinterName, JobId, documentName, asMonitor.ClientSid());
    });
}

BOOL WINAPI ZmWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) noexcept {
    return Run([&]() -> DWORD {
        PrintPort* port = FromHandle<PrintPort>(hPort);
        if (port == nullptr || pcbWritten == nullptr || (pBuffer == nullptr && cbBuf > 0)) {
            return ERROR_INVALID_PARAMETER;
        }
        return port->Write(pBuffer, cbBuf, *pcbWritten);
    });
}

// The port only takes data: nothing comes back from a file.
BOOL WINAPI ZmReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) noexcept {
    (void)hPort;
    (void)pBuffer;
    (void)cbBuffer;
    if (pcbRead != nullptr) {
        *pcbRead = 0;
    }
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI ZmEndDocPort(HANDLE hPort) noexcept {
    return Run([&]() -> DWORD {
        PrintPort* port = FromHandle<PrintPort>(hPort);
        if (port == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        ClientImpersonationPause asMonitor;
        return port->EndDoc();
    });
}

// A job still open on the port is kept under an incomplete name. The port
// is taken first: it goes whatever fails after.
BOOL WINAPI ZmClosePort(HANDLE hPort) noexcept {
    return Run([&]() -> DWORD {
        std::unique_ptr<PrintPort> port(FromHandle<PrintPort>(hPort));
        if (!port) {
            return ERROR_INVALID_PARAMETER;
        }
        ClientImpersonationPause asMonitor;
        port.reset();
        return ERROR_SUCCESS;
    });
}

// pszObject names the port or the monitor; every session reaches all ports.
BOOL WINAPI ZmXcvOpenPort(HANDLE hMonitor, LPCWSTR pszObject, ACCESS_MASK GrantedAccess,
                          PHANDLE phXcv) noexcept {
    (void)pszObject;
    return Run([&]() -> DWORD {
        const PortMonitor* monitor = FromHandle<PortMonitor>(hMonitor);
        if (monitor == nullptr || phXcv == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        *phXcv = monitor->OpenXcv(GrantedAccess).release();
        return ERROR_SUCCESS;
    });
}

DWORD WINAPI ZmXcvDataPort(HANDLE hXcv, LPCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData,
                           PBYTE pOutputData, DWORD cbOutputData, PDWORD pcbOutputNeeded) noexcept {
    return StatusOf([&]() -> DWORD {
        const XcvSession* session = FromHandle<XcvSession>(hXcv);
        if (session == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        return session->Transceive(pszDataName, pInputData, cbInputData, pOutputData, cbOutputData,
                                   pcbOutputNeeded);
    });
}

BOOL WINAPI ZmXcvClosePort(HANDLE hXcv) noexcept {
    return Run([&]() -> DWORD {
        std::unique_ptr<XcvSession> session(FromHandle<XcvSession>(hXcv));
        return session ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    });
}

VOID WINAPI ZmShutdown(HANDLE hMonitor) noexcept {
    StatusOf([&]() -> DWORD {
        std::unique_ptr<PortMonitor> monitor(FromHandle<PortMonitor>(hMonitor));
        return ERROR_SUCCESS;
    });
}

MONITOR2 MakeMonitorFunctions() {
    MONITOR2 functions{};
    // The Windows XP size: the spooler of a later Windows takes it too.
    functions.cbSize = sizeof(MONITOR2);
    functions.pfnEnumPorts = ZmEnumPorts;
    functions.pfnOpenPort = ZmOpenPort;
    functions.pfnStartDocPort = ZmStartDocPort;
    functions.pfnWritePort = ZmWritePort;
    functions.pfnReadPort = ZmReadPort;
    functions.pfnEndDocPort = ZmEndDocPort;
    functions.pfnClosePort = ZmClosePort;
    functions.pfnXcvOpenPort = ZmXcvOpenPort;
    functions.pfnXcvDataPort = ZmXcvDataPort;
    functions.pfnXcvClosePort = ZmXcvClosePort;
    functions.pfnShutdown = ZmShutdown;
    return functions;
}

MONITOR2 monitorFunctions = MakeMonitorFunctions();

}  // namespace

// Called once per load of the DLL for each monitor registered with it. Every
// call makes a monitor object of its own, which Shutdown releases. The
// system's header declares it without noexcept; nothing leaves its body.
LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor) {
    DWORD dwError = StatusOf([&]() -> DWORD {
        if (pMonitorInit == nullptr || phMonitor == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        std::unique_ptr<PortMonitor> monitor;
        DWORD dwCreateError = PortMonitor::Create(*pMonitorInit, monitor);
        if (dwCreateError == ERROR_SUCCESS) {
            *phMonitor = monitor.release();
        }
        return dwCreateError;
    });
    if (dwError != ERROR_SUCCESS) {
        ::SetLastError(dwError);
        return nullptr;
    }
    return &monitorFunctions;
}
