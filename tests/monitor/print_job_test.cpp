// Jobs through a port: OpenPort, StartDocPort, WritePort, EndDocPort and
// ClosePort leave exactly one file per job in the owner's folder under the
// port's output root (or one per page of a file set): named after the
// document for a finished job, named incomplete for one that failed or did
// not finish. Here the spooler passes a printer that does not exist, so the
// owner is unknown.
#include <cstring>
#include <functional>
#include <memory>

#include <shlobj.h>

#include "tests/monitor/monitor_test_support.h"

namespace {

const wchar_t kPort[] = L"ZorvanePort";
const DWORD kJobId = 7;
const wchar_t kUnknownOwner[] = L"\\[unknown owner]";

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class PrintJobTest : public BothRegistries {
protected:
    void SetUp() override {
        BothRegistries::SetUp();
        monitor = std::make_unique<Monitor>(Init());
        ASSERT_TRUE(monitor->Initialized());
        ASSERT_EQ(monitor->AddPort(kPort), static_cast<DWORD>(ERROR_SUCCESS));
        SetOutputFolder(kPort, Root());
    }

    void TearDown() override {
        monitor.reset();
        BothRegistries::TearDown();
    }

    const MONITOR2& Functions() const { return monitor->Functions(); }

    HANDLE OpenPort(const wchar_t* portName = kPort) {
        HANDLE hPort = nullptr;
        ::SetLastError(0xdeadbeef);
        EXPECT_TRUE(Functions().pfnOpenPort(monitor->Handle(), const_cast<wchar_t*>(portName), &hPort))
            << "OpenPort " << Narrow(portName) << ": " << ::GetLastError();
        return hPort;
    }

    BOOL StartDoc(HANDLE hPort, DWORD jobId = kJobId, const wchar_t* documentName = L"Test document") {
        DOC_INFO_1W docInfo{const_cast<wchar_t*>(documentName), nullptr, const_cast<wchar_t*>(L"RAW")};
        ::SetLastError(0xdeadbeef);
        return Functions().pfnStartDocPort(hPort, const_cast<wchar_t*>(L"Zorvane Test Printer"), jobId, 1,
                                           reinterpret_cast<BYTE*>(&docInfo));
    }

    // Writes the bytes in one call; checks that all of them were taken.
    void Write(HANDLE hPort, const std::string& bytes) {
        DWORD cbWritten = 0xdeadbeef;
        ::SetLastError(0xdeadbeef);
        BOOL bWritten =
            Functions().pfnWritePort(hPort, reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                     static_cast<DWORD>(bytes.size()), &cbWritten);
        EXPECT_TRUE(bWritten) << "WritePort of " << bytes.size() << " bytes: " << ::GetLastError();
        EXPECT_EQ(cbWritten, bytes.size());
    }

    // One whole job; true when EndDocPort succeeded.
    bool PrintJob(const std::string& bytes, DWORD jobId = kJobId,
                  const wchar_t* documentName = L"Test document", const wchar_t* portName = kPort) {
        HANDLE hPort = OpenPort(portName);
        EXPECT_TRUE(StartDoc(hPort, jobId, documentName)) << "StartDocPort: " << ::GetLastError();
        Write(hPort, bytes);
        ::SetLastError(0xdeadbeef);
        BOOL bEnded = Functions().pfnEndDocPort(hPort);
        EXPECT_TRUE(bEnded) << "EndDocPort: " << ::GetLastError();
        EXPECT_TRUE(Functions().pfnClosePort(hPort));
        return bEnded != FALSE;
    }

    // The port's root, which the monitor makes, the jobs' folder in it, and
    // the names of its files.
    std::wstring Root() const { return folder.Path() + L"\\jobs"; }
    std::wstring JobFolder() const { return Root() + kUnknownOwner; }
    // The default root, in the common documents.
    static std::wstring DefaultRoot() {
        wchar_t pDocuments[MAX_PATH];
        EXPECT_EQ(
            ::SHGetFolderPathW(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, SHGFP_TYPE_CURRENT, pDocuments),
            S_OK);
        return std::wstring(pDocuments) + L"\\Zorvane Creator";
    }
    // The names in after that are not in before (both sorted).
    static std::vector<std::wstring> Added(const std::vector<std::wstring>& before,
                                           const std::vector<std::wstring>& after) {
        std::vector<std::wstring> added;
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                            std::back_inserter(added));
        return added;
    }
    std::vector<std::wstring> JobFiles() const { return TempFolder::FileNamesIn(JobFolder()); }

