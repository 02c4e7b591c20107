// zorvanecheck: prints what the spooler knows of printers, drivers, monitors
// and ports, one line each, so that an installation can be verified on any
// machine. Tab-separated: kind, name, then key=value fields. UTF-8.
//
//   zorvanecheck.exe            everything
//   zorvanecheck.exe NAME...    only lines whose name is one of NAME
//   zorvanecheck.exe --verify   exit 0 only when the product is installed
//                               whole; else 1, a line per missing piece
// A failed enumeration exits 1 after naming the call and its code.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>

#include <winspool.h>

#include "platform/systemlibrary.h"
#include "zorvaneidentity.h"

namespace {

SystemLibrary winspool{L"winspool.drv"};

std::string Utf8(const wchar_t* text) {
    if (text == nullptr || *text == L'\0') {
        return std::string();
    }
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size > 0 ? size - 1 : 0));
    return out;
}

std::string MultiString(const wchar_t* list) {
    std::string out;
    for (; list != nullptr && *list != L'\0'; list += wcslen(list) + 1) {
        out += (out.empty() ? "" : ";") + Utf8(list);
    }
    return out;
}

std::string Hex(unsigned long long value, int digits) {
    char text[32];
    snprintf(text, sizeof text, "0x%0*llX", digits, value);
    return text;
}

std::string Date(const FILETIME& time) {
    SYSTEMTIME st;
    if (!::FileTimeToSystemTime(&time, &st)) {
        return "invalid";
    }
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
             st.wMinute, st.wSecond);
    return text;
}

// Binds a spooler function; null, reported with its code, when it cannot.
template <typename Fn>
Fn* Bind(const char* name) {
    Fn* fn = winspool.Bind<Fn>(name);
    if (fn == nullptr) {
        unsigned long code = ::GetLastError();
        fprintf(stderr, "zorvanecheck: %s could not be loaded, code %lu\n", name, code);
    }
    return fn;
}

// The records an enumeration returned, in the buffer that holds their strings.
template <typename Record>
struct Records {
    std::vector<BYTE> buffer;
    DWORD count = 0;
    const Record* begin() const { return reinterpret_cast<const Record*>(buffer.data()); }
    const Record* end() const { return begin() + count; }
};

// Calls an enumeration, probe then fetch; false, reported with the failing
// call and its code, when it fails.
template <typename Record, typename Enumerate>
bool Fetch(const char* what, Enumerate enumerate, Records<Record>& records) {
    DWORD needed = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        records.count = 0;
        if (enumerate(records.buffer.empty() ? nullptr : records.buffer.data(),
                      static_cast<DWORD>(records.buffer.size()), &needed, &records.count)) {
            return true;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            break;
        }
        records.buffer.resize(needed);
    }
    unsigned long code = ::GetLastError();
    fprintf(stderr, "zorvanecheck: %s failed with code %lu\n", what, code);
    records.count = 0;
    return false;
}

// A spooler enumeration at one level: its leading arguments, then buffer,
// size and the two counts, as every Enum* function of the spooler takes them.
template <typename Fn, typename Record, typename... Leading>
bool Enumerate(const char* name, Records<Record>& records, Leading... leading) {
    Fn* enumerate = Bind<Fn>(name);
    return enumerate != nullptr && Fetch(
                                       name,
                                       [&](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
                                           return enumerate(leading..., data, size, needed, returned);
                                       },
                                       records);
}

bool FetchPrinters(Records<PRINTER_INFO_2W>& records) {
    return Enumerate<decltype(::EnumPrintersW)>("EnumPrintersW", records, PRINTER_ENUM_LOCAL, nullptr, 2);
}

bool FetchDrivers(Records<DRIVER_INFO_6W>& records) {
    return Enumerate<decltype(::EnumPrinterDriversW)>("EnumPrinterDriversW", records, nullptr, nullptr, 6);
}

bool FetchMonitors(Records<MONITOR_INFO_2W>& records) {
    return Enumerate<decltype(::EnumMonitorsW)>("EnumMonitorsW", records, nullptr, 2);
}

bool FetchPorts(Records<PORT_INFO_2W>& records) {
    return Enumerate<decltype(::EnumPortsW)>("EnumPortsW", records, nullptr, 2);
}

