// The configuration channel: the data calls "AddPort", "DeletePort" and
// "PortExists", their access checks and their answers to bad input.
#include <cstring>

#include "tests/monitor/monitor_test_support.h"

namespace {

const wchar_t kPort[] = L"ZorvanePort";
const DWORD kSuccess = ERROR_SUCCESS;

using XcvTest = BothRegistries;

TEST_P(XcvTest, AddPortTwiceSucceedsBothTimesAndMakesOnePort) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    EXPECT_EQ(monitor.AddPort(kPort), kSuccess);
    EXPECT_EQ(monitor.AddPort(kPort), kSuccess);
    EXPECT_EQ(monitor.PortNames(), std::vector<std::wstring>{kPort});
}

TEST_P(XcvTest, PortExistsFollowsAddAndDelete) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    EXPECT_FALSE(monitor.PortExists(kPort));
    ASSERT_EQ(monitor.AddPort(kPort), kSuccess);
    EXPECT_TRUE(monitor.PortExists(kPort));
    EXPECT_TRUE(monitor.PortExists(L"zorvaneport"));  // port names, like key names, ignore case
    EXPECT_FALSE(monitor.PortExists(L"OtherPort"));
    ASSERT_EQ(monitor.DeletePort(kPort), kSuccess);
    EXPECT_FALSE(monitor.PortExists(kPort));
}

TEST_P(XcvTest, DeletePortRemovesOnlyThatPortAndAnswersUnknownPortWhenItIsGone) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    ASSERT_EQ(monitor.AddPort(kPort), kSuccess);
    ASSERT_EQ(monitor.AddPort(L"SecondPort"), kSuccess);
    EXPECT_EQ(monitor.DeletePort(kPort), kSuccess);
    EXPECT_EQ(monitor.DeletePort(kPort), static_cast<DWORD>(ERROR_UNKNOWN_PORT));
    EXPECT_EQ(monitor.PortNames(), std::vector<std::wstring>{L"SecondPort"});
}

TEST_P(XcvTest, PortsOutliveTheMonitorInstanceThatMadeThem) {
    {
        Monitor monitor(Init());
        ASSERT_TRUE(monitor.Initialized());
        ASSERT_EQ(monitor.AddPort(kPort), kSuccess);
    }  // the spooler stops: Shutdown
    Monitor restarted(Init());
    ASSERT_TRUE(restarted.Initialized());
    EXPECT_TRUE(restarted.PortExists(kPort));
    EXPECT_EQ(restarted.PortNames(), std::vector<std::wstring>{kPort});
}

TEST_P(XcvTest, LongestPortNameIsAccepted) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    std::wstring longest(255, L'P');
    EXPECT_EQ(monitor.AddPort(longest), kSuccess);
    EXPECT_TRUE(monitor.PortExists(longest));
}

TEST_P(XcvTest, InputNeedNotBeAlignedAndMayCarryBytesAfterTheName) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    std::vector<BYTE> name = NameBytes(kPort);
    std::vector<BYTE> unaligned(1 + name.size() + 6, 0x55);
    std::memcpy(unaligned.data() + 1, name.data(), name.size());
    EXPECT_EQ(monitor.Xcv(L"AddPort", unaligned.data() + 1, static_cast<DWORD>(name.size() + 6),
                          SERVER_ACCESS_ADMINISTER),
              kSuccess);
    EXPECT_EQ(monitor.PortNames(), std::vector<std::wstring>{kPort});
}

// Input that does not hold a usable port name: each command rejects it,
// reads no byte beyond the given count, and changes nothing.
struct BadInput {
    const char* what;
    std::vector<BYTE> bytes;  // placed right before an inaccessible page
    bool nullPointer;
    DWORD cbInput;
    DWORD expected;
};

std::vector<BYTE> Bytes(const std::wstring& text, bool withTerminator) {
    std::vector<BYTE> bytes = NameBytes(text);
    bytes.resize(bytes.size() - (withTerminator ? 0 : sizeof(wchar_t)));
    return bytes;
}

std::vector<BadInput> BadInputs() {
    std::vector<BYTE> port = Bytes(kPort, true);
    return {
        {"null pointer", {}, true, 24, ERROR_INVALID_PARAMETER},
        {"zero bytes", port, false, 0, ERROR_INVALID_PARAMETER},
        {"odd byte count", port, false, 23, ERROR_INVALID_DATA},
        {"no terminator", Bytes(kPort, false), false, 22, ERROR_INVALID_DATA},
        {"count short of the terminator", port, false, 22, ERROR_INVALID_DATA},
        {"empty name", Bytes(L"", true), false, 2, ERROR_INVALID_PARAMETER},
        {"backslash in the name", Bytes(L"Zorvane\\Port", true), false, 26, ERROR_INVALID_NAME},
        {"comma in the name", Bytes(L"Zorvane,Port", true), false, 26, ERROR_INVALID_NAME},
        {"name longer than 255", Bytes(std::wstring(256, L'P'), true), false, 514, ERROR_INVALID_NAME},
    };
}

