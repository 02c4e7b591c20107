#include <algorithm>
#include <fstream>
#include <memory>
#include <regex>

#include <gtest/gtest.h>

#include "platform/handles.h"
#include "setup/printerdriverinstaller.h"
#include "tests/sim/simulated_machine.h"
#include "tests/unit/machine_seeds.h"
#include "tests/unit/test_support.h"

namespace {

using Messages = std::vector<std::string>;

constexpr int kPreVista = 0;
constexpr int kVistaOrLater = 1;

std::vector<std::wstring> Names(const wchar_t* list) {
    std::vector<std::wstring> names;
    for (; *list != L'\0'; list += wcslen(list) + 1) {
        names.push_back(list);
    }
    return names;
}

// Exposes the file sets for the tests.
class InspectablePrinterDriverInstaller : public PrinterDriverInstaller {
public:
    using PrinterDriverInstaller::colorProfiles;
    using PrinterDriverInstaller::driverDirectory;
    using PrinterDriverInstaller::localDriverFiles;
    using PrinterDriverInstaller::PrinterDriverInstaller;
    using PrinterDriverInstaller::systemDriverFiles;
};

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallPrinterInfs(machine);
        PutPackage();
    }
    void TearDown() override {
        installer.reset();
        EXPECT_EQ(machine.OpenHandleCount(), 0);
    }

    // The product's files beside setup.exe; the UI DLL carries product
    // version 3.1.
    void PutPackage() { PutProductFiles(sourceDir); }

    InspectablePrinterDriverInstaller& Make(int family) {
        installer = std::make_unique<InspectablePrinterDriverInstaller>(
            L"Zorvane Creator", L"Zorvane Creator", L"ZorvanePort", sourceDir, family, logPath);
        return *installer;
    }

    // The log after the constructor's driver-directory line.
    Messages StepLog() const {
        Messages log;
        for (const std::string& message : LogMessages(logPath)) {
            if (message.rfind("GetPrinterDriverDirectory got", 0) != 0) {
                log.push_back(message);
            }
        }
        return log;
    }

    std::wstring Staged(const wchar_t* name) const { return machine.driverDirectory + L"\\" + name; }

    SimulatedMachine machine;
    std::wstring logPath = machine.root + L"\\log.txt";
    std::wstring sourceDir = machine.root + L"\\Setup\\";
    std::string src = Narrow(sourceDir);
    std::string drv = Narrow(machine.driverDirectory);
    std::unique_ptr<InspectablePrinterDriverInstaller> installer;
};

}  // namespace

TEST_F(DriverTest, ConstructionFindsTheDriverDirectoryAndBuildsTheSameSetsForBothFamilies) {
    for (int family : {kPreVista, kVistaOrLater}) {
        auto& driver = Make(family);
        EXPECT_EQ(driver.driverDirectory, machine.driverDirectory);
        EXPECT_EQ(driver.systemDriverFiles,
                  std::vector<std::wstring>(std::begin(kSystemFiles), std::end(kSystemFiles)));
        EXPECT_EQ(driver.localDriverFiles,
                  std::vector<std::wstring>(std::begin(kLocalFiles), std::end(kLocalFiles)));
        EXPECT_EQ(driver.colorProfiles,
                  std::vector<std::wstring>(std::begin(kProfiles), std::end(kProfiles)));
    }
    EXPECT_EQ(LogMessages(logPath)[0], "GetPrinterDriverDirectory got '" + drv + "'");
    EXPECT_EQ(machine.CallsTo("GetPrinterDriverDirectoryW")[0].args,
              (std::vector<std::wstring>{L"(null)", L"(null)", L"1", L"520"}));
}

TEST_F(DriverTest, WithoutADriverDirectoryNothingIsStagedCopiedOrDeleted) {
    machine.Fail("GetPrinterDriverDirectoryW", ERROR_ACCESS_DENIED);
    auto& driver = Make(kVistaOrLater);
    EXPECT_EQ(driver.driverDirectory, L"");
    EXPECT_FALSE(driver.AddDriver());
    installer.reset();
    EXPECT_EQ(
        LogMessages(logPath),
        (Messages{"Error: GetPrinterDriverDirectory: 5 . Access is denied.\r\r\n",
                  "Add driver failed: no printer driver directory (GetPrinterDriverDirectory failed), no "
                  "file copied",
                  "CleanSystemDrivers skipped: no printer driver directory, nothing was staged"}));
    for (const char* call : {"SetupOpenInfFileW", "CopyFileW", "DeleteFileW", "AddPrinterDriverW"}) {
        EXPECT_TRUE(machine.CallsTo(call).empty()) << call;
    }
}

