#include "bench/installfloor.h"

#include <cstring>
#include <string>
#include <vector>

#include <windows.h>

#include <sddl.h>
#include <setupapi.h>
#include <winspool.h>
#include <winver.h>

#include "zorvaneidentity.h"

#ifdef ZORVANE_FLOOR_ON_SEAM
// On the simulated machine: the seam, so the call record can be compared.
#include "platform/platform.h"
namespace api = sys;
#else
// In installfloor.exe: Windows itself, each call straight to its DLL.
namespace api {
using ::AddMonitorW;
using ::AddPrinterDriverW;
using ::AddPrinterW;
using ::CloseHandle;
using ::ClosePrinter;
using ::CloseServiceHandle;
using ::ConvertStringSecurityDescriptorToSecurityDescriptorW;
using ::CopyFileW;
using ::CreateFileW;
using ::CreateMutexW;
using ::DeleteFileW;
using ::EnumPortsW;
using ::GetCurrentProcess;
using ::GetFileAttributesW;
using ::GetFileTime;
using ::GetFileVersionInfoSizeW;
using ::GetFileVersionInfoW;
using ::GetModuleFileNameW;
using ::GetPrinterDriverDirectoryW;
using ::GetStdHandle;
using ::GetSystemDirectoryW;
using ::LocalFree;
using ::MultiByteToWideChar;
using ::OpenMutexW;
using ::OpenPrinterW;
using ::OpenSCManagerW;
using ::OpenServiceW;
using ::QueryServiceStatus;
using ::ReleaseMutex;
using ::SetupCloseFileQueue;
using ::SetupCloseInfFile;
using ::SetupCommitFileQueueW;
using ::SetupDefaultQueueCallbackW;
using ::SetupInitDefaultQueueCallbackEx;
using ::SetupInstallFilesFromInfSectionW;
using ::SetupOpenFileQueue;
using ::SetupOpenInfFileW;
using ::SetupSetDirectoryIdW;
using ::SetupTermDefaultQueueCallback;
using ::Sleep;
using ::StartServiceW;
using ::VerQueryValueW;
using ::WaitForSingleObject;
using ::WriteFile;
using ::XcvDataW;

// Newer than the headers' Windows XP target, or than Windows XP itself:
// looked up at run time, as setup.exe does; absent, the call fails.
template <typename Fn>
Fn* Kernel32(const char* name) {
    return reinterpret_cast<Fn*>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}

BOOL WINAPI SetDefaultDllDirectories(DWORD flags) {
    auto fn = Kernel32<BOOL WINAPI(DWORD)>("SetDefaultDllDirectories");
    return fn != nullptr && fn(flags);
}

BOOL WINAPI SetDllDirectoryW(LPCWSTR path) {
    auto fn = Kernel32<BOOL WINAPI(LPCWSTR)>("SetDllDirectoryW");
    return fn != nullptr && fn(path);
}

BOOL WINAPI IsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) {
    auto fn = Kernel32<BOOL WINAPI(HANDLE, USHORT*, USHORT*)>("IsWow64Process2");
    return fn != nullptr && fn(process, processMachine, nativeMachine);
}

BOOL WINAPI IsWow64Process(HANDLE process, PBOOL wow64) {
    auto fn = Kernel32<BOOL WINAPI(HANDLE, PBOOL)>("IsWow64Process");
    return fn != nullptr && fn(process, wow64);
}
}  // namespace api
#endif

