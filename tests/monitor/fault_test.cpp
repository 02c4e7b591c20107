// The monitor's entry points, linked into this program, while an allocation
// fails at each point in turn: the call returns to the spooler (no exception
// ends its process), and a job is never reported sent without all its bytes.
//   monitor_fault_tests
#include <functional>

#include "tests/monitor/failing_allocator.h"
#include "tests/monitor/monitor_test_support.h"

namespace {

const wchar_t kPort[] = L"FaultPort";

class AllocationFaults : public ::testing::Test {
protected:
    void SetUp() override {
        monitor = std::make_unique<Monitor>(fake.MonitorInit());
        ASSERT_TRUE(monitor->Initialized());
        ASSERT_EQ(monitor->AddPort(kPort), static_cast<DWORD>(ERROR_SUCCESS));
        fake.SetString(std::wstring(L"Ports\\") + kPort, L"OutputFolder", Root());
    }

    std::wstring Root() const { return temp.Path() + L"\\jobs"; }
    std::wstring JobFolder() const { return Root() + L"\\[unknown owner]"; }

    const MONITOR2& F() const { return monitor->Functions(); }

    // A port with a job started and its first bytes written.
    HANDLE StartJob(const std::string& bytes) {
        HANDLE hPort = nullptr;
        EXPECT_TRUE(F().pfnOpenPort(monitor->Handle(), const_cast<wchar_t*>(kPort), &hPort));
        DOC_INFO_1W docInfo{const_cast<wchar_t*>(L"Faulty"), nullptr, const_cast<wchar_t*>(L"RAW")};
        EXPECT_TRUE(F().pfnStartDocPort(hPort, nullptr, 7, 1, reinterpret_cast<BYTE*>(&docInfo)))
            << ::GetLastError();
        EXPECT_TRUE(Write(hPort, bytes));
        return hPort;
    }

    BOOL Write(HANDLE hPort, const std::string& bytes) {
        DWORD cbWritten = 0;
        return F().pfnWritePort(hPort, reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                static_cast<DWORD>(bytes.size()), &cbWritten);
    }

    // Runs the step with the n-th allocation in it failing, for n = 1, 2...
    // until the step allocates no more than n - 1 times; check sees each
    // outcome and cleans up for the next.
    void AtEveryAllocation(const std::function<void(long n)>& step) {
        for (long n = 1;; ++n) {
            step(n);
            if (::testing::Test::HasFailure()) {
                ADD_FAILURE() << "with allocation " << n << " failing";
                return;
            }
            if (!lastFailed) {
                EXPECT_GT(n, 1) << "the step allocated nothing: no fault was tried";
                return;
            }
        }
    }

    TempFolder temp;
    FakeMonitorRegistry fake;
    std::unique_ptr<Monitor> monitor;
    bool lastFailed = false;
};

// A write that fails while its bytes cannot be kept for comparing with the
// spooler's retry: the failure is recorded and the file cut back first, so
// the job ends incomplete, with exactly the bytes acknowledged.
TEST_F(AllocationFaults, AFailedWriteIsRecordedBeforeAnythingCanFail) {
    UnreadableBuffer unreadable;
    AtEveryAllocation([&](long n) {
        HANDLE hPort = StartJob("acknowledged ");
        DWORD cbWritten = 0;
        FailingAllocator::FailAt(n);
        BOOL bWritten = F().pfnWritePort(hPort, unreadable.Get(), UnreadableBuffer::kSize, &cbWritten);
        lastFailed = FailingAllocator::Failed();
        FailingAllocator::Disarm();
        EXPECT_FALSE(bWritten);
        EXPECT_TRUE(Write(hPort, "end"));
        EXPECT_FALSE(F().pfnEndDocPort(hPort)) << "a job without one of its writes was reported sent";
        EXPECT_TRUE(F().pfnClosePort(hPort));
        std::vector<std::wstring> files = TempFolder::FileNamesIn(JobFolder());
        ASSERT_EQ(files.size(), 1u);
        EXPECT_NE(files[0].find(L"-job7-incomplete"), std::wstring::npos) << Narrow(files[0]);
        EXPECT_EQ(ReadBytes(JobFolder() + L"\\" + files[0]), "acknowledged end");
        ::DeleteFileW((JobFolder() + L"\\" + files[0]).c_str());
    });
}

// A job ends either reported sent, written whole under its name, or failed
// with its data kept, whatever allocation fails.
TEST_F(AllocationFaults, EndingAJobReportsItSentOnlyWhenWrittenWhole) {
    AtEveryAllocation([&](long n) {
        HANDLE hPort = StartJob("whole");
        FailingAllocator::FailAt(n);
        BOOL bEnded = F().pfnEndDocPort(hPort);
        lastFailed = FailingAllocator::Failed();
        FailingAllocator::Disarm();
        EXPECT_TRUE(F().pfnClosePort(hPort));
        std::vector<std::wstring> files = TempFolder::FileNamesIn(JobFolder());
        ASSERT_EQ(files.size(), 1u);
        EXPECT_TRUE(!bEnded || files[0] == L"Faulty.xps") << Narrow(files[0]);
        EXPECT_EQ(ReadBytes(JobFolder() + L"\\" + files[0]), "whole");
        ::DeleteFileW((JobFolder() + L"\\" + files[0]).c_str());
    });
}

// The spooler closes a port in the middle of a job when the job is deleted
// or the spooler stops: the job's data is kept whatever allocation fails.
TEST_F(AllocationFaults, ClosingAPortMidJobReturnsWhateverAllocationFails) {
    AtEveryAllocation([&](long n) {
        HANDLE hPort = StartJob("never finished");
        FailingAllocator::FailAt(n);
        BOOL bClosed = F().pfnClosePort(hPort);
        lastFailed = FailingAllocator::Failed();
        FailingAllocator::Disarm();
        EXPECT_TRUE(bClosed);
        std::vector<std::wstring> files = TempFolder::FileNamesIn(JobFolder());
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(ReadBytes(JobFolder() + L"\\" + files[0]), "never finished");
        ::DeleteFileW((JobFolder() + L"\\" + files[0]).c_str());
    });
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    MonitorDll::Use(InitializePrintMonitor2);
    return RUN_ALL_TESTS();
}
