// Benchmarks against the simulated machine (run under Wine): the floor's
// call sequence checked against the installer's, an uninstallation against
// the waits its sequence requires, DeletePrinters from 10 to 10,000 printers,
// and the cost of one log record with a small and a large log. Every call
// of the seam is timed on its way to the machine (bench/profiledseam.h), so
// the installer's own time is told apart from the machine's.
//
//   simbench.exe [repetitions]
//
// Prints figures (medians of the repetitions); asserts nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bench/installfloor.h"
#include "bench/profiledseam.h"
#include "platform/handles.h"
#include "setup/installer.h"
#include "setup/printeruninstaller.h"
#include "setup/setup.h"
#include "tests/sim/simulated_machine.h"
#include "tests/unit/machine_seeds.h"
#include "zorvaneidentity.h"

namespace {

const wchar_t kDriver[] = ZORVANE_WIDE(ZORVANE_DRIVER_NAME);
const wchar_t kPrinter[] = ZORVANE_WIDE(ZORVANE_PRINTER_NAME);
// The sequence's own waits: the pause before each removal attempt and the
// poll of a stopping spooler (setup/setup.cpp, setup/installer.cpp).
constexpr double kRemovalPauseMs = 100;
constexpr double kStopPollMs = 500;

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool MachineComplained() { return ::testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed(); }

// A machine with Windows' printer INF files and the product beside setup.exe.
void SeedForInstallation(SimulatedMachine& machine) {
    InstallPrinterInfs(machine);
    PutProductFiles(machine.root + L"\\Setup\\");
}

// Runs a program's main with the given arguments (argv[0] first).
template <typename Main>
int RunMain(Main main, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);
    return main(static_cast<int>(args.size()), argv.data());
}