TEST(DependentFiles, NameEveryPackageAndSystemFileButTheFourCoreFiles) {
    std::vector<std::wstring> preVista = Names(PreVistaDependentFiles);
    std::vector<std::wstring> vista = Names(VistaOrLaterDependentFiles);
    EXPECT_EQ(preVista.size(), 17u);
    ASSERT_EQ(vista.size(), 20u);
    EXPECT_EQ(std::vector<std::wstring>(vista.begin(), vista.begin() + 17), preVista);
    EXPECT_EQ(std::vector<std::wstring>(vista.begin() + 17, vista.end()),
              (std::vector<std::wstring>{L"stddtype.gdl", L"stdschem.gdl", L"stdschmx.gdl"}));
    const wchar_t* const core[] = {L"mxdwdrv.dll", L"zorvanedrv.gpd", L"unidrvui.dll", L"unidrv.hlp"};
    std::vector<const wchar_t*> all(std::begin(kSystemFiles), std::end(kSystemFiles));
    all.insert(all.end(), std::begin(kLocalFiles), std::end(kLocalFiles));
    for (const wchar_t* name : all) {
        bool isCore = std::any_of(std::begin(core), std::end(core),
                                  [&](const wchar_t* c) { return !_wcsicmp(c, name); });
        bool listed = std::count(preVista.begin(), preVista.end(), name) == 1;
        EXPECT_NE(isCore, listed) << Narrow(name);
    }
}

TEST(DependentFiles, NameTheProductsGpdFilesInTheOrderTheDataFileIncludesThem) {
    std::ifstream gpd(ZORVANE_SOURCE_DIR "/driver/zorvanedrv.gpd");
    std::vector<std::wstring> included;
    std::smatch include;
    for (std::string line; std::getline(gpd, line);) {
        if (std::regex_search(line, include, std::regex("^\\*Include:\\s*\"(zorvane[^\"]*)\""))) {
            included.push_back(std::wstring(include[1].first, include[1].second));
        }
    }
    ASSERT_FALSE(included.empty());
    for (const wchar_t* list : {PreVistaDependentFiles, VistaOrLaterDependentFiles}) {
        std::vector<std::wstring> gpds;
        for (const std::wstring& name : Names(list)) {
            if (std::count(included.begin(), included.end(), name) != 0) {
                gpds.push_back(name);
            }
        }
        EXPECT_EQ(gpds, included);
    }
}

TEST(Staging, OnTheWindowsXpGenerationTheXpsFilesComeFromTheXpsEssentialsPack) {
    SimulatedMachine machine;
    InstallWindowsXpPrinterInfs(machine);
    std::wstring logPath = machine.root + L"\\log.txt";
    PrinterDriverInstaller driver(L"Zorvane Creator", L"Zorvane Creator", L"ZorvanePort", L"", kPreVista,
                                  logPath);
    EXPECT_TRUE(driver.CopySystemDrivers());
    for (const wchar_t* name : kSystemFiles) {
        EXPECT_TRUE(FileExists(machine.driverDirectory + L"\\" + name)) << Narrow(name);
    }
    EXPECT_EQ(LogMessages(logPath).size(), 1u);  // the driver directory's line alone
}

