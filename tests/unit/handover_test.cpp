// The 32-bit setup on 64-bit Windows: hands the run to x64\setup.exe beside
// itself, refuses ARM64, and never falls back to the 32-bit path.
#include <gtest/gtest.h>

#include "setup/handover.h"
#include "setup/setup.h"
#include "tests/unit/machine_seeds.h"

namespace {

struct Outcome {
    int exitCode = -1;
    std::vector<std::string> log;
};

// SetupMain with the log in the machine's root; the command line the
// machine shows names the same arguments.
Outcome RunOn(SimulatedMachine& machine, const char* mode) {
    InstallPrinterInfs(machine);
    PutProductFiles(machine.root + L"\\Setup\\");
    std::wstring logPath = machine.root + L"\\log.txt";
    std::string logArg = Narrow(logPath);
    machine.commandLine = L"setup.exe " + std::wstring(mode, mode + strlen(mode)) + L" /log " + logPath;
    std::vector<char*> argv{const_cast<char*>("setup.exe"), const_cast<char*>(mode),
                            const_cast<char*>("/log"), &logArg[0], nullptr};
    Outcome run;
    run.exitCode = SetupMain(4, argv.data());
    run.log = LogMessages(logPath);
    return run;
}

std::wstring ChildPath(const SimulatedMachine& machine) { return machine.root + L"\\Setup\\x64\\setup.exe"; }

}  // namespace

TEST(HandOver, DecidesByTheMachineAndEndsWithTheChildsExitCode) {
    constexpr USHORT kX86 = IMAGE_FILE_MACHINE_I386, kX64 = IMAGE_FILE_MACHINE_AMD64,
                     kArm64 = IMAGE_FILE_MACHINE_ARM64;
    struct Case {
        const char* name;
        USHORT native;
        bool hasIsWow64Process2;
        bool childThere;
        USHORT childMachine;
        DWORD childExit;
        int exitCode;
        bool handedOver;        // the child was started
        const char* logRecord;  // the parent's record, or null for none
        const char* failingCall = nullptr;
    } cases[] = {
        {"32-bit Windows 10", kX86, true, true, kX64, 0, 0, false, nullptr},
        {"32-bit Windows XP", kX86, false, true, kX64, 0, 0, false, nullptr},
        {"x64 Windows 10", kX64, true, true, kX64, 0, 0, true, nullptr},
        {"x64 Windows 7", kX64, false, true, kX64, 0, 0, true, nullptr},
        {"x64, the child fails", kX64, true, true, kX64, 1, 1, true, nullptr},
        {"ARM64", kArm64, true, true, kX64, 0, 1, false, "Error: This is ARM64 Windows."},
        {"x64, the child missing", kX64, true, false, kX64, 0, 1, false,
         "Error: Unable to start the 64-bit setup: 2 "},
        {"x64, the child damaged", kX64, true, true, kArm64, 0, 1, false,
         "Error: Unable to start the 64-bit setup: 193 "},
        {"x64, the child crashed", kX64, true, true, kX64, 0xC0000005, 1, true,
         "Error: The 64-bit setup ended before finishing: "},
        // The child may still be running: its end is unknown, not a success.
        {"x64, the wait fails", kX64, true, true, kX64, 0, 1, true, "Error: WaitForSingleObject: 6 ",
         "WaitForSingleObject"},
        {"x64, the exit code unknown", kX64, true, true, kX64, 0, 1, true, "Error: GetExitCodeProcess: 6 ",
         "GetExitCodeProcess"},
    };
    for (const Case& c : cases) {
        SimulatedMachine machine;
        machine.nativeMachine = c.native;
        machine.hasIsWow64Process2 = c.hasIsWow64Process2;
        if (c.childThere) {
            // A setup that ends writes its line; a crashed one does not.
            machine.programs[ChildPath(machine)] = {c.childMachine, c.childExit,
                                                    c.childExit <= 1 ? "the child's line\r\n" : ""};
        }
        if (c.failingCall != nullptr) {
            machine.Fail(c.failingCall, ERROR_INVALID_HANDLE);
        }
        Outcome run = RunOn(machine, "VISTAORLATER");
        EXPECT_EQ(run.exitCode, c.exitCode) << c.name;
        EXPECT_EQ(machine.startedCommandLines.size(), c.handedOver ? 1u : 0u) << c.name;
        // Whatever happens on 64-bit Windows, this process installs nothing.
        bool ranHere = !machine.CallsTo("OpenSCManagerW").empty();
        EXPECT_EQ(ranHere, c.native == kX86) << c.name;
        std::string path = Narrow(machine.root) + "\\log.txt";
        // A child that ended normally wrote its line, whatever the parent learnt.
        std::string childLine = c.handedOver && c.childExit <= 1 ? "the child's line\r\n" : "";
        if (c.logRecord != nullptr) {
            ASSERT_EQ(run.log.size(), 1u) << c.name;
            EXPECT_EQ(run.log[0].rfind(c.logRecord, 0), 0u) << c.name << ": " << run.log[0];
            EXPECT_EQ(machine.standardOutput, childLine + "Failure.  See " + path + "\r\n") << c.name;
        } else if (c.handedOver) {
            // The child writes the log and the line through the inherited handles.
            EXPECT_TRUE(run.log.empty()) << c.name;
            EXPECT_EQ(machine.standardOutput, "the child's line\r\n") << c.name;
        } else {
            EXPECT_EQ(machine.standardOutput, "Succeeded.  See " + path + "\r\n") << c.name;
        }
        EXPECT_EQ(machine.OpenHandleCount(), 0) << c.name;
    }
}

TEST(HandOver, PassesTheArgumentsExactlyAsGiven) {
    struct Case {
        const wchar_t* commandLine;
        const wchar_t* arguments;
    } cases[] = {
        {L"setup.exe", L""},
        {L"setup.exe /Install", L" /Install"},
        {L"\"C:\\Program Files\\Z\\setup.exe\"  /log \"C:\\my logs\\l.txt\"",
         L"  /log \"C:\\my logs\\l.txt\""},
        {L"\"C:\\a b\\setup.exe\"/Install", L"/Install"},
        {L"setup.exe\t/log C:\\logs\\ VISTAORLATER", L"\t/log C:\\logs\\ VISTAORLATER"},
        {L"setup /log \"C:\\dir\\\\\" \"a \\\"quoted\\\" word\"",
         L" /log \"C:\\dir\\\\\" \"a \\\"quoted\\\" word\""},
        {L"C:\\Z\u00F6rvane\\setup.exe /log C:\\\u0436\u0443\u0440\u043D\u0430\u043B.txt",
         L" /log C:\\\u0436\u0443\u0440\u043D\u0430\u043B.txt"},
    };
    for (const Case& c : cases) {
        SimulatedMachine machine;
        machine.nativeMachine = IMAGE_FILE_MACHINE_AMD64;
        machine.programs[ChildPath(machine)] = {};
        machine.commandLine = c.commandLine;
        std::vector<char*> argv{const_cast<char*>("setup.exe"), nullptr};
        EXPECT_EQ(SetupMain(1, argv.data()), 0);
        ASSERT_EQ(machine.startedCommandLines.size(), 1u);
        EXPECT_EQ(machine.startedCommandLines[0], L"\"" + ChildPath(machine) + L"\"" + c.arguments);
        // Started by its full path, with the standard handles inherited.
        auto start = machine.CallsTo("CreateProcessW")[0];
        EXPECT_EQ(start.args[0], ChildPath(machine));
        EXPECT_EQ(start.args[2], L"1");
        EXPECT_EQ(start.args[4], L"0x100");
    }
}