std::string Narrowed(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::vector<std::string> InstallArgs(const std::string& program, const std::wstring& logPath,
                                     const std::string& family = "VISTAORLATER",
                                     const std::string& kind = "STANDALONE") {
    return {program, "/Install", family, kind, "/log", Narrowed(logPath)};
}

// One call as text, the machine's private root shown as "<root>".
std::wstring CallText(const SimulatedMachine::Call& call, const std::wstring& root) {
    std::wstring text = std::wstring(call.name.begin(), call.name.end()) + L"(";
    for (size_t i = 0; i < call.args.size(); ++i) {
        text += (i > 0 ? L", " : L"") + call.args[i];
    }
    text += L")";
    for (size_t at; (at = text.find(root)) != std::wstring::npos;) {
        text.replace(at, root.size(), L"<root>");
    }
    return text;
}

// The record without the log's own calls (the append-only open of the log
// and what follows on it until it is closed, error texts) and without the
// last-error bookkeeping. A LocalFree is the log's when it frees an error
// text; the lock's security descriptor is freed the same way.
std::vector<std::wstring> PlatformCalls(const SimulatedMachine& machine, const std::wstring& logPath,
                                        size_t* logCalls) {
    std::vector<std::wstring> kept;
    bool inLogRecord = false;
    bool textToFree = false;
    *logCalls = 0;
    for (const SimulatedMachine::Call& call : machine.calls) {
        bool logCall = call.name == "FormatMessageW" || call.name == "GetLocalTime" ||
                       (call.name == "LocalFree" && textToFree);
        if (call.name == "FormatMessageW" || call.name == "LocalFree") {
            textToFree = call.name == "FormatMessageW";
        }
        // A record begins with its path made absolute and its folders checked.
        if ((call.name == "GetFullPathNameW" || call.name == "CreateFileW") && !call.args.empty() &&
            call.args[0] == logPath) {
            inLogRecord = true;
            logCall = true;
        } else if (inLogRecord &&
                   (call.name == "GetFileAttributesW" || call.name == "GetFileInformationByHandle" ||
                    call.name == "SetFilePointer" || call.name == "WriteFile" ||
                    call.name == "SetEndOfFile")) {
            logCall = true;
        } else if (inLogRecord && call.name == "CloseHandle") {
            inLogRecord = false;
            logCall = true;
        }
        if (logCall) {
            ++*logCalls;
        } else if (call.name != "SetLastError") {
            kept.push_back(CallText(call, machine.root));
        }
    }
    return kept;
}

// ---- The floor against the installer -------------------------------------

struct InstallRun {
    double wallMs;
    double platformMs;
    std::vector<std::wstring> platformCalls;
    size_t calls;
    size_t logCalls;
    int exitCode;
};

template <typename Main>
InstallRun RunInstall(Main main, const std::string& program, const std::string& family = "VISTAORLATER",
                      const std::string& kind = "STANDALONE") {
    SimulatedMachine machine;
    SeedForInstallation(machine);
    std::wstring logPath = machine.root + L"\\log.txt";
    bench::ResetSeamProfile();
    double start = bench::NowMs();
    int exitCode = RunMain(main, InstallArgs(program, logPath, family, kind));
    InstallRun run{
        bench::NowMs() - start, bench::TakeSeamProfile().platformMs, {}, machine.calls.size(), 0, exitCode};
    run.platformCalls = PlatformCalls(machine, logPath, &run.logCalls);
    return run;
}

// Whether the floor makes the installer's platform calls; prints the
// differences when it does not.
void CheckFloor(const std::string& family, const std::string& kind) {
    InstallRun installer = RunInstall(SetupMain, "setup.exe", family, kind);
    InstallRun floor = RunInstall(FloorMain, "installfloor.exe", family, kind);
    std::printf("  %-12s %-10s installer: exit code %d, %3zu calls, %2zu of them the log's; ", family.c_str(),
                kind.c_str(), installer.exitCode, installer.calls, installer.logCalls);
    if (floor.platformCalls == installer.platformCalls) {
        std::printf("floor: the same %zu calls\n", floor.platformCalls.size());
        return;
    }
    std::printf("floor: DIFFERENT calls (%zu against %zu)\n", floor.platformCalls.size(),
                installer.platformCalls.size());
    size_t n = std::max(floor.platformCalls.size(), installer.platformCalls.size());
    for (size_t i = 0; i < n; ++i) {
        std::wstring a = i < installer.platformCalls.size() ? installer.platformCalls[i] : L"-";
        std::wstring b = i < floor.platformCalls.size() ? floor.platformCalls[i] : L"-";
        if (a != b) {
            std::printf("    #%zu installer %ls\n    #%zu floor     %ls\n", i, a.c_str(), i, b.c_str());
        }
    }
}

void InstallAgainstFloor(int repetitions) {
    std::printf("Installation on the simulated machine: the floor against the installer, call by call\n");
    std::printf("  (the installer's record without the log's calls and SetLastError; arguments compared)\n");
    for (const char* family : {"PREVISTA", "VISTAORLATER"}) {
        for (const char* kind : {"STANDALONE", "BUNDLED"}) {
            CheckFloor(family, kind);
        }
    }
    std::vector<double> installerMs, installerOwnMs, floorMs, floorOwnMs;
    for (int i = 0; i < repetitions; ++i) {
        // Side by side, alternating which goes first.
        for (int side = 0; side < 2; ++side) {
            bool installerNow = (side == 0) == (i % 2 == 0);
            InstallRun run =
                installerNow ? RunInstall(SetupMain, "setup.exe") : RunInstall(FloorMain, "installfloor.exe");
            (installerNow ? installerMs : floorMs).push_back(run.wallMs);
            (installerNow ? installerOwnMs : floorOwnMs).push_back(run.wallMs - run.platformMs);
        }
    }
    std::printf("  VISTAORLATER STANDALONE, wall time: installer %.2f ms, floor %.2f ms (%.2fx)\n",
                Median(installerMs), Median(floorMs), Median(installerMs) / Median(floorMs));
    std::printf("  of which outside the machine (the programs' own work): installer %.3f ms, floor %.3f ms\n",
                Median(installerOwnMs), Median(floorOwnMs));
}

// ---- Uninstallation against its required waits ----------------------------

void UninstallAgainstWaits(int repetitions) {
    std::printf("\nUninstallation whose first attempt succeeds, on the simulated machine (virtual clock)\n");
    std::printf("  %-28s %9s %9s %9s %7s %6s %10s %10s\n", "spooler", "waits ms", "required", "beyond",
                "sleeps", "calls", "real ms", "own ms");
    for (int pendingPolls : {0, 4}) {
        std::vector<double> waits, required, sleeps, calls, wall, own;
        bool succeeded = true;
        for (int i = 0; i < repetitions; ++i) {
            SimulatedMachine machine;
            SeedForInstallation(machine);
            std::wstring logPath = machine.root + L"\\log.txt";
            RunMain(SetupMain, InstallArgs("setup.exe", logPath));
            machine.spooler.stopPendingQueries = pendingPolls;
            machine.calls.clear();
            std::uint64_t clockBefore = machine.elapsedMs;
            bench::ResetSeamProfile();
            double start = bench::NowMs();
            int exitCode =
                RunMain(SetupMain, {"setup.exe", "/Uninstall", "VISTAORLATER", "/log", Narrowed(logPath)});
            double elapsed = bench::NowMs() - start;
            bench::SeamProfile profile = bench::TakeSeamProfile();

            size_t attempts = machine.CallsTo("DeletePrinterDriverExW").size();
            size_t stops = machine.CallsTo("ControlService").size();
            succeeded = succeeded && exitCode == 0 && attempts == 1 && machine.drivers.empty();
            waits.push_back(static_cast<double>(machine.elapsedMs - clockBefore));
            required.push_back(kRemovalPauseMs * static_cast<double>(attempts) +
                               kStopPollMs * (pendingPolls + 1) * static_cast<double>(stops));
            sleeps.push_back(static_cast<double>(machine.CallsTo("Sleep").size()));
            calls.push_back(static_cast<double>(machine.calls.size()));
            wall.push_back(elapsed);
            own.push_back(elapsed - profile.platformMs);
        }
        std::string label = pendingPolls == 0
                                ? "stops at once"
                                : "stops after " + std::to_string(pendingPolls) + " pending polls";
        if (!succeeded) {
            label += " (NOT a first-attempt success)";
        }
        std::printf("  %-28s %9.0f %9.0f %9.0f %7.0f %6.0f %10.3f %10.3f\n", label.c_str(), Median(waits),
                    Median(required), Median(waits) - Median(required), Median(sleeps), Median(calls),
                    Median(wall), Median(own));
    }
    std::printf(
        "  required: %.0f ms pause per removal attempt + %.0f ms per spooler status poll of each stop\n",
        kRemovalPauseMs, kStopPollMs);
}

// ---- DeletePrinters with a growing number of printers ----------------------

double CallMs(const bench::SeamProfile& profile, const char* name) {
    const bench::CallStats* call = profile.Find(name);
    return call != nullptr ? call->ms : 0;
}

void DeletePrintersGrowth(int repetitions) {
    std::printf("\nDeletePrinters on the simulated machine, every 10th printer on the product's driver\n");
    std::printf("  %8s %6s %6s %8s %9s %10s %8s %8s %10s\n", "printers", "on drv", "calls", "calls/pr",
                "total ms", "spooler ms", "log ms", "own ms", "own us/pr");
    bench::SeamProfile largest;
    for (int printers : {10, 100, 1000, 10000}) {
        std::vector<double> calls, total, spoolerMs, logMs, own;
        int onDriver = 0;
        for (int i = 0; i < repetitions; ++i) {
            SimulatedMachine machine;
            std::wstring logPath = machine.root + L"\\log.txt";
            onDriver = 0;
            for (int n = 0; n < printers; ++n) {
                bool ours = n % 10 == 0;
                onDriver += ours ? 1 : 0;
                SimulatedMachine::Printer printer;
                printer.name = L"Printer " + std::to_wstring(n);
                printer.driver = ours ? kDriver : L"Other Driver";
                printer.port = L"LPT1:";
                printer.comment = L"a printer of the office";
                printer.printProcessor = L"WinPrint";
                printer.datatype = L"RAW";
                printer.jobs = n % 3;
                machine.printers.push_back(printer);
            }
            PrinterUninstaller uninstaller(kDriver, kPrinter, logPath);
            machine.calls.clear();
            bench::ResetSeamProfile();
            double start = bench::NowMs();
            uninstaller.DeletePrinters();
            double elapsed = bench::NowMs() - start;
            bench::SeamProfile profile = bench::TakeSeamProfile();
            if (machine.printers.size() != static_cast<size_t>(printers - onDriver)) {
                std::printf("  (%zu printers left, expected %d)\n", machine.printers.size(),
                            printers - onDriver);
            }
            calls.push_back(static_cast<double>(machine.calls.size()));
            total.push_back(elapsed);
            spoolerMs.push_back(profile.platformMs - profile.logMs);
            logMs.push_back(profile.logMs);
            own.push_back(elapsed - profile.platformMs);
            largest = profile;
        }
        std::printf("  %8d %6d %6.0f %8.2f %9.2f %10.2f %8.2f %8.3f %10.3f\n", printers, onDriver,
                    Median(calls), Median(calls) / printers, Median(total), Median(spoolerMs), Median(logMs),
                    Median(own), 1000 * Median(own) / printers);
    }
    std::printf(
        "  spooler ms: the simulated spooler; log ms: the log's records (real files); own ms: the rest\n");
    std::printf(
        "  at 10000 printers (last run): OpenPrinterW %.0f ms, SetPrinterW %.0f ms, DeletePrinter %.0f ms,\n"
        "  EnumPrintersW %.1f ms, ClosePrinter %.1f ms; the model finds a printer by a scan of all of them\n",
        CallMs(largest, "OpenPrinterW"), CallMs(largest, "SetPrinterW"), CallMs(largest, "DeletePrinter"),
        CallMs(largest, "EnumPrintersW"), CallMs(largest, "ClosePrinter"));
}

// ---- One log record, small log against large log ---------------------------

void FillLog(const std::wstring& path, std::uint64_t bytes) {
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string line = "[Sun Dec 06 16:33:14 2026] Unable to uninstall driver or monitor, retrying...\r\n";
    std::string block;
    while (block.size() < (1u << 20)) {
        block += line;
    }
    for (std::uint64_t written = 0; written < bytes;) {
        DWORD chunk = static_cast<DWORD>(std::min<std::uint64_t>(block.size(), bytes - written));
        DWORD done = 0;
        ::WriteFile(file.Get(), block.data(), chunk, &done, nullptr);
        written += chunk;
    }
}

void LogRecordCost(int repetitions) {
    const std::uint64_t kSmall = 1024;
    const std::uint64_t kLarge = 100ull * 1024 * 1024;
    const int kRecordsPerRepetition = 200;
    std::printf("\nOne log record on the simulated machine (real files), %d records per repetition\n",
                kRecordsPerRepetition);
    SimulatedMachine machine;
    std::wstring small = machine.root + L"\\small-log.txt";
    std::wstring large = machine.root + L"\\large-log.txt";
    FillLog(large, kLarge);
    std::vector<double> smallUs, largeUs, smallCalls, largeCalls;
    for (int i = 0; i < repetitions; ++i) {
        FillLog(small, kSmall);
        std::vector<double> repetitionSmall, repetitionLarge;
        for (int n = 0; n < kRecordsPerRepetition; ++n) {
            // Side by side: one record to each log in turn.
            for (bool toLarge : {n % 2 == 0, n % 2 != 0}) {
                Installer installer(L"", toLarge ? large : small);
                size_t callsBefore = machine.calls.size();
                double start = bench::NowMs();
                installer.Log(L"Deleted printer '%s' using driver name '%s'", L"Printer 7", kDriver);
                double us = 1000 * (bench::NowMs() - start);
                (toLarge ? repetitionLarge : repetitionSmall).push_back(us);
                (toLarge ? largeCalls : smallCalls)
                    .push_back(static_cast<double>(machine.calls.size() - callsBefore));
            }
        }
        smallUs.push_back(Median(repetitionSmall));
        largeUs.push_back(Median(repetitionLarge));
        machine.calls.clear();
    }
    WIN32_FILE_ATTRIBUTE_DATA largeData{};
    ::GetFileAttributesExW(large.c_str(), GetFileExInfoStandard, &largeData);
    std::printf("  log of 1 KB:   %8.1f us per record, %.0f calls\n", Median(smallUs), Median(smallCalls));
    std::printf(
        "  log of 100 MB: %8.1f us per record, %.0f calls (%.2fx the small log; the file is %.1f MB)\n",
        Median(largeUs), Median(largeCalls), Median(largeUs) / Median(smallUs),
        static_cast<double>(largeData.nFileSizeLow +
                            (static_cast<std::uint64_t>(largeData.nFileSizeHigh) << 32)) /
            (1024.0 * 1024.0));
}

}  // namespace

int main(int argc, char** argv) {
    int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::printf("Simulated machine benchmarks, medians of %d repetitions\n\n", repetitions);
    InstallAgainstFloor(repetitions);
    UninstallAgainstWaits(repetitions);
    DeletePrintersGrowth(repetitions);
    LogRecordCost(repetitions);
    if (MachineComplained()) {
        std::printf("\nThe simulated machine reported a call it does not model (see above).\n");
        return 1;
    }
    return 0;
}
