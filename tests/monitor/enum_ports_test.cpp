// EnumPorts: the size probe and the records at levels 1 and 2, each record
// followed by its strings in the caller's one buffer.
#include <algorithm>

#include "tests/monitor/monitor_test_support.h"

namespace {

const wchar_t kMonitorName[] = L"Zorvane Creator Port Monitor";
const wchar_t kDescription[] = L"Zorvane Creator Port";

DWORD StringBytes(const std::wstring& text) {
    return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
}

struct Level {
    DWORD level;
    DWORD recordSize;
    DWORD stringBytesPerPort;  // beyond the port's own name
};

const Level kLevels[] = {
    {1, sizeof(PORT_INFO_1W), 0},
    {2, sizeof(PORT_INFO_2W), StringBytes(kMonitorName) + StringBytes(kDescription)},
};

using EnumPortsTest = BothRegistries;

// True when the whole string lies inside the buffer.
bool InBuffer(const wchar_t* text, const std::vector<BYTE>& buffer) {
    const BYTE* p = reinterpret_cast<const BYTE*>(text);
    return p >= buffer.data() && p + StringBytes(text) <= buffer.data() + buffer.size();
}

TEST_P(EnumPortsTest, WithoutPortsNothingIsNeededAndNothingListed) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    for (const Level& level : kLevels) {
        DWORD cbNeeded = 0xdeadbeef;
        DWORD cReturned = 0xdeadbeef;
        ::SetLastError(0xdeadbeef);
        EXPECT_TRUE(monitor.Functions().pfnEnumPorts(monitor.Handle(), nullptr, level.level, nullptr, 0,
                                                     &cbNeeded, &cReturned))
            << "level " << level.level << ", error " << ::GetLastError();
        EXPECT_EQ(cbNeeded, 0u);
        EXPECT_EQ(cReturned, 0u);
    }
}

TEST_P(EnumPortsTest, ProbeAnswersTheSizeAndAFetchOfThatSizeListsEveryPort) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    const std::vector<std::wstring> kPorts = {L"SecondPort", L"ZorvanePort"};
    for (const std::wstring& port : kPorts) {
        ASSERT_EQ(monitor.AddPort(port), static_cast<DWORD>(ERROR_SUCCESS));
    }
    for (const Level& level : kLevels) {
        SCOPED_TRACE("level " + std::to_string(level.level));
        DWORD expectedSize = 0;
        for (const std::wstring& port : kPorts) {
            expectedSize += level.recordSize + StringBytes(port) + level.stringBytesPerPort;
        }

        DWORD cbNeeded = 0;
        DWORD cReturned = 0xdeadbeef;
        ::SetLastError(0xdeadbeef);
        EXPECT_FALSE(monitor.Functions().pfnEnumPorts(monitor.Handle(), nullptr, level.level, nullptr, 0,
                                                      &cbNeeded, &cReturned));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(cbNeeded, expectedSize);
        EXPECT_EQ(cReturned, 0u);

        std::vector<BYTE> small(expectedSize - 1);
        ::SetLastError(0xdeadbeef);
        EXPECT_FALSE(monitor.Functions().pfnEnumPorts(monitor.Handle(), nullptr, level.level, small.data(),
                                                      static_cast<DWORD>(small.size()), &cbNeeded,
                                                      &cReturned));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(cbNeeded, expectedSize);

        std::vector<BYTE> buffer(expectedSize);
        ::SetLastError(0xdeadbeef);
        ASSERT_TRUE(monitor.Functions().pfnEnumPorts(monitor.Handle(), nullptr, level.level, buffer.data(),
                                                     expectedSize, &cbNeeded, &cReturned))
            << "error " << ::GetLastError();
        ASSERT_EQ(cReturned, kPorts.size());
        std::vector<std::wstring> listed;
        for (DWORD i = 0; i < cReturned; ++i) {
            if (level.level == 1) {
                const PORT_INFO_1W& info = reinterpret_cast<const PORT_INFO_1W*>(buffer.data())[i];
                ASSERT_TRUE(InBuffer(info.pName, buffer));
                listed.push_back(info.pName);
                continue;
            }
            const PORT_INFO_2W& info = reinterpret_cast<const PORT_INFO_2W*>(buffer.data())[i];
            ASSERT_TRUE(InBuffer(info.pPortName, buffer));
            ASSERT_TRUE(InBuffer(info.pMonitorName, buffer));
            ASSERT_TRUE(InBuffer(info.pDescription, buffer));
            listed.push_back(info.pPortName);
            EXPECT_STREQ(info.pMonitorName, kMonitorName);
            EXPECT_STREQ(info.pDescription, kDescription);
            EXPECT_EQ(info.fPortType, static_cast<DWORD>(PORT_TYPE_WRITE));
        }
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, kPorts);
    }
}

TEST_P(EnumPortsTest, OtherLevelsAreRejected) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    ASSERT_EQ(monitor.AddPort(L"ZorvanePort"), static_cast<DWORD>(ERROR_SUCCESS));
    std::vector<BYTE> buffer(1024);
    for (DWORD level : {0u, 3u}) {
        DWORD cbNeeded = 0;
        DWORD cReturned = 0;
        ::SetLastError(0xdeadbeef);
        EXPECT_FALSE(monitor.Functions().pfnEnumPorts(monitor.Handle(), nullptr, level, buffer.data(),
                                                      static_cast<DWORD>(buffer.size()), &cbNeeded,
                                                      &cReturned));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL)) << "level " << level;
    }
}

TEST_P(EnumPortsTest, MissingCountPointersAreInvalidParameters) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    DWORD dwCount = 0;
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(
        monitor.Functions().pfnEnumPorts(monitor.Handle(), nullptr, 1, nullptr, 0, nullptr, &dwCount));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(
        monitor.Functions().pfnEnumPorts(monitor.Handle(), nullptr, 1, nullptr, 0, &dwCount, nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

INSTANTIATE_TEST_SUITE_P(Registries, EnumPortsTest,
                         ::testing::Values(RegistryKind::Spooler, RegistryKind::OwnKey), RegistryKindName);

}  // namespace
