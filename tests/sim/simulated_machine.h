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

#include <setupapi.h>

class SimulatedMachine {
public:
    SimulatedMachine();
    ~SimulatedMachine();
    SimulatedMachine(const SimulatedMachine&) = delete;
    SimulatedMachine& operator=(const SimulatedMachine&) = delete;

    // The machine the seam talks to; exactly one exists at a time.
    static SimulatedMachine& Current();

    // Names compare without regard to case, as the spooler's do.
    struct NoCaseLess {
        bool operator()(const std::wstring& a, const std::wstring& b) const;
    };

    // ---- State --------------------------------------------------------------
    std::wstring root;             // stands for C:\ (no trailing separator)
    std::wstring systemDirectory;  // root\Windows\system32
    std::wstring modulePath;       // what GetModuleFileNameW answers for the executable
    std::wstring infDirectory;     // root\Windows\inf: SetupAPI reads INF files from here
    std::wstring driverDirectory;  // the spooler's printer-driver directory (w32x86)

    // Virtual clock: starts on Sun Dec 06 16:33:14 2026 local time; Sleep
    // advances it and returns at once.
    SYSTEMTIME startTime{};
    std::uint64_t elapsedMs = 0;
    std::function<void(DWORD ms)> onSleep;  // runs inside each Sleep, after the clock moved

    // FormatMessageW's message table; a code not in it has no text.
    std::map<DWORD, std::wstring> messageTexts;

    // Standard output: absent (a GUI program started without redirection)
    // or captured here. Standard input and error are there when it is.
    bool hasStandardOutput = true;
    std::string standardOutput;

    // Paths that are symbolic links or junctions (Wine follows them silently).
    std::set<std::wstring, NoCaseLess> reparsePoints;
    // What the disk can still take: a write that does not fit writes what
    // fits and fails with ERROR_DISK_FULL.
    std::uint64_t diskFreeBytes = UINT64_MAX;
    // Whether kernel32 has SetDefaultDllDirectories (Windows 8, or 7 updated).
    bool hasDefaultDllDirectories = true;

    // ---- The processor and the programs the machine can start ---------------
    // The machine Windows runs on: IMAGE_FILE_MACHINE_I386 (32-bit Windows),
    // _AMD64 or _ARM64 (a 32-bit program runs under WOW64 there).
    USHORT nativeMachine = IMAGE_FILE_MACHINE_I386;
    bool hasIsWow64Process2 = true;           // Windows 10 1511 on
    bool hasIsWow64Process = true;            // Windows XP SP2 on
    std::wstring commandLine = L"setup.exe";  // what GetCommandLineW answers
    // Programs CreateProcessW can start, by full path. A path not here fails
    // with ERROR_FILE_NOT_FOUND, a program this machine cannot run (x64 on
    // 32-bit Windows, ARM64 on x64) with ERROR_BAD_EXE_FORMAT. A started
    // program has ended when the wait returns.
    struct Program {
        USHORT machine = IMAGE_FILE_MACHINE_AMD64;
        DWORD exitCode = 0;          // 0 or 1 for a setup; a crash's exception code, a killer's code
        std::string standardOutput;  // what it writes to the standard output it inherits
    };
    std::map<std::wstring, Program, NoCaseLess> programs;
    std::vector<std::wstring> startedCommandLines;

    // ---- The Spooler service -------------------------------------------------
    static constexpr int kForever = -1;
    struct Service {
        bool installed = true;
        bool disabled = false;  // a start fails with ERROR_SERVICE_DISABLED
        DWORD state = SERVICE_RUNNING;
        int startPendingQueries = 0;  // status queries answered START_PENDING after a start (or kForever)
        int stopPendingQueries = 0;   // likewise STOP_PENDING after a stop
        int pendingQueriesLeft = 0;
        int printServerFailures = 0;  // opens of the print server that fail while the service runs
    } spooler;
    bool SpoolerRunning() const { return spooler.state == SERVICE_RUNNING; }

    // ---- The spooler's monitors, ports and printers --------------------------
    std::map<std::wstring, std::wstring, NoCaseLess> monitors;  // name -> DLL file name
    std::map<std::wstring, std::wstring, NoCaseLess> ports;     // name -> monitor name
    struct Printer {
        std::wstring name;
        std::wstring driver;
        std::wstring port;
        std::wstring comment;
        std::wstring printProcessor;
        std::wstring datatype;
        DWORD attributes = 0;
        int jobs = 0;  // waiting print jobs
        // A connection to a printer another machine shares: listed only when
        // an enumeration asks for PRINTER_ENUM_CONNECTIONS.
        bool connection = false;
    };
    std::vector<Printer> printers;
    std::set<std::wstring, NoCaseLess> printProcessors{L"WinPrint", L"MS_XPS"};

    // Drivers as AddPrinterDriverW keeps them (level 6).
    struct Driver {
        DWORD version = 0;
        std::wstring name, environment, driverPath, dataFile, configFile, helpFile, defaultDataType;
        std::vector<std::wstring> dependentFiles;
        std::vector<std::wstring> previousNames;
        bool hasMonitorName = false;
        bool hasHardwareId = false;
        FILETIME date{};
        DWORDLONG driverVersion = 0;
        std::wstring mfgName, oemUrl, provider;