    TempFolder folder;
    std::unique_ptr<Monitor> monitor;
};

TEST_P(PrintJobTest, AWholeJobLeavesOneFileWithExactlyTheBytesWritten) {
    const std::string kChunks[] = {"PK\x03\x04", std::string("\0\x1a\r\n\xff", 5), "",
                                   std::string(70000, 'x'), "end"};
    HANDLE hPort = OpenPort();
    ASSERT_TRUE(StartDoc(hPort)) << ::GetLastError();
    std::string expected;
    for (const std::string& chunk : kChunks) {
        Write(hPort, chunk);
        expected += chunk;
    }
    ::SetLastError(0xdeadbeef);
    EXPECT_TRUE(Functions().pfnEndDocPort(hPort)) << ::GetLastError();
    EXPECT_TRUE(Functions().pfnClosePort(hPort));

    std::vector<std::wstring> files = JobFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], L"Test document.xps");
    EXPECT_TRUE(ReadBytes(JobFolder() + L"\\" + files[0]) == expected)
        << "the file differs from the job's bytes";
}

// The extension follows the job's first bytes, however the writes split them.
TEST_P(PrintJobTest, AJobIsNamedByWhatItsFirstBytesShow) {
    const struct {
        std::vector<std::string> chunks;
        const wchar_t* name;
    } kCases[] = {{{"%PD", "F-1.7\n", "%%EOF"}, L"Test document.pdf"},
                  {{"PK\x03\x04"}, L"Test document.xps"},
                  {{"%PDF"}, L"Test document.xps"}};
    for (const auto& job : kCases) {
        HANDLE hPort = OpenPort();
        ASSERT_TRUE(StartDoc(hPort)) << ::GetLastError();
        for (const std::string& chunk : job.chunks)
            Write(hPort, chunk);
        EXPECT_TRUE(Functions().pfnEndDocPort(hPort)) << ::GetLastError();
        EXPECT_TRUE(Functions().pfnClosePort(hPort));
        std::vector<std::wstring> files = JobFiles();
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0], job.name);
        ::DeleteFileW((JobFolder() + L"\\" + files[0]).c_str());
    }
}

// Windows 8 and later take these names for the console's devices, also with
// an extension.
TEST_P(PrintJobTest, ADocumentNamedLikeAConsoleDeviceLandsAsUntitled) {
    for (const wchar_t* name : {L"CONIN$", L"conout$.docx", L"CONERR$"}) {
        EXPECT_TRUE(PrintJob("console", kJobId, name)) << Narrow(name);
        EXPECT_EQ(JobFiles(), std::vector<std::wstring>{L"Untitled.xps"}) << Narrow(name);
        ::DeleteFileW((JobFolder() + L"\\Untitled.xps").c_str());
    }
}

