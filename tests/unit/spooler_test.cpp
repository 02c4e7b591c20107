#include <gtest/gtest.h>

#include "setup/installer.h"
#include "tests/sim/simulated_machine.h"
#include "tests/unit/test_support.h"

namespace {

using Messages = std::vector<std::string>;

class SpoolerTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(machine.OpenHandleCount(), 0); }

    std::vector<std::wstring> SleepDurations() const {
        std::vector<std::wstring> durations;
        for (const auto& call : machine.CallsTo("Sleep")) {
            durations.push_back(call.args[0]);
        }
        return durations;
    }

    // Each call of `name` comes right after the last-error value was set to 0.
    bool EveryCallFollowsAReset(const std::string& name) const {
        bool any = false;
        for (size_t i = 0; i < machine.calls.size(); ++i) {
            if (machine.calls[i].name != name) {
                continue;
            }
            any = true;
            if (i == 0 || machine.calls[i - 1].name != "SetLastError" ||
                machine.calls[i - 1].args[0] != L"0") {
                return false;
            }
        }
        return any;
    }

    SimulatedMachine machine;
    std::wstring logPath = machine.root + L"\\log.txt";
    Installer installer{L"", logPath};
};

}  // namespace

TEST_F(SpoolerTest, StartOfARunningSpoolerIsQuietAndQuick) {
    EXPECT_TRUE(installer.StartSpooler());
    EXPECT_EQ(LogMessages(logPath), Messages{});
    EXPECT_TRUE(machine.CallsTo("Sleep").empty());
    EXPECT_EQ(machine.CallsTo("StartServiceW").size(), 1u);
    EXPECT_EQ(machine.CallsTo("OpenSCManagerW")[0].args[2], L"0x20000000");
    EXPECT_EQ(machine.CallsTo("OpenServiceW")[0].args, (std::vector<std::wstring>{L"Spooler", L"0x14"}));
    // The print-server probe: no name, no defaults.
    EXPECT_EQ(machine.CallsTo("OpenPrinterW")[0].args,
              (std::vector<std::wstring>{L"(null)", L"(no defaults)"}));
    EXPECT_EQ(machine.CallsTo("ClosePrinter").size(), 1u);
}

