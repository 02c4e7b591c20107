// The DLL's entry points as the spooler sees them: InitializePrintMonitor2,
// the MONITOR2 it answers, and how each function treats handles that are
// missing or of the wrong kind.
#include <functional>

#include "tests/monitor/monitor_test_support.h"

namespace {

TEST(EntryPointsTest, InitializePrintMonitor2RejectsMissingArguments) {
    FakeMonitorRegistry fake;
    MONITORINIT init = fake.MonitorInit();
    HANDLE hMonitor = nullptr;
    ::SetLastError(0xdeadbeef);
    EXPECT_EQ(MonitorDll::Initialize()(nullptr, &hMonitor), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ::SetLastError(0xdeadbeef);
    EXPECT_EQ(MonitorDll::Initialize()(&init, nullptr), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(EntryPointsTest, Monitor2HasItsWindowsXpSizeAndEveryPortFunction) {
    FakeMonitorRegistry fake;
    Monitor monitor(fake.MonitorInit());
    ASSERT_TRUE(monitor.Initialized());
    const MONITOR2& functions = monitor.Functions();
    EXPECT_EQ(functions.cbSize, offsetof(MONITOR2, pfnSendRecvBidiDataFromPort) + sizeof(void*));
    const std::pair<const char*, const void*> kRequired[] = {
        {"EnumPorts", reinterpret_cast<const void*>(functions.pfnEnumPorts)},
        {"OpenPort", reinterpret_cast<const void*>(functions.pfnOpenPort)},
        {"StartDocPort", reinterpret_cast<const void*>(functions.pfnStartDocPort)},
        {"WritePort", reinterpret_cast<const void*>(functions.pfnWritePort)},
        {"ReadPort", reinterpret_cast<const void*>(functions.pfnReadPort)},
        {"EndDocPort", reinterpret_cast<const void*>(functions.pfnEndDocPort)},
        {"ClosePort", reinterpret_cast<const void*>(functions.pfnClosePort)},
        {"XcvOpenPort", reinterpret_cast<const void*>(functions.pfnXcvOpenPort)},
        {"XcvDataPort", reinterpret_cast<const void*>(functions.pfnXcvDataPort)},
        {"XcvClosePort", reinterpret_cast<const void*>(functions.pfnXcvClosePort)},
        {"Shutdown", reinterpret_cast<const void*>(functions.pfnShutdown)},
    };
    for (const auto& required : kRequired) {
        EXPECT_NE(required.second, nullptr) << required.first;
    }
}

TEST(EntryPointsTest, MissingOrForeignHandlesAreInvalidParameters) {
    FakeMonitorRegistry fake;
    Monitor monitor(fake.MonitorInit());
    ASSERT_TRUE(monitor.Initialized());
    const MONITOR2& f = monitor.Functions();
    HANDLE hXcv = nullptr;
    ASSERT_TRUE(f.pfnXcvOpenPort(monitor.Handle(), L"", SERVER_ACCESS_ADMINISTER, &hXcv));
    // A configuration session where a port or a monitor is expected, and the
    // monitor where a port is expected.
    HANDLE hWrongKind = hXcv;
    HANDLE hMonitorAsPort = monitor.Handle();
    BYTE data[4] = {};
    DWORD dwCount = 0;
    HANDLE hResult = nullptr;
    wchar_t portName[] = L"ZorvanePort";

    const std::pair<const char*, std::function<BOOL()>> kCalls[] = {
        {"EnumPorts(null)",
         [&] { return f.pfnEnumPorts(nullptr, nullptr, 1, nullptr, 0, &dwCount, &dwCount); }},
        {"EnumPorts(xcv)",
         [&] { return f.pfnEnumPorts(hWrongKind, nullptr, 1, nullptr, 0, &dwCount, &dwCount); }},
        {"OpenPort(null)", [&] { return f.pfnOpenPort(nullptr, portName, &hResult); }},
        {"OpenPort(no name)", [&] { return f.pfnOpenPort(monitor.Handle(), nullptr, &hResult); }},
        {"OpenPort(no result)", [&] { return f.pfnOpenPort(monitor.Handle(), portName, nullptr); }},
        {"StartDocPort(null)", [&] { return f.pfnStartDocPort(nullptr, nullptr, 1, 1, nullptr); }},
        {"StartDocPort(monitor)", [&] { return f.pfnStartDocPort(hMonitorAsPort, nullptr, 1, 1, nullptr); }},
        {"WritePort(null)", [&] { return f.pfnWritePort(nullptr, data, sizeof(data), &dwCount); }},
        {"WritePort(xcv)", [&] { return f.pfnWritePort(hWrongKind, data, sizeof(data), &dwCount); }},
        {"EndDocPort(null)", [&] { return f.pfnEndDocPort(nullptr); }},
        {"ClosePort(null)", [&] { return f.pfnClosePort(nullptr); }},
        {"ClosePort(xcv)", [&] { return f.pfnClosePort(hWrongKind); }},
        {"XcvOpenPort(null)",
         [&] { return f.pfnXcvOpenPort(nullptr, L"", SERVER_ACCESS_ADMINISTER, &hResult); }},
        {"XcvOpenPort(no result)",
         [&] { return f.pfnXcvOpenPort(monitor.Handle(), L"", SERVER_ACCESS_ADMINISTER, nullptr); }},
        {"XcvClosePort(null)", [&] { return f.pfnXcvClosePort(nullptr); }},
        {"XcvClosePort(monitor)", [&] { return f.pfnXcvClosePort(hMonitorAsPort); }},
    };
    for (const auto& call : kCalls) {
        ::SetLastError(0xdeadbeef);
        EXPECT_FALSE(call.second()) << call.first;
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << call.first;
    }
    DWORD cbNeeded = 0;
    EXPECT_EQ(f.pfnXcvDataPort(nullptr, L"AddPort", data, sizeof(data), nullptr, 0, &cbNeeded),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(f.pfnXcvDataPort(hMonitorAsPort, L"AddPort", data, sizeof(data), nullptr, 0, &cbNeeded),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(f.pfnXcvClosePort(hXcv));
}

}  // namespace