// Its pages, named after the document; a set refused is kept whole as
// incomplete, and no page of it is made.
TEST_P(PrintJobTest, AFileSetBecomesItsPagesOrIsKeptWhole) {
    const std::string kPage = "\x89PNG\r\n\x1a\npage ";
    ASSERT_TRUE(PrintJob(FileSetOf({kPage + "one", kPage + "two"})));
    EXPECT_EQ(JobFiles(), (std::vector<std::wstring>{L"Test document-1.png", L"Test document-2.png"}));
    EXPECT_EQ(ReadBytes(JobFolder() + L"\\Test document-2.png"), kPage + "two");
    TempFolder::RemoveTree(JobFolder());

    const std::string kRefused = FileSetOf({kPage + "one", kPage + "two"}) + "trailing";
    HANDLE hPort = OpenPort();
    ASSERT_TRUE(StartDoc(hPort)) << ::GetLastError();
    Write(hPort, kRefused);
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(Functions().pfnEndDocPort(hPort));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_TRUE(Functions().pfnClosePort(hPort));
    std::vector<std::wstring> files = JobFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(EndsWith(files[0], L"-job7-incomplete.zcs")) << Narrow(files[0]);
    EXPECT_TRUE(ReadBytes(JobFolder() + L"\\" + files[0]) == kRefused);
}

TEST_P(PrintJobTest, UntilTheJobEndsItsDataHasOnlyATemporaryName) {
    HANDLE hPort = OpenPort();
    ASSERT_TRUE(StartDoc(hPort)) << ::GetLastError();
    Write(hPort, "partial");
    std::vector<std::wstring> during = JobFiles();
    ASSERT_EQ(during.size(), 1u);
    EXPECT_TRUE(EndsWith(during[0], L".tmp")) << Narrow(during[0]);
    EXPECT_TRUE(Functions().pfnEndDocPort(hPort)) << ::GetLastError();
    EXPECT_TRUE(Functions().pfnClosePort(hPort));
    std::vector<std::wstring> after = JobFiles();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_TRUE(EndsWith(after[0], L".xps")) << Narrow(after[0]);
}

// The failed write's bytes could not be read, so nothing shows that the
// later write from the same buffer is its retry: the job stays incomplete.
TEST_P(PrintJobTest, AFailedWriteFollowedByOtherBytesLeavesTheJobIncomplete) {
    UnreadableBuffer buffer;
    ASSERT_NE(buffer.Get(), nullptr);
    HANDLE hPort = OpenPort();
    ASSERT_TRUE(StartDoc(hPort)) << ::GetLastError();
    Write(hPort, "first part");
    DWORD cbWritten = 0xdeadbeef;
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(Functions().pfnWritePort(hPort, buffer.Get(), UnreadableBuffer::kSize, &cbWritten));
    DWORD dwWriteError = ::GetLastError();
    EXPECT_TRUE(dwWriteError == ERROR_NOACCESS || dwWriteError == ERROR_INVALID_USER_BUFFER)
        << "WritePort failed with " << dwWriteError << ", expected 998 or 1784";
    EXPECT_EQ(cbWritten, 0u);

    buffer.MakeReadable('r');
    EXPECT_TRUE(Functions().pfnWritePort(hPort, buffer.Get(), UnreadableBuffer::kSize, &cbWritten))
        << ::GetLastError();
    Write(hPort, "end");
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(Functions().pfnEndDocPort(hPort));
    EXPECT_EQ(::GetLastError(), dwWriteError);
    EXPECT_TRUE(Functions().pfnClosePort(hPort));

    std::vector<std::wstring> files = JobFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(EndsWith(files[0], L"-job7-incomplete.xps")) << Narrow(files[0]);
    EXPECT_TRUE(ReadBytes(JobFolder() + L"\\" + files[0]) ==
                "first part" + std::string(UnreadableBuffer::kSize, 'r') + "end");
}

TEST_P(PrintJobTest, AJobEndedAfterAFailedWriteIsKeptAsIncompleteAndFails) {
    UnreadableBuffer buffer;
    HANDLE hPort = OpenPort();
    ASSERT_TRUE(StartDoc(hPort)) << ::GetLastError();
    Write(hPort, "first part");
    DWORD cbWritten = 0;
    EXPECT_FALSE(Functions().pfnWritePort(hPort, buffer.Get(), UnreadableBuffer::kSize, &cbWritten));
    DWORD dwWriteError = ::GetLastError();
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(Functions().pfnEndDocPort(hPort));
    EXPECT_EQ(::GetLastError(), dwWriteError);
    EXPECT_TRUE(Functions().pfnClosePort(hPort));
    std::vector<std::wstring> files = JobFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(EndsWith(files[0], L"-job7-incomplete.xps")) << Narrow(files[0]);
    EXPECT_EQ(ReadBytes(JobFolder() + L"\\" + files[0]), "first part");

    // The port takes the next job as usual.
    EXPECT_TRUE(PrintJob("next job"));
    EXPECT_EQ(JobFiles().size(), 2u);
}

