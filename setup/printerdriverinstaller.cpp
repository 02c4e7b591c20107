#include "setup/printerdriverinstaller.h"

#include <exception>

#include "platform/seamhandles.h"
#include "zorvaneidentity.h"

const wchar_t PreVistaDependentFiles[] =
    L"zorvanenames.gpd\0zorvanewmark.gpd\0zorvanebook.gpd\0zorvanenup.gpd\0zorvanepgscl.gpd\0"
    L"zorvane-pipelineconfig.xml\0zorvanewmark.dll\0zorvanebook.dll\0zorvanenup.dll\0zorvanescale.dll\0"
    L"zorvanedrvui.dll\0zorvanedrv.ini\0msxpsinc.gpd\0stdnames.gpd\0unidrv.dll\0unires.dll\0xpssvcs.dll\0";

const wchar_t VistaOrLaterDependentFiles[] =
    L"zorvanenames.gpd\0zorvanewmark.gpd\0zorvanebook.gpd\0zorvanenup.gpd\0zorvanepgscl.gpd\0"
    L"zorvane-pipelineconfig.xml\0zorvanewmark.dll\0zorvanebook.dll\0zorvanenup.dll\0zorvanescale.dll\0"
    L"zorvanedrvui.dll\0zorvanedrv.ini\0msxpsinc.gpd\0stdnames.gpd\0unidrv.dll\0unires.dll\0xpssvcs.dll\0"
    L"stddtype.gdl\0stdschem.gdl\0stdschmx.gdl\0";

const wchar_t kMakerUrl[] = ZORVANE_WIDE(ZORVANE_MAKER_URL);

