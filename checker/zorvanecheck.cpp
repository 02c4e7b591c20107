// zorvanecheck: prints what the spooler knows of printers, drivers, monitors
// and ports, one line each, so that an installation can be verified on any
// machine. Tab-separated: kind, name, then key=value fields. UTF-8.
//
//   zorvanecheck.exe            everything
//   zorvanecheck.exe NAME...    only lines whose name is one of NAME
#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>

#include <winspool.h>

#include "platform/systemlibrary.h"

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

// Calls an enumeration twice, probe and fetch; empty on failure (reported).
template <typename Enumerate>
std::vector<BYTE> Fetch(const char* what, Enumerate enumerate, DWORD& count) {
    std::vector<BYTE> buffer;
    DWORD needed = 0;
    count = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (enumerate(buffer.empty() ? nullptr : buffer.data(), static_cast<DWORD>(buffer.size()), &needed,
                      &count)) {
            return buffer;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            break;
        }
        buffer.resize(needed);
    }
    fprintf(stderr, "zorvanecheck: %s failed with code %lu\n", what, ::GetLastError());
    count = 0;
    return std::vector<BYTE>();
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
    auto enumPrinters = winspool.Bind<decltype(::EnumPrintersW)>("EnumPrintersW");
    if (enumPrinters == nullptr) {
        return false;
    }
    DWORD count = 0;
    std::vector<BYTE> buffer = Fetch(
        "EnumPrintersW",
        [&](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
            return enumPrinters(PRINTER_ENUM_LOCAL, nullptr, 2, data, size, needed, returned);
        },
        count);
    auto records = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        const PRINTER_INFO_2W& p = records[i];
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
    auto enumDrivers = winspool.Bind<decltype(::EnumPrinterDriversW)>("EnumPrinterDriversW");
    if (enumDrivers == nullptr) {
        return false;
    }
    DWORD count = 0;
    std::vector<BYTE> buffer = Fetch(
        "EnumPrinterDriversW",
        [&](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
            return enumDrivers(nullptr, nullptr, 6, data, size, needed, returned);
        },
        count);
    auto records = reinterpret_cast<const DRIVER_INFO_6W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        const DRIVER_INFO_6W& d = records[i];
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
    auto enumMonitors = winspool.Bind<decltype(::EnumMonitorsW)>("EnumMonitorsW");
    if (enumMonitors == nullptr) {
        return false;
    }
    DWORD count = 0;
    std::vector<BYTE> buffer = Fetch(
        "EnumMonitorsW",
        [&](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
            return enumMonitors(nullptr, 2, data, size, needed, returned);
        },
        count);
    auto records = reinterpret_cast<const MONITOR_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        report.Line("monitor", records[i].pName, {{"dll", Utf8(records[i].pDLLName)}});
    }
    return true;
}

bool Ports(Report& report) {
    auto enumPorts = winspool.Bind<decltype(::EnumPortsW)>("EnumPortsW");
    if (enumPorts == nullptr) {
        return false;
    }
    DWORD count = 0;
    std::vector<BYTE> buffer = Fetch(
        "EnumPortsW",
        [&](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
            return enumPorts(nullptr, 2, data, size, needed, returned);
        },
        count);
    auto records = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        report.Line("port", records[i].pPortName, {{"monitor", Utf8(records[i].pMonitorName)}});
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // The spooler runs in this process under Wine and loads monitors and
    // their DLLs by name: only the system directory may answer, never the
    // folder the checker was started from.
    RestrictDllSearchToSystemDirectory();
    try {
        Report report(argc, argv);
        bool complete = Printers(report) & Drivers(report) & Monitors(report) & Ports(report);
        if (!complete) {
            fprintf(stderr, "zorvanecheck: the spooler's functions could not be loaded (code %lu)\n",
                    ::GetLastError());
            return 1;
        }
        return 0;
    } catch (...) {
        fprintf(stderr, "zorvanecheck: out of memory\n");
        return 1;
    }
}
