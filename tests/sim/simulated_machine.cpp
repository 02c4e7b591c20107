#include "tests/sim/simulated_machine.h"

#include <filesystem>
#include <new>

#include <gtest/gtest.h>

namespace {

SimulatedMachine* current = nullptr;

// The Windows English texts of the codes the installer meets.
const std::map<DWORD, std::wstring>& WindowsMessageTexts() {
    static const std::map<DWORD, std::wstring> texts = {
        {0, L"The operation completed successfully.\r\n"},
        {2, L"The system cannot find the file specified.\r\n"},
        {3, L"The system cannot find the path specified.\r\n"},
        {5, L"Access is denied.\r\n"},
        {8, L"Not enough storage is available to process this command.\r\n"},
        {32, L"The process cannot access the file because it is being used by another process.\r\n"},
        {87, L"The parameter is incorrect.\r\n"},
        {122, L"The data area passed to a system call is too small.\r\n"},
        {126, L"The specified module could not be found.\r\n"},
        {1003, L"Cannot complete this function.\r\n"},
        {1056, L"An instance of the service is already running.\r\n"},
        {1058,
         L"The service cannot be started, either because it is disabled or because it has no "
         L"enabled devices associated with it.\r\n"},
        {1060, L"The specified service does not exist as an installed service.\r\n"},
        {1061, L"The service cannot accept control messages at this time.\r\n"},
        {1062, L"The service has not been started.\r\n"},
        {1722, L"The RPC server is unavailable.\r\n"},
        {1796, L"The specified port is unknown.\r\n"},
        {1797, L"The printer driver is unknown.\r\n"},
        {1798, L"The print processor is unknown.\r\n"},
        {1801, L"The printer name is invalid.\r\n"},
        {1802, L"The printer already exists.\r\n"},
        {3000, L"The specified print monitor is unknown.\r\n"},
        {3001, L"The specified printer driver is currently in use.\r\n"},
        {3006, L"The specified print monitor has already been installed.\r\n"},
        {3008, L"The specified print monitor is currently in use.\r\n"},
    };
    return texts;
}

std::wstring MakePrivateRoot() {
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring root = std::wstring(temp) + L"zorvane-sim-" + std::to_wstring(::GetCurrentProcessId()) +
                        L"-" + std::to_wstring(++counter);
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    return root;
}

}  // namespace

SimulatedMachine::SimulatedMachine()
    : root(MakePrivateRoot()),
      systemDirectory(root + L"\\Windows\\system32"),
      modulePath(root + L"\\Setup\\setup.exe"),
      infDirectory(root + L"\\Windows\\inf"),
      driverDirectory(systemDirectory + L"\\spool\\drivers\\w32x86"),
      messageTexts(WindowsMessageTexts()) {
    if (current != nullptr) {
        ADD_FAILURE() << "a second SimulatedMachine while one exists";
    }
    current = this;
    std::filesystem::create_directories(systemDirectory);
    std::filesystem::create_directories(root + L"\\Setup");
    std::filesystem::create_directories(infDirectory);
    std::filesystem::create_directories(driverDirectory);
    std::filesystem::create_directories(systemDirectory + L"\\spool\\drivers\\color");
    startTime.wYear = 2026;
    startTime.wMonth = 12;
    startTime.wDayOfWeek = 0;
    startTime.wDay = 6;
    startTime.wHour = 16;
    startTime.wMinute = 33;
    startTime.wSecond = 14;
}

SimulatedMachine::~SimulatedMachine() {
    for (const auto& file : openFiles) {
        ::CloseHandle(file.first);
    }
    for (HLOCAL memory : openLocalMemory) {
        ::LocalFree(memory);
    }
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    current = nullptr;
}

SimulatedMachine& SimulatedMachine::Current() {
    if (current == nullptr) {
        // The seam was called outside a test's machine: stop at once, loudly.
        ADD_FAILURE() << "the seam was called with no SimulatedMachine";
        std::abort();
    }
    return *current;
}

bool SimulatedMachine::Holds(const std::wstring& path) const {
    wchar_t full[4 * MAX_PATH];
    DWORD length = ::GetFullPathNameW(path.c_str(), 4 * MAX_PATH, full, nullptr);
    std::wstring inside = root + L"\\";
    return length > inside.size() && length < 4 * MAX_PATH &&
           _wcsnicmp(full, inside.c_str(), inside.size()) == 0;
}

void SimulatedMachine::Fail(const std::string& call, DWORD error, int nthUse) {
    faults_.push_back({call, error, nthUse, false});
}

void SimulatedMachine::FailFirst(const std::string& call, DWORD error, int uses) {
    for (int use = 1; use <= uses; ++use) {
        Fail(call, error, use);
    }
}

void SimulatedMachine::Throw(const std::string& call, int nthUse) {
    faults_.push_back({call, 0, nthUse, true});
}

bool SimulatedMachine::TakeFault(const std::string& call) {
    int use = ++uses_[call];
    for (const Fault& fault : faults_) {
        if (fault.call == call && (fault.nthUse == 0 || fault.nthUse == use)) {
            ++faultsTaken;
            if (fault.throws) {
                throw std::bad_alloc();
            }
            ::SetLastError(fault.error);
            return true;
        }
    }
    return false;
}

void SimulatedMachine::Record(const std::string& name, std::vector<std::wstring> args, bool faultable) {
    calls.push_back({name, std::move(args), faultable});
}

std::vector<SimulatedMachine::Call> SimulatedMachine::CallsTo(const std::string& name) const {
    std::vector<Call> matching;
    for (const Call& call : calls) {
        if (call.name == name) {
            matching.push_back(call);
        }
    }
    return matching;
}

int SimulatedMachine::OpenHandleCount() const {
    return static_cast<int>(openFiles.size() + openLocalMemory.size() + openServices.size() +
                            openPrinters.size() + openInfs.size() + openQueues.size() +
                            openQueueContexts.size() + openProcesses.size() + openMutexes.size() +
                            openKeys.size());
}

HANDLE SimulatedMachine::NewHandle() {
    lastHandle_ += 4;
    return reinterpret_cast<HANDLE>(lastHandle_);
}

bool SimulatedMachine::NoCaseLess::operator()(const std::wstring& a, const std::wstring& b) const {
    return _wcsicmp(a.c_str(), b.c_str()) < 0;
}

SYSTEMTIME SimulatedMachine::Now() const {
    FILETIME start;
    ::SystemTimeToFileTime(&startTime, &start);
    ULARGE_INTEGER ticks;
    ticks.LowPart = start.dwLowDateTime;
    ticks.HighPart = start.dwHighDateTime;
    ticks.QuadPart += elapsedMs * 10000;
    FILETIME now{ticks.LowPart, ticks.HighPart};
    SYSTEMTIME time;
    ::FileTimeToSystemTime(&now, &time);
    return time;
}

std::wstring SimText(const wchar_t* text) { return text != nullptr ? text : L"(null)"; }

std::wstring SimNumber(std::int64_t number) { return std::to_wstring(number); }

std::wstring SimHex(std::uint32_t number) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%X", number);
    return text;
}

std::vector<std::wstring> SimulatedMachine::Driver::Files() const {
    std::vector<std::wstring> files = dependentFiles;
    for (const std::wstring* core : {&driverPath, &dataFile, &configFile, &helpFile}) {
        if (!core->empty()) {
            files.push_back(*core);
        }
    }
    return files;
}
