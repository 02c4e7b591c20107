#include "setup/handover.h"

#include <vector>

#include "platform/platform.h"
#include "platform/seamhandles.h"
#include "setup/installer.h"
#include "setup/portmonitorinstaller.h"

namespace {

constexpr wchar_t k64BitSetup[] = L"x64\\setup.exe";

enum class Machine { X86, X64, Arm64, Other, Unknown };

// The processor Windows runs on, as a 32-bit process sees it. Unknown when
// the system would not say; the failure is recorded.
Machine NativeMachine(Installer& reporter) {
    USHORT processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
    USHORT nativeMachine = IMAGE_FILE_MACHINE_UNKNOWN;
    if (sys::IsWow64Process2(sys::GetCurrentProcess(), &processMachine, &nativeMachine)) {
        if (processMachine == IMAGE_FILE_MACHINE_UNKNOWN) {
            return Machine::X86;  // not under WOW64
        }
        if (nativeMachine == IMAGE_FILE_MACHINE_AMD64) {
            return Machine::X64;
        }
        return nativeMachine == IMAGE_FILE_MACHINE_ARM64 ? Machine::Arm64 : Machine::Other;
    }
    DWORD dwError = sys::GetLastError();
    if (dwError != ERROR_PROC_NOT_FOUND) {
        reporter.LogError(L"IsWow64Process2", dwError);
        return Machine::Unknown;
    }
    // Before Windows 10 1511: WOW64 for 32-bit x86 programs means x64 (or
    // Itanium, where the 64-bit setup then cannot start and says so).
    BOOL bWow64 = FALSE;
    if (sys::IsWow64Process(sys::GetCurrentProcess(), &bWow64)) {
        return bWow64 ? Machine::X64 : Machine::X86;
    }
    dwError = sys::GetLastError();
    if (dwError != ERROR_PROC_NOT_FOUND) {
        reporter.LogError(L"IsWow64Process", dwError);
        return Machine::Unknown;
    }
    return Machine::X86;  // Windows before XP SP2 has no WOW64 to ask about
}

// Runs the 64-bit setup and waits for it. Once it has started, the result
// line is its own, unless it ended without finishing (a crash, a kill) or
// how it ended cannot be learnt: then this process fails and writes the line,
// so that exit code 1 always comes with its line, whatever the child may
// still write beside it.
HandOver Run64BitSetup(Installer& reporter, const std::wstring& childPath) {
    std::wstring commandLine = L"\"" + childPath + L"\"" + CommandLineArguments(sys::GetCommandLineW());
    std::vector<wchar_t> commandBuffer(commandLine.begin(), commandLine.end());
    commandBuffer.push_back(L'\0');

    STARTUPINFOW startupInfo{};
    startupInfo.cb = sizeof startupInfo;
    startupInfo.dwFlags = STARTF_USESTDHANDLES;
    startupInfo.hStdInput = sys::GetStdHandle(STD_INPUT_HANDLE);
    startupInfo.hStdOutput = sys::GetStdHandle(STD_OUTPUT_HANDLE);
    startupInfo.hStdError = sys::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION processInfo{};
    if (!sys::CreateProcessW(childPath.c_str(), commandBuffer.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             nullptr, &startupInfo, &processInfo)) {
        reporter.ReportError(L"Unable to start the 64-bit setup", childPath, sys::GetLastError());
        return HandOver::NotRun;
    }
    sys::KernelObject process(processInfo.hProcess);
    sys::KernelObject thread(processInfo.hThread);
    thread.Close();

    DWORD exitCode = 1;
    if (sys::WaitForSingleObject(process.Get(), INFINITE) == WAIT_FAILED) {
        reporter.ReportError(L"WaitForSingleObject", childPath, sys::GetLastError());
        return HandOver::NotRun;
    }
    if (!sys::GetExitCodeProcess(process.Get(), &exitCode)) {
        reporter.ReportError(L"GetExitCodeProcess", childPath, sys::GetLastError());
        return HandOver::NotRun;
    }
    if (exitCode == 0 || exitCode == 1) {
        return exitCode == 0 ? HandOver::ChildSucceeded : HandOver::ChildFailed;
    }
    // Setup ends with 0 or 1; anything else is the code of a crash or of
    // whoever ended the process, which then wrote no result line.
    reporter.ReportError(L"The 64-bit setup ended before finishing", childPath, exitCode);
    return HandOver::NotRun;
}

}  // namespace

std::wstring CommandLineArguments(const wchar_t* commandLine) {
    const wchar_t* p = commandLine;
    if (*p == L'"') {
        for (++p; *p != L'\0' && *p != L'"'; ++p) {
        }
        if (*p == L'"') {
            ++p;
        }
    } else {
        for (; *p != L'\0' && *p != L' ' && *p != L'\t'; ++p) {
        }
    }
    return p;
}

HandOver HandOverTo64BitSetup(const std::wstring& logPath) {
    constexpr bool k64BitBuild = sizeof(void*) == 8;
    if (k64BitBuild) {
        return HandOver::RunHere;  // this is the setup handed over to
    }
    Installer reporter(L"", logPath);
    switch (NativeMachine(reporter)) {
        case Machine::X86:
            return HandOver::RunHere;
        case Machine::Unknown:
            return HandOver::NotRun;
        case Machine::Arm64:
            reporter.Log(
                L"Error: This is ARM64 Windows. Its spooler loads only ARM64 port monitors and drivers, "
                L"which this setup does not include. Nothing was changed.");
            return HandOver::NotRun;
        case Machine::Other:
            reporter.Log(
                L"Error: This Windows runs on a processor this setup has no port monitor and driver for. "
                L"Nothing was changed.");
            return HandOver::NotRun;
        case Machine::X64:
            break;
    }
    std::wstring directory = ExecutableDirectory();
    if (directory.empty()) {
        reporter.LogError(L"GetModuleFileName", sys::GetLastError());
        return HandOver::NotRun;
    }
    return Run64BitSetup(reporter, directory + k64BitSetup);
}
