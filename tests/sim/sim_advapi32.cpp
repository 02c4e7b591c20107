// The simulated machine's advapi32: the service control manager and the
// "Spooler" service with its state machine, and keys and values under
// HKEY_LOCAL_MACHINE. Access is checked per handle as
// Windows does: a query needs SERVICE_QUERY_STATUS, a start SERVICE_START, a
// stop SERVICE_STOP.
#include "tests/sim/sim_binding.h"

using namespace sim;

namespace {

SimulatedMachine::OpenService* FindService(SC_HANDLE handle, bool isManager) {
    auto open = M().openServices.find(handle);
    if (open == M().openServices.end() || open->second.isManager != isManager) {
        return nullptr;
    }
    return &open->second;
}

// A pending state lasts for its number of status queries, then settles.
void AdvancePendingState(SimulatedMachine::Service& spooler) {
    bool pending = spooler.state == SERVICE_START_PENDING || spooler.state == SERVICE_STOP_PENDING;
    if (!pending || spooler.pendingQueriesLeft == SimulatedMachine::kForever) {
        return;
    }
    if (spooler.pendingQueriesLeft > 0) {
        --spooler.pendingQueriesLeft;
        return;
    }
    spooler.state = spooler.state == SERVICE_START_PENDING ? SERVICE_RUNNING : SERVICE_STOPPED;
}

void EnterPendingState(SimulatedMachine::Service& spooler, DWORD pending, DWORD settled, int queries) {
    spooler.state = queries == 0 ? settled : pending;
    spooler.pendingQueriesLeft = queries;
}

void FillStatus(const SimulatedMachine::Service& spooler, LPSERVICE_STATUS status) {
    *status = SERVICE_STATUS{};
    status->dwServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
    status->dwCurrentState = spooler.state;
    status->dwControlsAccepted = spooler.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
}

}  // namespace

namespace sys {

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess) {
    if (Enter("OpenSCManagerW", {SimText(lpMachineName), SimText(lpDatabaseName), SimHex(dwDesiredAccess)})) {
        return nullptr;
    }
    if (lpMachineName != nullptr || lpDatabaseName != nullptr) {
        return Unmodeled("OpenSCManagerW of another machine or database", SC_HANDLE{});
    }
    SC_HANDLE handle = static_cast<SC_HANDLE>(M().NewHandle());
    M().openServices[handle] = {true, dwDesiredAccess};
    return handle;
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess) {
    if (Enter("OpenServiceW", {SimText(lpServiceName), SimHex(dwDesiredAccess)})) {
        return nullptr;
    }
    if (FindService(hSCManager, true) == nullptr) {
        return Fails(ERROR_INVALID_HANDLE, SC_HANDLE{});
    }
    if (lpServiceName == nullptr || _wcsicmp(lpServiceName, L"Spooler") != 0 || !M().spooler.installed) {
        return Fails(ERROR_SERVICE_DOES_NOT_EXIST, SC_HANDLE{});
    }
    SC_HANDLE handle = static_cast<SC_HANDLE>(M().NewHandle());
    M().openServices[handle] = {false, dwDesiredAccess};
    return handle;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    if (Enter("QueryServiceStatus", {})) {
        return FALSE;
    }
    auto service = FindService(hService, false);
    if (service == nullptr) {
        return Fails(ERROR_INVALID_HANDLE, FALSE);
    }
    if ((service->access & SERVICE_QUERY_STATUS) == 0) {
        return Fails(ERROR_ACCESS_DENIED, FALSE);
    }
    AdvancePendingState(M().spooler);
    FillStatus(M().spooler, lpServiceStatus);
    return TRUE;
}

