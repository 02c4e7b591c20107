// Whole runs of RunSetup against the simulated machine: the log, the result
// and the machine's state afterwards.
#include <algorithm>

#include <gtest/gtest.h>

#include "setup/printeruninstaller.h"
#include "setup/setup.h"
#include "tests/unit/machine_seeds.h"

namespace {

using Messages = std::vector<std::string>;

const wchar_t kMonitor[] = L"Zorvane Creator Port Monitor";
const wchar_t kPort[] = L"ZorvanePort";
const wchar_t kPrinter[] = L"Zorvane Creator";
const wchar_t kDriver[] = L"Zorvane Creator";
constexpr int kPreVista = 0;
constexpr int kVistaOrLater = 1;

const std::string kNames =
    "Zorvane Creator, using driver Zorvane Creator, port monitor Zorvane Creator Port Monitor, port name "
    "ZorvanePort on OS ";

// A machine with Windows' printer INF files and the product beside setup.exe.
class SequenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallPrinterInfs(machine);
        PutProductFiles(sourceDir);
    }
    void TearDown() override { EXPECT_EQ(machine.OpenHandleCount(), 0); }

    bool Install(int family = kVistaOrLater, bool standalone = true) {
        return RunSetup(kMonitor, kPort, kPrinter, kDriver, SetupMode::Install, logPath, family, standalone);
    }
    bool Uninstall(int family = kVistaOrLater) {
        return RunSetup(kMonitor, kPort, kPrinter, kDriver, SetupMode::Uninstall, logPath, family, true);
    }

    // The log's messages, the machine's private root shown as "<root>".
    Messages Log() const {
        Messages log = LogMessages(logPath);
        std::string root = Narrow(machine.root);
        for (std::string& line : log) {
            for (size_t at; (at = line.find(root)) != std::string::npos;) {
                line.replace(at, root.size(), "<root>");
            }
        }
        return log;
    }
    void ClearLog() { ::DeleteFileW(logPath.c_str()); }

    size_t Count(const Messages& log, const std::string& line) const {
        return static_cast<size_t>(std::count(log.begin(), log.end(), line));
    }

    // The product as an installation leaves it.
    void SeedInstalledProduct() {
        ASSERT_TRUE(Install());
        ClearLog();
        machine.calls.clear();
    }

    SimulatedMachine machine;
    std::wstring logPath = machine.root + L"\\log.txt";
    std::wstring sourceDir = machine.root + L"\\Setup\\";
};

}  // namespace

TEST_F(SequenceTest, AFreshInstallationRunsEveryStepInOrder) {
    EXPECT_TRUE(Install(kVistaOrLater, true));
    EXPECT_EQ(Log(), (Messages{
                         "Starting installation of " + kNames + "VistaOrLater",
                         "Started printer spooler.",
                         "Copied port monitor file '<root>\\Setup\\zorvanemon.dll' to "
                         "'<root>\\Windows\\system32\\zorvanemon.dll'",
                         "Copied port monitor file '<root>\\Setup\\queldac.dll' to "
                         "'<root>\\Windows\\system32\\queldac.dll'",
                         "Monitor Installed.",
                         "Port Installed.",
                         "GetPrinterDriverDirectory got '<root>\\Windows\\system32\\spool\\drivers\\w32x86'",
                         "Driver Installed.",
                         "Printer Installed.",
                         "Finishing installation of " + kNames + "VistaOrLater",
                     }));
}

