// Where the ports are kept: in the spooler's registry when its functions
// work, else in the monitor's own key; decided once, at initialisation.
#include "tests/monitor/monitor_test_support.h"

namespace {

const wchar_t kPort[] = L"ZorvanePort";

bool OwnKeyHasPort(const std::wstring& portName) {
    RegistryKeyHandle key;
    std::wstring path = std::wstring(kOwnMonitorKey) + L"\\Ports\\" + portName;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) {
        key.Release();  // nothing was opened
        return false;
    }
    return true;
}

class RegistryChoiceTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteOwnMonitorKey(); }
    void TearDown() override { DeleteOwnMonitorKey(); }
};

TEST_F(RegistryChoiceTest, WorkingSpoolerFunctionsKeepThePortsAndEveryKeyIsClosedAgain) {
    FakeMonitorRegistry fake;
    Monitor monitor(fake.MonitorInit());
    ASSERT_TRUE(monitor.Initialized());
    ASSERT_EQ(monitor.AddPort(kPort), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(fake.SubKeys(L"Ports"), std::vector<std::wstring>{kPort});
    EXPECT_EQ(fake.OpenHandles(), 0u);
    EXPECT_TRUE(monitor.PortExists(kPort));
    EXPECT_EQ(monitor.PortNames(), std::vector<std::wstring>{kPort});
    EXPECT_EQ(fake.OpenHandles(), 0u);
    EXPECT_EQ(monitor.DeletePort(kPort), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(fake.SubKeys(L"Ports"), std::vector<std::wstring>{});
    EXPECT_EQ(fake.OpenHandles(), 0u);
    EXPECT_FALSE(OwnKeyHasPort(kPort));
}

TEST_F(RegistryChoiceTest, UnimplementedSpoolerFunctionsAreTriedOnceThenTheOwnKeyKeepsThePorts) {
    UnimplementedMonitorRegistry unimplemented;
    Monitor monitor(unimplemented.MonitorInit());
    ASSERT_TRUE(monitor.Initialized());
    EXPECT_EQ(unimplemented.Calls(), 1) << "one harmless probe at initialisation";
    ASSERT_EQ(monitor.AddPort(kPort), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(OwnKeyHasPort(kPort));
    EXPECT_EQ(monitor.PortNames(), std::vector<std::wstring>{kPort});
    EXPECT_EQ(monitor.DeletePort(kPort), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(OwnKeyHasPort(kPort));
    EXPECT_EQ(unimplemented.Calls(), 1) << "the decision is kept";
}

// Initialisation records a monitor cannot use: each falls back to the own key.
TEST_F(RegistryChoiceTest, UnusableSpoolerRegistriesFallBackToTheOwnKey) {
    FakeMonitorRegistry fake;
    struct Case {
        const char* what;
        void (*spoil)(MONITORINIT& init, MONITORREG& reg);
    };
    const Case kCases[] = {
        {"no registry functions", [](MONITORINIT& init, MONITORREG&) { init.pMonitorReg = nullptr; }},
        {"no registry root", [](MONITORINIT& init, MONITORREG&) { init.hckRegistryRoot = nullptr; }},
        {"short MONITORINIT",
         [](MONITORINIT& init, MONITORREG&) { init.cbSize = offsetof(MONITORINIT, bLocal); }},
        {"short MONITORREG",
         [](MONITORINIT&, MONITORREG& reg) { reg.cbSize = offsetof(MONITORREG, fpQueryValue); }},
        {"a function missing", [](MONITORINIT&, MONITORREG& reg) { reg.fpEnumKey = nullptr; }},
    };
    for (const Case& spoiled : kCases) {
        SCOPED_TRACE(spoiled.what);
        MONITORINIT init = fake.MonitorInit();
        MONITORREG reg = *init.pMonitorReg;
        init.pMonitorReg = &reg;
        spoiled.spoil(init, reg);
        Monitor monitor(init);
        ASSERT_TRUE(monitor.Initialized());
        EXPECT_EQ(monitor.AddPort(kPort), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_TRUE(OwnKeyHasPort(kPort));
        EXPECT_FALSE(fake.HasKey(L"Ports"));
        DeleteOwnMonitorKey();
    }
}

TEST_F(RegistryChoiceTest, ARegistryFailureIsTheAnswer) {
    FakeMonitorRegistry fake;
    Monitor monitor(fake.MonitorInit());
    ASSERT_TRUE(monitor.Initialized());
    ASSERT_EQ(monitor.AddPort(kPort), static_cast<DWORD>(ERROR_SUCCESS));

    fake.Fail("EnumKey", ERROR_ACCESS_DENIED);
    DWORD cbNeeded = 0;
    DWORD cReturned = 0;
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(
        monitor.Functions().pfnEnumPorts(monitor.Handle(), nullptr, 1, nullptr, 0, &cbNeeded, &cReturned));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    fake.Fail("CreateKey", ERROR_OUTOFMEMORY);
    EXPECT_EQ(monitor.AddPort(L"SecondPort"), static_cast<DWORD>(ERROR_OUTOFMEMORY));
    EXPECT_FALSE(fake.HasKey(L"Ports\\SecondPort"));
    EXPECT_EQ(fake.OpenHandles(), 0u);
}

TEST_F(RegistryChoiceTest, EachInitialisationIsAMonitorOfItsOwn) {
    FakeMonitorRegistry first;
    FakeMonitorRegistry second;
    Monitor firstMonitor(first.MonitorInit());
    Monitor secondMonitor(second.MonitorInit());
    ASSERT_TRUE(firstMonitor.Initialized());
    ASSERT_TRUE(secondMonitor.Initialized());
    ASSERT_EQ(firstMonitor.AddPort(L"FirstPort"), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(secondMonitor.AddPort(L"SecondPort"), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(firstMonitor.PortNames(), std::vector<std::wstring>{L"FirstPort"});
    EXPECT_EQ(secondMonitor.PortNames(), std::vector<std::wstring>{L"SecondPort"});
}

}  // namespace
