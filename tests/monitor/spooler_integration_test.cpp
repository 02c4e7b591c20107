// The monitor DLL in Wine's real spooler, in a throwaway prefix: registered
// with AddMonitorW, its port added through XcvDataW twice, listed by
// EnumPortsW, and the monitor removed with DeleteMonitorW. Each call is made
// with a sentinel last-error, and failures print actual and expected values.
#include <algorithm>
#include <cstdio>

#include <shlwapi.h>

#include "tests/monitor/monitor_test_support.h"

namespace {

const wchar_t kMonitorName[] = L"Zorvane Creator Port Monitor";
const wchar_t kXcvMonitor[] = L",XcvMonitor Zorvane Creator Port Monitor";
const wchar_t kPort[] = L"ZorvanePort";
const DWORD kSentinel = 0xdeadbeef;

std::wstring SystemDirectory() {
    wchar_t pPath[MAX_PATH];
    UINT uLen = ::GetSystemDirectoryW(pPath, MAX_PATH);
    return std::wstring(pPath, uLen);
}

BOOL AddMonitor() {
    MONITOR_INFO_2W info{};
    info.pName = const_cast<wchar_t*>(kMonitorName);
    info.pEnvironment = nullptr;
    info.pDLLName = const_cast<wchar_t*>(L"zorvanemon.dll");
    ::SetLastError(kSentinel);
    return ::AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
}

// A data call on a configuration channel; the status the monitor answered.
struct XcvResult {
    BOOL returned;
    DWORD lastError;
    DWORD status;
    DWORD output;
};

XcvResult XcvData(HANDLE hXcv, const wchar_t* dataName, const std::wstring& portName, DWORD cbOutput) {
    std::vector<BYTE> input = NameBytes(portName);
    XcvResult result{FALSE, 0, kSentinel, 0};
    DWORD cbNeeded = 0;
    ::SetLastError(kSentinel);
    result.returned =
        ::XcvDataW(hXcv, dataName, input.data(), static_cast<DWORD>(input.size()),
                   reinterpret_cast<BYTE*>(&result.output), cbOutput, &cbNeeded, &result.status);
    result.lastError = ::GetLastError();
    return result;
}

// The port names EnumPortsW lists at the level, with the monitor name and
// description of each at level 2.
std::vector<std::wstring> EnumPortEntries(DWORD level) {
    DWORD cbNeeded = 0;
    DWORD cReturned = 0;
    ::SetLastError(kSentinel);
    EXPECT_FALSE(::EnumPortsW(nullptr, level, nullptr, 0, &cbNeeded, &cReturned));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER))
        << "size probe, level " << level;
    std::vector<BYTE> buffer(cbNeeded);
    ::SetLastError(kSentinel);
    EXPECT_TRUE(::EnumPortsW(nullptr, level, buffer.data(), cbNeeded, &cbNeeded, &cReturned))
        << "level " << level << ", error " << ::GetLastError();
    std::vector<std::wstring> entries;
    for (DWORD i = 0; i < cReturned; ++i) {
        if (level == 1) {
            entries.push_back(reinterpret_cast<const PORT_INFO_1W*>(buffer.data())[i].pName);
        } else {
            const PORT_INFO_2W& info = reinterpret_cast<const PORT_INFO_2W*>(buffer.data())[i];
            entries.push_back(std::wstring(info.pPortName) + L"|" + info.pMonitorName + L"|" +
                              info.pDescription);
        }
    }
    return entries;
}

bool Contains(const std::vector<std::wstring>& entries, const std::wstring& entry) {
    return std::find(entries.begin(), entries.end(), entry) != entries.end();
}

