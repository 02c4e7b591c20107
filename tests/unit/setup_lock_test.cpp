// One run at a time: a run finds the machine-wide lock free, held by another
// run that ends in time or not, or abandoned by a run that was killed.
#include <map>

#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include "platform/handles.h"
#include "setup/setup.h"
#include "setup/setuplock.h"
#include "tests/unit/machine_seeds.h"

namespace {

constexpr std::uint64_t kMinuteMs = 60 * 1000;
const std::string kWaiting = "Another setup run is in progress; waiting up to 10 minutes for it to end.";
const std::string kStarting = "Starting installation of Zorvane Creator";

struct RunOutcome {
    int exitCode;
    std::vector<std::string> log;
};

RunOutcome Install(SimulatedMachine& machine) {
    InstallPrinterInfs(machine);
    PutProductFiles(machine.root + L"\\Setup\\");
    std::wstring logPath = machine.root + L"\\log.txt";
    std::string logArg = Narrow(logPath);
    std::vector<char*> argv{const_cast<char*>("setup.exe"), const_cast<char*>("/log"), &logArg[0], nullptr};
    int exitCode = SetupMain(3, argv.data());
    return {exitCode, LogMessages(logPath)};
}

}  // namespace

TEST(SetupLock, ARunTakesTheLockOrWaitsForItBoundedly) {
    constexpr int kForever = SimulatedMachine::kForever;
    struct Case {
        const char* name;
        bool held;                           // another run holds the lock when this one starts
        int releasedAfterMs;                 // when that run lets go
        bool killed;                         // that run ends without releasing it
        std::uint64_t waitedMs;              // virtual time this run waits
        std::vector<std::string> lockLines;  // the records before the installation's own
    } cases[] = {
        {"free", false, 0, false, 0, {}},
        {"released after 5 minutes",
         true,
         5 * kMinuteMs,
         false,
         5 * kMinuteMs,
         {kWaiting, "The other setup run has ended; going on."}},
        {"abandoned by a killed run",
         true,
         0,
         true,
         0,
         {"An earlier setup run ended without finishing; going on."}},
        {"its holder killed after 2 minutes",
         true,
         2 * kMinuteMs,
         true,
         2 * kMinuteMs,
         {kWaiting, "An earlier setup run ended without finishing; going on."}},
        {"released just in time",
         true,
         10 * kMinuteMs,
         false,
         10 * kMinuteMs,
         {kWaiting, "The other setup run has ended; going on."}},
        {"released after 11 minutes",
         true,
         11 * kMinuteMs,
         false,
         10 * kMinuteMs,
         {kWaiting, "Error: Another setup run is still in progress after 10 minutes; nothing was changed."}},
        {"never released",
         true,
         kForever,
         false,
         10 * kMinuteMs,
         {kWaiting, "Error: Another setup run is still in progress after 10 minutes; nothing was changed."}},
    };
    for (const Case& c : cases) {
        SimulatedMachine machine;
        if (c.held) {
            SimulatedMachine::Mutex& other = machine.mutexes[kSetupLockName];
            other.heldByOtherRun = true;
            other.releasedAfterMs = c.releasedAfterMs;
            other.holderKilled = c.killed;
        }
        RunOutcome run = Install(machine);
        bool timedOut = c.waitedMs < static_cast<std::uint64_t>(c.releasedAfterMs);
        EXPECT_EQ(run.exitCode, timedOut ? 1 : 0) << c.name;
        EXPECT_EQ(machine.standardOutput.compare(0, 9, timedOut ? "Failure. " : "Succeeded"), 0) << c.name;
        EXPECT_EQ(machine.elapsedMs >= c.waitedMs && machine.elapsedMs < c.waitedMs + kMinuteMs, true)
            << c.name << ": waited " << machine.elapsedMs << " ms";
        ASSERT_GE(run.log.size(), c.lockLines.size()) << c.name;
        EXPECT_EQ(std::vector<std::string>(run.log.begin(), run.log.begin() + c.lockLines.size()),
                  c.lockLines)
            << c.name;
        if (timedOut) {
            // Nothing of the sequence ran: not even the spooler was asked.
            EXPECT_EQ(run.log.size(), c.lockLines.size()) << c.name;
            EXPECT_TRUE(machine.CallsTo("OpenSCManagerW").empty()) << c.name;
            EXPECT_TRUE(machine.printers.empty()) << c.name;
        } else {
            EXPECT_EQ(run.log[c.lockLines.size()].compare(0, kStarting.size(), kStarting), 0) << c.name;
            EXPECT_EQ(machine.printers.size(), 1u) << c.name;
        }
        // Released and closed: a later run finds the lock free.
        EXPECT_EQ(machine.mutexes.count(kSetupLockName), timedOut ? 1u : 0u) << c.name;
        EXPECT_EQ(machine.OpenHandleCount(), 0) << c.name;
    }
}

TEST(SetupLock, AMutexThisAccountMayOnlyWaitOnIsOpenedForWaiting) {
    SimulatedMachine machine;
    machine.mutexes[kSetupLockName].onlyWaitAllowed = true;  // made by a run of another account
    RunOutcome run = Install(machine);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.log.front().compare(0, kStarting.size(), kStarting), 0);
    std::vector<SimulatedMachine::Call> opens = machine.CallsTo("OpenMutexW");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].args[0], SimHex(SYNCHRONIZE | MUTEX_MODIFY_STATE));
    EXPECT_EQ(machine.mutexes[kSetupLockName].ownedByRun, 0);
    EXPECT_EQ(machine.OpenHandleCount(), 0);
}

// Whatever account made the mutex, every other one can wait on it and
// release it; only SYSTEM and the Administrators can change or delete it.
TEST(SetupLock, EveryAccountMayWaitOnTheLockAndOnlyAdministratorsMayChangeIt) {
    SimulatedMachine machine;
    SetupLock lock(L"");
    ASSERT_TRUE(lock.Acquire());
    std::vector<BYTE>& security = machine.mutexes[kSetupLockName].security;
    ASSERT_FALSE(security.empty());
    PSECURITY_DESCRIPTOR descriptor = security.data();
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "a DACL inherited from the namespace would add to it";
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl != nullptr) << "a null DACL would let anybody change the lock";
    std::map<std::wstring, ACCESS_MASK> granted;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        LPVOID ace = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, &ace));
        auto allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        ASSERT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        LocalText sid;
        ASSERT_TRUE(::ConvertSidToStringSidW(&allowed->SidStart, sid.Receive()));
        granted[sid.Get()] |= allowed->Mask;
    }
    const ACCESS_MASK kChange = WRITE_DAC | WRITE_OWNER | DELETE | GENERIC_ALL | GENERIC_WRITE;
    const ACCESS_MASK kWait = SYNCHRONIZE | MUTEX_MODIFY_STATE;
    EXPECT_EQ(granted[L"S-1-1-0"] & kWait, kWait) << "Everyone";
    EXPECT_EQ(granted[L"S-1-1-0"] & kChange, 0u) << "Everyone";
    for (const wchar_t* administrator : {L"S-1-5-18", L"S-1-5-32-544"}) {
        EXPECT_TRUE((granted[administrator] & GENERIC_ALL) != 0 ||
                    (granted[administrator] & MUTEX_ALL_ACCESS) == MUTEX_ALL_ACCESS)
            << Narrow(administrator);
    }
    EXPECT_EQ(granted.size(), 3u);
}