class Report {
public:
    Report(int argc, char** argv) : filters_(argv + 1, argv + argc) {}

    void Line(const char* kind, const wchar_t* name,
              const std::vector<std::pair<const char*, std::string>>& fields) {
        std::string utf8Name = Utf8(name);
        if (!filters_.empty()) {
            bool wanted = false;
            for (const std::string& filter : filters_) {
                wanted = wanted || filter == utf8Name;
            }
            if (!wanted) {
                return;
            }
        }
        std::string line = std::string(kind) + "\t" + utf8Name;
        for (const auto& field : fields) {
            line += std::string("\t") + field.first + "=" + field.second;
        }
        printf("%s\n", line.c_str());
    }

private:
    std::vector<std::string> filters_;
};

bool Printers(Report& report) {
    Records<PRINTER_INFO_2W> printers;
    if (!FetchPrinters(printers)) {
        return false;
    }
    for (const PRINTER_INFO_2W& p : printers) {
        report.Line("printer", p.pPrinterName,
                    {{"driver", Utf8(p.pDriverName)},
                     {"port", Utf8(p.pPortName)},
                     {"processor", Utf8(p.pPrintProcessor)},
                     {"datatype", Utf8(p.pDatatype)},
                     {"attributes", Hex(p.Attributes, 8)},
                     {"shared", p.pShareName != nullptr && *p.pShareName ? Utf8(p.pShareName) : "no"},
                     {"comment", Utf8(p.pComment)}});
    }
    return true;
}

bool Drivers(Report& report) {
    Records<DRIVER_INFO_6W> drivers;
    if (!FetchDrivers(drivers)) {
        return false;
    }
    for (const DRIVER_INFO_6W& d : drivers) {
        report.Line("driver", d.pName,
                    {{"environment", Utf8(d.pEnvironment)},
                     {"version", std::to_string(d.cVersion)},
                     {"driverversion", Hex(d.dwlDriverVersion, 16)},
                     {"date", Date(d.ftDriverDate)},
                     {"driverpath", Utf8(d.pDriverPath)},
                     {"datafile", Utf8(d.pDataFile)},
                     {"configfile", Utf8(d.pConfigFile)},
                     {"helpfile", Utf8(d.pHelpFile)},
                     {"dependentfiles", MultiString(d.pDependentFiles)},
                     {"datatype", Utf8(d.pDefaultDataType)},
                     {"manufacturer", Utf8(d.pszMfgName)},
                     {"url", Utf8(d.pszOEMUrl)},
                     {"provider", Utf8(d.pszProvider)}});
    }
    return true;
}

bool Monitors(Report& report) {
    Records<MONITOR_INFO_2W> monitors;
    if (!FetchMonitors(monitors)) {
        return false;
    }
    for (const MONITOR_INFO_2W& m : monitors) {
        report.Line("monitor", m.pName, {{"dll", Utf8(m.pDLLName)}});
    }
    return true;
}

bool Ports(Report& report) {
    Records<PORT_INFO_2W> ports;
    if (!FetchPorts(ports)) {
        return false;
    }
    for (const PORT_INFO_2W& p : ports) {
        report.Line("port", p.pPortName, {{"monitor", Utf8(p.pMonitorName)}});
    }
    return true;
}

// ---- --verify: the installation as a deployment tool's detection rule sees it

const wchar_t kPrinter[] = ZORVANE_WIDE(ZORVANE_PRINTER_NAME);
const wchar_t kDriver[] = ZORVANE_WIDE(ZORVANE_DRIVER_NAME);
const wchar_t kPort[] = ZORVANE_WIDE(ZORVANE_PORT_NAME);
const wchar_t kMonitor[] = ZORVANE_WIDE(ZORVANE_MONITOR_NAME);

// The spooler's names compare without regard to case.
bool SameName(const wchar_t* a, const wchar_t* b) {
    return a != nullptr && b != nullptr && _wcsicmp(a, b) == 0;
}

template <typename Record, typename Name>
const Record* Find(const Records<Record>& records, Name name, const wchar_t* wanted) {
    for (const Record& record : records) {
        if (SameName(name(record), wanted)) {
            return &record;
        }
    }
    return nullptr;
}

