#include "monitor/monitorregistry.h"

#include <vector>

#include "zorvaneidentity.h"

namespace {

// ---- The MONITORREG functions over advapi32, for the monitor's own key ----
// The spooler handle is not needed: the keys are real registry keys.

LONG WINAPI Win32CreateKey(HANDLE hcKey, LPCWSTR pszSubKey, DWORD dwOptions, REGSAM samDesired,
                           PSECURITY_ATTRIBUTES pSecurityAttributes, PHANDLE phckResult,
                           PDWORD pdwDisposition, HANDLE) {
    return ::RegCreateKeyExW(static_cast<HKEY>(hcKey), pszSubKey, 0, nullptr, dwOptions, samDesired,
                             pSecurityAttributes, reinterpret_cast<PHKEY>(phckResult), pdwDisposition);
}

LONG WINAPI Win32OpenKey(HANDLE hcKey, LPCWSTR pszSubKey, REGSAM samDesired, PHANDLE phkResult, HANDLE) {
    return ::RegOpenKeyExW(static_cast<HKEY>(hcKey), pszSubKey, 0, samDesired,
                           reinterpret_cast<PHKEY>(phkResult));
}

LONG WINAPI Win32CloseKey(HANDLE hcKey, HANDLE) { return ::RegCloseKey(static_cast<HKEY>(hcKey)); }

LONG WINAPI Win32DeleteKey(HANDLE hcKey, LPCWSTR pszSubKey, HANDLE) {
    return ::RegDeleteKeyW(static_cast<HKEY>(hcKey), pszSubKey);
}

LONG WINAPI Win32EnumKey(HANDLE hcKey, DWORD dwIndex, LPWSTR pszName, PDWORD pcchName,
                         PFILETIME pftLastWriteTime, HANDLE) {
    return ::RegEnumKeyExW(static_cast<HKEY>(hcKey), dwIndex, pszName, pcchName, nullptr, nullptr, nullptr,
                           pftLastWriteTime);
}

LONG WINAPI Win32QueryInfoKey(HANDLE hcKey, PDWORD pcSubKeys, PDWORD pcbKey, PDWORD pcValues, PDWORD pcbValue,
                              PDWORD pcbData, PDWORD pcbSecurityDescriptor, PFILETIME pftLastWriteTime,
                              HANDLE) {
    return ::RegQueryInfoKeyW(static_cast<HKEY>(hcKey), nullptr, nullptr, nullptr, pcSubKeys, pcbKey, nullptr,
                              pcValues, pcbValue, pcbData, pcbSecurityDescriptor, pftLastWriteTime);
}

LONG WINAPI Win32SetValue(HANDLE hcKey, LPCWSTR pszValue, DWORD dwType, const BYTE* pData, DWORD cbData,
                          HANDLE) {
    return ::RegSetValueExW(static_cast<HKEY>(hcKey), pszValue, 0, dwType, pData, cbData);
}

LONG WINAPI Win32DeleteValue(HANDLE hcKey, LPCWSTR pszValue, HANDLE) {
    return ::RegDeleteValueW(static_cast<HKEY>(hcKey), pszValue);
}

// pcbValue counts the name's characters, as RegEnumValueW does.
LONG WINAPI Win32EnumValue(HANDLE hcKey, DWORD dwIndex, LPWSTR pszValue, PDWORD pcbValue, PDWORD pType,
                           PBYTE pData, PDWORD pcbData, HANDLE) {
    return ::RegEnumValueW(static_cast<HKEY>(hcKey), dwIndex, pszValue, pcbValue, nullptr, pType, pData,
                           pcbData);
}

LONG WINAPI Win32QueryValue(HANDLE hcKey, LPCWSTR pszValue, PDWORD pType, PBYTE pData, PDWORD pcbData,
                            HANDLE) {
    return ::RegQueryValueExW(static_cast<HKEY>(hcKey), pszValue, nullptr, pType, pData, pcbData);
}

const MONITORREG kWin32Registry = {sizeof(MONITORREG), Win32CreateKey, Win32OpenKey,      Win32CloseKey,
                                   Win32DeleteKey,     Win32EnumKey,   Win32QueryInfoKey, Win32SetValue,
                                   Win32DeleteValue,   Win32EnumValue, Win32QueryValue};

bool HasEveryFunction(const MONITORREG& reg) {
    return reg.fpCreateKey && reg.fpOpenKey && reg.fpCloseKey && reg.fpDeleteKey && reg.fpEnumKey &&
           reg.fpQueryInfoKey && reg.fpSetValue && reg.fpDeleteValue && reg.fpEnumValue && reg.fpQueryValue;
}

// True when the spooler's registry functions can be used: all are there and
// a read-only query on the root succeeds.
bool SpoolerRegistryWorks(const MONITORINIT& init) {
    if (init.cbSize < sizeof(MONITORINIT) || init.pMonitorReg == nullptr || init.hckRegistryRoot == nullptr) {
        return false;
    }
    const MONITORREG& reg = *init.pMonitorReg;
    if (reg.cbSize < sizeof(MONITORREG) || !HasEveryFunction(reg)) {
        return false;
    }
    DWORD cSubKeys = 0;
    DWORD cbMaxSubKey = 0;
    DWORD cValues = 0;
    DWORD cbMaxValueName = 0;
    DWORD cbMaxValue = 0;
    DWORD cbSecurityDescriptor = 0;
    FILETIME ftLastWrite{};
    return reg.fpQueryInfoKey(init.hckRegistryRoot, &cSubKeys, &cbMaxSubKey, &cValues, &cbMaxValueName,
                              &cbMaxValue, &cbSecurityDescriptor, &ftLastWrite,
                              init.hSpooler) == ERROR_SUCCESS;
}

// Longest key name the registry allows, plus its terminator.
constexpr DWORD kKeyNameUnits = 256;

}  // namespace