TEST_F(SequenceTest, BothFamiliesStandAloneAndBundledInstallTheirPrinter) {
    struct Case {
        int family;
        bool standalone;
        const wchar_t* printProcessor;
    } cases[] = {
        {kPreVista, true, L"MS_XPS"},
        {kPreVista, false, L"MS_XPS"},
        {kVistaOrLater, true, L"WinPrint"},
        {kVistaOrLater, false, L"WinPrint"},
    };
    for (const Case& c : cases) {
        if (c.family == kPreVista) {
            InstallWindowsXpPrinterInfs(machine);
        } else {
            InstallPrinterInfs(machine);
        }
        machine.printers.clear();
        machine.drivers.clear();
        machine.monitors.clear();
        machine.ports.clear();
        ::DeleteFileW((machine.systemDirectory + L"\\queldac.dll").c_str());
        ClearLog();
        EXPECT_TRUE(Install(c.family, c.standalone));
        ASSERT_EQ(machine.printers.size(), 1u);
        EXPECT_EQ(machine.printers[0].printProcessor, c.printProcessor);
        EXPECT_EQ(machine.printers[0].port, kPort);
        EXPECT_EQ(machine.monitors.at(kMonitor), L"zorvanemon.dll");
        EXPECT_EQ(machine.ports.at(kPort), kMonitor);
        EXPECT_EQ(machine.drivers.at(kDriver).dependentFiles.size(), c.family == kPreVista ? 17u : 20u);
        EXPECT_EQ(FileExists(machine.systemDirectory + L"\\queldac.dll"), c.standalone);
        EXPECT_FALSE(FileExists(machine.driverDirectory + L"\\unidrv.dll"));  // staged, then cleaned up
        Messages log = Log();
        EXPECT_EQ(log.front(), "Starting installation of " + kNames +
                                   (c.family == kPreVista ? "PreVista" : "VistaOrLater"));
        EXPECT_EQ(log.back(), "Finishing installation of " + kNames +
                                  (c.family == kPreVista ? "PreVista" : "VistaOrLater"));
    }
}

TEST_F(SequenceTest, AnInstalledPrinterEndsTheRunAtOnceWithSuccess) {
    SeedInstalledProduct();
    machine.monitors.clear();  // a broken installation is not repaired
    EXPECT_TRUE(Install());
    EXPECT_EQ(Log(), (Messages{"Starting installation of " + kNames + "VistaOrLater",
                               "Started printer spooler.", "Printer is already installed."}));
    EXPECT_TRUE(machine.CallsTo("CopyFileW").empty());
    EXPECT_TRUE(machine.CallsTo("AddMonitorW").empty());
    EXPECT_TRUE(machine.monitors.empty());
    EXPECT_EQ(machine.CallsTo("ClosePrinter").size(), 2u);  // the print-server probe and the printer
    EXPECT_TRUE(machine.CallsTo("DeleteFileW").empty());    // no staged file to remove
}

// A run killed between staging and its clean-up left the staged system
// files; the next installation finds the printer and deletes the files of
// those names at the top of the driver directory, whoever left them there.
// A registered driver's copy in its version directory and a file of another
// name stay; a file that cannot be deleted is reported and the rest go.
TEST_F(SequenceTest, AnInstalledPrinterRemovesTheStagedNamesWhoeverLeftThem) {
    SeedInstalledProduct();
    ASSERT_TRUE(::CreateDirectoryW((machine.driverDirectory + L"\\3").c_str(), nullptr));
    const std::wstring kept[] = {machine.driverDirectory + L"\\3\\unidrv.dll",
                                 machine.driverDirectory + L"\\older.gpd"};
    for (const std::wstring& path : kept) {
        WriteBytes(path, "another driver's");
    }
    for (const wchar_t* name : {L"mxdwdrv.dll", L"unidrv.dll", L"xpssvcs.dll"}) {
        WriteBytes(machine.driverDirectory + L"\\" + name, "planted");
    }
    machine.RestartUseCounts();
    machine.Fail("DeleteFileW", ERROR_ACCESS_DENIED, 2);
    EXPECT_TRUE(Install());
    const std::string dir = "<root>\\Windows\\system32\\spool\\drivers\\w32x86\\";
    const std::string removed =
        "': every installation stages and deletes a file of this name there, whoever "
        "left this one.";
    EXPECT_EQ(Log(),
              (Messages{"Starting installation of " + kNames + "VistaOrLater", "Started printer spooler.",
                        "Printer is already installed.", "Removed '" + dir + "mxdwdrv.dll" + removed,
                        "Error: DeleteFile: 5 " + dir + "unidrv.dll. Access is denied.\r\r\n",
                        "Removed '" + dir + "xpssvcs.dll" + removed}));
    for (const std::wstring& path : kept) {
        EXPECT_TRUE(FileExists(path)) << Narrow(path);
    }
}

