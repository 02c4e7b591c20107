// The monitor's entry points, linked into this program, while each
// allocation of a call fails in turn, as when the spooler's process runs out
// of memory: the call returns (no exception ends the process), and a job is
// never reported sent without all its bytes.
//   monitor_fault_tests
#include <cstdlib>
#include <functional>
#include <new>

#include "tests/monitor/monitor_test_support.h"

namespace {

// This program's operator new fails the countdown-th allocation once; the
// monitor's code linked in allocates through it.
volatile LONG countdown = 0;
volatile LONG failed = 0;

void* Allocate(std::size_t size) {
    if (countdown > 0 && ::InterlockedDecrement(&countdown) == 0) {
        failed = 1;
        throw std::bad_alloc();
    }
    void* p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

const wchar_t kPort[] = L"FaultPort";

class AllocationFaults : public ::testing::Test {
protected:
    void SetUp() override {
        monitor = std::make_unique<Monitor>(fake.MonitorInit());
        ASSERT_TRUE(monitor->Initialized());
        ASSERT_EQ(monitor->AddPort(kPort), static_cast<DWORD>(ERROR_SUCCESS));
        fake.SetString(std::wstring(L"Ports\\") + kPort, L"OutputFolder", temp.Path() + L"\\jobs");
    }

    const MONITOR2& F() const { return monitor->Functions(); }

    // A port with a job started and its first bytes written.
    HANDLE StartJob(const std::string& bytes) {
        HANDLE hPort = nullptr;
        EXPECT_TRUE(F().pfnOpenPort(monitor->Handle(), const_cast<wchar_t*>(kPort), &hPort));
        EXPECT_TRUE(F().pfnStartDocPort(hPort, nullptr, 7, 0, nullptr)) << ::GetLastError();
        EXPECT_TRUE(Write(hPort, bytes));
        return hPort;
    }

    BOOL Write(HANDLE hPort, const std::string& bytes) {
        DWORD cbWritten = 0;
        return F().pfnWritePort(hPort, reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                static_cast<DWORD>(bytes.size()), &cbWritten);
    }

    // Makes the call with its n-th allocation failing (see AtEveryAllocation).
    BOOL Faulted(const std::function<BOOL()>& call) {
        failed = 0;
        countdown = n_;
        BOOL bResult = call();
        countdown = 0;
        hit_ = failed != 0;
        return bResult;
    }

    // Runs the step for n = 1, 2... until its faulted call makes fewer than n
    // allocations.
    void AtEveryAllocation(const std::function<void()>& step) {
        for (n_ = 1;; ++n_) {
            hit_ = false;
            step();
            if (::testing::Test::HasFailure()) {
                ADD_FAILURE() << "with allocation " << n_ << " failing";
                return;
            }
            if (!hit_) {
                EXPECT_GT(n_, 1) << "the call allocated nothing: no fault was tried";
                return;
            }
        }
    }

    // The job's one file, read and removed; empty when there is not exactly one.
    std::pair<std::wstring, std::string> TakeTheFile() {
        std::wstring folder = temp.Path() + L"\\jobs\\[unknown owner]";
        std::vector<std::wstring> files = TempFolder::FileNamesIn(folder);
        EXPECT_EQ(files.size(), 1u);
        if (files.size() != 1) {
            return {};
        }
        std::string bytes = ReadBytes(folder + L"\\" + files[0]);
        ::DeleteFileW((folder + L"\\" + files[0]).c_str());
        return {files[0], bytes};
    }

    TempFolder temp;
    FakeMonitorRegistry fake;
    std::unique_ptr<Monitor> monitor;
    long n_ = 0;
    bool hit_ = false;
};

// A write that fails while its bytes cannot be kept for comparing with the
// spooler's retry: the failure is recorded and the file cut back first, so
// the job ends incomplete, with exactly the bytes acknowledged.
TEST_F(AllocationFaults, AFailedWriteIsRecordedBeforeAnythingCanFail) {
    UnreadableBuffer unreadable;
    AtEveryAllocation([&] {
        HANDLE hPort = StartJob("acknowledged ");
        DWORD cbWritten = 0;
        EXPECT_FALSE(Faulted(
            [&] { return F().pfnWritePort(hPort, unreadable.Get(), UnreadableBuffer::kSize, &cbWritten); }));
        EXPECT_TRUE(Write(hPort, "end"));
        EXPECT_FALSE(F().pfnEndDocPort(hPort)) << "a job without one of its writes was reported sent";
        EXPECT_TRUE(F().pfnClosePort(hPort));
        std::pair<std::wstring, std::string> file = TakeTheFile();
        EXPECT_NE(file.first.find(L"-job7-incomplete"), std::wstring::npos) << Narrow(file.first);
        EXPECT_EQ(file.second, "acknowledged end");
    });
}

// The spooler closes a port in the middle of a job when the job is deleted
// or the spooler stops: the job's data is kept whatever allocation fails.
TEST_F(AllocationFaults, ClosingAPortMidJobReturnsWhateverAllocationFails) {
    AtEveryAllocation([&] {
        HANDLE hPort = StartJob("never finished");
        EXPECT_TRUE(Faulted([&] { return F().pfnClosePort(hPort); }));
        EXPECT_EQ(TakeTheFile().second, "never finished");
    });
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    MonitorDll::Use(InitializePrintMonitor2);
    return RUN_ALL_TESTS();
}