TEST_P(PrintJobTest, ClosingThePortInTheMiddleOfAJobKeepsItsDataAsIncomplete) {
    HANDLE hPort = OpenPort();
    ASSERT_TRUE(StartDoc(hPort)) << ::GetLastError();
    Write(hPort, "never finished");
    EXPECT_TRUE(Functions().pfnClosePort(hPort));
    std::vector<std::wstring> files = JobFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(EndsWith(files[0], L"-job7-incomplete.xps")) << Narrow(files[0]);
    EXPECT_EQ(ReadBytes(JobFolder() + L"\\" + files[0]), "never finished");
}

TEST_P(PrintJobTest, AJobWithoutDataLeavesNoFile) {
    for (bool ended : {true, false}) {
        HANDLE hPort = OpenPort();
        ASSERT_TRUE(StartDoc(hPort)) << ::GetLastError();
        if (ended) {
            ::SetLastError(0xdeadbeef);
            EXPECT_TRUE(Functions().pfnEndDocPort(hPort)) << ::GetLastError();
        }
        EXPECT_TRUE(Functions().pfnClosePort(hPort));
        EXPECT_TRUE(JobFiles().empty()) << (ended ? "ended" : "port closed mid-job");
    }
}

// The job holds its folders open without delete sharing: neither can be
// removed or renamed under it, and the job ends whole where it began.
TEST_P(PrintJobTest, TheFoldersOfAnOpenJobCannotBeRemovedOrRenamed) {
    HANDLE hPort = OpenPort();
    ASSERT_TRUE(StartDoc(hPort)) << ::GetLastError();
    Write(hPort, "before");
    const std::wstring kMoved = Root() + L"\\moved";
    const struct {
        const char* what;
        std::function<BOOL()> attempt;
    } kAttempts[] = {
        {"remove the owner's folder", [&] { return ::RemoveDirectoryW(JobFolder().c_str()); }},
        {"rename the owner's folder", [&] { return ::MoveFileW(JobFolder().c_str(), kMoved.c_str()); }},
        {"rename the root", [&] { return ::MoveFileW(Root().c_str(), (Root() + L"-moved").c_str()); }},
    };
    for (const auto& attempt : kAttempts) {
        ::SetLastError(0xdeadbeef);
        EXPECT_FALSE(attempt.attempt()) << attempt.what;
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << attempt.what;
    }
    Write(hPort, " after");
    EXPECT_TRUE(Functions().pfnEndDocPort(hPort)) << ::GetLastError();
    EXPECT_TRUE(Functions().pfnClosePort(hPort));
    std::vector<std::wstring> files = JobFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadBytes(JobFolder() + L"\\" + files[0]), "before after");
}

// Handles that share nothing, on the root and on the owner's folder, do not
// stop a job (a user's traverse right counts as reading in the sharing check).
TEST_P(PrintJobTest, FoldersHeldOpenWithoutSharingDoNotStopAJob) {
    ASSERT_TRUE(PrintJob("makes the folders"));
    {
        const DWORD kFlags = FILE_FLAG_BACKUP_SEMANTICS;
        FileHandle root(
            ::CreateFileW(Root().c_str(), FILE_TRAVERSE, 0, nullptr, OPEN_EXISTING, kFlags, nullptr));
        FileHandle owner(::CreateFileW(JobFolder().c_str(), FILE_LIST_DIRECTORY, 0, nullptr, OPEN_EXISTING,
                                       kFlags, nullptr));
        ASSERT_TRUE(root && owner) << ::GetLastError();
        EXPECT_TRUE(PrintJob("while they are held"));
    }
    EXPECT_EQ(JobFiles().size(), 2u);
}

