// The seam's Windows binding against the real system (Wine in CI).
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/systemlibrary.h"
#include "setup/installer.h"

namespace {

std::wstring SystemDirectory() {
    wchar_t path[MAX_PATH];
    UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    return std::wstring(path, length);
}

std::wstring LoadedPath(const wchar_t* module) {
    HMODULE handle = ::GetModuleHandleW(module);
    if (handle == nullptr) {
        return L"(not loaded)";
    }
    wchar_t path[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(handle, path, MAX_PATH);
    return std::wstring(path, length);
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(towlower(c));
    }
    return text;
}

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring TempLogPath(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring path = std::wstring(temp) + name;
    ::DeleteFileW(path.c_str());
    return path;
}

// Another process's handle on the log, let go after a moment.
DWORD WINAPI CloseHandleSoon(LPVOID handle) {
    ::Sleep(120);
    ::CloseHandle(static_cast<HANDLE>(handle));
    return 0;
}

}  // namespace

TEST(WindowsBinding, LoadsItsLibrariesFromTheSystemDirectory) {
    std::wstring system = Lower(SystemDirectory());
    ASSERT_EQ(::GetModuleHandleW(L"version.dll"), nullptr);

    wchar_t kernel32[MAX_PATH];
    ::GetModuleFileNameW(::GetModuleHandleW(L"kernel32.dll"), kernel32, MAX_PATH);
    DWORD handle = 0;
    EXPECT_GT(sys::GetFileVersionInfoSizeW(kernel32, &handle), 0u);
    EXPECT_EQ(Lower(LoadedPath(L"version.dll")), system + L"\\version.dll");

    HSPFILEQ queue = sys::SetupOpenFileQueue();
    ASSERT_NE(queue, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(sys::SetupCloseFileQueue(queue));
    EXPECT_EQ(Lower(LoadedPath(L"setupapi.dll")), system + L"\\setupapi.dll");

    ::SetLastError(0xdeadbeef);
    HANDLE printer = nullptr;
    if (sys::OpenPrinterW(nullptr, &printer, nullptr)) {
        sys::ClosePrinter(printer);
    }
    EXPECT_EQ(Lower(LoadedPath(L"winspool.drv")), system + L"\\winspool.drv");
}

// The installer clears the last-error value, calls, then reads it (is the
// printer installed?): binding the call in between must not change it.
TEST(WindowsBinding, BindingLeavesTheCallersLastErrorAsItWas) {
    // This prefix is the test's own: its system directory may take the DLL.
    std::wstring installed = SystemDirectory() + L"\\zorvane-lasterror.dll";
    ASSERT_TRUE(::CopyFileW(L"" ZORVANE_LASTERROR_DLL, installed.c_str(), FALSE));
    SystemLibrary library{L"zorvane-lasterror.dll"};
    for (DWORD callersValue : {DWORD{0}, DWORD{0xdeadbeef}}) {  // first use loads, second finds it loaded
        ::SetLastError(callersValue);
        auto probe = library.Bind<int()>("ZorvaneProbe");
        EXPECT_EQ(::GetLastError(), callersValue);
        ASSERT_NE(probe, nullptr);
        EXPECT_EQ(probe(), 7);
    }
    ::SetLastError(0);
    EXPECT_EQ(library.Bind<int()>("NoSuchExport"), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}

TEST(WindowsBinding, LogAppendsRecordsToARealFile) {
    std::wstring logPath = TempLogPath(L"zorvane-binding-append.txt");
    Installer(L"", logPath).Log(L"first %d", 1);
    Installer(L"", logPath).Log(L"second");
    std::string bytes = ReadBytes(logPath);
    ASSERT_EQ(bytes.size(), 2 * 27 + std::string("first 1\r\nsecond\r\n").size());
    EXPECT_EQ(bytes.substr(0, 1), "[");
    EXPECT_EQ(bytes.substr(25, 2), "] ");
    EXPECT_EQ(bytes.substr(27, 9), "first 1\r\n");
    EXPECT_EQ(bytes.substr(bytes.size() - 8), "second\r\n");
    ::DeleteFileW(logPath.c_str());
}

TEST(WindowsBinding, LogWaitsForAFileAnotherHandleReleasesSoon) {
    std::wstring logPath = TempLogPath(L"zorvane-binding-shared.txt");
    FileHandle holder(::CreateFileW(logPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder) << ::GetLastError();
    KernelObject release(::CreateThread(nullptr, 0, CloseHandleSoon, holder.Get(), 0, nullptr));
    ASSERT_TRUE(release) << ::GetLastError();
    holder.Release();  // the thread closes it
    Installer(L"", logPath).Log(L"arrives");
    ::WaitForSingleObject(release.Get(), INFINITE);
    std::string bytes = ReadBytes(logPath);
    EXPECT_EQ(bytes.size(), 27 + std::string("arrives\r\n").size());
    ::DeleteFileW(logPath.c_str());
}

TEST(WindowsBinding, LogGivesUpOnAFileHeldTooLong) {
    std::wstring logPath = TempLogPath(L"zorvane-binding-held.txt");
    FileHandle holder(::CreateFileW(logPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder) << ::GetLastError();
    Installer(L"", logPath).Log(L"lost");
    holder.Close();
    EXPECT_EQ(ReadBytes(logPath), "");
    ::DeleteFileW(logPath.c_str());
}
