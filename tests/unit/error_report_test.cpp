#include <gtest/gtest.h>

#include "setup/installer.h"
#include "tests/sim/simulated_machine.h"
#include "tests/unit/test_support.h"

namespace {

class ErrorReportTest : public ::testing::Test {
protected:
    SimulatedMachine machine;
    std::wstring logPath = machine.root + L"\\log.txt";
};

}  // namespace

TEST_F(ErrorReportTest, RecordForms) {
    machine.messageTexts[0x80070005] = L"Access is denied.\r\n";
    struct Case {
        const wchar_t* message;
        const wchar_t* detail;
        DWORD code;
        std::string expected;
    } cases[] = {
        {L"starting spooler service", L"", 5, "Error: starting spooler service: 5 . Access is denied.\r\r\n"},
        {L"Too many attempts.  Unable to uninstall driver or monitor.", L"", 0,
         "Too many attempts.  Unable to uninstall driver or monitor. "},
        {L"CopyFile", L"Unable to copy file from C:\\S\\a.dll to C:\\W\\a.dll", 2,
         "Error: CopyFile: 2 Unable to copy file from C:\\S\\a.dll to C:\\W\\a.dll. "
         "The system cannot find the file specified.\r\r\n"},
        {L"Error searching for printers.",
         L"Unable to find any printers. Please try rebooting, then retry uninstallation.", 0,
         "Error searching for printers. Unable to find any printers. Please try rebooting, then retry "
         "uninstallation."},
        {L"HRESULT", L"", 0x80070005, "Error: HRESULT: -2147024891 . Access is denied.\r\r\n"},
        {L"100% %s", L"%d%%", 0, "100% %s %d%%"},
        // No system text for the code: the heading and the detail still stand.
        {L"SetupCommitFileQueue", L"queue", 0xE0000102, "Error: SetupCommitFileQueue: -536870654 queue"},
        {L"all bits", L"", 0xFFFFFFFF, "Error: all bits: -1 "},
    };
    for (const Case& c : cases) {
        DeleteFileW(logPath.c_str());
        Installer(L"", logPath).ReportError(c.message, c.detail, c.code);
        EXPECT_EQ(LogMessages(logPath), std::vector<std::string>{c.expected}) << c.expected;
    }
    EXPECT_EQ(machine.OpenHandleCount(), 0);
}

TEST_F(ErrorReportTest, LogErrorIsReportErrorWithoutDetail) {
    Installer installer(L"", logPath);
    installer.LogError(L"AddMonitorW", 5);
    installer.LogError(L"CopySystemDrivers failed", 0);
    EXPECT_EQ(LogMessages(logPath),
              (std::vector<std::string>{"Error: AddMonitorW: 5 . Access is denied.\r\r\n",
                                        "CopySystemDrivers failed "}));
}

TEST_F(ErrorReportTest, AsksTheSystemForItsTextAndFreesIt) {
    Installer installer(L"", logPath);
    installer.LogError(L"DeleteMonitor", 5);
    installer.LogError(L"SetupInstallFilesFromInfSection", 0xE0000102);
    auto formats = machine.CallsTo("FormatMessageW");
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_EQ(formats[0].args, (std::vector<std::wstring>{L"0x1300", L"5", L"0x400"}));
    EXPECT_EQ(machine.CallsTo("LocalFree").size(), 1u);  // the one text obtained
    EXPECT_EQ(machine.OpenHandleCount(), 0);
}

TEST_F(ErrorReportTest, LoggingOffReturnsBeforeFormattingANonZeroCode) {
    Installer installer(L"", L"");
    installer.LogError(L"AddMonitorW", 5);
    EXPECT_TRUE(machine.CallsTo("FormatMessageW").empty());
    EXPECT_TRUE(machine.CallsTo("CreateFileW").empty());
}

TEST_F(ErrorReportTest, AFailingMessageLookupStillWritesTheRecord) {
    machine.Fail("FormatMessageW", ERROR_NOT_ENOUGH_MEMORY);
    Installer installer(L"", logPath);
    installer.LogError(L"AddPrinter", 1797);
    installer.LogError(L"Unable to install Zorvane Quelda Printer due to previous errors.", 0);
    EXPECT_EQ(
        LogMessages(logPath),
        (std::vector<std::string>{"Error: AddPrinter: 1797 ",
                                  "Unable to install Zorvane Quelda Printer due to previous errors. "}));
}
