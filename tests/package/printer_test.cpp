// A printer can be created under Wine on a driver made of the package's files
// and the stand-ins for Windows' own files, registered the way the installer
// registers it: the system files staged from the stand-in INF files, the
// package's 13 driver files copied into the driver directory, the level-6
// driver record with each family's dependent files, the printer with each
// family's print processor. Wine's spooler calls into the configuration DLL
// (the stand-in unidrvui.dll) for the printer's default DEVMODE; that DLL is
// also checked on its own.
// Runs in a throwaway prefix with the stand-ins installed (in-standin-prefix).
//   package_printer_tests DIST_DIR [gtest options]
#include <windows.h>

#include <setupapi.h>
#include <winspool.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::wstring distDirectory;

const wchar_t* const kPackageFiles[] = {L"zorvane-pipelineconfig.xml",
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
                                        L"zorvanewmark.gpd"};

const wchar_t kCommonDependentFiles[] =
    L"zorvanenames.gpd\0zorvanewmark.gpd\0zorvanebook.gpd\0zorvanenup.gpd\0zorvanepgscl.gpd\0"
    L"zorvane-pipelineconfig.xml\0zorvanewmark.dll\0zorvanebook.dll\0zorvanenup.dll\0zorvanescale.dll\0"
    L"zorvanedrvui.dll\0zorvanedrv.ini\0msxpsinc.gpd\0stdnames.gpd\0unidrv.dll\0unires.dll\0xpssvcs.dll\0";
const wchar_t kGdlFiles[] = L"stddtype.gdl\0stdschem.gdl\0stdschmx.gdl\0";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring DriverDirectory() {
    wchar_t directory[MAX_PATH] = L"";
    DWORD needed = 0;
    if (!::GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(directory),
                                      sizeof directory, &needed)) {
        return L"";
    }
    return directory;
}

struct Family {
    const char* name;
    std::vector<wchar_t> dependentFiles;  // double-NUL-terminated
    const wchar_t* printProcessor;
};

Family MakeFamily(const char* name, bool withGdlFiles, const wchar_t* printProcessor) {
    Family family{name, {}, printProcessor};
    family.dependentFiles.assign(kCommonDependentFiles,
                                 kCommonDependentFiles + sizeof kCommonDependentFiles / sizeof(wchar_t) - 1);
    if (withGdlFiles) {
        family.dependentFiles.insert(family.dependentFiles.end(), kGdlFiles,
                                     kGdlFiles + sizeof kGdlFiles / sizeof(wchar_t) - 1);
    }
    family.dependentFiles.push_back(L'\0');
    return family;
}

// The system files from NTPRINT.INF's three sections, then the package's own.
void InstallDriverFiles(const std::wstring& driverDirectory) {
    HINF inf = ::SetupOpenInfFileW(L"NTPRINT.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE) << ::GetLastError();
    ASSERT_TRUE(::SetupSetDirectoryIdW(inf, 66000, driverDirectory.c_str()));
    HSPFILEQ queue = ::SetupOpenFileQueue();
    void* context = ::SetupInitDefaultQueueCallbackEx(nullptr, nullptr, 0, 0, nullptr);
    for (const wchar_t* section : {L"unidrv.oem", L"XPSGPD.OEM", L"xpsdrv.oem"}) {
        ::SetupInstallFilesFromInfSectionW(inf, nullptr, queue, section, nullptr, SP_COPY_FORCE_NEWER);
    }
    EXPECT_TRUE(::SetupCommitFileQueueW(nullptr, queue, SetupDefaultQueueCallbackW, context));
    ::SetupTermDefaultQueueCallback(context);
    ::SetupCloseFileQueue(queue);
    ::SetupCloseInfFile(inf);
    for (const wchar_t* name : kPackageFiles) {
        std::wstring source = distDirectory + L"\\" + name;
        ASSERT_TRUE(::CopyFileW(source.c_str(), (driverDirectory + L"\\" + name).c_str(), FALSE))
            << Narrow(source) << ": " << ::GetLastError();
    }
}

class PrinterOnPackageDriver : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override {
        driverDirectory = DriverDirectory();
        ASSERT_FALSE(driverDirectory.empty());
        ASSERT_NO_FATAL_FAILURE(InstallDriverFiles(driverDirectory));
        // One driver and printer per family: Wine cannot delete a driver.
        std::string family = GetParam().name;
        name = L"Zorvane Creator " + std::wstring(family.begin(), family.end());
    }

    std::wstring driverDirectory;
    std::wstring name;
};

