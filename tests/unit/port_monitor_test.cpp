#include <gtest/gtest.h>

#include "setup/portmonitorinstaller.h"
#include "setup/portmonitoruninstaller.h"
#include "tests/sim/simulated_machine.h"
#include "tests/unit/test_support.h"

namespace {

using Messages = std::vector<std::string>;

const wchar_t kMonitor[] = L"Zorvane Creator Port Monitor";
const wchar_t kPort[] = L"ZorvanePort";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class PortMonitorTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(machine.OpenHandleCount(), 0); }

    void PutSourceFile(const wchar_t* name) { WriteBytes(sourceDir + name, "MZ"); }

    PortMonitorInstaller MakeInstaller() { return PortMonitorInstaller(sourceDir, kMonitor, kPort, logPath); }

    SimulatedMachine machine;
    std::wstring logPath = machine.root + L"\\log.txt";
    std::wstring sourceDir = machine.root + L"\\Setup\\";
    std::string src = Narrow(sourceDir);
    std::string sys = Narrow(machine.systemDirectory) + "\\";
};

}  // namespace

TEST(ExecutableDirectory, KeepsEverythingUpToTheLastSeparatorOfEitherKind) {
    struct Case {
        std::wstring modulePath;
        std::wstring directory;
    } cases[] = {
        {L"C:\\Setup\\install.exe", L"C:\\Setup\\"},
        {L"C:/Setup/install.exe", L"C:/Setup/"},
        {L"C:\\a/b\\install.exe", L"C:\\a/b\\"},
        {L"C:\\a\\b/install.exe", L"C:\\a\\b/"},
        {L"install.exe", L""},
        // A path that fills the 260-unit buffer may be cut short.
        {L"C:\\" + std::wstring(251, L'x') + L"\\a.exe", L""},
        {L"C:\\" + std::wstring(250, L'x') + L"\\a.exe", L"C:\\" + std::wstring(250, L'x') + L"\\"},
    };
    for (const Case& c : cases) {
        SimulatedMachine machine;
        machine.modulePath = c.modulePath;
        PortMonitorInstaller installer(L"", kMonitor, kPort, L"");
        EXPECT_EQ(installer.GetSourceDirectory(), c.directory) << Narrow(c.modulePath);
        EXPECT_EQ(ExecutableDirectory(), c.directory);
        EXPECT_EQ(machine.CallsTo("GetModuleFileNameW")[0].args[0], L"260");
    }
}

TEST_F(PortMonitorTest, StandAloneCopiesMonitorThenLibraryAndRegisters) {
    PutSourceFile(L"zorvanemon.dll");
    PutSourceFile(L"queldac.dll");
    EXPECT_TRUE(MakeInstaller().InstallMonitor(true));
    EXPECT_EQ(LogMessages(logPath),
              (Messages{"Copied port monitor file '" + src + "zorvanemon.dll' to '" + sys + "zorvanemon.dll'",
                        "Copied port monitor file '" + src + "queldac.dll' to '" + sys + "queldac.dll'"}));
    EXPECT_TRUE(FileExists(machine.systemDirectory + L"\\queldac.dll"));
    EXPECT_EQ(machine.monitors.at(kMonitor), L"zorvanemon.dll");
    EXPECT_EQ(machine.CallsTo("AddMonitorW")[0].args,
              (std::vector<std::wstring>{L"(null)", L"2", kMonitor, L"(null)", L"zorvanemon.dll"}));
    for (const auto& copy : machine.CallsTo("CopyFileW")) {
        EXPECT_EQ(copy.args[2], L"0");  // an existing target is overwritten
    }
    // The event source's message file is the monitor where it was copied.
    auto& source = machine.registry.at(EventSourceKey(kMonitor));
    std::wstring messageFile = source.at(L"EventMessageFile");
    messageFile.replace(0, std::wstring(L"%SystemRoot%").size(), machine.root + L"\\Windows");
    EXPECT_EQ(_wcsicmp(messageFile.c_str(), (machine.systemDirectory + L"\\zorvanemon.dll").c_str()), 0)
        << Narrow(messageFile);
    EXPECT_EQ(source.count(L"TypesSupported"), 1u);
}

TEST_F(PortMonitorTest, BundledCopiesTheMonitorAlone) {
    PutSourceFile(L"zorvanemon.dll");
    PutSourceFile(L"queldac.dll");
    WriteBytes(machine.systemDirectory + L"\\zorvanemon.dll", "old");
    EXPECT_TRUE(MakeInstaller().InstallMonitor(false));
    EXPECT_EQ(LogMessages(logPath), Messages{"Copied port monitor file '" + src + "zorvanemon.dll' to '" +
                                             sys + "zorvanemon.dll'"});
    EXPECT_EQ(ReadBytes(machine.systemDirectory + L"\\zorvanemon.dll"), "MZ");
    EXPECT_FALSE(FileExists(machine.systemDirectory + L"\\queldac.dll"));
}

