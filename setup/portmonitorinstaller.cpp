#include "setup/portmonitorinstaller.h"

#include <cwchar>
#include <vector>

#include "platform/seamhandles.h"
#include "zorvaneidentity.h"

namespace {

constexpr wchar_t kMonitorDll[] = ZORVANE_WIDE(ZORVANE_MONITOR_DLL);
constexpr wchar_t kProductLibrary[] = L"queldac.dll";
// Names the same monitor as the monitor name the entry point passes.
constexpr wchar_t kMonitorXcvName[] = ZORVANE_WIDE(",XcvMonitor " ZORVANE_MONITOR_NAME);
constexpr DWORD kPathBufferUnits = MAX_PATH;
// Where CopyMonitorFiles puts the monitor, as the event log service reads it.
constexpr wchar_t kEventMessageFile[] = ZORVANE_WIDE("%SystemRoot%\\System32\\" ZORVANE_MONITOR_DLL);

}  // namespace

std::wstring EventSourceKey(const std::wstring& monitorName) {
    return L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + monitorName;
}

std::wstring ExecutableDirectory() {
    wchar_t pModulePath[kPathBufferUnits];
    DWORD dwLen = sys::GetModuleFileNameW(nullptr, pModulePath, kPathBufferUnits);
    // A path that filled the buffer may have been cut: no directory is better
    // than a wrong one.
    if (dwLen == 0 || dwLen >= kPathBufferUnits) {
        return std::wstring();
    }
    std::wstring path(pModulePath, dwLen);
    size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

PortMonitorInstaller::PortMonitorInstaller(const std::wstring& sourceDir, const std::wstring& monitorName,
                                           const std::wstring& portName, const std::wstring& logPath)
    : Installer(sourceDir, logPath), monitorName(monitorName), portName(portName) {}

std::wstring PortMonitorInstaller::GetSourceDirectory() {
    sourceDir = ExecutableDirectory();
    return sourceDir;
}

bool PortMonitorInstaller::CopyMonitorFiles(bool standalone) {
    std::vector<std::wstring> fileNames{kMonitorDll};
    if (standalone) {
        fileNames.push_back(kProductLibrary);
    }

    wchar_t pSystemDir[kPathBufferUnits];
    UINT uLen = sys::GetSystemDirectoryW(pSystemDir, kPathBufferUnits);
    if (uLen == 0 || uLen >= kPathBufferUnits) {
        // Without the system directory there is no target; the registration
        // that follows reports what that means.
        LogError(L"GetSystemDirectory", uLen == 0 ? sys::GetLastError() : ERROR_INSUFFICIENT_BUFFER);
        return true;
    }
    std::wstring systemDir(pSystemDir, uLen);

    for (const std::wstring& fileName : fileNames) {
        std::wstring wstrSrcFile = sourceDir + fileName;
        std::wstring wstrDestFile = systemDir + L"\\" + fileName;
        sys::SetLastError(0);
        if (sys::CopyFileW(wstrSrcFile.c_str(), wstrDestFile.c_str(), FALSE)) {
            Log(L"Copied port monitor file '%ws' to '%ws'", wstrSrcFile, wstrDestFile);
        } else {
            ReportError(L"CopyFile", L"Unable to copy file from " + wstrSrcFile + L" to " + wstrDestFile,
                        sys::GetLastError());
            Log(L"Unable to copy port monitor file '%ws' to '%ws'", wstrSrcFile, wstrDestFile);
        }
    }
    return true;
}

bool PortMonitorInstaller::AddEventSource() {
    auto failed = [this](const wchar_t* call, LONG lResult) {
        LogError(call, static_cast<DWORD>(lResult));
        Log(L"Unable to register the event source of port monitor '%s'", monitorName);
        return false;
    };
    sys::RegistryKeyHandle key;
    LONG lResult =
        sys::RegCreateKeyExW(HKEY_LOCAL_MACHINE, EventSourceKey(monitorName).c_str(), 0, nullptr,
                             REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.Receive(), nullptr);
    if (lResult != ERROR_SUCCESS) {
        key.Release();  // nothing was opened
        return failed(L"RegCreateKeyEx", lResult);
    }
    lResult =
        sys::RegSetValueExW(key.Get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(kEventMessageFile), sizeof(kEventMessageFile));
    if (lResult != ERROR_SUCCESS) {
        return failed(L"RegSetValueEx EventMessageFile", lResult);
    }
    DWORD dwTypes = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    lResult = sys::RegSetValueExW(key.Get(), L"TypesSupported", 0, REG_DWORD,
                                  reinterpret_cast<const BYTE*>(&dwTypes), sizeof(dwTypes));
    if (lResult != ERROR_SUCCESS) {
        return failed(L"RegSetValueEx TypesSupported", lResult);
    }
    return true;
}

bool PortMonitorInstaller::InstallMonitor(bool standalone) {
    CopyMonitorFiles(standalone);
    // The monitor works without it: its result does not decide the step.
    AddEventSource();

    std::wstring dllName = kMonitorDll;
    MONITOR_INFO_2W monitorInfo{};
    monitorInfo.pName = &monitorName[0];
    monitorInfo.pEnvironment = nullptr;
    monitorInfo.pDLLName = &dllName[0];

    sys::SetLastError(0);
    if (sys::AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&monitorInfo))) {
        return true;
    }
    DWORD dwError = sys::GetLastError();
    switch (dwError) {
        case ERROR_PRINT_MONITOR_ALREADY_INSTALLED:
            Log(L"Port Monitor already installed.");
            return true;
        case ERROR_MOD_NOT_FOUND:
            Log(L"Port Monitor '%s' required a dll which is not installed.", monitorName);
            return false;
        default:
            LogError(L"AddMonitorW", dwError);
            Log(L"Unable to add port monitor '%s'", monitorName);
            return false;
    }
}