TEST(SpoolerIntegrationTest, RegisterAddPortTwiceListAndRemoveTheMonitor) {
    std::wstring target = SystemDirectory() + L"\\zorvanemon.dll";
    ASSERT_TRUE(::CopyFileW(TestDlls::monitor.c_str(), target.c_str(), FALSE))
        << "CopyFileW: " << ::GetLastError();

    EXPECT_TRUE(AddMonitor()) << "AddMonitorW: error " << ::GetLastError() << ", expected success";
    EXPECT_FALSE(AddMonitor());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PRINT_MONITOR_ALREADY_INSTALLED))
        << "second AddMonitorW";

    PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    HANDLE hXcv = nullptr;
    ::SetLastError(kSentinel);
    ASSERT_TRUE(::OpenPrinterW(const_cast<wchar_t*>(kXcvMonitor), &hXcv, &defaults))
        << "OpenPrinterW: error " << ::GetLastError() << ", expected success";
    for (int attempt = 1; attempt <= 2; ++attempt) {
        XcvResult added = XcvData(hXcv, L"AddPort", kPort, 0);
        EXPECT_TRUE(added.returned) << "AddPort #" << attempt << ": error " << added.lastError;
        EXPECT_EQ(added.status, static_cast<DWORD>(ERROR_SUCCESS)) << "AddPort #" << attempt << " status";
    }
    XcvResult exists = XcvData(hXcv, L"PortExists", kPort, sizeof(DWORD));
    EXPECT_TRUE(exists.returned) << "PortExists: error " << exists.lastError;
    EXPECT_EQ(exists.status, static_cast<DWORD>(ERROR_SUCCESS)) << "PortExists status";
    EXPECT_EQ(exists.output, 1u) << "PortExists answer";
    EXPECT_TRUE(::ClosePrinter(hXcv));

    EXPECT_TRUE(Contains(EnumPortEntries(1), kPort));
    EXPECT_TRUE(
        Contains(EnumPortEntries(2), L"ZorvanePort|Zorvane Creator Port Monitor|Zorvane Creator Port"));

    // Wine's spooler finds the port's monitor through the port's key under
    // the monitor's: the port's own configuration channel opens.
    HANDLE hPortXcv = nullptr;
    ::SetLastError(kSentinel);
    EXPECT_TRUE(::OpenPrinterW(const_cast<wchar_t*>(L",XcvPort ZorvanePort"), &hPortXcv, &defaults))
        << "OpenPrinterW(\",XcvPort ZorvanePort\"): error " << ::GetLastError() << ", expected success";
    if (hPortXcv != nullptr) {
        EXPECT_TRUE(::ClosePrinter(hPortXcv));
    }

    ::SetLastError(kSentinel);
    EXPECT_TRUE(::DeleteMonitorW(nullptr, nullptr, const_cast<wchar_t*>(kMonitorName)))
        << "DeleteMonitorW: error " << ::GetLastError() << ", expected success";
    ::SetLastError(kSentinel);
    EXPECT_FALSE(::DeleteMonitorW(nullptr, nullptr, const_cast<wchar_t*>(kMonitorName)));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINT_MONITOR)) << "second DeleteMonitorW";
    EXPECT_FALSE(Contains(EnumPortEntries(1), kPort)) << "the port went with its monitor";
}

// Registers the monitor with Wine's spooler and adds its port, with folder
// as the port's output root.
// The port's output root, which the monitor makes in the folder.
std::wstring RootIn(const TempFolder& folder) { return folder.Path() + L"\\jobs"; }

void InstallPort(const TempFolder& folder) {
    std::wstring target = SystemDirectory() + L"\\zorvanemon.dll";
    ASSERT_TRUE(::CopyFileW(TestDlls::monitor.c_str(), target.c_str(), FALSE))
        << "CopyFileW: " << ::GetLastError();
    ASSERT_TRUE(AddMonitor()) << "AddMonitorW: error " << ::GetLastError();
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    HANDLE hXcv = nullptr;
    ASSERT_TRUE(::OpenPrinterW(const_cast<wchar_t*>(kXcvMonitor), &hXcv, &defaults)) << ::GetLastError();
    XcvResult added = XcvData(hXcv, L"AddPort", kPort, 0);
    EXPECT_TRUE(added.returned && added.status == ERROR_SUCCESS) << added.lastError << " / " << added.status;
    EXPECT_TRUE(::ClosePrinter(hXcv));
    // Under Wine the monitor keeps its ports in its own key.
    std::wstring portKey = std::wstring(kOwnMonitorKey) + L"\\Ports\\" + kPort;
    std::wstring root = RootIn(folder);
    DWORD cbFolder = static_cast<DWORD>((root.size() + 1) * sizeof(wchar_t));
    ASSERT_EQ(
        ::SHSetValueW(HKEY_LOCAL_MACHINE, portKey.c_str(), L"OutputFolder", REG_SZ, root.c_str(), cbFolder),
        static_cast<DWORD>(ERROR_SUCCESS));
}