TEST_F(PortMonitorTest, AMissingSourceFileIsReportedAndRegistrationStillDecides) {
    PutSourceFile(L"zorvanemon.dll");
    EXPECT_TRUE(MakeInstaller().InstallMonitor(true));
    EXPECT_EQ(
        LogMessages(logPath),
        (Messages{"Copied port monitor file '" + src + "zorvanemon.dll' to '" + sys + "zorvanemon.dll'",
                  "Error: CopyFile: 2 Unable to copy file from " + src + "queldac.dll to " + sys +
                      "queldac.dll. The system cannot find the file specified.\r\r\n",
                  "Unable to copy port monitor file '" + src + "queldac.dll' to '" + sys + "queldac.dll'"}));
}

TEST(PortMonitor, RegistrationOutcomes) {
    struct Case {
        const char* name;
        std::function<void(SimulatedMachine&)> arrange;
        bool result;
        Messages lines;  // after the copy line
    } cases[] = {
        {"already registered",
         [](SimulatedMachine& m) { m.monitors[kMonitor] = L"zorvanemon.dll"; },
         true,
         {"Port Monitor already installed."}},
        {"DLL cannot be loaded",
         [](SimulatedMachine& m) { m.Fail("AddMonitorW", ERROR_MOD_NOT_FOUND); },
         false,
         {"Port Monitor 'Zorvane Creator Port Monitor' required a dll which is not installed."}},
        {"access denied",
         [](SimulatedMachine& m) { m.Fail("AddMonitorW", ERROR_ACCESS_DENIED); },
         false,
         {"Error: AddMonitorW: 5 . Access is denied.\r\r\n",
          "Unable to add port monitor 'Zorvane Creator Port Monitor'"}},
        {"spooler stopped",
         [](SimulatedMachine& m) { m.spooler.state = SERVICE_STOPPED; },
         false,
         {"Error: AddMonitorW: 1722 . The RPC server is unavailable.\r\r\n",
          "Unable to add port monitor 'Zorvane Creator Port Monitor'"}},
        {"event source refused",
         [](SimulatedMachine& m) { m.Fail("RegSetValueExW", ERROR_ACCESS_DENIED); },
         true,
         {"Error: RegSetValueEx EventMessageFile: 5 . Access is denied.\r\r\n",
          "Unable to register the event source of port monitor 'Zorvane Creator Port Monitor'"}},
    };
    for (const Case& c : cases) {
        SimulatedMachine machine;
        std::wstring logPath = machine.root + L"\\log.txt";
        std::wstring sourceDir = machine.root + L"\\Setup\\";
        WriteBytes(sourceDir + L"zorvanemon.dll", "MZ");
        c.arrange(machine);
        EXPECT_EQ(PortMonitorInstaller(sourceDir, kMonitor, kPort, logPath).InstallMonitor(false), c.result)
            << c.name;
        Messages log = LogMessages(logPath);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(Messages(log.begin() + 1, log.end()), c.lines) << c.name;
    }
}

TEST_F(PortMonitorTest, NoDllAnywhereGivesTheCopyLinesThenOneLine) {
    EXPECT_FALSE(MakeInstaller().InstallMonitor(false));
    Messages log = LogMessages(logPath);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2], "Port Monitor 'Zorvane Creator Port Monitor' required a dll which is not installed.");
    EXPECT_TRUE(machine.monitors.empty());
}

TEST_F(PortMonitorTest, AddPortSendsThePortNameToTheMonitor) {
    machine.monitors[kMonitor] = L"zorvanemon.dll";
    EXPECT_TRUE(MakeInstaller().AddPort());
    EXPECT_EQ(machine.ports.at(kPort), kMonitor);
    EXPECT_EQ(machine.CallsTo("OpenPrinterW")[0].args,
              (std::vector<std::wstring>{L",XcvMonitor Zorvane Creator Port Monitor", L"0x1"}));
    EXPECT_EQ(machine.CallsTo("XcvDataW")[0].args, (std::vector<std::wstring>{L"AddPort", L"24", L"0"}));
    EXPECT_EQ(machine.CallsTo("ClosePrinter").size(), 1u);
    EXPECT_EQ(LogMessages(logPath), Messages{});

    // Again, with the port there: still fine.
    EXPECT_TRUE(MakeInstaller().AddPort());
    EXPECT_EQ(LogMessages(logPath), Messages{});
}

