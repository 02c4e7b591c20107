#include <gtest/gtest.h>

#include "setup/setup.h"
#include "tests/sim/simulated_machine.h"
#include "tests/unit/machine_seeds.h"

namespace {

struct ParseCase {
    std::vector<const char*> args;  // after the program path
    SetupMode mode;
    OsFamily osFamily;
    bool standalone;
    std::wstring logPath;
};

const wchar_t* const kDefaultLog = L"C:/testxyzzy/quelda-log.txt";
const SetupMode I = SetupMode::Install;
const SetupMode U = SetupMode::Uninstall;
const OsFamily XP = OsFamily::PreVista;
const OsFamily V = OsFamily::VistaOrLater;

SetupOptions Parse(std::vector<const char*> args) {
    std::vector<char*> argv{const_cast<char*>("C:\\Setup\\setup.exe")};
    for (const char* arg : args) {
        argv.push_back(const_cast<char*>(arg));
    }
    argv.push_back(nullptr);
    return ParseCommandLine(static_cast<int>(argv.size() - 1), argv.data());
}

}  // namespace

TEST(ParseCommandLine, SwitchesTable) {
    SimulatedMachine machine;
    const ParseCase cases[] = {
        {{}, I, XP, true, kDefaultLog},
        {{"/uninstall"}, U, XP, true, kDefaultLog},
        {{"/UNINSTALL"}, U, XP, true, kDefaultLog},
        {{"/Uninstall"}, U, XP, true, kDefaultLog},
        {{"bundled"}, I, XP, false, kDefaultLog},
        {{"BUNDLED", "standalone"}, I, XP, true, kDefaultLog},
        {{"/Uninstall", "/Install"}, I, XP, true, kDefaultLog},
        {{"VISTAORLATER"}, I, V, true, kDefaultLog},
        {{"VISTAORLATER", "PREVISTA"}, I, XP, true, kDefaultLog},
        {{"/log"}, I, XP, true, kDefaultLog},
        {{"/log", "/Uninstall"}, I, XP, true, L"/Uninstall"},
        {{"/LOG", "a.txt", "/Log", "b.txt"}, I, XP, true, L"b.txt"},
        {{"/log", ""}, I, XP, true, L""},
        {{"/log", "C:\\l\xE9.txt", "VistaOrLater"}, I, V, true, L"C:\\l\u00E9.txt"},
        // Only whole arguments match.
        {{"/log=x", "-Install", "/Installx", "/uninstal", "STANDALONEX", " BUNDLED", "Uninstall"},
         I,
         XP,
         true,
         kDefaultLog},
        {{"/Uninstall", "VISTAORLATER", "BUNDLED", "/log", "C:\\x.txt", "/log"}, U, V, false, L"C:\\x.txt"},
    };
    for (const ParseCase& c : cases) {
        SetupOptions options = Parse(c.args);
        std::string label = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(options.mode, c.mode) << label;
        EXPECT_EQ(options.osFamily, c.osFamily) << label;
        EXPECT_EQ(options.standalone, c.standalone) << label;
        EXPECT_EQ(options.logPath, c.logPath) << label;
    }
}

TEST(ParseCommandLine, FoldsAsciiLettersOnly) {
    SimulatedMachine machine;
    // 0xC9 is E with an acute accent in the ANSI code page: not an "E".
    EXPECT_EQ(Parse({"PR\xC9VISTA", "VISTAORLATER"}).osFamily, OsFamily::VistaOrLater);
    EXPECT_TRUE(Parse({"BUNDL\xC9"}).standalone);
}

TEST(ParseCommandLine, ConvertsTheLogArgumentFromTheAnsiCodePage) {
    SimulatedMachine machine;
    Parse({"/log", "C:\\log.txt"});
    auto conversions = machine.CallsTo("MultiByteToWideChar");
    ASSERT_EQ(conversions.size(), 2u);
    // Code page, flags, source length; measured first, then converted.
    EXPECT_EQ(conversions[0].args, (std::vector<std::wstring>{L"0", L"0x1", L"-1", L"0"}));
    EXPECT_EQ(conversions[1].args, (std::vector<std::wstring>{L"0", L"0x1", L"-1", L"11"}));
}

