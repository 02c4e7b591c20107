// The simulated machine: a small model of the parts of Windows the installer
// talks to, behind the same seam as the real system. Plain data with seeding
// helpers, a fault table, a record of every call, a virtual clock and counts
// of open handles. File operations are real, inside a private directory
// that stands for the machine's disk.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

class SimulatedMachine {
public:
    SimulatedMachine();
    ~SimulatedMachine();
    SimulatedMachine(const SimulatedMachine&) = delete;
    SimulatedMachine& operator=(const SimulatedMachine&) = delete;

    // The machine the seam talks to; exactly one exists at a time.
    static SimulatedMachine& Current();

    // ---- State --------------------------------------------------------------
    std::wstring root;             // stands for C:\ (no trailing separator)
    std::wstring systemDirectory;  // root\Windows\system32
    std::wstring modulePath;       // what GetModuleFileNameW answers for the executable

    // Virtual clock: starts on Sun Dec 06 16:33:14 2026 local time; Sleep
    // advances it and returns at once.
    SYSTEMTIME startTime{};
    std::uint64_t elapsedMs = 0;
    std::function<void(DWORD ms)> onSleep;  // runs inside each Sleep, after the clock moved

    // FormatMessageW's message table; a code not in it has no text.
    std::map<DWORD, std::wstring> messageTexts;

    // Standard output: absent (a GUI program started without redirection)
    // or captured here.
    bool hasStandardOutput = true;
    std::string standardOutput;

    // ---- Fault injection ----------------------------------------------------
    // Makes `call` fail with `error`: on every use (nthUse 0) or on its
    // nthUse-th use only (counted from 1).
    void Fail(const std::string& call, DWORD error, int nthUse = 0);

    // ---- Record of calls -----------------------------------------------------
    struct Call {
        std::string name;
        std::vector<std::wstring> args;
    };
    std::vector<Call> calls;
    std::vector<Call> CallsTo(const std::string& name) const;

    // ---- Open handles --------------------------------------------------------
    int OpenHandleCount() const;

    // ---- Used by the seam's simulated binding --------------------------------
    // Counts a use of `call`; when a fault applies, sets its error and answers true.
    bool TakeFault(const std::string& call);
    void Record(const std::string& name, std::vector<std::wstring> args);
    SYSTEMTIME Now() const;

    std::set<HANDLE> openFiles;
    std::set<HLOCAL> openLocalMemory;

private:
    struct Fault {
        std::string call;
        DWORD error;
        int nthUse;
    };
    std::vector<Fault> faults_;
    std::map<std::string, int> uses_;
};

// Argument texts for the call record.
std::wstring SimText(const wchar_t* text);
std::wstring SimNumber(std::int64_t number);
std::wstring SimHex(std::uint32_t number);