TEST_F(SequenceTest, AFailedSpoolerStartMarksTheMonitorStepFailedWhateverItDid) {
    machine.Fail("StartServiceW", ERROR_ACCESS_DENIED);  // the service runs, but the start was refused
    EXPECT_FALSE(Install());
    Messages log = Log();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[1], "Error: starting spooler service: 5 . Access is denied.\r\r\n");
    EXPECT_EQ(log[2], "Unable to start printer spooler.");
    EXPECT_EQ(log[5], "Error: Monitor Not Installed.");
    EXPECT_EQ(machine.monitors.count(kMonitor), 1u);  // registered all the same
    EXPECT_EQ(log[log.size() - 1], "Unable to install Zorvane Quelda Printer due to previous errors. ");
}

TEST_F(SequenceTest, AFailedDriverRegistrationStillTriesThePrinterAndCleansUpLast) {
    machine.Fail("AddPrinterDriverW", ERROR_ACCESS_DENIED);
    machine.Fail("DeleteFileW", ERROR_ACCESS_DENIED, 8);  // the last staged file stays behind
    EXPECT_FALSE(Install(kPreVista));
    Messages log = Log();
    Messages tail(log.end() - 10, log.end());
    EXPECT_EQ(tail,
              (Messages{
                  "Error: AddPrinterDriver: 5 . Access is denied.\r\r\n",
                  "AddPrinterDriver failed with code '5'",
                  "Error: Driver Not Installed.",
                  "Error: AddPrinter: 1797 . The printer driver is unknown.\r\r\n",
                  "Add printer failed with code '1797'",
                  "Error: Printer Not Installed.",
                  "Finishing installation of " + kNames + "PreVista",
                  "Unable to install Zorvane Quelda Printer due to previous errors. ",
                  "Error: CleanSystemDrivers Failed: 5 <root>\\Windows\\system32\\spool\\drivers\\w32x86\\"
                  "xpssvcs.dll. Access is denied.\r\r\n",
                  "CleanSystemDrivers Failed on file "
                  "'<root>\\Windows\\system32\\spool\\drivers\\w32x86\\xpssvcs.dll'",
              }));
}

TEST_F(SequenceTest, AnExceptionInsideAddDriverStillCleansUpAndFails) {
    machine.Throw("GetFileVersionInfoSizeW");
    EXPECT_FALSE(Install());
    Messages log = Log();
    EXPECT_EQ(
        log.back(),
        "GetPrinterDriverDirectory got '<root>\\Windows\\system32\\spool\\drivers\\w32x86'");  // no finishing
                                                                                               // line
    for (const wchar_t* name : kSystemFiles) {
        EXPECT_FALSE(FileExists(machine.driverDirectory + L"\\" + name)) << Narrow(name);
    }
    EXPECT_EQ(machine.CallsTo("DeleteFileW").size(), 8u);
}

TEST_F(SequenceTest, NoSourceDirectoryIsFatal) {
    machine.modulePath = L"setup.exe";
    EXPECT_FALSE(Install());
    EXPECT_EQ(Log(),
              (Messages{"Starting installation of " + kNames + "VistaOrLater", "Started printer spooler.",
                        "Error: Unable to extract resources, fatal error."}));
    EXPECT_TRUE(machine.CallsTo("CopyFileW").empty());
}

TEST_F(SequenceTest, UninstallingANeverInstalledProductSucceedsInOneAttempt) {
    EXPECT_TRUE(Uninstall(kPreVista));
    EXPECT_EQ(Log(),
              (Messages{
                  "Starting uninstallation of " + kNames + "PreVista",
                  "Error searching for printers. Unable to find any printers. Please try rebooting, then "
                  "retry uninstallation.",
                  "Printer driver is not known or has already been deleted 'Zorvane Creator'",
                  "Port monitor 'Zorvane Creator Port Monitor' is unknown or already deleted",
                  "Finishing uninstallation of " + kNames + "PreVista",
              }));
    EXPECT_EQ(machine.CallsTo("Sleep")[0].args[0], L"500");  // the restart's stop
    EXPECT_EQ(std::count_if(
                  machine.calls.begin(), machine.calls.end(),
                  [](const SimulatedMachine::Call& c) { return c.name == "Sleep" && c.args[0] == L"100"; }),
              1);
}