TEST_P(PrinterOnPackageDriver, IsCreatedWithTheConfigurationDllsDefaultDevMode) {
    std::vector<wchar_t> dependentFiles = GetParam().dependentFiles;
    DRIVER_INFO_6W driver = {};
    driver.cVersion = 3;
    driver.pName = &name[0];
    driver.pEnvironment = const_cast<LPWSTR>(L"Windows NT x86");
    driver.pDriverPath = const_cast<LPWSTR>(L"mxdwdrv.dll");
    driver.pDataFile = const_cast<LPWSTR>(L"zorvanedrv.GPD");
    driver.pConfigFile = const_cast<LPWSTR>(L"UniDrvUI.dll");
    driver.pHelpFile = const_cast<LPWSTR>(L"UniDrv.HLP");
    driver.pDependentFiles = dependentFiles.data();
    driver.pDefaultDataType = const_cast<LPWSTR>(L"RAW");
    driver.pszMfgName = const_cast<LPWSTR>(L"Zorvane Systems, Inc.");
    driver.pszProvider = const_cast<LPWSTR>(L"Zorvane");
    driver.dwlDriverVersion = 0x00030001;
    ASSERT_TRUE(::AddPrinterDriverW(nullptr, 6, reinterpret_cast<BYTE*>(&driver))) << ::GetLastError();

    PRINTER_INFO_2W printer = {};
    printer.pPrinterName = &name[0];
    printer.pPortName = const_cast<LPWSTR>(L"LPT1:");
    printer.pDriverName = &name[0];
    printer.pPrintProcessor = const_cast<LPWSTR>(GetParam().printProcessor);
    printer.pDatatype = const_cast<LPWSTR>(L"RAW");
    printer.Attributes = PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_LOCAL;
    HANDLE handle = ::AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&printer));
    ASSERT_NE(handle, nullptr) << ::GetLastError();

    DWORD needed = 0;
    ::GetPrinterW(handle, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(::GetPrinterW(handle, 2, buffer.data(), needed, &needed)) << ::GetLastError();
    const PRINTER_INFO_2W* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    EXPECT_EQ(std::wstring(info->pDriverName), name);
    EXPECT_EQ(std::wstring(info->pPrintProcessor), GetParam().printProcessor);
    ASSERT_NE(info->pDevMode, nullptr);
    EXPECT_EQ(std::wstring(info->pDevMode->dmDeviceName), name);
    EXPECT_EQ(info->pDevMode->dmPaperSize, DMPAPER_LETTER);
    EXPECT_EQ(info->pDevMode->dmOrientation, DMORIENT_PORTRAIT);
    EXPECT_EQ(::DocumentPropertiesW(nullptr, handle, &name[0], nullptr, nullptr, 0),
              static_cast<LONG>(sizeof(DEVMODEW)));
    EXPECT_TRUE(::DeletePrinter(handle)) << ::GetLastError();
    ::ClosePrinter(handle);
}

std::string FamilyName(const ::testing::TestParamInfo<Family>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Families, PrinterOnPackageDriver,
                         ::testing::Values(MakeFamily("PreVista", false, L"MS_XPS"),
                                           MakeFamily("VistaOrLater", true, L"WinPrint")),
                         FamilyName);

// The stand-in configuration DLL on its own, as Wine's DocumentPropertiesW
// calls it: without a property sheet, through the documented header.
struct DocumentPropertyHeader {
    WORD cbSize;
    WORD Reserved;
    HANDLE hPrinter;
    LPWSTR pszPrinterName;
    PDEVMODEW pdmIn;
    PDEVMODEW pdmOut;
    DWORD cbOut;
    DWORD fMode;
};

class StandInConfigurationDll : public ::testing::Test {
protected:
    typedef LONG(WINAPI* PropertySheets)(void*, LPARAM);
    typedef DWORD(WINAPI* Capabilities)(HANDLE, PWSTR, WORD, PVOID, PDEVMODEW);