TEST_F(DriverTest, StagingCopiesTheSystemFilesAndClosesEverythingInOrder) {
    for (int family : {kVistaOrLater, kPreVista}) {
        auto& driver = Make(family);
        machine.calls.clear();
        EXPECT_TRUE(driver.CopySystemDrivers());
        for (const wchar_t* name : kSystemFiles) {
            EXPECT_EQ(ReadBytes(Staged(name)), "stand-in " + Narrow(name));
        }
        EXPECT_TRUE(FileExists(Staged(L"stdschmx.gdl")));
        std::vector<std::string> closes;
        for (const auto& call : machine.calls) {
            if (call.name.rfind("SetupClose", 0) == 0 || call.name == "SetupTermDefaultQueueCallback") {
                closes.push_back(call.name + (call.args.empty() ? "" : " " + Narrow(call.args[0])));
            }
        }
        std::vector<std::string> expected{"SetupTermDefaultQueueCallback", "SetupCloseFileQueue",
                                          "SetupCloseInfFile NTPRINT.INF"};
        if (family == kPreVista) {
            expected.push_back("SetupCloseInfFile MSXPSDRV.INF");
        }
        EXPECT_EQ(closes, expected);
        for (const auto& section : machine.CallsTo("SetupInstallFilesFromInfSectionW")) {
            EXPECT_EQ(section.args,
                      (std::vector<std::wstring>{section.args[0], L"(null)", L"0x2000", L"(null)"}));
        }
        EXPECT_EQ(machine.CallsTo("SetupOpenInfFileW")[0].args,
                  (std::vector<std::wstring>{L"NTPRINT.INF", L"(null)", L"2", L"(null)"}));
        EXPECT_EQ(machine.CallsTo("SetupSetDirectoryIdW")[0].args,
                  (std::vector<std::wstring>{L"66000", machine.driverDirectory}));
        installer.reset();
        EXPECT_EQ(machine.OpenHandleCount(), 0);
    }
    EXPECT_EQ(StepLog().size(), 0u);
}