// A job that a program prints straight to the port ("<port>,Port"), raw,
// under the document name, in the chunks given.
void PrintRaw(const wchar_t* documentName, const std::vector<std::string>& chunks) {
    HANDLE hPort = nullptr;
    ::SetLastError(kSentinel);
    ASSERT_TRUE(::OpenPrinterW(const_cast<wchar_t*>(L"ZorvanePort,Port"), &hPort, nullptr))
        << "OpenPrinterW(\"ZorvanePort,Port\"): error " << ::GetLastError() << ", expected success";
    DOC_INFO_1W docInfo{const_cast<wchar_t*>(documentName), nullptr, const_cast<wchar_t*>(L"RAW")};
    ::SetLastError(kSentinel);
    EXPECT_NE(::StartDocPrinterW(hPort, 1, reinterpret_cast<BYTE*>(&docInfo)), 0u)
        << "StartDocPrinterW: error " << ::GetLastError();
    for (const std::string& chunk : chunks) {
        DWORD cbWritten = 0;
        ::SetLastError(kSentinel);
        EXPECT_TRUE(::WritePrinter(hPort, const_cast<char*>(chunk.data()), static_cast<DWORD>(chunk.size()),
                                   &cbWritten))
            << "WritePrinter: error " << ::GetLastError();
        EXPECT_EQ(cbWritten, chunk.size());
    }
    ::SetLastError(kSentinel);
    EXPECT_TRUE(::EndDocPrinter(hPort)) << "EndDocPrinter: error " << ::GetLastError();
    EXPECT_TRUE(::ClosePrinter(hPort));
}

// Wine's spooler passes job id 0 and no printer: the owner is unknown.
std::wstring JobFolderIn(const TempFolder& folder) { return RootIn(folder) + L"\\[unknown owner]"; }

// The job passes through Wine's spooler into the monitor (StartDocPort,
// WritePort, EndDocPort) and ends as a file with exactly the bytes written.
TEST(SpoolerIntegrationTest, AJobPrintedToThePortBecomesAFileWithItsBytes) {
    TempFolder folder;
    ASSERT_NO_FATAL_FAILURE(InstallPort(folder));
    const std::vector<std::string> kChunks = {"PK\x03\x04", std::string("\0\r\n", 3), std::string(5000, 'z')};
    PrintRaw(L"Integration job", kChunks);
    std::vector<std::wstring> files = TempFolder::FileNamesIn(JobFolderIn(folder));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(ReadBytes(JobFolderIn(folder) + L"\\" + files[0]) == kChunks[0] + kChunks[1] + kChunks[2])
        << "the file differs from the job";
    EXPECT_TRUE(::DeleteMonitorW(nullptr, nullptr, const_cast<wchar_t*>(kMonitorName))) << ::GetLastError();
}

// The document's name reaches the monitor through Wine's spooler: a PDF
// lands under it, a second one of that name with " (2)", and a file set of
// two pages as its two pages.
TEST(SpoolerIntegrationTest, JobsLandNamedAfterTheirDocument) {
    TempFolder folder;
    ASSERT_NO_FATAL_FAILURE(InstallPort(folder));
    const std::string kPdf = "%PDF-1.7\n%%EOF\n";
    const std::string kPng = "\x89PNG\r\n\x1a\n";
    PrintRaw(L"Quarterly report", {kPdf});
    PrintRaw(L"Quarterly report", {kPdf});
    PrintRaw(L"Quarterly report", {FileSetOf({kPng + "one", kPng + "two"})});
    EXPECT_EQ(TempFolder::FileNamesIn(JobFolderIn(folder)),
              (std::vector<std::wstring>{L"Quarterly report (2).pdf", L"Quarterly report-1.png",
                                         L"Quarterly report-2.png", L"Quarterly report.pdf"}));
    EXPECT_EQ(ReadBytes(JobFolderIn(folder) + L"\\Quarterly report-2.png"), kPng + "two");
    EXPECT_TRUE(::DeleteMonitorW(nullptr, nullptr, const_cast<wchar_t*>(kMonitorName))) << ::GetLastError();
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: monitor_integration_tests <zorvanemon.dll>\n");
        return 2;
    }
    TestDlls::monitor = WindowsPath(argv[1]);
    return RUN_ALL_TESTS();
}