TEST_F(SequenceTest, UninstallingAnInstalledProductRemovesPrinterDriverAndMonitor) {
    SeedInstalledProduct();
    machine.printers[0].jobs = 3;
    EXPECT_TRUE(Uninstall());
    EXPECT_EQ(Log(), (Messages{
                         "Starting uninstallation of " + kNames + "VistaOrLater",
                         "Deleted printer 'Zorvane Creator' using driver name 'Zorvane Creator'",
                         "Deleted printer driver 'Zorvane Creator'",
                         "Deleted printer port monitor 'Zorvane Creator Port Monitor'",
                         "Finishing uninstallation of " + kNames + "VistaOrLater",
                     }));
    EXPECT_EQ(machine.CallsTo("SetPrinterW")[0].args, (std::vector<std::wstring>{L"0", L"(null)", L"3"}));
    EXPECT_EQ(machine.CallsTo("DeletePrinterDriverExW")[0].args,
              (std::vector<std::wstring>{L"(null)", L"(null)", kDriver, L"1", L"3"}));
    EXPECT_TRUE(machine.printers.empty());
    EXPECT_TRUE(machine.drivers.empty());
    EXPECT_TRUE(machine.monitors.empty());
    EXPECT_TRUE(machine.ports.empty());
    EXPECT_FALSE(FileExists(machine.driverDirectory + L"\\zorvanedrv.gpd"));
    EXPECT_TRUE(FileExists(machine.systemDirectory + L"\\zorvanemon.dll"));
}

TEST_F(SequenceTest, AStoppedSpoolerIsStartedWithoutAStopFirst) {
    machine.spooler.state = SERVICE_STOPPED;
    EXPECT_TRUE(Uninstall());
    auto first =
        std::find_if(machine.calls.begin(), machine.calls.end(), [](const SimulatedMachine::Call& c) {
            return c.name == "ControlService" || c.name == "StartServiceW";
        });
    ASSERT_NE(first, machine.calls.end());
    EXPECT_EQ(first->name, "StartServiceW");
}

TEST_F(SequenceTest, ASpoolerThatCannotBeStartedTouchesNothing) {
    SeedInstalledProduct();
    machine.spooler.state = SERVICE_STOPPED;
    machine.spooler.disabled = true;
    EXPECT_FALSE(Uninstall());
    EXPECT_EQ(Log(),
              (Messages{
                  "Starting uninstallation of " + kNames + "VistaOrLater",
                  "Error: starting spooler service: 1058 . The service cannot be started, either because it "
                  "is disabled or because it has no enabled devices associated with it.\r\r\n",
                  "Unable to uninstall Zorvane Creator due to previous errors. ",
                  "Finishing uninstallation of " + kNames + "VistaOrLater",
              }));
    EXPECT_EQ(machine.printers.size(), 1u);
    EXPECT_TRUE(machine.CallsTo("EnumPrintersW").empty());
    EXPECT_TRUE(machine.CallsTo("DeletePrinterDriverExW").empty());
    EXPECT_TRUE(machine.CallsTo("DeleteMonitorW").empty());
}

TEST_F(SequenceTest, AMonitorDeletableOnlyInTheThirdAttempt) {
    SeedInstalledProduct();
    machine.FailFirst("DeleteMonitorW", ERROR_PRINT_MONITOR_IN_USE, 2);
    EXPECT_TRUE(Uninstall());
    Messages log = Log();
    EXPECT_EQ(Count(log, "Unable to uninstall driver or monitor, retrying..."), 2u);
    EXPECT_EQ(Count(log, "Printer driver is not known or has already been deleted 'Zorvane Creator'"), 2u);
    EXPECT_EQ(Count(log, "Deleted printer port monitor 'Zorvane Creator Port Monitor'"), 1u);
    EXPECT_EQ(machine.CallsTo("DeleteMonitorW").size(), 3u);
    EXPECT_TRUE(machine.monitors.empty());
}