    void SetUp() override {
        wchar_t windows[MAX_PATH] = L"";
        ::GetWindowsDirectoryW(windows, MAX_PATH);
        module = ::LoadLibraryW((std::wstring(windows) + L"\\inf\\unidrvui.dll").c_str());
        ASSERT_NE(module, nullptr) << ::GetLastError();
        propertySheets = reinterpret_cast<PropertySheets>(Export("DrvDocumentPropertySheets"));
        capabilities = reinterpret_cast<Capabilities>(Export("DrvDeviceCapabilities"));
        ASSERT_NE(propertySheets, nullptr);
        ASSERT_NE(capabilities, nullptr);
        header.cbSize = sizeof header;
        header.pszPrinterName = const_cast<LPWSTR>(L"Stand-in printer");
    }
    void TearDown() override {
        if (module != nullptr) {
            ::FreeLibrary(module);
        }
    }
    void (*Export(const char* name))() {
        return reinterpret_cast<void (*)()>(::GetProcAddress(module, name));
    }

    HMODULE module = nullptr;
    PropertySheets propertySheets = nullptr;
    Capabilities capabilities = nullptr;
    DocumentPropertyHeader header = {};
};

TEST_F(StandInConfigurationDll, TellsTheSizeOfItsDevMode) {
    EXPECT_EQ(propertySheets(nullptr, reinterpret_cast<LPARAM>(&header)),
              static_cast<LONG>(sizeof(DEVMODEW)));
    EXPECT_EQ(header.cbOut, sizeof(DEVMODEW));
}

TEST_F(StandInConfigurationDll, FillsTheDefaultDevModeAndTakesOverTheCallersSettings) {
    DEVMODEW in = {};
    in.dmSize = sizeof in;
    in.dmFields = DM_ORIENTATION | DM_PAPERSIZE;
    in.dmOrientation = DMORIENT_LANDSCAPE;
    in.dmPaperSize = DMPAPER_A4;
    DEVMODEW out = {};
    header.pdmOut = &out;
    header.cbOut = sizeof out;
    header.fMode = DM_OUT_BUFFER;
    ASSERT_EQ(propertySheets(nullptr, reinterpret_cast<LPARAM>(&header)), IDOK);
    EXPECT_EQ(std::wstring(out.dmDeviceName), L"Stand-in printer");
    EXPECT_EQ(out.dmSize, sizeof(DEVMODEW));
    EXPECT_EQ(out.dmPaperSize, DMPAPER_LETTER);
    EXPECT_EQ(out.dmOrientation, DMORIENT_PORTRAIT);
    EXPECT_EQ(out.dmColor, DMCOLOR_COLOR);

    header.pdmIn = &in;
    header.fMode = DM_IN_BUFFER | DM_OUT_BUFFER;
    ASSERT_EQ(propertySheets(nullptr, reinterpret_cast<LPARAM>(&header)), IDOK);
    EXPECT_EQ(out.dmPaperSize, DMPAPER_A4);
    EXPECT_EQ(out.dmOrientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(out.dmColor, DMCOLOR_COLOR);
}

TEST_F(StandInConfigurationDll, RefusesASmallBufferAPropertySheetAndCapabilities) {
    DEVMODEW out = {};
    header.pdmOut = &out;
    header.cbOut = sizeof out - 1;
    header.fMode = DM_OUT_BUFFER;
    ::SetLastError(0xdeadbeef);
    EXPECT_EQ(propertySheets(nullptr, reinterpret_cast<LPARAM>(&header)), -1);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    int propertySheetInfo = 0;
    ::SetLastError(0xdeadbeef);
    EXPECT_EQ(propertySheets(&propertySheetInfo, reinterpret_cast<LPARAM>(&header)), -1);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(capabilities(nullptr, header.pszPrinterName, DC_PAPERS, nullptr, nullptr), GDI_ERROR);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: package_printer_tests DIST_DIR [gtest options]\n");
        return 2;
    }
    std::string directory = argv[1];
    distDirectory.assign(directory.begin(), directory.end());
    return RUN_ALL_TESTS();
}