TEST(Staging, EachFailingStepGivesItsLinesAndResult) {
    const std::string xpArticle =
        "Add Driver failed calling SetupCommitFileQueue (WinXP): installing XPSdrivers failed, perhaps "
        "unsigned "
        "Unidrv.dll? See https://learn.microsoft.com/windows-hardware/drivers/install/driver-signing with "
        "code '5'";
    struct Case {
        const char* name;
        int family;
        std::function<void(SimulatedMachine&)> arrange;
        bool result;
        Messages lines;
    } cases[] = {
        {"V open NTPRINT",
         kVistaOrLater,
         [](SimulatedMachine& m) { m.Fail("SetupOpenInfFileW", 2, 1); },
         false,
         {"Error: SetupOpenInfFile NTPRINT.INF: 2 . The system cannot find the file specified.\r\r\n",
          "Add Driver failed calling SetupOpenInfFile NTPRINT.INF with code '2'"}},
        {"V directory id",
         kVistaOrLater,
         [](SimulatedMachine& m) { m.Fail("SetupSetDirectoryIdW", 5); },
         false,
         {"Error: SetupSetDirectoryId: 5 . Access is denied.\r\r\n",
          "Add Driver failed calling SetupSetDirectoryId with code '5'"}},
        {"V queue", kVistaOrLater, [](SimulatedMachine& m) { m.Fail("SetupOpenFileQueue", 5); }, false, {}},
        {"V context",
         kVistaOrLater,
         [](SimulatedMachine& m) { m.Fail("SetupInitDefaultQueueCallbackEx", 5); },
         false,
         {}},
        {"V sections and commit",
         kVistaOrLater,
         [](SimulatedMachine& m) {
             m.Fail("SetupInstallFilesFromInfSectionW", ERROR_SECTION_NOT_FOUND);
             m.Fail("SetupCommitFileQueueW", 5);
         },
         true,
         {"Add Driver failed calling SetupInstallFilesFromInfSection unidrv.oem with code '-536870655'",
          "Add Driver failed calling SetupInstallFilesFromInfSection XPSGPD.OEM with code '-536870655'",
          "Add Driver failed calling SetupInstallFilesFromInfSection xpsdrv.oem with code '-536870655'",
          "Add Driver failed calling SetupCommitFileQueue (VistaOrLater) with code '5'"}},
        {"XP open NTPRINT",
         kPreVista,
         [](SimulatedMachine& m) { m.Fail("SetupOpenInfFileW", 2, 1); },
         false,
         {"Error: SetupOpenInfFile NTPRINT.INF: 2 . The system cannot find the file specified.\r\r\n",
          "Add Driver failed calling SetupOpenInfFile NTPRINT.INF with code '2'"}},
        {"XP directory id of NTPRINT",
         kPreVista,
         [](SimulatedMachine& m) { m.Fail("SetupSetDirectoryIdW", 5, 1); },
         false,
         {"Error: SetupSetDirectoryId: 5 . Access is denied.\r\r\n",
          "Add Driver failed calling SetupSetDirectoryId with code '5'"}},
        {"XP no MSXPSDRV",
         kPreVista,
         [](SimulatedMachine& m) { ::DeleteFileW((m.infDirectory + L"\\MSXPSDRV.INF").c_str()); },
         false,
         {"Add Driver failed calling SetupOpenInfFile MSXPSDRV.INF with code '2'"}},
        {"XP directory id of MSXPSDRV",
         kPreVista,
         [](SimulatedMachine& m) { m.Fail("SetupSetDirectoryIdW", 5, 2); },
         false,
         {"Add Driver failed calling SetupSetDirectoryId with code '5'"}},
        {"XP queue", kPreVista, [](SimulatedMachine& m) { m.Fail("SetupOpenFileQueue", 5); }, false, {}},
        {"XP context",
         kPreVista,
         [](SimulatedMachine& m) { m.Fail("SetupInitDefaultQueueCallbackEx", 5); },
         false,
         {"Add Driver failed calling SetupInitDefaultQueueCallbackEx with code '8'"}},
        {"XP unidrv section",
         kPreVista,
         [](SimulatedMachine& m) { m.Fail("SetupInstallFilesFromInfSectionW", ERROR_SECTION_NOT_FOUND, 1); },
         true,
         {"Error: SetupInstallFilesFromInfSection unidrv.oem: -536870655 "}},
        {"XP XPS sections",
         kPreVista,
         [](SimulatedMachine& m) {
             m.Fail("SetupInstallFilesFromInfSectionW", ERROR_SECTION_NOT_FOUND, 2);
             m.Fail("SetupInstallFilesFromInfSectionW", ERROR_SECTION_NOT_FOUND, 3);
         },
         true,
         {"Add Driver failed calling SetupInstallFilesFromInfSection XPSGPD.OEM with code '-536870655'",
          "Add Driver failed calling SetupInstallFilesFromInfSection xpsdrv.oem with code '-536870655'"}},
        {"XP commit",
         kPreVista,
         [](SimulatedMachine& m) { m.Fail("SetupCommitFileQueueW", 5); },
         false,
         {xpArticle}},
    };
    for (const Case& c : cases) {
        SimulatedMachine machine;
        InstallPrinterInfs(machine);
        std::wstring logPath = machine.root + L"\\log.txt";
        c.arrange(machine);
        {
            PrinterDriverInstaller driver(L"Zorvane Creator", L"Zorvane Creator", L"ZorvanePort", L"",
                                          c.family, logPath);
            ::SetLastError(0);
            EXPECT_EQ(driver.CopySystemDrivers(), c.result) << c.name;
            if (!c.result && c.lines.empty()) {
                EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)) << c.name;
            }
            EXPECT_EQ(machine.OpenHandleCount(), 0) << c.name;
            Messages log = LogMessages(logPath);
            EXPECT_EQ(Messages(log.begin() + 1, log.end()), c.lines) << c.name;
        }
    }
}

TEST_F(DriverTest, AnUnsupportedFamilyNamesTheSourceLineAndTouchesNoSetupApi) {
    auto& driver = Make(2);
    EXPECT_FALSE(driver.CopySystemDrivers());
    // The line of the statement, as the source holds it.
    std::ifstream source(ZORVANE_SOURCE_DIR "/setup/printerdriverinstaller.cpp");
    std::string line;
    int number = 0;
    int statement = 0;
    while (std::getline(source, line)) {
        ++number;
        if (line.find("Unsupported OS version in CopySystemDrivers") != std::string::npos) {
            statement = number;
        }
    }
    ASSERT_GT(statement, 0);
    EXPECT_EQ(StepLog(),
              Messages{"Unsupported OS version in CopySystemDrivers setup/printerdriverinstaller.cpp@" +
                       std::to_string(statement)});
    for (const auto& call : machine.calls) {
        EXPECT_NE(call.name.rfind("Setup", 0), 0u) << call.name;
    }
}