TEST_F(SequenceTest, EveryAttemptFailingStopsAfterExactlyOneHundred) {
    SeedInstalledProduct();
    machine.Fail("DeleteMonitorW", ERROR_ACCESS_DENIED);
    std::uint64_t start = machine.elapsedMs;
    EXPECT_TRUE(Uninstall());
    Messages log = Log();
    EXPECT_EQ(Count(log, "Unable to uninstall driver or monitor, retrying..."), 100u);
    EXPECT_EQ(machine.CallsTo("DeleteMonitorW").size(), 100u);
    EXPECT_EQ(machine.CallsTo("DeletePrinterDriverExW").size(), 100u);
    size_t pauses = std::count_if(
        machine.calls.begin(), machine.calls.end(),
        [](const SimulatedMachine::Call& c) { return c.name == "Sleep" && c.args[0] == L"100"; });
    EXPECT_EQ(pauses, 100u);
    // 100 pauses of 100 ms and 101 stops, each waiting once for 500 ms.
    EXPECT_EQ(machine.elapsedMs - start, 100u * 100 + 101u * 500);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "Too many attempts.  Unable to uninstall driver or monitor. ");
    EXPECT_EQ(log.back(), "Finishing uninstallation of " + kNames + "VistaOrLater");
}

TEST_F(SequenceTest, ASpoolerStopFailingInAnAttemptFailsTheRunButNotTheRemoval) {
    SeedInstalledProduct();
    machine.Fail("ControlService", ERROR_ACCESS_DENIED, 2);  // the first attempt's stop
    EXPECT_FALSE(Uninstall());
    EXPECT_EQ(Count(Log(), "Unable to uninstall driver or monitor, retrying..."), 0u);
    EXPECT_TRUE(machine.drivers.empty());
}

TEST_F(SequenceTest, AnExceptionDuringUninstallationFailsTheRun) {
    SeedInstalledProduct();
    machine.Throw("DeleteMonitorW");
    EXPECT_FALSE(Uninstall());
    EXPECT_EQ(Log().back(), "Deleted printer driver 'Zorvane Creator'");
}

TEST(DeletePrinters, FindsPrintersByTheirExactDriverName) {
    SimulatedMachine machine;
    std::wstring logPath = machine.root + L"\\log.txt";
    auto printer = [](const wchar_t* name, const wchar_t* driver) {
        SimulatedMachine::Printer p;
        p.name = name;
        p.driver = driver;
        p.port = L"LPT1:";
        return p;
    };
    // A connection to a printer another machine shares keeps the driver in
    // use on this one as well.
    SimulatedMachine::Printer connection = printer(L"\\\\ACCOUNTS\\Zorvane Creator", kDriver);
    connection.connection = true;
    machine.printers = {printer(L"Zorvane Creator", kDriver), printer(L"Office", L"Generic"),
                        printer(L"Invoices", kDriver), printer(L"Lower", L"zorvane creator"), connection};
    EXPECT_TRUE(PrinterUninstaller(kDriver, kPrinter, logPath).DeletePrinters());
    EXPECT_EQ(
        LogMessages(logPath),
        (Messages{"Deleted printer 'Zorvane Creator' using driver name 'Zorvane Creator'",
                  "Deleted printer 'Invoices' using driver name 'Zorvane Creator'",
                  "Deleted printer '\\\\ACCOUNTS\\Zorvane Creator' using driver name 'Zorvane Creator'"}));
    ASSERT_EQ(machine.printers.size(), 2u);
    EXPECT_EQ(machine.printers[1].name, L"Lower");
    auto opens = machine.CallsTo("OpenPrinterW");
    ASSERT_EQ(opens.size(), 3u);
    EXPECT_EQ(opens[0].args[1], L"0xF000C");
    EXPECT_EQ(machine.OpenHandleCount(), 0);
}