const wchar_t MonitorRegistry::kOwnRootPath[] =
    ZORVANE_WIDE("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\" ZORVANE_MONITOR_NAME);

void RegistryKey::Reset() {
    if (registry_ != nullptr && handle_ != nullptr) {
        registry_->CloseKey(handle_);
    }
    registry_ = nullptr;
    handle_ = nullptr;
}

void RegistryKey::Assign(const MonitorRegistry& registry, HANDLE handle) {
    Reset();
    registry_ = &registry;
    handle_ = handle;
}

DWORD MonitorRegistry::Open(const MONITORINIT& init, std::unique_ptr<MonitorRegistry>& registry) {
    if (SpoolerRegistryWorks(init)) {
        registry = std::make_unique<MonitorRegistry>(*init.pMonitorReg, init.hckRegistryRoot, init.hSpooler,
                                                     RegistryKeyHandle());
        return ERROR_SUCCESS;
    }
    HKEY hRoot = nullptr;
    LONG lResult = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kOwnRootPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &hRoot, nullptr);
    if (lResult != ERROR_SUCCESS) {
        return static_cast<DWORD>(lResult);
    }
    RegistryKeyHandle ownRoot(hRoot);
    registry = std::make_unique<MonitorRegistry>(kWin32Registry, hRoot, nullptr, std::move(ownRoot));
    return ERROR_SUCCESS;
}

MonitorRegistry::MonitorRegistry(const MONITORREG& functions, HANDLE root, HANDLE spooler,
                                 RegistryKeyHandle ownRoot)
    : functions_(functions), root_(root), spooler_(spooler), ownRoot_(std::move(ownRoot)) {}

MonitorRegistry::~MonitorRegistry() = default;

LONG MonitorRegistry::CreateKey(HANDLE parent, const wchar_t* subKey, RegistryKey& key) const {
    HANDLE hKey = nullptr;
    DWORD dwDisposition = 0;
    LONG lResult = functions_.fpCreateKey(parent, subKey, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                          &hKey, &dwDisposition, spooler_);
    if (lResult == ERROR_SUCCESS) {
        key.Assign(*this, hKey);
    }
    return lResult;
}

LONG MonitorRegistry::OpenKey(HANDLE parent, const wchar_t* subKey, REGSAM access, RegistryKey& key) const {
    HANDLE hKey = nullptr;
    LONG lResult = functions_.fpOpenKey(parent, subKey, access, &hKey, spooler_);
    if (lResult == ERROR_SUCCESS) {
        key.Assign(*this, hKey);
    }
    return lResult;
}

LONG MonitorRegistry::DeleteKey(HANDLE parent, const wchar_t* subKey) const {
    return functions_.fpDeleteKey(parent, subKey, spooler_);
}

LONG MonitorRegistry::EnumKey(HANDLE key, DWORD index, std::wstring& name) const {
    wchar_t pName[kKeyNameUnits];
    DWORD cchName = kKeyNameUnits;
    FILETIME ftLastWrite{};
    LONG lResult = functions_.fpEnumKey(key, index, pName, &cchName, &ftLastWrite, spooler_);
    if (lResult == ERROR_SUCCESS) {
        name.assign(pName, cchName < kKeyNameUnits ? cchName : kKeyNameUnits - 1);
    }
    return lResult;
}

LONG MonitorRegistry::QueryString(HANDLE key, const wchar_t* valueName, std::wstring& value) const {
    DWORD dwType = REG_NONE;
    DWORD cbData = 0;
    LONG lResult = functions_.fpQueryValue(key, valueName, &dwType, nullptr, &cbData, spooler_);
    if (lResult != ERROR_SUCCESS) {
        return lResult;
    }
    if (dwType != REG_SZ) {
        return ERROR_INVALID_DATA;
    }
    std::vector<BYTE> data(cbData + sizeof(wchar_t));
    lResult = functions_.fpQueryValue(key, valueName, &dwType, data.data(), &cbData, spooler_);
    if (lResult != ERROR_SUCCESS) {
        return lResult;
    }
    // The stored text need not end in a terminator; stop at the first one.
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), cbData / sizeof(wchar_t));
    value = text.substr(0, text.find(L'\0'));
    return ERROR_SUCCESS;
}

void MonitorRegistry::CloseKey(HANDLE key) const { functions_.fpCloseKey(key, spooler_); }