TEST_F(SpoolerTest, StartWaitsInStepsOfTwoSecondsUntilTheServiceRuns) {
    machine.spooler.state = SERVICE_STOPPED;
    machine.spooler.startPendingQueries = 3;
    EXPECT_TRUE(installer.StartSpooler());
    EXPECT_EQ(machine.spooler.state, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(SleepDurations(), (std::vector<std::wstring>{L"2000", L"2000", L"2000"}));
    EXPECT_EQ(LogMessages(logPath), Messages{});
    EXPECT_TRUE(EveryCallFollowsAReset("OpenSCManagerW"));
    EXPECT_TRUE(EveryCallFollowsAReset("OpenServiceW"));
    EXPECT_TRUE(EveryCallFollowsAReset("StartServiceW"));
    EXPECT_TRUE(EveryCallFollowsAReset("Sleep"));
}

TEST_F(SpoolerTest, AServiceThatStaysStartPendingTimesOutWithCodeZero) {
    machine.spooler.state = SERVICE_STOPPED;
    machine.spooler.startPendingQueries = SimulatedMachine::kForever;
    EXPECT_FALSE(installer.StartSpooler());
    EXPECT_EQ(SleepDurations(), std::vector<std::wstring>(10, L"2000"));
    EXPECT_EQ(machine.CallsTo("QueryServiceStatus").size(), 11u);
    EXPECT_EQ(LogMessages(logPath), Messages{"spooler service will not run "});
}

TEST_F(SpoolerTest, APrintServerNotYetReachableGetsASecondStartAttempt) {
    for (int failures : {1, 2}) {
        machine.calls.clear();
        machine.spooler.printServerFailures = failures;
        EXPECT_TRUE(installer.StartSpooler()) << failures;
        EXPECT_EQ(machine.CallsTo("StartServiceW").size(), 2u);
        EXPECT_EQ(machine.CallsTo("OpenPrinterW").size(), 2u);
        EXPECT_EQ(machine.CallsTo("ClosePrinter").size(), failures == 1 ? 1u : 0u);
    }
    EXPECT_EQ(LogMessages(logPath), Messages{});
}

TEST(Spooler, StartFailures) {
    struct Case {
        const char* name;
        std::function<void(SimulatedMachine&)> arrange;
        Messages log;
    } cases[] = {
        {"disabled",
         [](SimulatedMachine& m) {
             m.spooler.state = SERVICE_STOPPED;
             m.spooler.disabled = true;
         },
         {"Error: starting spooler service: 1058 . The service cannot be started, either because it is "
          "disabled "
          "or because it has no enabled devices associated with it.\r\r\n"}},
        {"manager access denied",
         [](SimulatedMachine& m) { m.Fail("OpenSCManagerW", ERROR_ACCESS_DENIED); },
         {"Error: opening connection to service manager: 5 . Access is denied.\r\r\n"}},
        {"service missing", [](SimulatedMachine& m) { m.spooler.installed = false; }, {}},
        {"status query fails",
         [](SimulatedMachine& m) { m.Fail("QueryServiceStatus", ERROR_ACCESS_DENIED); },
         {"Error: spooler service will not run: 5 . Access is denied.\r\r\n"}},
        {"second attempt finds the service gone",
         [](SimulatedMachine& m) {
             m.spooler.printServerFailures = 1;
             m.Fail("StartServiceW", ERROR_SERVICE_DISABLED, 2);
         },
         {"Error: starting spooler service: 1058 . The service cannot be started, either because it is "
          "disabled "
          "or because it has no enabled devices associated with it.\r\r\n"}},
    };
    for (const Case& c : cases) {
        SimulatedMachine machine;
        std::wstring logPath = machine.root + L"\\log.txt";
        c.arrange(machine);
        EXPECT_FALSE(Installer(L"", logPath).StartSpooler()) << c.name;
        EXPECT_EQ(LogMessages(logPath), c.log) << c.name;
        EXPECT_EQ(machine.OpenHandleCount(), 0) << c.name;
    }
}

TEST_F(SpoolerTest, StopOfAStoppedSpoolerWaitsOnceAndSaysNothing) {
    machine.spooler.state = SERVICE_STOPPED;
    EXPECT_TRUE(installer.StopSpooler());
    EXPECT_EQ(SleepDurations(), std::vector<std::wstring>{L"500"});
    EXPECT_EQ(LogMessages(logPath), Messages{});
    EXPECT_EQ(machine.CallsTo("OpenServiceW")[0].args[1], L"0x34");
}

TEST_F(SpoolerTest, StopWaitsInHalfSecondStepsUntilTheServiceStopped) {
    machine.spooler.stopPendingQueries = 3;
    EXPECT_TRUE(installer.StopSpooler());
    EXPECT_EQ(machine.spooler.state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(SleepDurations(), std::vector<std::wstring>(4, L"500"));
    EXPECT_TRUE(EveryCallFollowsAReset("ControlService"));
    EXPECT_TRUE(EveryCallFollowsAReset("OpenServiceW"));
}

TEST_F(SpoolerTest, AServiceThatWillNotStopIsReportedAfterAMinute) {
    machine.spooler.stopPendingQueries = SimulatedMachine::kForever;
    EXPECT_FALSE(installer.StopSpooler());
    EXPECT_EQ(SleepDurations(), std::vector<std::wstring>(120, L"500"));
    EXPECT_EQ(machine.elapsedMs, 60000u);
    EXPECT_EQ(LogMessages(logPath), Messages{"spooler service will not stop "});
}

TEST(Spooler, StopFailures) {
    struct Case {
        const char* name;
        std::function<void(SimulatedMachine&)> arrange;
        bool result;
        Messages log;
    } cases[] = {
        {"manager access denied",
         [](SimulatedMachine& m) { m.Fail("OpenSCManagerW", ERROR_ACCESS_DENIED); },
         false,
         {"Error: opening connection to service manager: 5 . Access is denied.\r\r\n"}},
        {"service missing",
         [](SimulatedMachine& m) { m.spooler.installed = false; },
         false,
         {"Error: opening connection to spooler service: 1060 . The specified service does not exist as an "
          "installed service.\r\r\n"}},
        {"stop refused",
         [](SimulatedMachine& m) { m.Fail("ControlService", ERROR_ACCESS_DENIED); },
         false,
         {"Error: sending stop control code to spooler service: 5 . Access is denied.\r\r\n"}},
        // A status that can no longer be queried counts as stopped.
        {"status query fails",
         [](SimulatedMachine& m) { m.Fail("QueryServiceStatus", ERROR_ACCESS_DENIED); },
         true,
         {}},
    };
    for (const Case& c : cases) {
        SimulatedMachine machine;
        std::wstring logPath = machine.root + L"\\log.txt";
        c.arrange(machine);
        EXPECT_EQ(Installer(L"", logPath).StopSpooler(), c.result) << c.name;
        EXPECT_EQ(LogMessages(logPath), c.log) << c.name;
        EXPECT_EQ(machine.OpenHandleCount(), 0) << c.name;
    }
}

TEST(Spooler, IsSpoolerRunningAsksQuietly) {
    struct Case {
        DWORD state;
        const char* fault;
        bool running;
    } cases[] = {
        {SERVICE_RUNNING, nullptr, true},         {SERVICE_STOPPED, nullptr, false},
        {SERVICE_START_PENDING, nullptr, false},  {SERVICE_RUNNING, "OpenSCManagerW", false},
        {SERVICE_RUNNING, "OpenServiceW", false}, {SERVICE_RUNNING, "QueryServiceStatus", false},
    };
    for (const Case& c : cases) {
        SimulatedMachine machine;
        std::wstring logPath = machine.root + L"\\log.txt";
        machine.spooler.state = c.state;
        machine.spooler.pendingQueriesLeft = SimulatedMachine::kForever;
        if (c.fault != nullptr) {
            machine.Fail(c.fault, ERROR_ACCESS_DENIED);
        }
        ::SetLastError(1234);
        EXPECT_EQ(Installer(L"", logPath).IsSpoolerRunning(), c.running);
        EXPECT_FALSE(FileExists(logPath));
        EXPECT_TRUE(machine.CallsTo("SetLastError").empty());
        EXPECT_EQ(machine.CallsTo("OpenSCManagerW")[0].args[2], L"0x80000000");
        EXPECT_EQ(machine.OpenHandleCount(), 0);
    }
}

TEST_F(SpoolerTest, LoggingOffChangesNoResult) {
    machine.spooler.state = SERVICE_STOPPED;
    machine.spooler.disabled = true;
    Installer quiet(L"", L"");
    EXPECT_FALSE(quiet.StartSpooler());
    machine.Fail("ControlService", ERROR_ACCESS_DENIED);
    machine.spooler.state = SERVICE_RUNNING;
    EXPECT_FALSE(quiet.StopSpooler());
    EXPECT_TRUE(machine.CallsTo("CreateFileW").empty());
}