namespace {

const wchar_t kPrinter[] = ZORVANE_WIDE(ZORVANE_PRINTER_NAME);
const wchar_t kDriver[] = ZORVANE_WIDE(ZORVANE_DRIVER_NAME);
const wchar_t kPort[] = ZORVANE_WIDE(ZORVANE_PORT_NAME);
const wchar_t kMonitor[] = ZORVANE_WIDE(ZORVANE_MONITOR_NAME);
const wchar_t kMonitorXcv[] = ZORVANE_WIDE(",XcvMonitor " ZORVANE_MONITOR_NAME);
const wchar_t kMonitorDll[] = ZORVANE_WIDE(ZORVANE_MONITOR_DLL);
const wchar_t kEnvironment[] = L"Windows NT x86";

const wchar_t kPreVistaDependentFiles[] =
    L"zorvanenames.gpd\0zorvanewmark.gpd\0zorvanebook.gpd\0zorvanenup.gpd\0zorvanepgscl.gpd\0"
    L"zorvane-pipelineconfig.xml\0zorvanewmark.dll\0zorvanebook.dll\0zorvanenup.dll\0zorvanescale.dll\0"
    L"zorvanedrvui.dll\0zorvanedrv.ini\0msxpsinc.gpd\0stdnames.gpd\0unidrv.dll\0unires.dll\0xpssvcs.dll\0";
const wchar_t kVistaOrLaterDependentFiles[] =
    L"zorvanenames.gpd\0zorvanewmark.gpd\0zorvanebook.gpd\0zorvanenup.gpd\0zorvanepgscl.gpd\0"
    L"zorvane-pipelineconfig.xml\0zorvanewmark.dll\0zorvanebook.dll\0zorvanenup.dll\0zorvanescale.dll\0"
    L"zorvanedrvui.dll\0zorvanedrv.ini\0msxpsinc.gpd\0stdnames.gpd\0unidrv.dll\0unires.dll\0xpssvcs.dll\0"
    L"stddtype.gdl\0stdschem.gdl\0stdschmx.gdl\0";
const wchar_t* const kCoreFiles[] = {L"mxdwdrv.dll", L"zorvanedrv.GPD", L"UniDrvUI.dll", L"UniDrv.HLP"};
const wchar_t* const kSystemDriverFiles[] = {
    L"msxpsinc.gpd", L"mxdwdrv.dll",  L"stdnames.gpd", L"unidrv.dll",
    L"unidrv.hlp",   L"unidrvui.dll", L"unires.dll",   L"xpssvcs.dll",
};
const wchar_t* const kLocalDriverFiles[] = {
    L"zorvane-pipelineconfig.xml",
    L"zorvanebook.dll",
    L"zorvanebook.gpd",
    L"zorvanedrv.gpd",
    L"zorvanedrv.ini",
    L"zorvanedrvui.dll",
    L"zorvanenames.gpd",
    L"zorvanenup.dll",
    L"zorvanenup.gpd",
    L"zorvanepgscl.gpd",
    L"zorvanescale.dll",
    L"zorvanewmark.dll",
    L"zorvanewmark.gpd",
};
const wchar_t* const kColorProfiles[] = {L"zorvaneCMYKPrinter.icc", L"zorvanewscRGB.icc"};
const wchar_t kLockName[] = L"Global\\Zorvane Creator Setup";
const wchar_t kLockSecurity[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";
constexpr DWORD kLockWaitMs = 10 * 60 * 1000;
const wchar_t kComment[] =
    ZORVANE_WIDE(ZORVANE_MAKER_URL " - Print to PDF, PDF/A, XPS, SVG, EMF, PNG, JPEG, and TIFF");

bool Is(const char* arg, const char* option) { return ::lstrcmpiA(arg, option) == 0; }

// Where the run belongs, asked as setup.exe asks it; the answer is not acted
// on: the floor is the run that stays in this process (32-bit Windows).
void AskNativeMachine() {
    USHORT processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
    USHORT nativeMachine = IMAGE_FILE_MACHINE_UNKNOWN;
    if (!api::IsWow64Process2(api::GetCurrentProcess(), &processMachine, &nativeMachine)) {
        BOOL wow64 = FALSE;
        api::IsWow64Process(api::GetCurrentProcess(), &wow64);
    }
}

// setup.exe's one run at a time: the machine-wide mutex, made (or opened,
// when another account made it) and waited for before the run, released
// after it.
class RunLock {
public:
    RunLock() {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        api::ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockSecurity, SDDL_REVISION_1, &descriptor,
                                                                  nullptr);
        SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
        mutex_ = api::CreateMutexW(&security, FALSE, kLockName);
        if (mutex_ == nullptr) {
            mutex_ = api::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kLockName);
        }
        api::LocalFree(descriptor);
        if (api::WaitForSingleObject(mutex_, 0) == WAIT_TIMEOUT) {
            api::WaitForSingleObject(mutex_, kLockWaitMs);
        }
    }
    ~RunLock() {
        api::ReleaseMutex(mutex_);
        api::CloseHandle(mutex_);
    }
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

private:
    HANDLE mutex_ = nullptr;
};