TEST(PortMonitor, AddPortFailures) {
    struct Case {
        const char* name;
        std::function<void(SimulatedMachine&)> arrange;
        Messages log;
        size_t closes;
    } cases[] = {
        {"monitor not registered",
         [](SimulatedMachine&) {},
         {"Error: OpenPrinter: 1796 . The specified port is unknown.\r\r\n",
          "Unable to find printer to add port monitor 'Zorvane Creator Port Monitor'"},
         0},
        {"data call fails",
         [](SimulatedMachine& m) {
             m.monitors[kMonitor] = L"zorvanemon.dll";
             m.Fail("XcvDataW", ERROR_ACCESS_DENIED);
         },
         {"Error: XcvData AddPort: 5 . Access is denied.\r\r\n",
          "Unable to add port monitor data 'Zorvane Creator Port Monitor'"},
         1},
        {"monitor refuses the port",
         [](SimulatedMachine& m) {
             m.monitors[kMonitor] = L"zorvanemon.dll";
             m.addPortStatus = ERROR_ACCESS_DENIED;
         },
         {"Error: XcvData AddPort: 5 . Access is denied.\r\r\n",
          "Unable to add port monitor data 'Zorvane Creator Port Monitor'"},
         1},
        {"port owned by another monitor",
         [](SimulatedMachine& m) {
             m.monitors[kMonitor] = L"zorvanemon.dll";
             m.ports[L"zorvaneport"] = L"Local Port";
         },
         {"Port 'ZorvanePort' belongs to port monitor 'Local Port', not to 'Zorvane Creator Port Monitor'"},
         0},
    };
    for (const Case& c : cases) {
        SimulatedMachine machine;
        std::wstring logPath = machine.root + L"\\log.txt";
        c.arrange(machine);
        EXPECT_FALSE(PortMonitorInstaller(L"", kMonitor, kPort, logPath).AddPort()) << c.name;
        EXPECT_EQ(LogMessages(logPath), c.log) << c.name;
        EXPECT_EQ(machine.CallsTo("ClosePrinter").size(), c.closes) << c.name;
        EXPECT_EQ(machine.OpenHandleCount(), 0) << c.name;
        EXPECT_TRUE(machine.ports.count(kPort) == 0 || machine.ports.at(kPort) != kMonitor) << c.name;
    }
}

// Nothing was found wrong with the port: the failed list is logged and the
// port is added as it would be without the check.
TEST_F(PortMonitorTest, AnUnavailablePortListIsLoggedAndThePortAddedAllTheSame) {
    machine.monitors[kMonitor] = L"zorvanemon.dll";
    machine.Fail("EnumPortsW", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(MakeInstaller().AddPort());
    EXPECT_EQ(
        LogMessages(logPath),
        (Messages{"Error: EnumPorts: 5 . Access is denied.\r\r\n",
                  "Unable to find out which port monitor owns port 'ZorvanePort'; adding it all the same"}));
    EXPECT_EQ(machine.ports.at(kPort), kMonitor);
}

TEST_F(PortMonitorTest, DeleteMonitorOutcomes) {
    WriteBytes(machine.systemDirectory + L"\\zorvanemon.dll", "MZ");
    machine.monitors[kMonitor] = L"zorvanemon.dll";
    machine.ports[kPort] = kMonitor;
    SimulatedMachine::Printer printer;
    printer.name = L"Zorvane Creator";
    printer.driver = L"Zorvane Creator";
    printer.port = kPort;
    machine.printers.push_back(printer);
    machine.registry[EventSourceKey(kMonitor)][L"TypesSupported"] = L"7";
    PortMonitorUninstaller uninstaller(kMonitor, kPort, logPath);

    EXPECT_FALSE(uninstaller.DeleteMonitor());  // a printer still prints to its port
    EXPECT_EQ(machine.registry.size(), 1u);     // and the monitor keeps its event source
    machine.printers.clear();
    EXPECT_TRUE(uninstaller.DeleteMonitor());
    EXPECT_TRUE(uninstaller.DeleteMonitor());
    EXPECT_EQ(uninstaller.OnSpoolerStopped(), 1);

    EXPECT_EQ(LogMessages(logPath),
              (Messages{"Error: DeleteMonitor: 3008 . The specified print monitor is currently in use.\r\r\n",
                        "Deleted printer port monitor 'Zorvane Creator Port Monitor'",
                        "Port monitor 'Zorvane Creator Port Monitor' is unknown or already deleted"}));
    EXPECT_TRUE(machine.monitors.empty());
    EXPECT_TRUE(machine.ports.empty());
    EXPECT_TRUE(machine.registry.empty());
    EXPECT_TRUE(FileExists(machine.systemDirectory + L"\\zorvanemon.dll"));
    EXPECT_EQ(machine.CallsTo("DeleteMonitorW")[0].args,
              (std::vector<std::wstring>{L"(null)", L"(null)", kMonitor}));
    // The last-error value is not cleared before the call.
    EXPECT_EQ(machine.calls.front().name, "DeleteMonitorW");
}
