// Every platform call of a run, made to fail one at a time. For each mode of
// a run, the calls a fault-free run makes are replayed with the n-th use of
// one call failing (its documented code, access denied, and a code without
// system text) or throwing std::bad_alloc. Each case must end: an exit code
// that matches its result line, no handle left open, and the failure visible
// in the result or the log, unless the failure is one the installer is meant
// to pass over silently (listed below, each with its reason).
#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include <gtest/gtest.h>

#include "setup/setup.h"
#include "tests/unit/machine_seeds.h"

namespace {

using Messages = std::vector<std::string>;

// The code each call documents for its typical failure.
const std::map<std::string, DWORD> kDocumentedFailure = {
    {"FormatMessageW", ERROR_MR_MID_NOT_FOUND},
    {"MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION},
    {"GetModuleFileNameW", ERROR_INSUFFICIENT_BUFFER},
    {"GetSystemDirectoryW", ERROR_INVALID_PARAMETER},
    {"CopyFileW", ERROR_FILE_NOT_FOUND},
    {"DeleteFileW", ERROR_FILE_NOT_FOUND},
    {"CreateFileW", ERROR_FILE_NOT_FOUND},
    {"WriteFile", ERROR_DISK_FULL},
    {"SetFilePointer", ERROR_NEGATIVE_SEEK},
    {"SetEndOfFile", ERROR_USER_MAPPED_FILE},
    {"GetFullPathNameW", ERROR_INVALID_NAME},
    {"GetFileTime", ERROR_INVALID_HANDLE},
    {"GetFileAttributesW", ERROR_FILE_NOT_FOUND},
    {"GetFileInformationByHandle", ERROR_INVALID_FUNCTION},
    {"GetStdHandle", ERROR_INVALID_HANDLE},
    {"SetDefaultDllDirectories", ERROR_PROC_NOT_FOUND},
    {"SetDllDirectoryW", ERROR_PROC_NOT_FOUND},
    {"IsWow64Process2", ERROR_PROC_NOT_FOUND},
    {"IsWow64Process", ERROR_PROC_NOT_FOUND},
    {"CreateProcessW", ERROR_FILE_NOT_FOUND},
    {"WaitForSingleObject", ERROR_INVALID_HANDLE},
    {"GetExitCodeProcess", ERROR_INVALID_HANDLE},
    {"CreateMutexW", ERROR_INVALID_HANDLE},
    {"OpenMutexW", ERROR_FILE_NOT_FOUND},
    {"ConvertStringSecurityDescriptorToSecurityDescriptorW", ERROR_INVALID_PARAMETER},
    {"OpenSCManagerW", ERROR_ACCESS_DENIED},
    {"OpenServiceW", ERROR_SERVICE_DOES_NOT_EXIST},
    {"QueryServiceStatus", ERROR_INVALID_HANDLE},
    {"StartServiceW", ERROR_SERVICE_DISABLED},
    {"ControlService", ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
    {"RegCreateKeyExW", ERROR_ACCESS_DENIED},
    {"RegSetValueExW", ERROR_ACCESS_DENIED},
    {"RegDeleteKeyW", ERROR_ACCESS_DENIED},
    {"OpenPrinterW", ERROR_INVALID_PRINTER_NAME},
    {"AddMonitorW", ERROR_MOD_NOT_FOUND},
    {"DeleteMonitorW", ERROR_PRINT_MONITOR_IN_USE},
    {"XcvDataW", ERROR_INVALID_HANDLE},
    {"EnumPortsW", RPC_S_SERVER_UNAVAILABLE},
    {"GetPrinterDriverDirectoryW", ERROR_INSUFFICIENT_BUFFER},
    {"AddPrinterDriverW", ERROR_FILE_NOT_FOUND},
    {"DeletePrinterDriverExW", ERROR_PRINTER_DRIVER_IN_USE},
    {"AddPrinterW", ERROR_CAN_NOT_COMPLETE},
    {"EnumPrintersW", RPC_S_SERVER_UNAVAILABLE},
    {"SetPrinterW", ERROR_INVALID_LEVEL},
    {"DeletePrinter", ERROR_ACCESS_DENIED},
    {"SetupOpenInfFileW", ERROR_FILE_NOT_FOUND},
    {"SetupSetDirectoryIdW", ERROR_INVALID_PARAMETER},
    {"SetupOpenFileQueue", ERROR_NOT_ENOUGH_MEMORY},
    {"SetupInitDefaultQueueCallbackEx", ERROR_NOT_ENOUGH_MEMORY},
    {"SetupInstallFilesFromInfSectionW", ERROR_SECTION_NOT_FOUND},
    {"SetupCommitFileQueueW", ERROR_CANCELLED},
    {"GetFileVersionInfoSizeW", ERROR_RESOURCE_TYPE_NOT_FOUND},
    {"GetFileVersionInfoW", ERROR_RESOURCE_TYPE_NOT_FOUND},
    {"VerQueryValueW", ERROR_RESOURCE_DATA_NOT_FOUND},
};

// Calls that cannot fail in a way the installer could see: the thread's
// state, the clock, waits, releases, and the default queue callback, which
// only SetupAPI itself calls.
const std::set<std::string> kCannotFail = {
    "SetLastError",        "GetLastError",      "Sleep",
    "GetLocalTime",        "LocalFree",         "CloseHandle",
    "CloseServiceHandle",  "ClosePrinter",      "SetupTermDefaultQueueCallback",
    "SetupCloseFileQueue", "SetupCloseInfFile", "SetupDefaultQueueCallbackW",
    "GetCurrentProcess",   "GetCommandLineW",   "ReleaseMutex",
    "RegCloseKey",
};

// Calls of every log record besides its open, write and link check.
const std::set<std::string> kLogPathCalls = {"GetFullPathNameW", "GetFileAttributesW", "SetFilePointer"};

// A code the system has no message text for.
constexpr DWORD kCodeWithoutText = 0xE0001234;

struct Mode {
    const char* id;
    const char* name;
    bool installed;  // the product is on the machine before the run
    std::vector<const char*> switches;
    bool x64 = false;  // 64-bit Windows: the run is handed over to x64\setup.exe
};

const Mode kModes[] = {
    {"InstallPreVista", "install PreVista", false, {"/Install", "PREVISTA"}},
    {"InstallVistaOrLater", "install VistaOrLater", false, {"/Install", "VISTAORLATER", "BUNDLED"}},
    {"InstallOverAPrinter", "install over an existing printer", true, {"/Install", "VISTAORLATER"}},
    {"UninstallInstalled", "uninstall with the product installed", true, {"/Uninstall", "VISTAORLATER"}},
    {"UninstallClean", "uninstall on a clean machine", false, {"/Uninstall", "PREVISTA"}},
    {"HandOverOnX64", "hand over on x64", false, {"/Install", "VISTAORLATER"}, true},
};

struct Fault {
    std::string call;
    int use = 0;  // 0: no fault
    DWORD code = 0;
    bool throws = false;
};

struct Outcome {
    int exitCode = -1;
    std::string standardOutput;
    Messages log;
    int openHandles = 0;
    int faultsTaken = 0;
    std::vector<SimulatedMachine::Call> calls;
    bool stagedFilesLeft = false;
    bool childStarted = false;  // the run was handed over to x64\setup.exe
};

// What the 64-bit setup writes to the standard output it inherits.
const char kChildLine[] = "Succeeded.  See the child's log\r\n";

int RunSetupMain(const std::vector<const char*>& args) {
    std::vector<char*> argv{const_cast<char*>("setup.exe")};
    for (const char* arg : args) {
        argv.push_back(const_cast<char*>(arg));
    }
    argv.push_back(nullptr);
    return SetupMain(static_cast<int>(argv.size() - 1), argv.data());
}

Outcome RunMode(const Mode& mode, const Fault& fault) {
    SimulatedMachine machine;
    InstallPrinterInfs(machine);
    PutProductFiles(machine.root + L"\\Setup\\");
    if (mode.x64) {
        machine.nativeMachine = IMAGE_FILE_MACHINE_AMD64;
        machine.programs[machine.root + L"\\Setup\\x64\\setup.exe"] = {IMAGE_FILE_MACHINE_AMD64, 0,
                                                                       kChildLine};
    }
    if (mode.installed) {
        RunSetupMain({"/Install", "VISTAORLATER", "/log", ""});
    }
    std::wstring logPath = machine.root + L"\\log.txt";
    std::string logArg = Narrow(logPath);
    machine.calls.clear();
    machine.standardOutput.clear();
    machine.RestartUseCounts();
    if (fault.use > 0) {
        if (fault.throws) {
            machine.Throw(fault.call, fault.use);
        } else {
            machine.Fail(fault.call, fault.code, fault.use);
        }
    }
    std::vector<const char*> args = mode.switches;
    args.push_back("/log");
    args.push_back(logArg.c_str());

    Outcome outcome;
    outcome.exitCode = RunSetupMain(args);
    outcome.standardOutput = machine.standardOutput;
    // Each machine has a root of its own: compare logs without it.
    std::string root = Narrow(machine.root);
    for (std::string line : LogMessages(logPath)) {
        for (size_t at; (at = line.find(root)) != std::string::npos;) {
            line.replace(at, root.size(), "<root>");
        }
        outcome.log.push_back(line);
    }
    outcome.openHandles = machine.OpenHandleCount();
    outcome.faultsTaken = machine.faultsTaken;
    outcome.calls = machine.calls;
    outcome.childStarted = !machine.startedCommandLines.empty();
    for (const wchar_t* name : kSystemFiles) {
        outcome.stagedFilesLeft =
            outcome.stagedFilesLeft || FileExists(machine.driverDirectory + L"\\" + name);
    }
    return outcome;
}

// Calls on the log file itself: their failures cost a record, never the run.
bool IsLogFileCall(const SimulatedMachine::Call& call, const std::vector<SimulatedMachine::Call>& calls,
                   size_t index) {
    if (call.name == "CreateFileW" || call.name == "GetFullPathNameW") {
        return call.args[0].size() >= 8 &&
               call.args[0].compare(call.args[0].size() - 8, 8, L"\\log.txt") == 0;
    }
    if (call.name == "GetFileAttributesW") {
        // The log's folders, checked right after its path was made absolute.
        for (size_t i = index; i-- > 0;) {
            if (calls[i].name != "GetFileAttributesW") {
                return calls[i].name == "GetFullPathNameW" && IsLogFileCall(calls[i], calls, i);
            }
        }
    }
    if (call.name == "WriteFile" || call.name == "GetFileInformationByHandle" ||
        call.name == "SetFilePointer" || call.name == "SetEndOfFile") {
        // Right after the log's open, before anything else is opened.
        for (size_t i = index; i-- > 0;) {
            if (calls[i].name == "CreateFileW") {
                return IsLogFileCall(calls[i], calls, i);
            }
            if (calls[i].name == "GetStdHandle") {
                return false;
            }
        }
    }
    return false;
}

std::string ExpectedStandardOutput(int exitCode) {
    // Filled in per run: the log path is the machine's own.
    return exitCode == 0 ? "Succeeded.  See " : "Failure.  See ";
}

}  // namespace

TEST(FaultTable, EveryCallOfTheSeamHasAFailureToInject) {
    std::ifstream header(ZORVANE_SOURCE_DIR "/platform/platform.h");
    std::string text((std::istreambuf_iterator<char>(header)), std::istreambuf_iterator<char>());
    std::regex declaration(R"(WINAPI\s+(\w+)\s*\()");
    int declared = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), declaration); it != std::sregex_iterator();
         ++it) {
        std::string name = (*it)[1];
        ++declared;
        EXPECT_TRUE(kDocumentedFailure.count(name) + kCannotFail.count(name) == 1)
            << name << " needs a documented failure code in the fault matrix";
    }
    EXPECT_EQ(declared, static_cast<int>(kDocumentedFailure.size() + kCannotFail.size()));
}

