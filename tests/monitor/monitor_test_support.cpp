#include "tests/monitor/monitor_test_support.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include <shlwapi.h>

#include "platform/fileset.h"

std::wstring TestDlls::monitor;
std::wstring TestDlls::library;
MonitorDll::InitializeFn MonitorDll::initialize_ = nullptr;

const wchar_t kOwnMonitorKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Zorvane Creator Port Monitor";

std::wstring WindowsPath(const char* argument) {
    std::string text(argument);
    std::wstring path(text.begin(), text.end());
    if (!path.empty() && path[0] == L'/') {
        std::replace(path.begin(), path.end(), L'/', L'\\');
        path = L"Z:" + path;
    }
    return path;
}

bool MonitorDll::Load(const std::wstring& path, DWORD& dwError) {
    HMODULE hModule = ::LoadLibraryW(path.c_str());
    if (hModule == nullptr) {
        dwError = ::GetLastError();
        return false;
    }
    initialize_ = reinterpret_cast<InitializeFn>(
        reinterpret_cast<void*>(::GetProcAddress(hModule, "InitializePrintMonitor2")));
    dwError = initialize_ != nullptr ? ERROR_SUCCESS : ::GetLastError();
    return initialize_ != nullptr;
}

Monitor::Monitor(MONITORINIT init) {
    ::SetLastError(0xdeadbeef);
    functions_ = MonitorDll::Initialize()(&init, &handle_);
    EXPECT_NE(functions_, nullptr) << "InitializePrintMonitor2 failed with " << ::GetLastError();
}

Monitor::~Monitor() {
    if (functions_ != nullptr) {
        functions_->pfnShutdown(handle_);
    }
}

DWORD Monitor::Xcv(const wchar_t* dataName, const BYTE* input, DWORD cbInput, ACCESS_MASK access,
                   std::vector<BYTE>* output, DWORD* cbNeeded) const {
    HANDLE hXcv = nullptr;
    if (!functions_->pfnXcvOpenPort(handle_, L"", access, &hXcv)) {
        ADD_FAILURE() << "XcvOpenPort failed with " << ::GetLastError();
        return ERROR_INVALID_HANDLE;
    }
    DWORD cbOutputNeeded = 0xdeadbeef;
    BYTE* pOutput = output != nullptr && !output->empty() ? output->data() : nullptr;
    DWORD cbOutput = output != nullptr ? static_cast<DWORD>(output->size()) : 0;
    DWORD dwStatus = functions_->pfnXcvDataPort(hXcv, dataName, const_cast<BYTE*>(input), cbInput, pOutput,
                                                cbOutput, &cbOutputNeeded);
    EXPECT_TRUE(functions_->pfnXcvClosePort(hXcv));
    if (cbNeeded != nullptr) {
        *cbNeeded = cbOutputNeeded;
    }
    return dwStatus;
}

DWORD Monitor::AddPort(const std::wstring& portName) const {
    std::vector<BYTE> input = NameBytes(portName);
    return Xcv(L"AddPort", input.data(), static_cast<DWORD>(input.size()), SERVER_ACCESS_ADMINISTER);
}

DWORD Monitor::DeletePort(const std::wstring& portName) const {
    std::vector<BYTE> input = NameBytes(portName);
    return Xcv(L"DeletePort", input.data(), static_cast<DWORD>(input.size()), SERVER_ACCESS_ADMINISTER);
}

bool Monitor::PortExists(const std::wstring& portName) const {
    std::vector<BYTE> input = NameBytes(portName);
    std::vector<BYTE> output(sizeof(DWORD), 0xcc);
    DWORD cbNeeded = 0;
    DWORD dwStatus =
        Xcv(L"PortExists", input.data(), static_cast<DWORD>(input.size()), 0, &output, &cbNeeded);
    EXPECT_EQ(dwStatus, static_cast<DWORD>(ERROR_SUCCESS)) << "PortExists of " << Narrow(portName);
    EXPECT_EQ(cbNeeded, sizeof(DWORD));
    DWORD dwExists = 0;
    std::memcpy(&dwExists, output.data(), sizeof(dwExists));
    EXPECT_TRUE(dwExists == 0 || dwExists == 1) << "PortExists answered " << dwExists;
    return dwExists == 1;
}