TEST(ParseCommandLine, AnUnconvertibleLogArgumentLeavesThePathAsItWas) {
    SimulatedMachine machine;
    machine.Fail("MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION, 1);
    EXPECT_EQ(Parse({"/log", "C:\\log.txt"}).logPath, kDefaultLog);
    machine.Fail("MultiByteToWideChar", ERROR_INSUFFICIENT_BUFFER, 4);  // measuring b.txt
    EXPECT_EQ(Parse({"/log", "C:\\a.txt", "/log", "C:\\b.txt"}).logPath, L"C:\\a.txt");
}

TEST(ResultLine, NamesTheLogInItsAsciiForm) {
    EXPECT_EQ(ResultLine(true, kDefaultLog), "Succeeded.  See C:/testxyzzy/quelda-log.txt\n");
    EXPECT_EQ(ResultLine(false, L"C:/logs/\u00E9.txt"), "Failure.  See C:/logs/\\U00E9.txt\n");
    EXPECT_EQ(ResultLine(true, L""), "Succeeded.  See \n");
}

TEST(SetupMain, PrintsTheResultLineAndReturnsTheExitCode) {
    struct Case {
        const char* name;
        bool seeded;  // the product's files and Windows' printer INF files are there
        int exitCode;
        const char* line;
    } cases[] = {
        {"a machine ready for the product", true, 0, "Succeeded.  See "},
        {"no product files beside setup.exe", false, 1, "Failure.  See "},
    };
    for (const Case& c : cases) {
        SimulatedMachine machine;
        if (c.seeded) {
            InstallPrinterInfs(machine);
            PutProductFiles(machine.root + L"\\Setup\\");
        }
        std::wstring logPath = machine.root + L"\\log \u00E9.txt";
        std::string logArg = Narrow(logPath);  // U+00E9 is 0xE9 in the ANSI code page
        std::vector<char*> argv{const_cast<char*>("setup.exe"), const_cast<char*>("VISTAORLATER"),
                                const_cast<char*>("/log"), &logArg[0], nullptr};
        EXPECT_EQ(SetupMain(4, argv.data()), c.exitCode) << c.name;
        std::string path = Narrow(machine.root) + "\\log \\U00E9.txt";
        EXPECT_EQ(machine.standardOutput, std::string(c.line) + path + "\r\n") << c.name;
        EXPECT_FALSE(LogMessages(logPath).empty()) << c.name;  // the log opened under its full UTF-16 path
        EXPECT_EQ(machine.OpenHandleCount(), 0) << c.name;
    }
}

TEST(SetupMain, WithoutStandardOutputTheLineGoesNowhere) {
    SimulatedMachine machine;
    machine.hasStandardOutput = false;
    std::vector<char*> argv{const_cast<char*>("setup.exe"), const_cast<char*>("/log"), const_cast<char*>(""),
                            nullptr};
    SetupMain(3, argv.data());
    EXPECT_EQ(machine.standardOutput, "");
    EXPECT_EQ(machine.OpenHandleCount(), 0);
}

TEST(SetupMain, LoadsDllsOnItsBehalfFromTheSystemDirectoryOnly) {
    for (bool hasDefaultDllDirectories : {true, false}) {
        SimulatedMachine machine;
        machine.hasDefaultDllDirectories = hasDefaultDllDirectories;
        std::vector<char*> argv{const_cast<char*>("setup.exe"), const_cast<char*>("/log"),
                                const_cast<char*>(""), nullptr};
        SetupMain(3, argv.data());
        ASSERT_FALSE(machine.calls.empty());
        EXPECT_EQ(machine.calls[0].name, "SetDefaultDllDirectories");
        EXPECT_EQ(machine.calls[0].args[0], L"0x800");
        EXPECT_EQ(machine.CallsTo("SetDllDirectoryW").size(), hasDefaultDllDirectories ? 0u : 1u);
        if (!hasDefaultDllDirectories) {
            EXPECT_EQ(machine.calls[1].args, std::vector<std::wstring>{L""});
        }
    }
}