// Only an absolute path on a local drive names a root, and neither a drive's
// root nor the Windows folder, with room for the jobs' paths; nothing is made
// for a refused one.
TEST_P(PrintJobTest, OutputFoldersThatAreNoAbsoluteLocalPathAreRefused) {
    wchar_t pWindows[MAX_PATH];
    ASSERT_GT(::GetWindowsDirectoryW(pWindows, MAX_PATH), 0u);
    const std::wstring kInWindows = std::wstring(pWindows) + L"\\Temp\\zorvane-refused";
    const std::wstring kRefused[] = {L"relative\\jobs",
                                     L"\\rooted\\jobs",
                                     L"C:drive-relative",
                                     L"\\\\?\\" + folder.Path() + L"\\jobs",
                                     L"\\\\.\\" + folder.Path() + L"\\jobs",
                                     L"\\\\server\\share\\jobs",
                                     folder.Path() + L"\\jobs\\NUL",
                                     folder.Path() + L"\\com1.txt\\jobs",
                                     folder.Path() + L"\\jobs:stream",
                                     L"C:\\",
                                     pWindows,
                                     kInWindows,
                                     folder.Path() + L"\\" + std::wstring(MAX_PATH, L'x')};
    for (const std::wstring& refused : kRefused) {
        SetOutputFolder(kPort, refused);
        HANDLE hPort = OpenPort();
        EXPECT_FALSE(StartDoc(hPort)) << Narrow(refused);
        DWORD dwError = ::GetLastError();
        EXPECT_EQ(dwError, refused.size() > MAX_PATH ? ERROR_FILENAME_EXCED_RANGE : ERROR_BAD_PATHNAME)
            << Narrow(refused);
        EXPECT_TRUE(Functions().pfnClosePort(hPort));
    }
    EXPECT_TRUE(::RemoveDirectoryW(folder.Path().c_str()))
        << "something was made in " << Narrow(folder.Path());
    EXPECT_EQ(::GetFileAttributesW(kInWindows.c_str()), INVALID_FILE_ATTRIBUTES);
}

// The spooler impersonates the printing user at the job's start: the job
// goes into that user's folder, and the thread impersonates again after.
TEST_P(PrintJobTest, TheImpersonatedUserOwnsTheJob) {
    ASSERT_TRUE(::ImpersonateSelf(SecurityImpersonation)) << ::GetLastError();
    bool printed = PrintJob("the user's own");
    KernelObject token;
    EXPECT_TRUE(::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.Receive())) << "not resumed";
    ASSERT_TRUE(::RevertToSelf() && printed);
    wchar_t pUser[256];
    DWORD cchUser = 256;
    ASSERT_TRUE(::GetUserNameW(pUser, &cchUser));
    EXPECT_EQ(TempFolder::FileNamesIn(Root() + L"\\" + pUser).size(), 1u) << Narrow(pUser);
}

TEST_P(PrintJobTest, AtItsStartTheMonitorKeepsWhatAnInterruptedJobLeftAsIncomplete) {
    ASSERT_TRUE(PrintJob("finished"));
    std::wstring leftover = JobFolder() + L"\\zcr0123456789abcdef0123456789abcdef.tmp";
    FileHandle file(::CreateFileW(leftover.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file) << ::GetLastError();
    DWORD cbWritten = 0;
    ::WriteFile(file.Get(), "interrupted", 11, &cbWritten, nullptr);
    file.Close();

    Monitor restarted(Init());
    std::vector<std::wstring> files = JobFiles();
    ASSERT_EQ(files.size(), 2u);
    std::wstring kept = EndsWith(files[0], L"-interrupted-incomplete.xps") ? files[0] : files[1];
    EXPECT_TRUE(EndsWith(kept, L"-interrupted-incomplete.xps")) << Narrow(kept);
    EXPECT_EQ(ReadBytes(JobFolder() + L"\\" + kept), "interrupted");
}

TEST_P(PrintJobTest, EveryJobGetsAFileOfItsOwnEvenWithTheSameJobId) {
    const std::vector<std::string> kJobs = {"first", "second", "third"};
    for (const std::string& job : kJobs) {
        ASSERT_TRUE(PrintJob(job, kJobId));
    }
    std::vector<std::wstring> files = JobFiles();
    ASSERT_EQ(files.size(), kJobs.size());
    std::vector<std::string> contents;
    for (const std::wstring& file : files) {
        contents.push_back(ReadBytes(JobFolder() + L"\\" + file));
    }
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents, (std::vector<std::string>{"first", "second", "third"}));
}