TEST_F(DriverTest, LocalFilesGoToTheDriverAndColourDirectories) {
    WriteBytes(Staged(L"zorvanedrv.gpd"), "old");
    auto& driver = Make(kVistaOrLater);
    EXPECT_TRUE(driver.CopyLocalFiles());
    for (const wchar_t* name : kLocalFiles) {
        EXPECT_TRUE(FileExists(Staged(name))) << Narrow(name);
    }
    EXPECT_EQ(ReadBytes(Staged(L"zorvanedrv.gpd")), "package zorvanedrv.gpd");
    EXPECT_EQ(ReadBytes(machine.systemDirectory + L"\\spool\\drivers\\color\\zorvanewscRGB.icc"),
              "profile zorvanewscRGB.icc");
    EXPECT_EQ(machine.CallsTo("CopyFileW")[14].args[1],
              machine.driverDirectory + L"\\..\\color\\zorvanewscRGB.icc");
    EXPECT_EQ(StepLog(), Messages{});
}

TEST_F(DriverTest, MissingSourcesAreGatheredIntoOneReport) {
    ::DeleteFileW((sourceDir + L"zorvanebook.dll").c_str());
    ::DeleteFileW((sourceDir + L"zorvanewscRGB.icc").c_str());
    auto& driver = Make(kPreVista);
    EXPECT_FALSE(driver.CopyLocalFiles());
    std::string list = src + "zorvanebook.dll\r\n" + src + "zorvanewscRGB.icc\r\n";
    EXPECT_EQ(StepLog(),
              (Messages{"Error: CopyFile: 2 " + list + ". The system cannot find the file specified.\r\r\n",
                        "Copy Local Files failed '" + list + "'"}));
    EXPECT_TRUE(FileExists(Staged(L"zorvanewmark.gpd")));
    EXPECT_TRUE(FileExists(machine.systemDirectory + L"\\spool\\drivers\\color\\zorvaneCMYKPrinter.icc"));
}

TEST_F(DriverTest, WithoutAColourDirectoryBothProfilesFail) {
    ::RemoveDirectoryW((machine.systemDirectory + L"\\spool\\drivers\\color").c_str());
    auto& driver = Make(kVistaOrLater);
    EXPECT_FALSE(driver.CopyLocalFiles());
    Messages log = StepLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "Copy Local Files failed '" + src + "zorvaneCMYKPrinter.icc\r\n" + src +
                          "zorvanewscRGB.icc\r\n'");
    EXPECT_FALSE(FileExists(machine.systemDirectory + L"\\spool\\drivers\\color"));
}

TEST_F(DriverTest, AddDriverRegistersTheRecordForEachFamily) {
    for (int family : {kPreVista, kVistaOrLater}) {
        machine.drivers.clear();
        auto& driver = Make(family);
        ASSERT_TRUE(driver.AddDriver());
        const SimulatedMachine::Driver& record = machine.drivers.at(L"Zorvane Creator");
        EXPECT_EQ(record.version, 3u);
        EXPECT_EQ(record.environment, L"Windows NT x86");
        EXPECT_EQ(record.driverPath, L"mxdwdrv.dll");
        EXPECT_EQ(record.dataFile, L"zorvanedrv.GPD");
        EXPECT_EQ(record.configFile, L"UniDrvUI.dll");
        EXPECT_EQ(record.helpFile, L"UniDrv.HLP");
        EXPECT_EQ(record.dependentFiles,
                  Names(family == kPreVista ? PreVistaDependentFiles : VistaOrLaterDependentFiles));
        EXPECT_TRUE(record.previousNames.empty());
        EXPECT_FALSE(record.hasMonitorName);
        EXPECT_FALSE(record.hasHardwareId);
        EXPECT_EQ(record.defaultDataType, L"RAW");
        EXPECT_EQ(record.driverVersion, 0x00030001ull);  // product version 3.1; file version 9.8 ignored
        EXPECT_EQ(record.mfgName, L"Zorvane Systems, Inc.");
        EXPECT_EQ(record.oemUrl, kMakerUrl);
        EXPECT_EQ(record.provider, L"Zorvane");
        WIN32_FILE_ATTRIBUTE_DATA ui;
        ASSERT_TRUE(::GetFileAttributesExW(Staged(L"zorvanedrvui.dll").c_str(), GetFileExInfoStandard, &ui));
        EXPECT_EQ(CompareFileTime(&record.date, &ui.ftLastWriteTime), 0);
        EXPECT_EQ(
            machine.CallsTo("CreateFileW").back().args,
            (std::vector<std::wstring>{Staged(L"zorvanedrvui.dll"), L"0x80000000", L"0x2", L"3", L"0x80"}));
        EXPECT_EQ(machine.CallsTo("VerQueryValueW")[0].args[0], L"\\");
        EXPECT_EQ(StepLog(), Messages{});
        installer.reset();
        EXPECT_EQ(machine.OpenHandleCount(), 0);
    }
}