std::wstring ExecutableDirectory() {
    wchar_t path[MAX_PATH];
    DWORD length = api::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, length);
    return text.substr(0, text.find_last_of(L"\\/") + 1);
}

void StartSpooler() {
    SC_HANDLE manager = api::OpenSCManagerW(nullptr, nullptr, GENERIC_EXECUTE);
    SC_HANDLE service = api::OpenServiceW(manager, L"Spooler", SERVICE_START | SERVICE_QUERY_STATUS);
    HANDLE server = nullptr;
    for (int attempt = 0; attempt < 2 && server == nullptr; ++attempt) {
        api::StartServiceW(service, 0, nullptr);
        SERVICE_STATUS status{};
        bool queried = api::QueryServiceStatus(service, &status);
        for (int waits = 0; queried && status.dwCurrentState != SERVICE_RUNNING && waits < 10; ++waits) {
            api::Sleep(2000);
            queried = api::QueryServiceStatus(service, &status);
        }
        if (api::OpenPrinterW(nullptr, &server, nullptr)) {
            api::ClosePrinter(server);
        } else {
            server = nullptr;
        }
    }
    api::CloseServiceHandle(service);
    api::CloseServiceHandle(manager);
}

void InstallMonitor(const std::wstring& sourceDir, bool standalone) {
    wchar_t systemDir[MAX_PATH];
    UINT length = api::GetSystemDirectoryW(systemDir, MAX_PATH);
    for (const wchar_t* name : {kMonitorDll, L"queldac.dll"}) {
        if (standalone || std::wcscmp(name, L"queldac.dll") != 0) {
            api::CopyFileW((sourceDir + name).c_str(),
                           (std::wstring(systemDir, length) + L"\\" + name).c_str(), FALSE);
        }
    }
    std::wstring monitor = kMonitor;
    std::wstring dll = kMonitorDll;
    MONITOR_INFO_2W info{&monitor[0], nullptr, &dll[0]};
    api::AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
}

void AddPort() {
    // Which monitor owns the port: the size probe and the fetch.
    DWORD cbPorts = 0, cPorts = 0;
    if (!api::EnumPortsW(nullptr, 2, nullptr, 0, &cbPorts, &cPorts)) {
        std::vector<BYTE> ports(cbPorts);
        api::EnumPortsW(nullptr, 2, ports.data(), cbPorts, &cbPorts, &cPorts);
    }
    std::wstring xcv = kMonitorXcv;
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    HANDLE channel = nullptr;
    api::OpenPrinterW(&xcv[0], &channel, &defaults);
    DWORD output = 0, needed = 0, status = 0;
    api::XcvDataW(channel, L"AddPort", reinterpret_cast<PBYTE>(const_cast<wchar_t*>(kPort)), sizeof(kPort),
                  reinterpret_cast<PBYTE>(&output), 0, &needed, &status);
    api::ClosePrinter(channel);
}