// Two pages, the second inaccessible: bytes copied to the end of the first
// make any read past them fault.
class GuardedBuffer {
public:
    explicit GuardedBuffer(const std::vector<BYTE>& bytes) {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        pageSize_ = info.dwPageSize;
        base_ = static_cast<BYTE*>(
            ::VirtualAlloc(nullptr, 2 * pageSize_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD dwOld = 0;
        ::VirtualProtect(base_ + pageSize_, pageSize_, PAGE_NOACCESS, &dwOld);
        data_ = base_ + pageSize_ - bytes.size();
        std::memcpy(data_, bytes.data(), bytes.size());
    }
    ~GuardedBuffer() { ::VirtualFree(base_, 0, MEM_RELEASE); }
    BYTE* Data() const { return data_; }

private:
    DWORD pageSize_;
    BYTE* base_;
    BYTE* data_;
};

TEST_P(XcvTest, MalformedInputIsRejectedWithoutReadingPastIt) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    ASSERT_EQ(monitor.AddPort(kPort), kSuccess);
    for (const wchar_t* command : {L"AddPort", L"DeletePort", L"PortExists"}) {
        for (const BadInput& bad : BadInputs()) {
            GuardedBuffer input(bad.bytes);
            std::vector<BYTE> output(sizeof(DWORD));
            DWORD dwStatus = monitor.Xcv(command, bad.nullPointer ? nullptr : input.Data(), bad.cbInput,
                                         SERVER_ACCESS_ADMINISTER, &output);
            EXPECT_EQ(dwStatus, bad.expected) << Narrow(command) << ", " << bad.what;
        }
    }
    EXPECT_EQ(monitor.PortNames(), std::vector<std::wstring>{kPort});
}

TEST_P(XcvTest, UnknownDataNamesAreInvalidParameters) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    std::vector<BYTE> input = NameBytes(kPort);
    for (const wchar_t* dataName : {L"Unknown", L"addport", L"AddPort ", L"", L"MonitorUI"}) {
        EXPECT_EQ(
            monitor.Xcv(dataName, input.data(), static_cast<DWORD>(input.size()), SERVER_ACCESS_ADMINISTER),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER))
            << "data name \"" << Narrow(dataName) << "\"";
    }
    EXPECT_EQ(monitor.PortNames(), std::vector<std::wstring>{});
}

TEST_P(XcvTest, AddingAndDeletingPortsNeedsAdministerAccess) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    ASSERT_EQ(monitor.AddPort(L"Kept"), kSuccess);
    const ACCESS_MASK kTooLittle[] = {0, SERVER_ACCESS_ENUMERATE, PRINTER_ACCESS_USE, SERVER_READ};
    for (ACCESS_MASK access : kTooLittle) {
        for (const wchar_t* port : {kPort, L"Kept"}) {
            std::vector<BYTE> input = NameBytes(port);
            for (const wchar_t* command : {L"AddPort", L"DeletePort"}) {
                EXPECT_EQ(monitor.Xcv(command, input.data(), static_cast<DWORD>(input.size()), access),
                          static_cast<DWORD>(ERROR_ACCESS_DENIED))
                    << Narrow(command) << " " << Narrow(port) << " with access 0x" << std::hex << access;
            }
        }
    }
    EXPECT_EQ(monitor.PortNames(), std::vector<std::wstring>{L"Kept"});
    EXPECT_TRUE(monitor.PortExists(L"Kept"));  // asking needs no access
}

TEST_P(XcvTest, PortExistsAsksForFourBytesOfOutput) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    std::vector<BYTE> input = NameBytes(kPort);
    for (size_t cbOutput : {0u, 3u}) {
        std::vector<BYTE> output(cbOutput);
        DWORD cbNeeded = 0;
        EXPECT_EQ(
            monitor.Xcv(L"PortExists", input.data(), static_cast<DWORD>(input.size()), 0, &output, &cbNeeded),
            static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER))
            << cbOutput << " bytes";
        EXPECT_EQ(cbNeeded, sizeof(DWORD));
    }
}

TEST_P(XcvTest, CommandsWithoutOutputReportNoneNeeded) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    std::vector<BYTE> input = NameBytes(kPort);
    DWORD cbNeeded = 0xdeadbeef;
    EXPECT_EQ(monitor.Xcv(L"AddPort", input.data(), static_cast<DWORD>(input.size()),
                          SERVER_ACCESS_ADMINISTER, nullptr, &cbNeeded),
              kSuccess);
    EXPECT_EQ(cbNeeded, 0u);
}

TEST_P(XcvTest, MissingDataNameOrNeededPointerIsAnInvalidParameter) {
    Monitor monitor(Init());
    ASSERT_TRUE(monitor.Initialized());
    HANDLE hXcv = nullptr;
    ASSERT_TRUE(monitor.Functions().pfnXcvOpenPort(monitor.Handle(), L"", SERVER_ACCESS_ADMINISTER, &hXcv));
    std::vector<BYTE> input = NameBytes(kPort);
    DWORD cbNeeded = 0;
    DWORD cbInput = static_cast<DWORD>(input.size());
    EXPECT_EQ(monitor.Functions().pfnXcvDataPort(hXcv, nullptr, input.data(), cbInput, nullptr, 0, &cbNeeded),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(
        monitor.Functions().pfnXcvDataPort(hXcv, L"AddPort", input.data(), cbInput, nullptr, 0, nullptr),
        static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(monitor.Functions().pfnXcvClosePort(hXcv));
    EXPECT_EQ(monitor.PortNames(), std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(Registries, XcvTest, ::testing::Values(RegistryKind::Spooler, RegistryKind::OwnKey),
                         RegistryKindName);

}  // namespace