std::vector<std::wstring> Monitor::PortNames() const {
    DWORD cbNeeded = 0;
    DWORD cReturned = 0;
    std::vector<std::wstring> names;
    functions_->pfnEnumPorts(handle_, nullptr, 1, nullptr, 0, &cbNeeded, &cReturned);
    std::vector<BYTE> buffer(cbNeeded + 1);
    if (!functions_->pfnEnumPorts(handle_, nullptr, 1, buffer.data(), cbNeeded, &cbNeeded, &cReturned)) {
        ADD_FAILURE() << "EnumPorts failed with " << ::GetLastError();
        return names;
    }
    const PORT_INFO_1W* ports = reinterpret_cast<const PORT_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < cReturned; ++i) {
        names.push_back(ports[i].pName);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<BYTE> NameBytes(const std::wstring& name) {
    const BYTE* pBytes = reinterpret_cast<const BYTE*>(name.c_str());
    return std::vector<BYTE>(pBytes, pBytes + (name.size() + 1) * sizeof(wchar_t));
}

void DeleteOwnMonitorKey() {
    DWORD dwResult = ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kOwnMonitorKey);
    ASSERT_TRUE(dwResult == ERROR_SUCCESS || dwResult == ERROR_FILE_NOT_FOUND)
        << "SHDeleteKeyW: " << dwResult;
}

std::string RegistryKindName(const ::testing::TestParamInfo<RegistryKind>& info) {
    return info.param == RegistryKind::Spooler ? "SpoolerRegistry" : "OwnKey";
}

MONITORINIT BothRegistries::Init() {
    return GetParam() == RegistryKind::Spooler ? fake.MonitorInit() : unimplemented.MonitorInit();
}

void BothRegistries::SetOutputFolder(const std::wstring& portName, const std::wstring& folder) {
    if (GetParam() == RegistryKind::Spooler) {
        fake.SetString(L"Ports\\" + portName, L"OutputFolder", folder);
        return;
    }
    std::wstring keyPath = std::wstring(kOwnMonitorKey) + L"\\Ports\\" + portName;
    DWORD cbData = static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t));
    LONG lResult =
        ::SHSetValueW(HKEY_LOCAL_MACHINE, keyPath.c_str(), L"OutputFolder", REG_SZ, folder.c_str(), cbData);
    ASSERT_EQ(lResult, ERROR_SUCCESS) << "SHSetValueW";
}

TempFolder::TempFolder() {
    wchar_t pTemp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, pTemp);
    static unsigned counter = 0;
    for (;;) {
        path_ = std::wstring(pTemp) + L"zorvanemon-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        if (::CreateDirectoryW(path_.c_str(), nullptr)) {
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "CreateDirectoryW " << Narrow(path_) << ": " << ::GetLastError();
            return;
        }
    }
}

TempFolder::~TempFolder() { RemoveTree(path_); }

std::vector<std::wstring> TempFolder::FileNamesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    FindHandle search(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!search) {
        return names;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            names.push_back(found.cFileName);
        }
    } while (::FindNextFileW(search.Get(), &found));
    std::sort(names.begin(), names.end());
    return names;
}

void TempFolder::RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    FindHandle search(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (search) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(search.Get(), &found));
        search.Close();
    }
    ::RemoveDirectoryW(folder.c_str());
}

std::string FileSetOf(const std::vector<std::string>& files) {
    struct StringSink : FileSetSink {
        bool Write(const unsigned char* pBytes, std::size_t cb) override {
            bytes.append(reinterpret_cast<const char*>(pBytes), cb);
            return true;
        }
        std::string bytes;
    } sink;
    FileSetWriter writer(sink);
    EXPECT_EQ(writer.Begin(), FileSetError::None);
    for (const std::string& file : files) {
        EXPECT_EQ(writer.Add(reinterpret_cast<const unsigned char*>(file.data()), file.size()),
                  FileSetError::None);
    }
    EXPECT_EQ(writer.End(), FileSetError::None);
    return sink.bytes;
}

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Narrow(const std::wstring& text) {
    int cb = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(cb > 0 ? cb - 1 : 0, '\0');
    if (cb > 1) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &narrow[0], cb, nullptr, nullptr);
    }
    return narrow;
}