TEST_P(PrintJobTest, AMissingOutputFolderIsCreated) {
    std::wstring nested = folder.Path() + L"\\new\\deeper";
    SetOutputFolder(kPort, nested);
    ASSERT_TRUE(PrintJob("into a new folder"));
    nested += kUnknownOwner;
    std::vector<std::wstring> files = TempFolder::FileNamesIn(nested);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadBytes(nested + L"\\" + files[0]), "into a new folder");
}

// An existing folder keeps its access list: the monitor makes a root of its
// own in it.
TEST_P(PrintJobTest, AnExistingOutputFolderHoldsARootOfTheMonitorsOwn) {
    SetOutputFolder(kPort, folder.Path());
    ASSERT_TRUE(PrintJob("in a root of its own"));
    EXPECT_EQ(TempFolder::FileNamesIn(folder.Path() + L"\\Zorvane Creator" + kUnknownOwner).size(), 1u);
    EXPECT_TRUE(TempFolder::FileNamesIn(folder.Path() + kUnknownOwner).empty());
}

// The roots exist before any job: the default one once the monitor starts,
// a port's once the port is opened with a new OutputFolder.
TEST_P(PrintJobTest, TheRootsAreMadeBeforeTheFirstJob) {
    monitor.reset();
    TempFolder::RemoveTree(DefaultRoot());
    monitor = std::make_unique<Monitor>(Init());
    EXPECT_NE(::GetFileAttributesW(DefaultRoot().c_str()), INVALID_FILE_ATTRIBUTES);
    const std::wstring kNew = folder.Path() + L"\\new";
    SetOutputFolder(kPort, kNew);
    EXPECT_TRUE(Functions().pfnClosePort(OpenPort()));
    EXPECT_NE(::GetFileAttributesW(kNew.c_str()), INVALID_FILE_ATTRIBUTES);
}