BOOL WINAPI StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCWSTR* lpServiceArgVectors) {
    if (Enter("StartServiceW",
              {SimNumber(dwNumServiceArgs), SimText(lpServiceArgVectors ? L"args" : nullptr)})) {
        return FALSE;
    }
    auto service = FindService(hService, false);
    if (service == nullptr) {
        return Fails(ERROR_INVALID_HANDLE, FALSE);
    }
    if ((service->access & SERVICE_START) == 0) {
        return Fails(ERROR_ACCESS_DENIED, FALSE);
    }
    SimulatedMachine::Service& spooler = M().spooler;
    if (spooler.disabled) {
        return Fails(ERROR_SERVICE_DISABLED, FALSE);
    }
    if (spooler.state != SERVICE_STOPPED) {
        return Fails(ERROR_SERVICE_ALREADY_RUNNING, FALSE);
    }
    EnterPendingState(spooler, SERVICE_START_PENDING, SERVICE_RUNNING, spooler.startPendingQueries);
    return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
    if (Enter("ControlService", {SimNumber(dwControl)})) {
        return FALSE;
    }
    auto service = FindService(hService, false);
    if (service == nullptr) {
        return Fails(ERROR_INVALID_HANDLE, FALSE);
    }
    if (dwControl != SERVICE_CONTROL_STOP) {
        return Unmodeled("ControlService other than stop", FALSE);
    }
    if ((service->access & SERVICE_STOP) == 0) {
        return Fails(ERROR_ACCESS_DENIED, FALSE);
    }
    SimulatedMachine::Service& spooler = M().spooler;
    if (spooler.state == SERVICE_STOPPED) {
        return Fails(ERROR_SERVICE_NOT_ACTIVE, FALSE);
    }
    if (spooler.state != SERVICE_RUNNING) {
        return Fails(ERROR_SERVICE_CANNOT_ACCEPT_CTRL, FALSE);
    }
    EnterPendingState(spooler, SERVICE_STOP_PENDING, SERVICE_STOPPED, spooler.stopPendingQueries);
    FillStatus(spooler, lpServiceStatus);
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    M().Record("CloseServiceHandle", {});
    if (M().openServices.erase(hSCObject) == 0) {
        ADD_FAILURE() << "CloseServiceHandle of a handle that is not open";
        return Fails(ERROR_INVALID_HANDLE, FALSE);
    }
    return TRUE;
}

// A fault's code is the answer: the registry's calls set no last-error.
LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD) {
    if (Enter("RegCreateKeyExW", {SimText(lpSubKey), SimHex(samDesired)})) {
        return static_cast<LONG>(::GetLastError());
    }
    if (hKey != HKEY_LOCAL_MACHINE) {
        return Unmodeled("RegCreateKeyExW outside HKEY_LOCAL_MACHINE", LONG{ERROR_CALL_NOT_IMPLEMENTED});
    }
    M().registry[lpSubKey];
    *phkResult = static_cast<HKEY>(M().NewHandle());
    M().openKeys[*phkResult] = lpSubKey;
    return ERROR_SUCCESS;
}

// A REG_DWORD kept as its number, a string without its terminating null.
LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                           DWORD cbData) {
    if (Enter("RegSetValueExW", {SimText(lpValueName), SimNumber(dwType)})) {
        return static_cast<LONG>(::GetLastError());
    }
    const wchar_t* pText = reinterpret_cast<const wchar_t*>(lpData);
    M().registry[M().openKeys.at(hKey)][lpValueName] =
        dwType == REG_DWORD ? std::to_wstring(*reinterpret_cast<const DWORD*>(lpData))
                            : std::wstring(pText, ::wcsnlen(pText, cbData / sizeof(wchar_t)));
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyW(HKEY, LPCWSTR lpSubKey) {
    if (Enter("RegDeleteKeyW", {SimText(lpSubKey)})) {
        return static_cast<LONG>(::GetLastError());
    }
    return M().registry.erase(lpSubKey) != 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    M().Record("RegCloseKey", {});
    return M().openKeys.erase(hKey) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// The real conversion: the descriptor is Windows' own, so a test can read
// what a mutex made with it grants.
BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR StringSecurityDescriptor,
                                                                 DWORD StringSDRevision,
                                                                 PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                                 PULONG SecurityDescriptorSize) {
    if (Enter("ConvertStringSecurityDescriptorToSecurityDescriptorW",
              {SimText(StringSecurityDescriptor), SimNumber(StringSDRevision)})) {
        return FALSE;
    }
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(StringSecurityDescriptor, StringSDRevision,
                                                                SecurityDescriptor, SecurityDescriptorSize)) {
        return FALSE;
    }
    M().openLocalMemory.insert(*SecurityDescriptor);
    return TRUE;
}

}  // namespace sys