class FaultMatrix : public ::testing::TestWithParam<Mode> {};

TEST_P(FaultMatrix, EveryCallSiteFailingEndsCleanly) {
    // Failures the installer passes over on purpose: (mode, call) with why.
    const char* const kProbe = "the print-server probe: a failure only brings a second start attempt";
    const char* const kQuery =
        "a status query that fails ends the stop's wait as stopped, and makes IsSpoolerRunning answer "
        "not running";
    const char* const kIsRunning =
        "IsSpoolerRunning reports nothing; the spooler is then started without a stop";
    const char* const kFallback = "SetDllDirectoryW stands in where SetDefaultDllDirectories is missing";
    const char* const kNoOutput = "without standard output the result line goes nowhere";
    const char* const kOlderWow64 = "IsWow64Process stands in where IsWow64Process2 is missing";
    const char* const kFreshOpen =
        "the print-server probe, and the test for an installed printer, whose failure means not installed, "
        "as it is";
    const char* const kFirstDirectory = "the source directory is worked out again before it is used";
    const std::map<std::pair<std::string, std::string>, const char*> silentByDesign = {
        {{"install PreVista", "OpenPrinterW"}, kFreshOpen},
        {{"install PreVista", "GetModuleFileNameW"}, kFirstDirectory},
        {{"install PreVista", "SetDefaultDllDirectories"}, kFallback},
        {{"install PreVista", "IsWow64Process2"}, kOlderWow64},
        {{"install PreVista", "GetStdHandle"}, kNoOutput},
        {{"install PreVista", "WriteFile"}, kNoOutput},
        {{"install VistaOrLater", "OpenPrinterW"}, kFreshOpen},
        {{"install VistaOrLater", "GetModuleFileNameW"}, kFirstDirectory},
        {{"install VistaOrLater", "SetDefaultDllDirectories"}, kFallback},
        {{"install VistaOrLater", "IsWow64Process2"}, kOlderWow64},
        {{"install VistaOrLater", "GetStdHandle"}, kNoOutput},
        {{"install VistaOrLater", "WriteFile"}, kNoOutput},
        {{"install over an existing printer", "OpenPrinterW"}, kProbe},
        {{"install over an existing printer", "SetDefaultDllDirectories"}, kFallback},
        {{"install over an existing printer", "IsWow64Process2"}, kOlderWow64},
        {{"install over an existing printer", "GetStdHandle"}, kNoOutput},
        {{"install over an existing printer", "WriteFile"}, kNoOutput},
        {{"install over an existing printer", "GetFileAttributesW"},
         "a staged file that cannot be seen is not removed: only files known to be there are"},
        {{"install over an existing printer", "GetModuleFileNameW"},
         "the source directory is not needed once the printer is found"},
        {{"uninstall with the product installed", "QueryServiceStatus"}, kQuery},
        {{"uninstall with the product installed", "OpenPrinterW"}, kProbe},
        {{"uninstall with the product installed", "OpenSCManagerW"}, kIsRunning},
        {{"uninstall with the product installed", "OpenServiceW"}, kIsRunning},
        {{"uninstall with the product installed", "SetDefaultDllDirectories"}, kFallback},
        {{"uninstall with the product installed", "IsWow64Process2"}, kOlderWow64},
        {{"uninstall with the product installed", "GetStdHandle"}, kNoOutput},
        {{"uninstall with the product installed", "WriteFile"}, kNoOutput},
        {{"uninstall on a clean machine", "QueryServiceStatus"}, kQuery},
        {{"uninstall on a clean machine", "OpenPrinterW"}, kProbe},
        {{"uninstall on a clean machine", "OpenSCManagerW"}, kIsRunning},
        {{"uninstall on a clean machine", "OpenServiceW"}, kIsRunning},
        {{"uninstall on a clean machine", "SetDefaultDllDirectories"}, kFallback},
        {{"uninstall on a clean machine", "IsWow64Process2"}, kOlderWow64},
        {{"uninstall on a clean machine", "GetStdHandle"}, kNoOutput},
        {{"uninstall on a clean machine", "WriteFile"}, kNoOutput},
        {{"uninstall on a clean machine", "FormatMessageW"}, "a record with code 0 uses no system text"},
        {{"hand over on x64", "SetDefaultDllDirectories"}, kFallback},
        {{"hand over on x64", "IsWow64Process2"}, kOlderWow64},
        {{"hand over on x64", "GetStdHandle"}, kNoOutput},
        {{"hand over on x64", "MultiByteToWideChar"},
         "the log path serves only a failed hand-over's record; the 64-bit setup reads its own"},
    };

    int cases = 0;
    std::map<std::string, int> casesPerCall;
    std::set<std::pair<std::string, std::string>> silentSeen;
    {
        const Mode& mode = GetParam();
        Outcome baseline = RunMode(mode, Fault());
        ASSERT_EQ(baseline.openHandles, 0) << mode.name;
        std::map<std::string, int> uses;
        for (size_t i = 0; i < baseline.calls.size(); ++i) {
            const SimulatedMachine::Call& call = baseline.calls[i];
            if (!call.faultable) {
                continue;
            }
            int use = ++uses[call.name];
            ASSERT_EQ(kDocumentedFailure.count(call.name), 1u) << call.name;
            bool logCall = IsLogFileCall(call, baseline.calls, i);
            // The log's path checks and the record's start are the same site
            // in every record: their first uses stand for the rest, while the
            // log's open, at every use, covers every step it is written from.
            if (logCall && kLogPathCalls.count(call.name) != 0 && use > 2) {
                continue;
            }
            std::vector<Fault> faults = {{call.name, use, kDocumentedFailure.at(call.name), false},
                                         {call.name, use, ERROR_ACCESS_DENIED, false},
                                         {call.name, use, kCodeWithoutText, false},
                                         {call.name, use, 0, true}};
            for (const Fault& fault : faults) {
                ++cases;
                ++casesPerCall[call.name];
                std::string label =
                    std::string(mode.name) + ": " + call.name + " use " + std::to_string(use) +
                    (fault.throws ? " throwing" : " failing with " + std::to_string(fault.code));
                Outcome outcome = RunMode(mode, fault);
                EXPECT_EQ(outcome.faultsTaken, 1) << label;
                EXPECT_EQ(outcome.openHandles, 0) << label;
                ASSERT_TRUE(outcome.exitCode == 0 || outcome.exitCode == 1) << label;
                std::string expectedStart = ExpectedStandardOutput(outcome.exitCode);
                // Without standard output, or with a throw outside the run itself,
                // the result line may be lost, never the exit code.
                bool outputLost =
                    fault.throws || call.name == "GetStdHandle" || (call.name == "WriteFile" && !logCall);
                bool lineLost = outputLost && outcome.standardOutput.empty();
                if (!lineLost && outcome.childStarted) {
                    // The child's line; after it the parent's failure line only
                    // where the parent fails on its own (it cannot learn how the
                    // child ended): exit code 1 always comes with its line.
                    const std::string childLine = kChildLine;
                    std::string after = outcome.standardOutput.substr(
                        std::min(outcome.standardOutput.size(), childLine.size()));
                    EXPECT_EQ(outcome.standardOutput.compare(0, childLine.size(), childLine), 0) << label;
                    bool parentFailed = outcome.exitCode == 1 && !fault.throws;
                    EXPECT_TRUE(parentFailed ? after.rfind(ExpectedStandardOutput(1), 0) == 0 : after.empty())
                        << label << ": " << outcome.standardOutput;
                }
                if (!lineLost && !outcome.childStarted) {
                    EXPECT_EQ(outcome.standardOutput.compare(0, expectedStart.size(), expectedStart), 0)
                        << label;
                }
                if (fault.throws) {
                    // The run ends in failure; live step objects are released,
                    // so no staged file stays behind (unless the throw came from
                    // the clean-up's own deletion).
                    EXPECT_EQ(outcome.exitCode, 1) << label;
                    if (call.name != "DeleteFileW") {
                        EXPECT_FALSE(outcome.stagedFilesLeft) << label;
                    }
                    continue;
                }
                if (logCall) {
                    EXPECT_EQ(outcome.exitCode, baseline.exitCode) << label;
                    continue;
                }
                bool visible = outcome.exitCode != baseline.exitCode || outcome.log != baseline.log;
                if (!visible) {
                    silentSeen.insert({mode.name, call.name});
                    EXPECT_TRUE(silentByDesign.count({mode.name, call.name}) == 1)
                        << label << " fails silently: the same exit code and log as without the fault";
                }
            }
        }
    }
    for (const auto& silent : silentByDesign) {
        if (silent.first.first == GetParam().name) {
            EXPECT_EQ(silentSeen.count(silent.first), 1u)
                << silent.first.first << ": " << silent.first.second << " is listed as silent but was not";
        }
    }
    std::cout << "fault matrix, " << GetParam().name << ": " << cases << " cases, " << casesPerCall.size()
              << " different calls\n";
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultMatrix, ::testing::ValuesIn(kModes),
                         [](const ::testing::TestParamInfo<Mode>& info) { return info.param.id; });
