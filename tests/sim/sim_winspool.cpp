// The simulated machine's winspool.drv: the spooler's monitors, ports and
// printers. Every call needs the running Spooler service; without it the
// RPC to the spooler fails, as on Windows.
#include "tests/sim/sim_binding.h"

using namespace sim;

namespace {

constexpr wchar_t kXcvMonitorPrefix[] = L",XcvMonitor ";
constexpr wchar_t kEnvironment[] = L"Windows NT x86";

// The names of a double-NUL-terminated list.
std::vector<std::wstring> MultiString(const wchar_t* list) {
    std::vector<std::wstring> names;
    for (; list != nullptr && *list != L'\0'; list += wcslen(list) + 1) {
        names.push_back(list);
    }
    return names;
}

bool SpoolerUnavailable() {
    if (M().SpoolerRunning()) {
        return false;
    }
    ::SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return true;
}

bool MonitorHasPrinters(const std::wstring& monitor) {
    for (const SimulatedMachine::Printer& printer : M().printers) {
        auto port = M().ports.find(printer.port);
        if (port != M().ports.end() && _wcsicmp(port->second.c_str(), monitor.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

bool DllInSystemDirectory(const std::wstring& dll) {
    return ::GetFileAttributesW((M().systemDirectory + L"\\" + dll).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// "AddPort" as the product's monitor answers it: the input is the port name
// with its terminating zero.
DWORD AddPortThroughMonitor(const std::wstring& monitor, PBYTE input, DWORD cbInput) {
    const wchar_t* name = reinterpret_cast<const wchar_t*>(input);
    size_t units = cbInput / sizeof(wchar_t);
    if (input == nullptr || cbInput % sizeof(wchar_t) != 0 || units < 2 || name[units - 1] != L'\0' ||
        std::wstring(name).size() != units - 1) {
        return ERROR_INVALID_PARAMETER;
    }
    if (M().ports.count(name) != 0) {
        return ERROR_ALREADY_EXISTS;
    }
    if (M().addPortStatus != ERROR_SUCCESS) {
        return M().addPortStatus;
    }
    M().ports[name] = monitor;
    return ERROR_SUCCESS;
}

// The printer a printer handle stands for, if it still exists.
SimulatedMachine::Printer* PrinterOf(HANDLE handle) {
    auto open = M().openPrinters.find(handle);
    if (open == M().openPrinters.end() || open->second.kind != SimulatedMachine::OpenPrinter::Printer) {
        return nullptr;
    }
    for (SimulatedMachine::Printer& printer : M().printers) {
        if (_wcsicmp(printer.name.c_str(), open->second.name.c_str()) == 0) {
            return &printer;
        }
    }
    return nullptr;
}

bool DriverUsesFile(const std::wstring& file) {
    for (const auto& driver : M().drivers) {
        for (const std::wstring& used : driver.second.Files()) {
            if (_wcsicmp(used.c_str(), file.c_str()) == 0) {
                return true;
            }
        }
    }
    return false;
}

// Level 2 records followed by their strings, in one buffer, in the order the
// printers were added.
BOOL EnumeratePrinters(DWORD flags, LPWSTR name, DWORD level, LPBYTE buffer, DWORD cbBuf, LPDWORD pcbNeeded,
                       LPDWORD pcReturned) {
    if (SpoolerUnavailable()) {
        return FALSE;
    }
    if (level != 2 || name != nullptr || (flags & PRINTER_ENUM_LOCAL) == 0) {
        return Unmodeled("EnumPrintersW other than local printers at level 2", FALSE);
    }
    std::vector<SimulatedMachine::Printer> printers;
    for (const SimulatedMachine::Printer& printer : M().printers) {
        if (!printer.connection || (flags & PRINTER_ENUM_CONNECTIONS) != 0) {
            printers.push_back(printer);
        }
    }
    DWORD needed = static_cast<DWORD>(printers.size() * sizeof(PRINTER_INFO_2W));
    for (const SimulatedMachine::Printer& printer : printers) {
        for (const std::wstring* text : {&printer.name, &printer.port, &printer.driver, &printer.comment,
                                         &printer.printProcessor, &printer.datatype}) {
            needed += static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t));
        }
    }
    *pcbNeeded = needed;
    *pcReturned = 0;
    if (buffer == nullptr || cbBuf < needed) {
        return Fails(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    auto records = reinterpret_cast<PRINTER_INFO_2W*>(buffer);
    wchar_t* strings = reinterpret_cast<wchar_t*>(buffer + printers.size() * sizeof(PRINTER_INFO_2W));
    auto place = [&strings](const std::wstring& text) {
        wchar_t* at = strings;
        memcpy(at, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        strings += text.size() + 1;
        return at;
    };
    for (size_t i = 0; i < printers.size(); ++i) {
        PRINTER_INFO_2W& record = records[i];
        record = PRINTER_INFO_2W{};
        record.pPrinterName = place(printers[i].name);
        record.pPortName = place(printers[i].port);
        record.pDriverName = place(printers[i].driver);
        record.pComment = place(printers[i].comment);
        record.pPrintProcessor = place(printers[i].printProcessor);
        record.pDatatype = place(printers[i].datatype);
        record.Attributes = printers[i].attributes;
        record.cJobs = static_cast<DWORD>(printers[i].jobs);
    }
    *pcReturned = static_cast<DWORD>(printers.size());
    return TRUE;
}

}  // namespace

namespace sys {

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault) {
    DWORD access = pDefault != nullptr ? pDefault->DesiredAccess : 0;
    if (Enter("OpenPrinterW", {SimText(pPrinterName), pDefault ? SimHex(access) : L"(no defaults)"})) {
        return FALSE;
    }
    if (SpoolerUnavailable()) {
        return FALSE;
    }
    SimulatedMachine::OpenPrinter opened{SimulatedMachine::OpenPrinter::Server, L"", access};
    if (pPrinterName == nullptr) {
        if (M().spooler.printServerFailures > 0) {
            --M().spooler.printServerFailures;
            return Fails(RPC_S_SERVER_UNAVAILABLE, FALSE);
        }
    } else if (wcsncmp(pPrinterName, kXcvMonitorPrefix, wcslen(kXcvMonitorPrefix)) == 0) {
        std::wstring monitor = pPrinterName + wcslen(kXcvMonitorPrefix);
        // The channel of a monitor the spooler does not know: as Wine answers.
        if (M().monitors.count(monitor) == 0) {
            return Fails(ERROR_UNKNOWN_PORT, FALSE);
        }
        opened = {SimulatedMachine::OpenPrinter::Xcv, monitor, access};
    } else {
        bool found = false;
        for (const SimulatedMachine::Printer& printer : M().printers) {
            found = found || _wcsicmp(printer.name.c_str(), pPrinterName) == 0;
        }
        if (!found) {
            return Fails(ERROR_INVALID_PRINTER_NAME, FALSE);
        }
        opened = {SimulatedMachine::OpenPrinter::Printer, pPrinterName, access};
    }
    *phPrinter = M().NewHandle();
    M().openPrinters[*phPrinter] = opened;
    return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
    M().Record("ClosePrinter", {});
    if (M().openPrinters.erase(hPrinter) == 0) {
        ADD_FAILURE() << "ClosePrinter of a handle that is not open";
        return Fails(ERROR_INVALID_HANDLE, FALSE);
    }
    return TRUE;
}

BOOL WINAPI AddMonitorW(LPWSTR pName, DWORD Level, LPBYTE pMonitorInfo) {
    auto info = reinterpret_cast<MONITOR_INFO_2W*>(pMonitorInfo);
    if (Enter("AddMonitorW",
              {SimText(pName), SimNumber(Level), SimText(info ? info->pName : nullptr),
               SimText(info ? info->pEnvironment : nullptr), SimText(info ? info->pDLLName : nullptr)})) {
        return FALSE;
    }
    if (SpoolerUnavailable()) {
        return FALSE;
    }
    if (Level != 2) {
        return Fails(ERROR_INVALID_LEVEL, FALSE);
    }
    if (info == nullptr || info->pName == nullptr || info->pDLLName == nullptr) {
        return Fails(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (info->pEnvironment != nullptr && _wcsicmp(info->pEnvironment, L"Windows NT x86") != 0) {
        return Fails(ERROR_INVALID_ENVIRONMENT, FALSE);
    }
    if (M().monitors.count(info->pName) != 0) {
        return Fails(ERROR_PRINT_MONITOR_ALREADY_INSTALLED, FALSE);
    }
    if (!DllInSystemDirectory(info->pDLLName)) {
        return Fails(ERROR_MOD_NOT_FOUND, FALSE);
    }
    M().monitors[info->pName] = info->pDLLName;
    return TRUE;
}

BOOL WINAPI DeleteMonitorW(LPWSTR pName, LPWSTR pEnvironment, LPWSTR pMonitorName) {
    if (Enter("DeleteMonitorW", {SimText(pName), SimText(pEnvironment), SimText(pMonitorName)})) {
        return FALSE;
    }
    if (SpoolerUnavailable()) {
        return FALSE;
    }
    if (pMonitorName == nullptr || M().monitors.count(pMonitorName) == 0) {
        return Fails(ERROR_UNKNOWN_PRINT_MONITOR, FALSE);
    }
    if (MonitorHasPrinters(pMonitorName)) {
        return Fails(ERROR_PRINT_MONITOR_IN_USE, FALSE);
    }
    // The monitor's ports go with it.
    for (auto port = M().ports.begin(); port != M().ports.end();) {
        port = _wcsicmp(port->second.c_str(), pMonitorName) == 0 ? M().ports.erase(port) : std::next(port);
    }
    M().monitors.erase(pMonitorName);
    return TRUE;
}

BOOL WINAPI XcvDataW(HANDLE hXcv, PCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData, PBYTE pOutputData,
                     DWORD cbOutputData, PDWORD pcbOutputNeeded, PDWORD pdwStatus) {
    if (Enter("XcvDataW", {SimText(pszDataName), SimNumber(cbInputData), SimNumber(cbOutputData)})) {
        return FALSE;
    }
    if (SpoolerUnavailable()) {
        return FALSE;
    }
    auto open = M().openPrinters.find(hXcv);
    if (open == M().openPrinters.end() || open->second.kind != SimulatedMachine::OpenPrinter::Xcv) {
        return Fails(ERROR_INVALID_HANDLE, FALSE);
    }
    if (pcbOutputNeeded == nullptr) {
        return Fails(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (pszDataName == nullptr || pdwStatus == nullptr || (pOutputData == nullptr && cbOutputData > 0)) {
        return Fails(RPC_X_NULL_REF_POINTER, FALSE);
    }
    *pcbOutputNeeded = 0;
    // The spooler has reached the monitor: TRUE, with the monitor's verdict
    // in the status.
    if (wcscmp(pszDataName, L"AddPort") == 0) {
        *pdwStatus = (open->second.access & SERVER_ACCESS_ADMINISTER) == 0
                         ? ERROR_ACCESS_DENIED
                         : AddPortThroughMonitor(open->second.name, pInputData, cbInputData);
    } else {
        *pdwStatus = ERROR_INVALID_PARAMETER;
    }
    return TRUE;
}

// Level 2 records of every port with its monitor, then their strings; the
// description is the monitor's name, as a model of what monitors answer.
BOOL WINAPI EnumPortsW(LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                       LPDWORD pcReturned) {
    if (Enter("EnumPortsW", {SimText(pName), SimNumber(Level), SimNumber(cbBuf)})) {
        return FALSE;
    }
    if (SpoolerUnavailable()) {
        return FALSE;
    }
    if (Level != 2 || pName != nullptr) {
        return Unmodeled("EnumPortsW other than local ports at level 2", FALSE);
    }
    DWORD needed = static_cast<DWORD>(M().ports.size() * sizeof(PORT_INFO_2W));
    for (const auto& port : M().ports) {
        needed += static_cast<DWORD>((port.first.size() + 2 * port.second.size() + 3) * sizeof(wchar_t));
    }
    *pcbNeeded = needed;
    *pcReturned = 0;
    if (cbBuf < needed || (pPorts == nullptr && needed > 0)) {
        return Fails(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    auto records = reinterpret_cast<PORT_INFO_2W*>(pPorts);
    wchar_t* strings = reinterpret_cast<wchar_t*>(pPorts + M().ports.size() * sizeof(PORT_INFO_2W));
    auto place = [&strings](const std::wstring& text) {
        wchar_t* at = strings;
        memcpy(at, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        strings += text.size() + 1;
        return at;
    };
    for (const auto& port : M().ports) {
        PORT_INFO_2W& record = records[(*pcReturned)++];
        record.pPortName = place(port.first);
        record.pMonitorName = place(port.second);
        record.pDescription = place(port.second);
        record.fPortType = PORT_TYPE_WRITE;
        record.Reserved = 0;
    }
    return TRUE;
}

BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level,
                                       LPBYTE pDriverDirectory, DWORD cbBuf, LPDWORD pcbNeeded) {
    if (Enter("GetPrinterDriverDirectoryW",
              {SimText(pName), SimText(pEnvironment), SimNumber(Level), SimNumber(cbBuf)})) {
        return FALSE;
    }
    if (SpoolerUnavailable()) {
        return FALSE;
    }
    if (Level != 1) {
        return Fails(ERROR_INVALID_LEVEL, FALSE);
    }
    if (pEnvironment != nullptr && _wcsicmp(pEnvironment, kEnvironment) != 0) {
        return Fails(ERROR_INVALID_ENVIRONMENT, FALSE);
    }
    const std::wstring& directory = M().driverDirectory;
    DWORD needed = static_cast<DWORD>((directory.size() + 1) * sizeof(wchar_t));
    *pcbNeeded = needed;
    if (pDriverDirectory == nullptr || cbBuf < needed) {
        return Fails(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    memcpy(pDriverDirectory, directory.c_str(), needed);
    return TRUE;
}

BOOL WINAPI AddPrinterDriverW(LPWSTR pName, DWORD Level, LPBYTE pDriverInfo) {
    auto info = reinterpret_cast<DRIVER_INFO_6W*>(pDriverInfo);
    if (Enter("AddPrinterDriverW",
              {SimText(pName), SimNumber(Level), SimText(info ? info->pName : nullptr)})) {
        return FALSE;
    }
    if (SpoolerUnavailable()) {
        return FALSE;
    }
    if (Level != 6) {
        return Unmodeled("AddPrinterDriverW other than level 6", FALSE);
    }
    if (info == nullptr || info->pName == nullptr || info->pDriverPath == nullptr ||
        info->pDataFile == nullptr || info->pConfigFile == nullptr) {
        return Fails(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (info->pEnvironment != nullptr && _wcsicmp(info->pEnvironment, kEnvironment) != 0) {
        return Fails(ERROR_INVALID_ENVIRONMENT, FALSE);
    }
    SimulatedMachine::Driver driver;
    driver.version = info->cVersion;
    driver.name = info->pName;
    driver.environment = SimText(info->pEnvironment);
    driver.driverPath = info->pDriverPath;
    driver.dataFile = info->pDataFile;
    driver.configFile = info->pConfigFile;
    driver.helpFile = info->pHelpFile != nullptr ? info->pHelpFile : L"";
    driver.dependentFiles = MultiString(info->pDependentFiles);
    driver.previousNames = MultiString(info->pszzPreviousNames);
    driver.hasMonitorName = info->pMonitorName != nullptr;
    driver.defaultDataType = SimText(info->pDefaultDataType);
    driver.date = info->ftDriverDate;
    driver.driverVersion = info->dwlDriverVersion;
    driver.mfgName = SimText(info->pszMfgName);
    driver.oemUrl = SimText(info->pszOEMUrl);
    driver.hasHardwareId = info->pszHardwareID != nullptr;
    driver.provider = SimText(info->pszProvider);
    // The spooler takes every named file from the driver directory.
    for (const std::wstring& file : driver.Files()) {
        if (::GetFileAttributesW((M().driverDirectory + L"\\" + file).c_str()) == INVALID_FILE_ATTRIBUTES) {
            return Fails(ERROR_FILE_NOT_FOUND, FALSE);
        }
    }
    M().drivers[driver.name] = driver;
    return TRUE;
}

BOOL WINAPI DeletePrinterDriverExW(LPWSTR pName, LPWSTR pEnvironment, LPWSTR pDriverName, DWORD dwDeleteFlag,
                                   DWORD dwVersionFlag) {
    if (Enter("DeletePrinterDriverExW", {SimText(pName), SimText(pEnvironment), SimText(pDriverName),
                                         SimNumber(dwDeleteFlag), SimNumber(dwVersionFlag)})) {
        return FALSE;
    }
    if (SpoolerUnavailable()) {
        return FALSE;
    }
    auto driver = pDriverName != nullptr ? M().drivers.find(pDriverName) : M().drivers.end();
    if (driver == M().drivers.end()) {
        return Fails(ERROR_UNKNOWN_PRINTER_DRIVER, FALSE);
    }
    for (const SimulatedMachine::Printer& printer : M().printers) {
        if (_wcsicmp(printer.driver.c_str(), pDriverName) == 0) {
            return Fails(ERROR_PRINTER_DRIVER_IN_USE, FALSE);
        }
    }
    std::vector<std::wstring> files = driver->second.Files();
    M().drivers.erase(driver);
    if ((dwDeleteFlag & DPD_DELETE_UNUSED_FILES) != 0) {
        for (const std::wstring& file : files) {
            if (!DriverUsesFile(file)) {
                ::DeleteFileW((M().driverDirectory + L"\\" + file).c_str());
            }
        }
    }
    return TRUE;
}

HANDLE WINAPI AddPrinterW(LPWSTR pName, DWORD Level, LPBYTE pPrinter) {
    auto info = reinterpret_cast<PRINTER_INFO_2W*>(pPrinter);
    if (Enter("AddPrinterW",
              {SimText(pName), SimNumber(Level), SimText(info ? info->pPrinterName : nullptr)})) {
        return nullptr;
    }
    if (SpoolerUnavailable()) {
        return nullptr;
    }
    if (Level != 2) {
        return Unmodeled("AddPrinterW other than level 2", HANDLE{});
    }
    if (info == nullptr || info->pPrinterName == nullptr || info->pPortName == nullptr ||
        info->pDriverName == nullptr || info->pPrintProcessor == nullptr) {
        return Fails(ERROR_INVALID_PARAMETER, HANDLE{});
    }
    for (const SimulatedMachine::Printer& printer : M().printers) {
        if (_wcsicmp(printer.name.c_str(), info->pPrinterName) == 0) {
            return Fails(ERROR_PRINTER_ALREADY_EXISTS, HANDLE{});
        }
    }
    if (M().printProcessors.count(info->pPrintProcessor) == 0) {
        return Fails(ERROR_UNKNOWN_PRINTPROCESSOR, HANDLE{});
    }
    if (M().drivers.count(info->pDriverName) == 0) {
        return Fails(ERROR_UNKNOWN_PRINTER_DRIVER, HANDLE{});
    }
    if (M().ports.count(info->pPortName) == 0) {
        return Fails(ERROR_UNKNOWN_PORT, HANDLE{});
    }
    M().printers.push_back({info->pPrinterName, info->pDriverName, info->pPortName, SimText(info->pComment),
                            info->pPrintProcessor, SimText(info->pDatatype), info->Attributes});
    HANDLE handle = M().NewHandle();
    M().openPrinters[handle] = {SimulatedMachine::OpenPrinter::Printer, info->pPrinterName,
                                PRINTER_ALL_ACCESS};
    return handle;
}
BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned) {
    if (Enter("EnumPrintersW", {SimHex(Flags), SimText(Name), SimNumber(Level), SimNumber(cbBuf)})) {
        return FALSE;
    }
    BOOL result = EnumeratePrinters(Flags, Name, Level, pPrinterEnum, cbBuf, pcbNeeded, pcReturned);
    DWORD error = ::GetLastError();
    if (M().afterEnumPrinters) {
        M().afterEnumPrinters();
    }
    ::SetLastError(error);
    return result;
}

BOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command) {
    if (Enter("SetPrinterW", {SimNumber(Level), pPrinter ? L"record" : L"(null)", SimNumber(Command)})) {
        return FALSE;
    }
    if (SpoolerUnavailable()) {
        return FALSE;
    }
    SimulatedMachine::Printer* printer = PrinterOf(hPrinter);
    if (printer == nullptr) {
        return Fails(ERROR_INVALID_HANDLE, FALSE);
    }
    if (Level != 0 || pPrinter != nullptr || Command != PRINTER_CONTROL_PURGE) {
        return Unmodeled("SetPrinterW other than a purge", FALSE);
    }
    if ((M().openPrinters[hPrinter].access & PRINTER_ACCESS_ADMINISTER) != PRINTER_ACCESS_ADMINISTER) {
        return Fails(ERROR_ACCESS_DENIED, FALSE);
    }
    printer->jobs = 0;
    return TRUE;
}

BOOL WINAPI DeletePrinter(HANDLE hPrinter) {
    if (Enter("DeletePrinter", {})) {
        return FALSE;
    }
    if (SpoolerUnavailable()) {
        return FALSE;
    }
    SimulatedMachine::Printer* printer = PrinterOf(hPrinter);
    if (printer == nullptr) {
        return Fails(ERROR_INVALID_HANDLE, FALSE);
    }
    if ((M().openPrinters[hPrinter].access & DELETE) == 0) {
        return Fails(ERROR_ACCESS_DENIED, FALSE);
    }
    // Windows deletes the printer once its last handle is closed; nothing
    // here opens a second one.
    M().printers.erase(M().printers.begin() + (printer - M().printers.data()));
    return TRUE;
}

}  // namespace sys