// Where the monitor's DLL must lie: the system directory, as the spooler
// loads monitors from there alone. Empty when it is not there.
std::wstring MonitorDllPath(const wchar_t* dllName) {
    wchar_t system[MAX_PATH];
    UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (dllName == nullptr || *dllName == L'\0' || length == 0 || length >= MAX_PATH) {
        return std::wstring();
    }
    std::wstring name = dllName;
    size_t separator = name.find_last_of(L"\\/");
    if (separator != std::wstring::npos && _wcsicmp(name.substr(0, separator).c_str(), system) != 0) {
        return std::wstring();
    }
    std::wstring path = std::wstring(system) + L"\\" + name.substr(separator + 1);
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    bool isFile = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return isFile ? path : std::wstring();
}

// 0 when the printer, its driver and port, the port's monitor and the
// monitor's DLL are all in place; else 1, with one line per missing or
// mismatched piece.
int Verify() {
    Records<PRINTER_INFO_2W> printers;
    Records<PORT_INFO_2W> ports;
    Records<MONITOR_INFO_2W> monitors;
    if (!(FetchPrinters(printers) & FetchPorts(ports) & FetchMonitors(monitors))) {
        return 1;
    }
    std::vector<std::string> faults;
    auto quoted = [](const wchar_t* name) { return "\"" + Utf8(name) + "\""; };
    if (auto printer = Find(
            printers, [](const PRINTER_INFO_2W& p) { return p.pPrinterName; }, kPrinter)) {
        if (!SameName(printer->pDriverName, kDriver)) {
            faults.push_back("mismatch: printer " + quoted(kPrinter) + " uses driver " +
                             quoted(printer->pDriverName) + ", not " + quoted(kDriver));
        }
        if (!SameName(printer->pPortName, kPort)) {
            faults.push_back("mismatch: printer " + quoted(kPrinter) + " prints to port " +
                             quoted(printer->pPortName) + ", not " + quoted(kPort));
        }
    } else {
        faults.push_back("missing: printer " + quoted(kPrinter));
    }
    if (auto port = Find(
            ports, [](const PORT_INFO_2W& p) { return p.pPortName; }, kPort)) {
        if (!SameName(port->pMonitorName, kMonitor)) {
            faults.push_back("mismatch: port " + quoted(kPort) + " belongs to monitor " +
                             quoted(port->pMonitorName) + ", not " + quoted(kMonitor));
        }
    } else {
        faults.push_back("missing: port " + quoted(kPort));
    }
    std::wstring dllPath;
    if (auto monitor = Find(
            monitors, [](const MONITOR_INFO_2W& m) { return m.pName; }, kMonitor)) {
        dllPath = MonitorDllPath(monitor->pDLLName);
        if (dllPath.empty()) {
            faults.push_back("missing: monitor " + quoted(kMonitor) + "'s DLL " + quoted(monitor->pDLLName) +
                             " in the system directory");
        }
    } else {
        faults.push_back("missing: monitor " + quoted(kMonitor));
    }
    for (const std::string& fault : faults) {
        printf("%s\n", fault.c_str());
    }
    if (!faults.empty()) {
        return 1;
    }
    printf("installed: printer %s on driver %s and port %s of monitor %s, %s\n", quoted(kPrinter).c_str(),
           quoted(kDriver).c_str(), quoted(kPort).c_str(), quoted(kMonitor).c_str(),
           Utf8(dllPath.c_str()).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The spooler runs in this process under Wine and loads monitors and
    // their DLLs by name: only the system directory may answer, never the
    // folder the checker was started from.
    RestrictDllSearchToSystemDirectory();
    try {
        if (argc == 2 && strcmp(argv[1], "--verify") == 0) {
            return Verify();
        }
        Report report(argc, argv);
        // Every list is shown even when another fails; a failure was reported.
        bool complete = Printers(report) & Drivers(report) & Monitors(report) & Ports(report);
        return complete ? 0 : 1;
    } catch (...) {
        fprintf(stderr, "zorvanecheck: out of memory\n");
        return 1;
    }
}