TEST(DeletePrinters, Failures) {
    struct Case {
        const char* name;
        std::function<void(SimulatedMachine&)> arrange;
        bool result;
        Messages log;
        size_t printersLeft;
    } cases[] = {
        {"no printers at all",
         [](SimulatedMachine& m) { m.printers.clear(); },
         false,
         {"Error searching for printers. Unable to find any printers. Please try rebooting, then retry "
          "uninstallation."},
         0},
        {"none on the driver",
         [](SimulatedMachine& m) { m.printers[0].driver = L"Generic"; },
         true,
         {"Unable to find any printer using driver name 'Zorvane Creator', assuming it was already deleted"},
         1},
        {"cannot be opened",
         [](SimulatedMachine& m) { m.Fail("OpenPrinterW", ERROR_ACCESS_DENIED); },
         true,
         {"Error: OpenPrinter: 5 . Access is denied.\r\r\n",
          "Unable to find any printer using driver name 'Zorvane Creator', assuming it was already deleted"},
         1},
        {"cannot be purged",
         [](SimulatedMachine& m) { m.Fail("SetPrinterW", ERROR_INVALID_LEVEL); },
         true,
         {"Error: SetPrinter: 124 Purging all print jobs. The system call level is not correct.\r\r\n",
          "Deleted printer 'Zorvane Creator' using driver name 'Zorvane Creator'"},
         0},
        {"cannot be deleted",
         [](SimulatedMachine& m) { m.Fail("DeletePrinter", ERROR_ACCESS_DENIED); },
         true,
         {"Error: DeletePrinter: 5 . Access is denied.\r\r\n",
          "Deleted printer 'Zorvane Creator' using driver name 'Zorvane Creator'"},
         1},
        {"probe fails",
         [](SimulatedMachine& m) { m.Fail("EnumPrintersW", ERROR_ACCESS_DENIED, 1); },
         false,
         {"Error: EnumPrinters1: 5 . Access is denied.\r\r\n",
          "Error searching for printers. Unable to find any printers. Please try rebooting, then retry "
          "uninstallation."},
         1},
        {"a printer added between probe and fetch",
         [](SimulatedMachine& m) {
             m.afterEnumPrinters = [&m] {
                 SimulatedMachine::Printer added;
                 added.name = L"Added meanwhile";
                 added.driver = L"Generic";
                 m.printers.push_back(added);
                 m.afterEnumPrinters = nullptr;
             };
         },
         false,
         {"Error: EnumPrinters2: 122 . The data area passed to a system call is too small.\r\r\n",
          "Error searching for printers. Unable to find any printers. Please try rebooting, then retry "
          "uninstallation."},
         2},
    };
    for (const Case& c : cases) {
        SimulatedMachine machine;
        machine.messageTexts[ERROR_INVALID_LEVEL] = L"The system call level is not correct.\r\n";
        std::wstring logPath = machine.root + L"\\log.txt";
        SimulatedMachine::Printer product;
        product.name = kPrinter;
        product.driver = kDriver;
        machine.printers.push_back(product);
        c.arrange(machine);
        EXPECT_EQ(PrinterUninstaller(kDriver, kPrinter, logPath).DeletePrinters(), c.result) << c.name;
        EXPECT_EQ(LogMessages(logPath), c.log) << c.name;
        EXPECT_EQ(machine.printers.size(), c.printersLeft) << c.name;
        EXPECT_EQ(machine.OpenHandleCount(), 0) << c.name;
    }
}

TEST(DeleteDriver, Outcomes) {
    SimulatedMachine machine;
    std::wstring logPath = machine.root + L"\\log.txt";
    machine.drivers[kDriver].name = kDriver;
    SimulatedMachine::Printer user;
    user.name = L"Invoices";
    user.driver = kDriver;
    machine.printers.push_back(user);
    PrinterUninstaller uninstaller(kDriver, kPrinter, logPath);
    EXPECT_FALSE(uninstaller.DeleteDriver());  // still in use
    machine.printers.clear();
    EXPECT_TRUE(uninstaller.DeleteDriver());
    EXPECT_TRUE(uninstaller.DeleteDriver());
    EXPECT_EQ(
        LogMessages(logPath),
        (Messages{
            "Error: DeletePrinterDriverEx: 3001 . The specified printer driver is currently in use.\r\r\n",
            "Deleted printer driver 'Zorvane Creator'",
            "Printer driver is not known or has already been deleted 'Zorvane Creator'"}));
    EXPECT_EQ(machine.calls.front().name, "DeletePrinterDriverExW");  // no reset before it
}