void CopySystemDrivers(const std::wstring& driverDir, bool preVista) {
    HINF ntPrint = api::SetupOpenInfFileW(L"NTPRINT.INF", nullptr, INF_STYLE_WIN4, nullptr);
    api::SetupSetDirectoryIdW(ntPrint, 66000, driverDir.c_str());
    HINF xps = ntPrint;
    if (preVista) {
        xps = api::SetupOpenInfFileW(L"MSXPSDRV.INF", nullptr, INF_STYLE_WIN4, nullptr);
        api::SetupSetDirectoryIdW(xps, 66000, driverDir.c_str());
    }
    HSPFILEQ queue = api::SetupOpenFileQueue();
    PVOID context = api::SetupInitDefaultQueueCallbackEx(nullptr, nullptr, 0, 0, nullptr);
    api::SetupInstallFilesFromInfSectionW(ntPrint, nullptr, queue, L"unidrv.oem", nullptr,
                                          SP_COPY_FORCE_NEWER);
    api::SetupInstallFilesFromInfSectionW(xps, nullptr, queue, L"XPSGPD.OEM", nullptr, SP_COPY_FORCE_NEWER);
    api::SetupInstallFilesFromInfSectionW(xps, nullptr, queue, L"xpsdrv.oem", nullptr, SP_COPY_FORCE_NEWER);
    api::SetupCommitFileQueueW(nullptr, queue, api::SetupDefaultQueueCallbackW, context);
    api::SetupTermDefaultQueueCallback(context);
    api::SetupCloseFileQueue(queue);
    api::SetupCloseInfFile(ntPrint);
    if (preVista) {
        api::SetupCloseInfFile(xps);
    }
}

