// The spooler and monitor steps against Wine's real service control manager
// and spooler, in a throwaway prefix.
#include <gtest/gtest.h>

#include "setup/portmonitorinstaller.h"
#include "setup/portmonitoruninstaller.h"
#include "tests/unit/test_support.h"

namespace {

const wchar_t kMonitor[] = L"Zorvane Creator Port Monitor";

std::vector<std::string> Messages(const std::wstring& path) { return LogMessages(path); }

class WineSpooler : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        directory = std::wstring(temp) + L"zorvane-integration\\";
        ::CreateDirectoryW(directory.c_str(), nullptr);
        logPath = directory + L"log.txt";
        ::DeleteFileW(logPath.c_str());
    }

    std::wstring directory;
    std::wstring logPath;
};

}  // namespace

TEST_F(WineSpooler, StopsAndStartsTheSpoolerService) {
    Installer installer(L"", logPath);
    ASSERT_TRUE(installer.StartSpooler());
    EXPECT_TRUE(installer.IsSpoolerRunning());
    EXPECT_TRUE(installer.StopSpooler());
    EXPECT_FALSE(installer.IsSpoolerRunning());
    EXPECT_TRUE(installer.StopSpooler());  // already stopped
    EXPECT_TRUE(installer.StartSpooler());
    EXPECT_TRUE(installer.IsSpoolerRunning());
    EXPECT_TRUE(installer.StartSpooler());  // already running
    EXPECT_EQ(Messages(logPath), std::vector<std::string>{});
}

TEST_F(WineSpooler, RegistrationOfAMonitorWhoseDllIsMissingSaysSo) {
    PortMonitorInstaller installer(directory, kMonitor, L"ZorvanePort", logPath);
    ASSERT_TRUE(installer.StartSpooler());
    EXPECT_FALSE(installer.InstallMonitor(false));
    std::vector<std::string> log = Messages(logPath);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].substr(0, 18), "Error: CopyFile: 2");
    EXPECT_EQ(log[2], "Port Monitor 'Zorvane Creator Port Monitor' required a dll which is not installed.");
}

TEST_F(WineSpooler, AnUnknownMonitorHasNoPortChannelAndCountsAsDeleted) {
    PortMonitorInstaller installer(directory, kMonitor, L"ZorvanePort", logPath);
    ASSERT_TRUE(installer.StartSpooler());
    EXPECT_FALSE(installer.AddPort());
    EXPECT_TRUE(PortMonitorUninstaller(kMonitor, L"ZorvanePort", logPath).DeleteMonitor());
    std::vector<std::string> log = Messages(logPath);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].substr(0, 24), "Error: OpenPrinter: 1796");
    EXPECT_EQ(log[1], "Unable to find printer to add port monitor 'Zorvane Creator Port Monitor'");
    EXPECT_EQ(log[2], "Port monitor 'Zorvane Creator Port Monitor' is unknown or already deleted");
}