TEST(Driver, MissingFilesAreAllNamedBeforeTheDriverIsRefused) {
    const std::string allGone =
        "Error: Error: Not all dependent files could be found for the driver.: 2 . The system cannot find "
        "the file "
        "specified.\r\r\n";
    struct Case {
        const char* name;
        int family;
        std::string unidrvCopyFiles;
        std::string xpsDrvCopyFiles;
        Messages log;  // empty: registered
    } cases[] = {
        {"VistaOrLater without stdschem.gdl",
         kVistaOrLater,
         "@unidrv.dll,@unidrvui.dll,@unires.dll,@unidrv.hlp,@stdnames.gpd,@stddtype.gdl,@stdschmx.gdl",
         kXpsDrvCopyFiles,
         {"Unable to find printer driver dependent file '<drv>\\stdschem.gdl'", allGone}},
        {"PreVista without stdschem.gdl",
         kPreVista,
         "@unidrv.dll,@unidrvui.dll,@unires.dll,@unidrv.hlp,@stdnames.gpd,@stddtype.gdl,@stdschmx.gdl",
         kXpsDrvCopyFiles,
         {}},
        {"a dependent and a core file",
         kPreVista,
         "@unidrv.dll,@unidrvui.dll,@unidrv.hlp,@stdnames.gpd",
         "@xpssvcs.dll",
         {"Unable to find printer driver dependent file '<drv>\\unires.dll'",
          "Unable to find printer driver core file '<drv>\\mxdwdrv.dll'", allGone}},
    };
    for (Case& c : cases) {
        SimulatedMachine machine;
        InstallPrinterInfs(machine, true, c.unidrvCopyFiles, c.xpsDrvCopyFiles);
        std::wstring logPath = machine.root + L"\\log.txt";
        std::wstring sourceDir = machine.root + L"\\Setup\\";
        PutProductFiles(sourceDir);
        for (std::string& line : c.log) {
            size_t at = line.find("<drv>");
            if (at != std::string::npos) {
                line.replace(at, 5, Narrow(machine.driverDirectory));
            }
        }
        {
            PrinterDriverInstaller driver(L"Zorvane Creator", L"Zorvane Creator", L"ZorvanePort", sourceDir,
                                          c.family, logPath);
            EXPECT_EQ(driver.AddDriver(), c.log.empty()) << c.name;
            Messages log = LogMessages(logPath);
            EXPECT_EQ(Messages(log.begin() + 1, log.end()), c.log) << c.name;
            EXPECT_EQ(machine.CallsTo("AddPrinterDriverW").size(), c.log.empty() ? 1u : 0u) << c.name;
            machine.Fail("DeleteFileW", ERROR_ACCESS_DENIED);  // keep the release quiet
        }
    }
}