// What somebody put at the default root's path before the monitor started
// is left as it is, and the first job prints in a root beside it.
TEST_P(PrintJobTest, WhatHoldsTheDefaultRootsPathDoesNotStopPrinting) {
    const std::wstring kRoot = DefaultRoot();
    const std::wstring kBeside = kRoot + L" (2)";
    for (bool isFolder : {false, true}) {
        monitor.reset();
        TempFolder::RemoveTree(kRoot);
        TempFolder::RemoveTree(kBeside);
        const std::wstring kTheirs = isFolder ? kRoot + L"\\theirs.txt" : kRoot;
        ASSERT_TRUE(!isFolder || ::CreateDirectoryW(kRoot.c_str(), nullptr)) << ::GetLastError();
        FileHandle theirs(::CreateFileW(kTheirs.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        DWORD cbWritten = 0;
        ASSERT_TRUE(theirs && ::WriteFile(theirs.Get(), "theirs", 6, &cbWritten, nullptr))
            << ::GetLastError();
        theirs.Close();

        monitor = std::make_unique<Monitor>(Init());
        ASSERT_EQ(monitor->AddPort(L"DefaultPort"), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_TRUE(PrintJob("beside it", kJobId, L"Test document", L"DefaultPort")) << isFolder;
        EXPECT_EQ(TempFolder::FileNamesIn(kBeside + kUnknownOwner),
                  std::vector<std::wstring>{L"Test document.xps"});
        EXPECT_EQ(ReadBytes(kTheirs), "theirs");
        if (isFolder) {
            EXPECT_EQ(TempFolder::FileNamesIn(kRoot), std::vector<std::wstring>{L"theirs.txt"});
        }
        ::DeleteFileW(kRoot.c_str());
        TempFolder::RemoveTree(kRoot);
        TempFolder::RemoveTree(kBeside);
    }
}

TEST_P(PrintJobTest, CallsOutsideAJobAreRefused) {
    HANDLE hPort = OpenPort();
    DWORD cbWritten = 0;
    BYTE data[] = {1, 2, 3};
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(Functions().pfnWritePort(hPort, data, sizeof(data), &cbWritten));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SPL_NO_STARTDOC));
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(Functions().pfnEndDocPort(hPort));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SPL_NO_STARTDOC));

    ASSERT_TRUE(StartDoc(hPort)) << ::GetLastError();
    EXPECT_FALSE(StartDoc(hPort));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_STATE));
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(Functions().pfnWritePort(hPort, nullptr, 3, &cbWritten));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(Functions().pfnWritePort(hPort, data, sizeof(data), nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    cbWritten = 0xdeadbeef;
    EXPECT_TRUE(Functions().pfnWritePort(hPort, nullptr, 0, &cbWritten));
    EXPECT_EQ(cbWritten, 0u);
    EXPECT_TRUE(Functions().pfnEndDocPort(hPort)) << ::GetLastError();
    EXPECT_TRUE(Functions().pfnClosePort(hPort));
    EXPECT_TRUE(JobFiles().empty());
}

TEST_P(PrintJobTest, ReadPortIsNotSupported) {
    HANDLE hPort = OpenPort();
    BYTE buffer[16];
    DWORD cbRead = 0xdeadbeef;
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(Functions().pfnReadPort(hPort, buffer, sizeof(buffer), &cbRead));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(cbRead, 0u);
    EXPECT_TRUE(Functions().pfnClosePort(hPort));
}

TEST_P(PrintJobTest, APortThatIsNotThereCannotBeOpened) {
    HANDLE hPort = nullptr;
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(Functions().pfnOpenPort(monitor->Handle(), const_cast<wchar_t*>(L"NoSuchPort"), &hPort));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PORT));
    EXPECT_EQ(hPort, nullptr);
}

TEST_P(PrintJobTest, WithoutAFolderOfItsOwnAPortWritesIntoTheSharedDocuments) {
    std::wstring productFolder = DefaultRoot() + kUnknownOwner;
    std::vector<std::wstring> before = TempFolder::FileNamesIn(productFolder);
    ASSERT_EQ(monitor->AddPort(L"DefaultPort"), static_cast<DWORD>(ERROR_SUCCESS));

    HANDLE hPort = OpenPort(L"DefaultPort");
    ASSERT_TRUE(StartDoc(hPort, 42)) << ::GetLastError();
    Write(hPort, "to the shared documents");
    EXPECT_TRUE(Functions().pfnEndDocPort(hPort)) << ::GetLastError();
    EXPECT_TRUE(Functions().pfnClosePort(hPort));

    std::vector<std::wstring> added = Added(before, TempFolder::FileNamesIn(productFolder));
    ASSERT_EQ(added.size(), 1u);
    std::wstring file = productFolder + L"\\" + added[0];
    EXPECT_TRUE(EndsWith(added[0], L".xps")) << Narrow(added[0]);
    EXPECT_EQ(ReadBytes(file), "to the shared documents");
    ::DeleteFileW(file.c_str());
}

INSTANTIATE_TEST_SUITE_P(Registries, PrintJobTest,
                         ::testing::Values(RegistryKind::Spooler, RegistryKind::OwnKey), RegistryKindName);

}  // namespace