        // Every file the driver names: dependent files, then the core files.
        std::vector<std::wstring> Files() const;
    };
    std::map<std::wstring, Driver, NoCaseLess> drivers;
    // The monitor's answer to "AddPort" for a port it does not have yet.
    DWORD addPortStatus = ERROR_SUCCESS;

    // ---- The registry under HKEY_LOCAL_MACHINE ---------------------------------
    // Key path -> value name -> its data as text (a REG_DWORD as its number).
    std::map<std::wstring, std::map<std::wstring, std::wstring, NoCaseLess>, NoCaseLess> registry;

    // ---- Named mutexes --------------------------------------------------------
    struct Mutex {
        bool heldByOtherRun = false;   // another process owns it
        int releasedAfterMs = 0;       // virtual time until that process lets go (or kForever)
        bool holderKilled = false;     // it ends without releasing: the next wait is abandoned
        bool onlyWaitAllowed = false;  // its security lets this account wait and release only
        int ownedByRun = 0;            // how often the run under test owns it
        std::vector<BYTE> security;    // the self-relative security descriptor it was made with
    };
    std::map<std::wstring, Mutex, NoCaseLess> mutexes;

    // ---- Fault injection ----------------------------------------------------
    // Makes `call` fail with `error`: on every use (nthUse 0) or on its
    // nthUse-th use only (counted from 1).
    void Fail(const std::string& call, DWORD error, int nthUse = 0);
    // Makes `call` fail with `error` on its first `uses` uses.
    void FailFirst(const std::string& call, DWORD error, int uses);
    // Makes `call` throw std::bad_alloc on its nthUse-th use (0: every use).
    void Throw(const std::string& call, int nthUse = 0);
    // Counts uses from now on: faults set up after a seeding run refer to
    // the calls that follow.
    void RestartUseCounts() { uses_.clear(); }
    // How many injected faults have answered a call.
    int faultsTaken = 0;
    // Runs after every EnumPrintersW call: lets a test change the printers
    // between the size probe and the fetch.
    std::function<void()> afterEnumPrinters;

    // ---- Record of calls -----------------------------------------------------
    struct Call {
        std::string name;
        std::vector<std::wstring> args;
        bool faultable;  // the fault table can make this call fail
    };
    std::vector<Call> calls;
    std::vector<Call> CallsTo(const std::string& name) const;

    // ---- Open handles --------------------------------------------------------
    int OpenHandleCount() const;

    // Whether a path lies inside root: the machine refuses, and fails the
    // test for, any file operation elsewhere.
    bool Holds(const std::wstring& path) const;

    // ---- Used by the seam's simulated binding --------------------------------
    // Counts a use of `call`; when a fault applies, sets its error and answers true.
    bool TakeFault(const std::string& call);
    void Record(const std::string& name, std::vector<std::wstring> args, bool faultable = false);
    SYSTEMTIME Now() const;

    HANDLE NewHandle();
    std::map<HANDLE, std::wstring> openFiles;  // handle -> path as opened
    std::map<HANDLE, DWORD> openProcesses;     // process and thread handles -> exit code
    std::map<HANDLE, DWORD> openFileAccess;    // handle -> access asked for
    std::set<HLOCAL> openLocalMemory;
    struct OpenService {
        bool isManager;
        DWORD access;
    };
    std::map<SC_HANDLE, OpenService> openServices;
    struct OpenPrinter {
        enum Kind { Server, Xcv, Printer } kind;
        std::wstring name;  // the printer or the monitor
        DWORD access;
    };
    std::map<HANDLE, OpenPrinter> openPrinters;
    struct OpenInf {
        std::wstring name;                                                       // file name, as opened
        std::wstring directory;                                                  // where its source files lie
        std::map<std::wstring, std::vector<std::wstring>, NoCaseLess> sections;  // section -> its lines
        std::map<DWORD, std::wstring> directoryIds;
    };
    std::map<HINF, OpenInf> openInfs;
    struct QueuedCopy {
        std::wstring source;
        std::wstring target;
    };
    std::map<HSPFILEQ, std::vector<QueuedCopy>> openQueues;
    std::set<PVOID> openQueueContexts;
    struct OpenMutex {
        std::wstring name;
        DWORD access;
    };
    std::map<HANDLE, OpenMutex> openMutexes;
    std::map<HKEY, std::wstring> openKeys;  // handle -> key path under HKEY_LOCAL_MACHINE

private:
    struct Fault {
        std::string call;
        DWORD error;
        int nthUse;
        bool throws;
    };
    std::vector<Fault> faults_;
    std::map<std::string, int> uses_;
    std::uintptr_t lastHandle_ = 0x1000;
};

// Argument texts for the call record.
std::wstring SimText(const wchar_t* text);
std::wstring SimNumber(std::int64_t number);
std::wstring SimHex(std::uint32_t number);