TEST(Driver, AddDriverStopsAtTheFirstFailingStep) {
    struct Case {
        const char* name;
        std::function<void(SimulatedMachine&, const std::wstring& sourceDir)> arrange;
        Messages lines;  // the last lines
    } cases[] = {
        {"staging",
         [](SimulatedMachine& m, const std::wstring&) { m.Fail("SetupOpenFileQueue", 5); },
         {"CopySystemDrivers failed ", "Add driver failed due to failure in Copy System Drivers"}},
        {"local files",
         [](SimulatedMachine&, const std::wstring& dir) { ::DeleteFileW((dir + L"zorvanedrv.ini").c_str()); },
         {"Add driver failed due to failure in Copy Local Files", "CopyLocalFiles failed "}},
        {"no version resource",
         [](SimulatedMachine&, const std::wstring& dir) {
             WriteBytes(dir + L"zorvanedrvui.dll", "not a DLL");
         },
         {"Add driver failed due to failure in GetFileVersionInfoSize"}},
        {"probe open",
         // The first open is the log's own.
         [](SimulatedMachine& m, const std::wstring&) { m.Fail("CreateFileW", 5, 2); },
         {"Add driver failed due to failure in CreateFile"}},
        {"probe time",
         [](SimulatedMachine& m, const std::wstring&) { m.Fail("GetFileTime", 5); },
         {"Add driver failed due to failure in GetFileTime"}},
        {"version data",
         [](SimulatedMachine& m, const std::wstring&) { m.Fail("GetFileVersionInfoW", 5); },
         {"Add driver failed due to failure in GetFileVersionInfo"}},
        {"version query",
         [](SimulatedMachine& m, const std::wstring&) { m.Fail("VerQueryValueW", 1813); },
         {"Error: VerQueryValue: 1813 ", "Add driver failed due to failure in VerQueryValue"}},
        {"registration",
         [](SimulatedMachine& m, const std::wstring&) { m.Fail("AddPrinterDriverW", 5); },
         {"Error: AddPrinterDriver: 5 . Access is denied.\r\r\n", "AddPrinterDriver failed with code '5'"}},
    };
    for (const Case& c : cases) {
        SimulatedMachine machine;
        InstallPrinterInfs(machine);
        std::wstring logPath = machine.root + L"\\log.txt";
        std::wstring sourceDir = machine.root + L"\\Setup\\";
        PutProductFiles(sourceDir);
        c.arrange(machine, sourceDir);
        {
            PrinterDriverInstaller driver(L"Zorvane Creator", L"Zorvane Creator", L"ZorvanePort", sourceDir,
                                          kVistaOrLater, logPath);
            EXPECT_FALSE(driver.AddDriver()) << c.name;
            EXPECT_EQ(machine.OpenHandleCount(), 0) << c.name;
            Messages log = LogMessages(logPath);
            ASSERT_GE(log.size(), c.lines.size()) << c.name;
            EXPECT_EQ(Messages(log.end() - c.lines.size(), log.end()), c.lines) << c.name;
            if (std::string(c.name) == "staging") {
                EXPECT_TRUE(machine.CallsTo("CopyFileW").empty());
            }
            EXPECT_TRUE(machine.drivers.empty()) << c.name;
        }
    }
}

TEST_F(DriverTest, ReleaseDeletesTheEightStagedFilesAndNothingElse) {
    auto& driver = Make(kVistaOrLater);
    ASSERT_TRUE(driver.AddDriver());
    installer.reset();
    for (const wchar_t* name : kSystemFiles) {
        EXPECT_FALSE(FileExists(Staged(name))) << Narrow(name);
    }
    EXPECT_TRUE(FileExists(Staged(L"stdschem.gdl")));
    EXPECT_TRUE(FileExists(Staged(L"zorvanedrvui.dll")));
    EXPECT_EQ(StepLog(), Messages{});
}

TEST_F(DriverTest, ReleaseWithNothingStagedReportsEachFile) {
    Make(kPreVista);
    installer.reset();
    Messages expected;
    for (const wchar_t* name : kSystemFiles) {
        std::string path = drv + "\\" + Narrow(name);
        expected.push_back("Error: CleanSystemDrivers Failed: 2 " + path +
                           ". The system cannot find the file specified.\r\r\n");
        expected.push_back("CleanSystemDrivers Failed on file '" + path + "'");
    }
    EXPECT_EQ(StepLog(), expected);
}

TEST_F(DriverTest, AddPrinterCreatesAQueuedLocalPrinterForEachFamily) {
    machine.ports[L"ZorvanePort"] = L"Zorvane Creator Port Monitor";
    for (int family : {kPreVista, kVistaOrLater}) {
        machine.printers.clear();
        auto& driver = Make(family);
        ASSERT_TRUE(driver.AddDriver());
        ASSERT_TRUE(driver.AddPrinter());
        ASSERT_EQ(machine.printers.size(), 1u);
        const SimulatedMachine::Printer& printer = machine.printers[0];
        EXPECT_EQ(printer.name, L"Zorvane Creator");
        EXPECT_EQ(printer.driver, L"Zorvane Creator");
        EXPECT_EQ(printer.port, L"ZorvanePort");
        EXPECT_EQ(printer.printProcessor, family == kPreVista ? L"MS_XPS" : L"WinPrint");
        EXPECT_EQ(printer.datatype, L"RAW");
        EXPECT_EQ(printer.attributes, 0x41u);
        EXPECT_EQ(printer.comment,
                  std::wstring(kMakerUrl) + L" - Print to PDF, PDF/A, XPS, SVG, EMF, PNG, JPEG, and TIFF");
        EXPECT_EQ(machine.CallsTo("AddPrinterW").back().args[1], L"2");
        installer.reset();
        EXPECT_EQ(machine.OpenHandleCount(), 0);
    }
}