void AddDriver(const std::wstring& sourceDir, const std::wstring& driverDir, bool preVista) {
    CopySystemDrivers(driverDir, preVista);
    for (const wchar_t* name : kLocalDriverFiles) {
        api::CopyFileW((sourceDir + name).c_str(), (driverDir + L"\\" + name).c_str(), FALSE);
    }
    for (const wchar_t* name : kColorProfiles) {
        api::CopyFileW((sourceDir + name).c_str(), (driverDir + L"\\..\\color\\" + name).c_str(), FALSE);
    }

    std::wstring uiDll = driverDir + L"\\zorvanedrvui.dll";
    FILETIME date{};
    HANDLE file = api::CreateFileW(uiDll.c_str(), GENERIC_READ, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    api::GetFileTime(file, nullptr, nullptr, &date);
    api::CloseHandle(file);
    DWORD handle = 0;
    DWORD size = api::GetFileVersionInfoSizeW(uiDll.c_str(), &handle);
    std::string version(size, '\0');
    api::GetFileVersionInfoW(uiDll.c_str(), 0, size, &version[0]);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    api::VerQueryValueW(&version[0], L"\\", reinterpret_cast<LPVOID*>(&fixed), &fixedSize);

    const wchar_t* dependentFiles = preVista ? kPreVistaDependentFiles : kVistaOrLaterDependentFiles;
    for (const wchar_t* name = dependentFiles; *name != L'\0'; name += std::wcslen(name) + 1) {
        api::GetFileAttributesW((driverDir + L"\\" + name).c_str());
    }
    for (const wchar_t* name : kCoreFiles) {
        api::GetFileAttributesW((driverDir + L"\\" + name).c_str());
    }

    std::wstring name = kDriver, environment = kEnvironment, driverPath = kCoreFiles[0],
                 dataFile = kCoreFiles[1], configFile = kCoreFiles[2], helpFile = kCoreFiles[3],
                 dataType = L"RAW", maker = ZORVANE_WIDE(ZORVANE_COMPANY_NAME),
                 url = ZORVANE_WIDE(ZORVANE_MAKER_URL), provider = ZORVANE_WIDE(ZORVANE_PROVIDER_NAME);
    wchar_t previousNames[2] = {L'\0', L'\0'};
    DRIVER_INFO_6W info{};
    info.cVersion = 3;
    info.pName = &name[0];
    info.pEnvironment = &environment[0];
    info.pDriverPath = &driverPath[0];
    info.pDataFile = &dataFile[0];
    info.pConfigFile = &configFile[0];
    info.pHelpFile = &helpFile[0];
    info.pDependentFiles = const_cast<LPWSTR>(dependentFiles);
    info.pDefaultDataType = &dataType[0];
    info.pszzPreviousNames = previousNames;
    info.ftDriverDate = date;
    info.dwlDriverVersion = fixed != nullptr ? fixed->dwProductVersionMS : 0;
    info.pszMfgName = &maker[0];
    info.pszOEMUrl = &url[0];
    info.pszProvider = &provider[0];
    api::AddPrinterDriverW(nullptr, 6, reinterpret_cast<LPBYTE>(&info));
}

void AddPrinter(bool preVista) {
    std::wstring printer = kPrinter, port = kPort, driver = kDriver, comment = kComment,
                 processor = preVista ? L"MS_XPS" : L"WinPrint", dataType = L"RAW";
    PRINTER_INFO_2W info{};
    info.pPrinterName = &printer[0];
    info.pPortName = &port[0];
    info.pDriverName = &driver[0];
    info.pComment = &comment[0];
    info.pPrintProcessor = &processor[0];
    info.pDatatype = &dataType[0];
    info.Attributes = PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_LOCAL;
    HANDLE printerHandle = api::AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    api::ClosePrinter(printerHandle);
}

void CleanSystemDrivers(const std::wstring& driverDir) {
    for (const wchar_t* name : kSystemDriverFiles) {
        api::DeleteFileW((driverDir + L"\\" + name).c_str());
    }
}

// The result line as setup.exe prints it; the log path is ASCII here.
void WriteResultLine(const std::wstring& logPath) {
    std::string line = "Succeeded.  See " + std::string(logPath.begin(), logPath.end()) + "\r\n";
    HANDLE out = api::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE) {
        api::WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
}

// The installation proper, from the spooler's start to the staged files'
// clean-up.
void Install(bool preVista, bool standalone) {
    std::wstring sourceDir = ExecutableDirectory();
    StartSpooler();
    std::wstring printer = kPrinter;
    HANDLE existing = nullptr;
    if (api::OpenPrinterW(&printer[0], &existing, nullptr)) {
        api::ClosePrinter(existing);
        return;
    }
    sourceDir = ExecutableDirectory();
    InstallMonitor(sourceDir, standalone);
    AddPort();

    wchar_t driverDirBuffer[MAX_PATH];
    DWORD needed = 0;
    api::GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(driverDirBuffer),
                                    sizeof(driverDirBuffer), &needed);
    std::wstring driverDir = driverDirBuffer;
    AddDriver(sourceDir, driverDir, preVista);
    AddPrinter(preVista);
    CleanSystemDrivers(driverDir);
}

}  // namespace

int FloorMain(int argc, char** argv) {
    if (!api::SetDefaultDllDirectories(0x00000800)) {
        api::SetDllDirectoryW(L"");
    }
    bool preVista = true;
    bool standalone = true;
    std::wstring logPath = L"C:/testxyzzy/quelda-log.txt";
    for (int i = 1; i < argc; ++i) {
        if (Is(argv[i], "PREVISTA") || Is(argv[i], "VISTAORLATER")) {
            preVista = Is(argv[i], "PREVISTA");
        } else if (Is(argv[i], "STANDALONE") || Is(argv[i], "BUNDLED")) {
            standalone = Is(argv[i], "STANDALONE");
        } else if (Is(argv[i], "/log") && i + 1 < argc) {
            ++i;
            int units = api::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, argv[i], -1, nullptr, 0);
            std::wstring text(static_cast<size_t>(units), L'\0');
            api::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, argv[i], -1, &text[0], units);
            logPath = text.c_str();
        }
    }

    AskNativeMachine();
    {
        RunLock lock;
        Install(preVista, standalone);
    }
    WriteResultLine(logPath);
    return 0;
}
