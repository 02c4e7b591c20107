#include <gtest/gtest.h>

#include "platform/handles.h"
#include "setup/installer.h"
#include "tests/sim/simulated_machine.h"
#include "tests/unit/test_support.h"

namespace {

class LogTest : public ::testing::Test {
protected:
    SimulatedMachine machine;
    std::wstring logPath = machine.root + L"\\log.txt";
};

// Holds a file open without sharing, as another process would: past the
// seam, unseen by the machine.
FileHandle HoldWithoutSharing(const std::wstring& path) {
    return FileHandle(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

TEST_F(LogTest, RecordHasTimeStampMessageAndCrLf) {
    Installer(L"", logPath).Log(L"Started printer spooler.");
    EXPECT_EQ(ReadBytes(logPath), "[Sun Dec 06 16:33:14 2026] Started printer spooler.\r\n");
    EXPECT_EQ(machine.OpenHandleCount(), 0);
}

TEST_F(LogTest, ArgumentTextBecomesOneBytePerUnitUpToFF) {
    Installer installer(L"", logPath);
    installer.Log(L"%s|%s|%ws", L"\u00C4", L"\u20AC", L"line\r\n");
    installer.Log(L"%s and %d", L"a\nb", -7);
    EXPECT_EQ(ReadBytes(logPath),
              "[Sun Dec 06 16:33:14 2026] \xC4|?|line\r\r\n\r\n"
              "[Sun Dec 06 16:33:14 2026] a\r\nb and -7\r\n");
}

TEST_F(LogTest, OpensForAppendingSharedWithNobody) {
    Installer(L"", logPath).Log(L"x");
    auto opens = machine.CallsTo("CreateFileW");
    ASSERT_EQ(opens.size(), 1u);
    // Appending; writing too, to cut a short record back; its attributes, to
    // see a link.
    EXPECT_EQ(opens[0].args, (std::vector<std::wstring>{logPath, L"0x86", L"0x0", L"4", L"0x200080"}));
}

TEST_F(LogTest, RecordsOfEveryObjectAndRunAppendInCallOrder) {
    Installer first(L"", logPath);
    Installer second(L"C:\\src\\", logPath);
    first.Log(L"one");
    second.Log(L"two");
    first.Log(L"three");
    Installer(L"", logPath).Log(L"next run");
    EXPECT_EQ(LogMessages(logPath), (std::vector<std::string>{"one", "two", "three", "next run"}));
}

TEST_F(LogTest, TimeStampFollowsTheClock) {
    Installer installer(L"", logPath);
    machine.elapsedMs = (9 * 3600 + 26 * 60 + 46) * 1000ull;  // to Mon Dec 07 02:00:00
    installer.Log(L"later");
    EXPECT_EQ(ReadBytes(logPath), "[Mon Dec 07 02:00:00 2026] later\r\n");
}

TEST_F(LogTest, LoggingOffOrUnreachableLogWritesNothingAndGoesOn) {
    std::wstring missingDirectory = machine.root + L"\\missing";
    Installer off(L"", L"");
    off.Log(L"lost");
    off.LogError(L"starting spooler service", 5);
    off.ReportError(L"Error searching for printers.", L"detail", 0);
    Installer unreachable(L"", missingDirectory + L"\\log.txt");
    unreachable.Log(L"lost");
    unreachable.LogError(L"AddMonitorW", 5);

    EXPECT_FALSE(FileExists(missingDirectory));
    WIN32_FIND_DATAW found;
    FindHandle search(::FindFirstFileW((machine.root + L"\\*.*").c_str(), &found));
    ASSERT_TRUE(search) << ::GetLastError();
    int entries = 0;
    do {
        entries += found.cFileName[0] != L'.';
    } while (::FindNextFileW(search.Get(), &found));
    EXPECT_EQ(entries, 2);  // Windows and Setup, nothing else
    EXPECT_TRUE(machine.CallsTo("Sleep").empty());
    EXPECT_EQ(machine.OpenHandleCount(), 0);
}

TEST_F(LogTest, LeavesTheThreadsLastErrorAsItFoundIt) {
    // Opening an existing log answers ERROR_ALREADY_EXISTS; a failed open
    // answers its own code. Neither may reach the caller's error handling.
    Installer(L"", logPath).Log(L"creates the file");
    for (const std::wstring& path : {logPath, std::wstring(), machine.root + L"\\missing\\log.txt"}) {
        ::SetLastError(1797);
        Installer(L"", path).Log(L"x");
        EXPECT_EQ(::GetLastError(), 1797u);
    }
}

TEST_F(LogTest, WaitsBrieflyForALogThatAnotherProcessHolds) {
    FileHandle holder = HoldWithoutSharing(logPath);
    ASSERT_TRUE(holder);
    int sleeps = 0;
    machine.onSleep = [&](DWORD) {
        if (++sleeps == 3) {
            holder.Close();
        }
    };
    Installer(L"", logPath).Log(L"arrives");
    EXPECT_EQ(LogMessages(logPath), std::vector<std::string>{"arrives"});
    auto waits = machine.CallsTo("Sleep");
    ASSERT_EQ(waits.size(), 3u);
    EXPECT_EQ(waits[0].args[0], L"50");
    EXPECT_EQ(machine.CallsTo("CreateFileW").size(), 4u);
}

TEST_F(LogTest, GivesTheRecordUpWhenTheLogStaysHeld) {
    {
        FileHandle holder = HoldWithoutSharing(logPath);
        ASSERT_TRUE(holder);
        Installer(L"", logPath).Log(L"lost");
    }
    EXPECT_EQ(ReadBytes(logPath), "");
    EXPECT_EQ(machine.CallsTo("CreateFileW").size(), 10u);
    EXPECT_EQ(machine.CallsTo("Sleep").size(), 9u);
    EXPECT_EQ(machine.elapsedMs, 450u);
    Installer(L"", logPath).Log(L"next");
    EXPECT_EQ(LogMessages(logPath), std::vector<std::string>{"next"});
}

TEST_F(LogTest, OtherOpenFailuresGiveTheRecordUpAtOnce) {
    machine.Fail("CreateFileW", ERROR_ACCESS_DENIED, 1);
    Installer installer(L"", logPath);
    installer.Log(L"lost");
    installer.Log(L"kept");
    EXPECT_EQ(LogMessages(logPath), std::vector<std::string>{"kept"});
    EXPECT_TRUE(machine.CallsTo("Sleep").empty());
}

TEST_F(LogTest, NoRecordIsWrittenThroughALink) {
    Installer(L"", logPath).Log(L"before the link");
    std::wstring linked = machine.root + L"\\linked.txt";
    ASSERT_TRUE(::CreateHardLinkW(linked.c_str(), logPath.c_str(), nullptr));
    Installer(L"", logPath).Log(L"through a hard link");
    Installer(L"", linked).Log(L"through the other name");
    ASSERT_TRUE(::DeleteFileW(linked.c_str()));
    Installer(L"", logPath).Log(L"a single name again");

    std::wstring symbolic = machine.root + L"\\symbolic.txt";
    WriteBytes(symbolic, "");
    machine.reparsePoints.insert(symbolic);
    Installer(L"", symbolic).Log(L"through a symbolic link");

    EXPECT_EQ(LogMessages(logPath), (std::vector<std::string>{"before the link", "a single name again"}));
    EXPECT_EQ(ReadBytes(symbolic), "");
    EXPECT_TRUE(machine.CallsTo("Sleep").empty());
    EXPECT_EQ(machine.OpenHandleCount(), 0);
}

TEST_F(LogTest, ARecordThatDoesNotFitOnTheDiskIsCutBackWhole) {
    Installer(L"", logPath).Log(L"before the disk filled");
    machine.diskFreeBytes = 10;
    Installer(L"", logPath).Log(L"torn in the middle");
    machine.diskFreeBytes = 0;
    Installer(L"", logPath).Log(L"nothing fits");
    machine.diskFreeBytes = UINT64_MAX;
    Installer(L"", logPath).Log(L"the next run");
    EXPECT_EQ(LogMessages(logPath), (std::vector<std::string>{"before the disk filled", "the next run"}));
    EXPECT_EQ(machine.OpenHandleCount(), 0);
}

TEST_F(LogTest, NoRecordIsWrittenThroughALinkedFolderOnTheWay) {
    std::wstring linked = machine.root + L"\\testxyzzy";
    ASSERT_TRUE(::CreateDirectoryW(linked.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((linked + L"\\inner").c_str(), nullptr));
    machine.reparsePoints.insert(linked);
    for (const std::wstring& path :
         {linked + L"\\log.txt", linked + L"\\inner\\log.txt", linked + L"\\inner\\..\\log.txt"}) {
        ::SetLastError(1797);
        Installer(L"", path).Log(L"through a linked folder");
        EXPECT_EQ(::GetLastError(), 1797u);
        EXPECT_FALSE(FileExists(path)) << std::string(path.begin(), path.end());
    }
    EXPECT_TRUE(machine.CallsTo("CreateFileW").empty());
    Installer(L"", logPath).Log(L"beside the link");
    EXPECT_EQ(LogMessages(logPath), std::vector<std::string>{"beside the link"});
}