TEST(Printer, AddPrinterFailures) {
    struct Case {
        const char* name;
        std::function<void(SimulatedMachine&)> arrange;
        Messages log;
    } cases[] = {
        {"no driver",
         [](SimulatedMachine&) {},
         {"Error: AddPrinter: 1797 . The printer driver is unknown.\r\r\n",
          "Add printer failed with code '1797'"}},
        {"cannot complete",
         [](SimulatedMachine& m) { m.Fail("AddPrinterW", ERROR_CAN_NOT_COMPLETE); },
         {"Error: AddPrinter: 1003 . Cannot complete this function.\r\r\n",
          "Add printer failed with code '1003'",
          "Add printer failure is probably due to error in .gpd file"}},
        {"no MS_XPS print processor",
         [](SimulatedMachine& m) { m.printProcessors.erase(L"MS_XPS"); },
         {"Error: AddPrinter: 1798 . The print processor is unknown.\r\r\n",
          "Add printer failed with code '1798'"}},
    };
    for (const Case& c : cases) {
        SimulatedMachine machine;
        std::wstring logPath = machine.root + L"\\log.txt";
        c.arrange(machine);
        machine.Fail("DeleteFileW", ERROR_FILE_NOT_FOUND);
        {
            PrinterDriverInstaller driver(L"Zorvane Creator", L"Zorvane Creator", L"ZorvanePort", L"",
                                          kPreVista, logPath);
            ::DeleteFileW(logPath.c_str());
            EXPECT_FALSE(driver.AddPrinter()) << c.name;
            EXPECT_EQ(LogMessages(logPath), c.log) << c.name;
            ::DeleteFileW(logPath.c_str());
        }
        EXPECT_TRUE(machine.printers.empty());
        EXPECT_EQ(machine.OpenHandleCount(), 0) << c.name;
    }
}

TEST(Staging, TheProjectsStandInInfFilesStageTheSystemFilesOnTheSimulatedMachine) {
    for (int family : {kPreVista, kVistaOrLater}) {
        SimulatedMachine machine;
        std::wstring standins = ZORVANE_WIDE(ZORVANE_STANDINS_DIR) L"/inf/";
        WIN32_FIND_DATAW found;
        FindHandle search(::FindFirstFileW((standins + L"*").c_str(), &found));
        ASSERT_TRUE(search) << ::GetLastError();
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                ASSERT_TRUE(::CopyFileW((standins + found.cFileName).c_str(),
                                        (machine.infDirectory + L"\\" + found.cFileName).c_str(), FALSE));
            }
        } while (::FindNextFileW(search.Get(), &found));
        search.Close();
        machine.Fail("DeleteFileW", ERROR_ACCESS_DENIED);  // keep what was staged for the checks below
        {
            PrinterDriverInstaller driver(L"Zorvane Creator", L"Zorvane Creator", L"ZorvanePort", L"", family,
                                          L"");
            EXPECT_TRUE(driver.CopySystemDrivers());
        }
        for (const wchar_t* name : kSystemFiles) {
            EXPECT_EQ(ReadBytes(machine.driverDirectory + L"\\" + name), ReadBytes(standins + name))
                << Narrow(name);
        }
        for (const wchar_t* name : {L"stddtype.gdl", L"stdschem.gdl", L"stdschmx.gdl"}) {
            EXPECT_TRUE(FileExists(machine.driverDirectory + L"\\" + name)) << Narrow(name);
        }
        auto sections = machine.CallsTo("SetupInstallFilesFromInfSectionW");
        EXPECT_EQ(sections.size(), 3u);
        EXPECT_EQ(machine.OpenHandleCount(), 0);
    }
}
