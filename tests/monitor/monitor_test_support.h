// Shared by the port monitor's unit tests: the monitor DLL under test, monitor
// instances made through its InitializePrintMonitor2 (as the spooler makes
// them), the two registries a monitor meets, and throwaway folders.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>
#include <winsplp.h>
#include <winspool.h>

#include "platform/handles.h"
#include "tests/monitor/fake_monitor_registry.h"

// A path from the command line as Windows programs under Wine see it: Wine
// maps the Unix root to drive Z:.
std::wstring WindowsPath(const char* argument);

// The DLLs under test, named on the command line.
struct TestDlls {
    static std::wstring monitor;
    static std::wstring library;
};

// zorvanemon.dll, loaded once for the whole run.
class MonitorDll {
public:
    using InitializeFn = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);

    // False with the loader's code when the DLL or its export is missing.
    static bool Load(const std::wstring& path, DWORD& dwError);
    // The entry point linked into the test program instead of a DLL's.
    static void Use(InitializeFn initialize) { initialize_ = initialize; }
    static InitializeFn Initialize() { return initialize_; }

private:
    static InitializeFn initialize_;
};

// One monitor instance as the spooler holds it, shut down when it goes.
class Monitor {
public:
    explicit Monitor(MONITORINIT init);
    ~Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    bool Initialized() const { return functions_ != nullptr; }
    const MONITOR2& Functions() const { return *functions_; }
    HANDLE Handle() const { return handle_; }

    // A data call through a configuration session opened with the access.
    DWORD Xcv(const wchar_t* dataName, const BYTE* input, DWORD cbInput, ACCESS_MASK access,
              std::vector<BYTE>* output = nullptr, DWORD* cbNeeded = nullptr) const;
    DWORD AddPort(const std::wstring& portName) const;
    DWORD DeletePort(const std::wstring& portName) const;
    // The port's existence as "PortExists" answers it; fails the test when
    // the call itself fails.
    bool PortExists(const std::wstring& portName) const;
    // The ports EnumPorts lists at level 1, sorted.
    std::vector<std::wstring> PortNames() const;

private:
    LPMONITOR2 functions_ = nullptr;
    HANDLE handle_ = nullptr;
};

// The UTF-16 name with its terminating zero, as XcvDataW sends it.
std::vector<BYTE> NameBytes(const std::wstring& name);

// The monitor's own key, used when the spooler's registry functions fail.
extern const wchar_t kOwnMonitorKey[];
// Removes the monitor's own key with all its ports.
void DeleteOwnMonitorKey();

// Which registry the monitor under test gets.
enum class RegistryKind {
    Spooler,  // working MONITORREG functions over an in-memory registry
    OwnKey,   // MONITORREG functions that answer ERROR_CALL_NOT_IMPLEMENTED, as Wine's
};
std::string RegistryKindName(const ::testing::TestParamInfo<RegistryKind>& info);

// Tests that run against both registries: Init() hands the selected one to a
// monitor; the own key is emptied before and after each test.
class BothRegistries : public ::testing::TestWithParam<RegistryKind> {
protected:
    void SetUp() override { DeleteOwnMonitorKey(); }
    void TearDown() override { DeleteOwnMonitorKey(); }

    MONITORINIT Init();
    // Gives an existing port an output folder of its own.
    void SetOutputFolder(const std::wstring& portName, const std::wstring& folder);

    FakeMonitorRegistry fake;
    UnimplementedMonitorRegistry unimplemented;
};

// A new, empty folder under the temporary folder; removed with its content.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    // The names of the files in the folder, sorted.
    std::vector<std::wstring> FileNames() const { return FileNamesIn(path_); }

    static std::vector<std::wstring> FileNamesIn(const std::wstring& folder);
    static void RemoveTree(const std::wstring& folder);

private:
    std::wstring path_;
};

// A buffer the system cannot read makes WriteFile fail as a full disk would,
// without filling the disk: Windows says ERROR_NOACCESS, Wine
// ERROR_INVALID_USER_BUFFER.
class UnreadableBuffer {
public:
    UnreadableBuffer()
        : p_(static_cast<BYTE*>(::VirtualAlloc(nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS))) {}
    ~UnreadableBuffer() { ::VirtualFree(p_, 0, MEM_RELEASE); }
    // The space comes back: the same buffer now holds the bytes.
    void MakeReadable(char fill) {
        DWORD dwOld = 0;
        ASSERT_TRUE(::VirtualProtect(p_, kSize, PAGE_READWRITE, &dwOld));
        std::memset(p_, fill, kSize);
    }
    BYTE* Get() const { return p_; }
    static constexpr DWORD kSize = 4096;

private:
    BYTE* p_;
};

// The files framed as one file set, as the output filter sends them; fails
// the test when the writer refuses them.
std::string FileSetOf(const std::vector<std::string>& files);

// The whole file as bytes; empty when it does not exist.
std::string ReadBytes(const std::wstring& path);

// For messages: wide text as UTF-8.
std::string Narrow(const std::wstring& text);