bool PortMonitorInstaller::PortIsFreeOrOurs() {
    std::vector<BYTE> buffer;
    DWORD cbNeeded = 0;
    DWORD cReturned = 0;
    // The probe, the fetch, and once more for a port added in between.
    for (int attempt = 0; attempt < 3; ++attempt) {
        sys::SetLastError(0);
        if (sys::EnumPortsW(nullptr, 2, buffer.empty() ? nullptr : buffer.data(),
                            static_cast<DWORD>(buffer.size()), &cbNeeded, &cReturned)) {
            break;
        }
        DWORD dwError = sys::GetLastError();
        if (dwError != ERROR_INSUFFICIENT_BUFFER || attempt == 2) {
            // Nothing was found wrong: the port is added as if unchecked.
            LogError(L"EnumPorts", dwError);
            Log(L"Unable to find out which port monitor owns port '%s'; adding it all the same", portName);
            return true;
        }
        buffer.resize(cbNeeded);
        cReturned = 0;
    }
    // Never walk past what the buffer holds, whatever the counts say.
    if (static_cast<unsigned long long>(cReturned) * sizeof(PORT_INFO_2W) > buffer.size()) {
        cReturned = 0;
    }
    const PORT_INFO_2W* records = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < cReturned; ++i) {
        const PORT_INFO_2W& record = records[i];
        // The spooler's names compare without regard to case.
        if (record.pPortName == nullptr || _wcsicmp(record.pPortName, portName.c_str()) != 0 ||
            (record.pMonitorName != nullptr && _wcsicmp(record.pMonitorName, monitorName.c_str()) == 0)) {
            continue;
        }
        Log(L"Port '%s' belongs to port monitor '%s', not to '%s'", portName,
            std::wstring(record.pMonitorName != nullptr ? record.pMonitorName : L""), monitorName);
        return false;
    }
    return true;
}

bool PortMonitorInstaller::AddPort() {
    if (!PortIsFreeOrOurs()) {
        return false;
    }
    std::wstring xcvName = kMonitorXcvName;
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    sys::PrinterHandle hXcv;

    sys::SetLastError(0);
    if (!sys::OpenPrinterW(&xcvName[0], hXcv.Receive(), &defaults)) {
        hXcv.Release();  // nothing was opened
        LogError(L"OpenPrinter", sys::GetLastError());
        Log(L"Unable to find printer to add port monitor '%s'", monitorName);
        return false;
    }

    DWORD dwOutput = 0;
    DWORD cbOutputNeeded = 0;
    DWORD dwStatus = 0;
    DWORD cbInput = static_cast<DWORD>((portName.size() + 1) * sizeof(wchar_t));
    BOOL bSent =
        sys::XcvDataW(hXcv.Get(), L"AddPort", reinterpret_cast<PBYTE>(const_cast<wchar_t*>(portName.c_str())),
                      cbInput, reinterpret_cast<PBYTE>(&dwOutput), 0, &cbOutputNeeded, &dwStatus);
    // The spooler answers TRUE whenever it reached the monitor; the monitor's
    // own verdict is the status. A port that exists already is fine.
    if (!bSent || (dwStatus != ERROR_SUCCESS && dwStatus != ERROR_ALREADY_EXISTS)) {
        LogError(L"XcvData AddPort", bSent ? dwStatus : sys::GetLastError());
        Log(L"Unable to add port monitor data '%s'", monitorName);
        return false;
    }
    return true;
}
