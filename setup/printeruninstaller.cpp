#include "setup/printeruninstaller.h"

#include <vector>

#include "platform/seamhandles.h"

namespace {

constexpr DWORD kEnumFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
constexpr DWORD kDriverVersion3 = 3;

}  // namespace

PrinterUninstaller::PrinterUninstaller(const std::wstring& driverName, const std::wstring& printerName,
                                       const std::wstring& logPath)
    : Installer(L"", logPath), driverName(driverName), printerName(printerName) {}

bool PrinterUninstaller::DeletePrinters() {
    DWORD cbNeeded = 0;
    DWORD cReturned = 0;

    sys::SetLastError(0);
    if (!sys::EnumPrintersW(kEnumFlags, nullptr, 2, nullptr, 0, &cbNeeded, &cReturned) &&
        sys::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        LogError(L"EnumPrinters1", sys::GetLastError());
    }
    cReturned = 0;

    std::vector<BYTE> buffer;
    if (cbNeeded > 0) {
        buffer.resize(cbNeeded);
        sys::SetLastError(0);
        if (!sys::EnumPrintersW(kEnumFlags, nullptr, 2, buffer.data(), static_cast<DWORD>(buffer.size()),
                                &cbNeeded, &cReturned)) {
            LogError(L"EnumPrinters2", sys::GetLastError());
            // A printer added since the probe: nothing was filled in.
            cReturned = 0;
        }
    }
    // Never walk past what the buffer holds, whatever the counts say.
    if (static_cast<unsigned long long>(cReturned) * sizeof(PRINTER_INFO_2W) > buffer.size()) {
        cReturned = 0;
    }
    if (cReturned == 0 || cbNeeded == 0) {
        ReportError(L"Error searching for printers.",
                    L"Unable to find any printers. Please try rebooting, then retry uninstallation.", 0);
        return false;
    }

    const PRINTER_INFO_2W* records = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    bool found = false;
    for (DWORD i = 0; i < cReturned; ++i) {
        const PRINTER_INFO_2W& record = records[i];
        // The same driver exactly, letter case included.
        if (record.pDriverName == nullptr || record.pPrinterName == nullptr ||
            driverName.compare(record.pDriverName) != 0) {
            continue;
        }
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
        sys::PrinterHandle hPrinter;
        sys::SetLastError(0);
        if (!sys::OpenPrinterW(record.pPrinterName, hPrinter.Receive(), &defaults)) {
            hPrinter.Release();  // nothing was opened
            LogError(L"OpenPrinter", sys::GetLastError());
            continue;
        }
        sys::SetLastError(0);
        if (!sys::SetPrinterW(hPrinter.Get(), 0, nullptr, PRINTER_CONTROL_PURGE)) {
            ReportError(L"SetPrinter", L"Purging all print jobs", sys::GetLastError());
        }
        sys::SetLastError(0);
        if (!sys::DeletePrinter(hPrinter.Get())) {
            LogError(L"DeletePrinter", sys::GetLastError());
        }
        hPrinter.Close();
        Log(L"Deleted printer '%s' using driver name '%s'", record.pPrinterName, driverName);
        found = true;
    }
    if (!found) {
        Log(L"Unable to find any printer using driver name '%s', assuming it was already deleted",
            driverName);
    }
    return true;
}

bool PrinterUninstaller::DeleteDriver() {
    if (sys::DeletePrinterDriverExW(nullptr, nullptr, &driverName[0], DPD_DELETE_UNUSED_FILES,
                                    kDriverVersion3)) {
        Log(L"Deleted printer driver '%s'", driverName);
        return true;
    }
    DWORD dwError = sys::GetLastError();
    if (dwError == ERROR_UNKNOWN_PRINTER_DRIVER) {
        Log(L"Printer driver is not known or has already been deleted '%s'", driverName);
        return true;
    }
    LogError(L"DeletePrinterDriverEx", dwError);
    return false;
}