namespace {

constexpr int kPreVista = 0;
constexpr int kVistaOrLater = 1;

// The id printer INF files use for the printer-driver directory.
constexpr DWORD kPrinterDriverDirectoryId = 66000;

constexpr wchar_t kNtPrintInf[] = L"NTPRINT.INF";
constexpr wchar_t kMsXpsDrvInf[] = L"MSXPSDRV.INF";
constexpr wchar_t kDriverSigningArticle[] =
    L"https://learn.microsoft.com/windows-hardware/drivers/install/driver-signing";

// The spooler serves a printer only with a driver for its own environment.
#ifdef _WIN64
constexpr wchar_t kEnvironment[] = L"Windows x64";
#else
constexpr wchar_t kEnvironment[] = L"Windows NT x86";
#endif
constexpr wchar_t kUiDll[] = L"zorvanedrvui.dll";
const std::wstring kPrinterComment =
    std::wstring(kMakerUrl) + L" - Print to PDF, PDF/A, XPS, SVG, EMF, PNG, JPEG, and TIFF";

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

bool QueueSection(HINF hInf, HSPFILEQ hQueue, const wchar_t* section) {
    return sys::SetupInstallFilesFromInfSectionW(hInf, nullptr, hQueue, section, nullptr,
                                                 SP_COPY_FORCE_NEWER);
}

bool Commit(HSPFILEQ hQueue, PVOID context) {
    return sys::SetupCommitFileQueueW(nullptr, hQueue, sys::SetupDefaultQueueCallbackW, context);
}

bool FileIsPresent(const std::wstring& path) {
    return sys::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

namespace {

// The spooler's driver directory for the running environment; false with the
// spooler's last-error when it cannot be had.
bool QueryPrinterDriverDirectory(std::wstring& directory) {
    wchar_t pDriverDir[MAX_PATH];
    DWORD bytesNeeded = 0;
    sys::SetLastError(0);
    if (!sys::GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(pDriverDir),
                                         sizeof(pDriverDir), &bytesNeeded)) {
        return false;
    }
    pDriverDir[MAX_PATH - 1] = L'\0';
    directory = pDriverDir;
    return true;
}

}  // namespace

PrinterDriverInstaller::PrinterDriverInstaller(const std::wstring& driverName,
                                               const std::wstring& printerName, const std::wstring& portName,
                                               const std::wstring& sourceDir, int osFamily,
                                               const std::wstring& logPath)
    : Installer(sourceDir, logPath),
      osFamily(osFamily),
      driverName(driverName),
      printerName(printerName),
      portName(portName),
      uncaughtExceptions_(std::uncaught_exceptions()) {
    if (QueryPrinterDriverDirectory(driverDirectory)) {
        Log(L"GetPrinterDriverDirectory got '%s'", driverDirectory);
    } else {
        LogError(L"GetPrinterDriverDirectory", sys::GetLastError());
    }
    systemDriverFiles.assign(std::begin(kSystemDriverFiles), std::end(kSystemDriverFiles));
    localDriverFiles.assign(std::begin(kLocalDriverFiles), std::end(kLocalDriverFiles));
    colorProfiles.assign(std::begin(kColorProfiles), std::end(kColorProfiles));
}

PrinterDriverInstaller::~PrinterDriverInstaller() noexcept(false) {
    if (std::uncaught_exceptions() == uncaughtExceptions_) {
        CleanSystemDrivers();
        return;
    }
    // Released while an exception unwinds the run: a second one would end
    // the process, so a clean-up that fails this way is given up.
    try {
        CleanSystemDrivers();
    } catch (...) {
    }
}

bool PrinterDriverInstaller::CopySystemDrivers() {
    switch (osFamily) {
        case kVistaOrLater:
            return CopySystemDriversVistaOrLater();
        case kPreVista:
            return CopySystemDriversPreVista();
        default:
            Log(L"Unsupported OS version in CopySystemDrivers %s@%d", ZORVANE_WIDE(__FILE__), __LINE__);
            return false;
    }
}

// NTPRINT.INF, or its failure reported as both families report it.
sys::InfHandle PrinterDriverInstaller::OpenNtPrintInf() {
    sys::InfHandle hNtPrintInf(sys::SetupOpenInfFileW(kNtPrintInf, nullptr, INF_STYLE_WIN4, nullptr));
    if (!hNtPrintInf) {
        DWORD dwError = sys::GetLastError();
        LogError(L"SetupOpenInfFile NTPRINT.INF", dwError);
        Log(L"Add Driver failed calling SetupOpenInfFile NTPRINT.INF with code '%d'", dwError);
    }
    return hNtPrintInf;
}

// Directory id 66000 of NTPRINT.INF to the driver directory, or its failure
// reported as both families report it.
bool PrinterDriverInstaller::MapDriverDirectory(HINF hNtPrintInf) {
    if (!sys::SetupSetDirectoryIdW(hNtPrintInf, kPrinterDriverDirectoryId, driverDirectory.c_str())) {
        DWORD dwError = sys::GetLastError();
        LogError(L"SetupSetDirectoryId", dwError);
        Log(L"Add Driver failed calling SetupSetDirectoryId with code '%d'", dwError);
        return false;
    }
    return true;
}

// All three sections come from NTPRINT.INF. A failed section or commit is
// logged; the step still succeeds.
bool PrinterDriverInstaller::CopySystemDriversVistaOrLater() {
    // Declared in reverse order of closing: context, queue, then the INF.
    sys::InfHandle hNtPrintInf;
    sys::FileQueueHandle hQueue;
    sys::QueueCallbackContext context;

    sys::SetLastError(0);
    hNtPrintInf = OpenNtPrintInf();
    if (!hNtPrintInf) {
        return false;
    }
    sys::SetLastError(0);
    if (!MapDriverDirectory(hNtPrintInf.Get())) {
        return false;
    }
    hQueue = sys::FileQueueHandle(sys::SetupOpenFileQueue());
    if (!hQueue) {
        sys::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    context =
        sys::QueueCallbackContext(sys::SetupInitDefaultQueueCallbackEx(nullptr, nullptr, 0, 0, nullptr));
    if (!context) {
        sys::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }

    if (!QueueSection(hNtPrintInf.Get(), hQueue.Get(), L"unidrv.oem")) {
        Log(L"Add Driver failed calling SetupInstallFilesFromInfSection unidrv.oem with code '%d'",
            sys::GetLastError());
    }
    if (!QueueSection(hNtPrintInf.Get(), hQueue.Get(), L"XPSGPD.OEM")) {
        Log(L"Add Driver failed calling SetupInstallFilesFromInfSection XPSGPD.OEM with code '%d'",
            sys::GetLastError());
    }
    if (!QueueSection(hNtPrintInf.Get(), hQueue.Get(), L"xpsdrv.oem")) {
        Log(L"Add Driver failed calling SetupInstallFilesFromInfSection xpsdrv.oem with code '%d'",
            sys::GetLastError());
    }
    if (!Commit(hQueue.Get(), context.Get())) {
        Log(L"Add Driver failed calling SetupCommitFileQueue (VistaOrLater) with code '%d'",
            sys::GetLastError());
    }
    return true;
}

// Unidrv comes from NTPRINT.INF, the XPS sections from MSXPSDRV.INF (the XPS
// Essentials Pack). A failed commit fails the step.
bool PrinterDriverInstaller::CopySystemDriversPreVista() {
    // Declared in reverse order of closing: context, queue, NTPRINT.INF,
    // then MSXPSDRV.INF.
    sys::InfHandle hMsXpsDrvInf;
    sys::InfHandle hNtPrintInf;
    sys::FileQueueHandle hQueue;
    sys::QueueCallbackContext context;

    hNtPrintInf = OpenNtPrintInf();
    if (!hNtPrintInf) {
        return false;
    }
    if (!MapDriverDirectory(hNtPrintInf.Get())) {
        return false;
    }
    hMsXpsDrvInf = sys::InfHandle(sys::SetupOpenInfFileW(kMsXpsDrvInf, nullptr, INF_STYLE_WIN4, nullptr));
    if (!hMsXpsDrvInf) {
        Log(L"Add Driver failed calling SetupOpenInfFile MSXPSDRV.INF with code '%d'", sys::GetLastError());
        return false;
    }
    sys::SetLastError(0);
    if (!sys::SetupSetDirectoryIdW(hMsXpsDrvInf.Get(), kPrinterDriverDirectoryId, driverDirectory.c_str())) {
        Log(L"Add Driver failed calling SetupSetDirectoryId with code '%d'", sys::GetLastError());
        return false;
    }
    hQueue = sys::FileQueueHandle(sys::SetupOpenFileQueue());
    if (!hQueue) {
        sys::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    context =
        sys::QueueCallbackContext(sys::SetupInitDefaultQueueCallbackEx(nullptr, nullptr, 0, 0, nullptr));
    if (!context) {
        sys::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        Log(L"Add Driver failed calling SetupInitDefaultQueueCallbackEx with code '%d'",
            ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }

    sys::SetLastError(0);
    if (!QueueSection(hNtPrintInf.Get(), hQueue.Get(), L"unidrv.oem")) {
        LogError(L"SetupInstallFilesFromInfSection unidrv.oem", sys::GetLastError());
    }
    sys::SetLastError(0);
    if (!QueueSection(hMsXpsDrvInf.Get(), hQueue.Get(), L"XPSGPD.OEM")) {
        Log(L"Add Driver failed calling SetupInstallFilesFromInfSection XPSGPD.OEM with code '%d'",
            sys::GetLastError());
    }
    sys::SetLastError(0);
    if (!QueueSection(hMsXpsDrvInf.Get(), hQueue.Get(), L"xpsdrv.oem")) {
        Log(L"Add Driver failed calling SetupInstallFilesFromInfSection xpsdrv.oem with code '%d'",
            sys::GetLastError());
    }
    sys::SetLastError(0);
    if (!Commit(hQueue.Get(), context.Get())) {
        Log(L"Add Driver failed calling SetupCommitFileQueue (WinXP): installing XPSdrivers failed, perhaps "
            L"unsigned Unidrv.dll? See %s with code '%d'",
            kDriverSigningArticle, sys::GetLastError());
        return false;
    }
    return true;
}

bool PrinterDriverInstaller::CopyLocalFiles() {
    int failures = 0;
    DWORD dwLastCopyError = ERROR_SUCCESS;
    std::wstring fileErrorString;
    auto copy = [&](const std::wstring& wstrSrcFile, const std::wstring& wstrDestFile) {
        if (!sys::CopyFileW(wstrSrcFile.c_str(), wstrDestFile.c_str(), FALSE)) {
            dwLastCopyError = sys::GetLastError();
            ++failures;
            fileErrorString += wstrSrcFile + L"\n";
        }
    };
    for (const std::wstring& name : localDriverFiles) {
        copy(sourceDir + name, driverDirectory + L"\\" + name);
    }
    for (const std::wstring& name : colorProfiles) {
        copy(sourceDir + name, driverDirectory + L"\\..\\color\\" + name);
    }
    if (failures > 0) {
        // The code of the last failed copy: a later successful copy may have
        // left another value behind.
        ReportError(L"CopyFile", fileErrorString, dwLastCopyError);
        Log(L"Copy Local Files failed '%s'", fileErrorString);
        return false;
    }
    return true;
}

bool PrinterDriverInstaller::CleanSystemDrivers() {
    // Without the driver directory the names would resolve against the root
    // of the current drive, where the installer staged nothing.
    if (driverDirectory.empty()) {
        Log(L"CleanSystemDrivers skipped: no printer driver directory, nothing was staged");
        return true;
    }
    for (const std::wstring& name : systemDriverFiles) {
        std::wstring wstrDestFile = driverDirectory + L"\\" + name;
        sys::SetLastError(0);
        if (!sys::DeleteFileW(wstrDestFile.c_str())) {
            ReportError(L"CleanSystemDrivers Failed", wstrDestFile, sys::GetLastError());
            Log(L"CleanSystemDrivers Failed on file '%s'", wstrDestFile);
        }
    }
    return true;
}

bool PrinterDriverInstaller::AddDriver() {
    // Every path below is the driver directory plus a name: without the
    // directory they would name the root of the current drive.
    if (driverDirectory.empty()) {
        Log(L"Add driver failed: no printer driver directory (GetPrinterDriverDirectory failed), no file "
            L"copied");
        return false;
    }
    if (!CopySystemDrivers()) {
        LogError(L"CopySystemDrivers failed", 0);
        Log(L"Add driver failed due to failure in Copy System Drivers");
        return false;
    }
    if (!CopyLocalFiles()) {
        Log(L"Add driver failed due to failure in Copy Local Files");
        LogError(L"CopyLocalFiles failed", 0);
        return false;
    }

    // The driver's date and version come from its user-interface DLL.
    std::wstring wstrMainDrvFile = driverDirectory + L"\\" + kUiDll;
    FILETIME ftDriverDate{};
    {
        sys::FileHandle hFile(sys::CreateFileW(wstrMainDrvFile.c_str(), GENERIC_READ, FILE_SHARE_WRITE,
                                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!hFile) {
            ReportError(L"CreateFile", wstrMainDrvFile, sys::GetLastError());
            Log(L"Add driver failed due to failure in CreateFile");
            return false;
        }
        if (!sys::GetFileTime(hFile.Get(), nullptr, nullptr, &ftDriverDate)) {
            ReportError(L"GetFileTime", wstrMainDrvFile, sys::GetLastError());
            Log(L"Add driver failed due to failure in GetFileTime");
            return false;
        }
    }

    DWORD dwHandle = 0;
    DWORD dwLen = sys::GetFileVersionInfoSizeW(wstrMainDrvFile.c_str(), &dwHandle);
    if (dwLen == 0) {
        ReportError(L"GetFileVersionInfoSize", wstrMainDrvFile, sys::GetLastError());
        Log(L"Add driver failed due to failure in GetFileVersionInfoSize");
        return false;
    }
    std::vector<BYTE> verdatabuf(dwLen);
    if (!sys::GetFileVersionInfoW(wstrMainDrvFile.c_str(), 0, dwLen, verdatabuf.data())) {
        ReportError(L"GetFileVersionInfo", wstrMainDrvFile, sys::GetLastError());
        Log(L"Add driver failed due to failure in GetFileVersionInfo");
        return false;
    }
    VS_FIXEDFILEINFO* p_fileInfo = nullptr;
    UINT uLen = 0;
    BOOL bFound =
        sys::VerQueryValueW(verdatabuf.data(), L"\\", reinterpret_cast<LPVOID*>(&p_fileInfo), &uLen);
    // A root block too short to hold the fixed information is no version.
    if (!bFound || p_fileInfo == nullptr || uLen < sizeof(VS_FIXEDFILEINFO)) {
        LogError(L"VerQueryValue", bFound ? ERROR_RESOURCE_DATA_NOT_FOUND : sys::GetLastError());
        Log(L"Add driver failed due to failure in VerQueryValue");
        return false;
    }

    std::wstring environment = kEnvironment;
    std::wstring driverPath = L"mxdwdrv.dll";
    std::wstring dataFile = L"zorvanedrv.GPD";
    std::wstring configFile = L"UniDrvUI.dll";
    std::wstring helpFile = L"UniDrv.HLP";
    std::wstring defaultDataType = L"RAW";
    std::wstring mfgName = ZORVANE_WIDE(ZORVANE_COMPANY_NAME);
    std::wstring oemUrl = kMakerUrl;
    std::wstring provider = ZORVANE_WIDE(ZORVANE_PROVIDER_NAME);
    wchar_t previousNames[2] = {L'\0', L'\0'};
    const wchar_t* dependentFiles =
        osFamily == kPreVista ? PreVistaDependentFiles : VistaOrLaterDependentFiles;

    DRIVER_INFO_6W driverInfo{};
    driverInfo.cVersion = 3;
    driverInfo.pName = &driverName[0];
    driverInfo.pEnvironment = &environment[0];
    driverInfo.pDriverPath = &driverPath[0];
    driverInfo.pDataFile = &dataFile[0];
    driverInfo.pConfigFile = &configFile[0];
    driverInfo.pHelpFile = &helpFile[0];
    driverInfo.pDependentFiles = const_cast<LPWSTR>(dependentFiles);
    driverInfo.pMonitorName = nullptr;
    driverInfo.pDefaultDataType = &defaultDataType[0];
    driverInfo.pszzPreviousNames = previousNames;
    driverInfo.ftDriverDate = ftDriverDate;
    driverInfo.dwlDriverVersion = static_cast<DWORDLONG>(p_fileInfo->dwProductVersionMS);
    driverInfo.pszMfgName = &mfgName[0];
    driverInfo.pszOEMUrl = &oemUrl[0];
    driverInfo.pszHardwareID = nullptr;
    driverInfo.pszProvider = &provider[0];

    // Every file is tested before deciding, so the log names all missing ones.
    bool missing = false;
    for (const wchar_t* name = dependentFiles; *name != L'\0'; name += wcslen(name) + 1) {
        std::wstring wstrFullPath = driverDirectory + L"\\" + name;
        if (!FileIsPresent(wstrFullPath)) {
            missing = true;
            Log(L"Unable to find printer driver dependent file '%s'", wstrFullPath);
            sys::SetLastError(ERROR_FILE_NOT_FOUND);
        }
    }
    const std::wstring coreFileList[] = {driverPath, dataFile, configFile, helpFile};
    for (const std::wstring& name : coreFileList) {
        std::wstring wstrFullPath = driverDirectory + L"\\" + name;
        if (!FileIsPresent(wstrFullPath)) {
            missing = true;
            Log(L"Unable to find printer driver core file '%s'", wstrFullPath);
            sys::SetLastError(ERROR_FILE_NOT_FOUND);
        }
    }
    if (missing) {
        LogError(L"Error: Not all dependent files could be found for the driver.", ERROR_FILE_NOT_FOUND);
        return false;
    }

    sys::SetLastError(0);
    if (!sys::AddPrinterDriverW(nullptr, 6, reinterpret_cast<LPBYTE>(&driverInfo))) {
        DWORD dwError = sys::GetLastError();
        LogError(L"AddPrinterDriver", dwError);
        Log(L"AddPrinterDriver failed with code '%d'", dwError);
        return false;
    }
    return true;
}

bool PrinterDriverInstaller::AddPrinter() {
    std::wstring comment = kPrinterComment;
    std::wstring printProcessor = osFamily == kPreVista ? L"MS_XPS" : L"WinPrint";
    std::wstring datatype = L"RAW";

    PRINTER_INFO_2W printerInfo{};
    printerInfo.pPrinterName = &printerName[0];
    printerInfo.pPortName = &portName[0];
    printerInfo.pDriverName = &driverName[0];
    printerInfo.pComment = &comment[0];
    printerInfo.pPrintProcessor = &printProcessor[0];
    printerInfo.pDatatype = &datatype[0];
    printerInfo.Attributes = PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_LOCAL;

    sys::SetLastError(0);
    sys::PrinterHandle hPrinter(sys::AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&printerInfo)));
    if (hPrinter) {
        return true;
    }
    DWORD dwError = sys::GetLastError();
    LogError(L"AddPrinter", dwError);
    Log(L"Add printer failed with code '%d'", dwError);
    if (dwError == ERROR_CAN_NOT_COMPLETE) {
        Log(L"Add printer failure is probably due to error in .gpd file");
    }
    return false;
}

void RemoveStagedSystemFiles(Installer& installer) {
    std::wstring driverDirectory;
    if (!QueryPrinterDriverDirectory(driverDirectory)) {
        installer.LogError(L"GetPrinterDriverDirectory", sys::GetLastError());
        return;
    }
    for (const wchar_t* name : kSystemDriverFiles) {
        std::wstring path = driverDirectory + L"\\" + name;
        if (!FileIsPresent(path)) {
            continue;
        }
        if (sys::DeleteFileW(path.c_str())) {
            installer.Log(
                L"Removed '%s': every installation stages and deletes a file of this name there, "
                L"whoever left this one.",
                path);
        } else {
            installer.ReportError(L"DeleteFile", path, sys::GetLastError());
        }
    }
}
