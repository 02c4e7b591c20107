#include "tests/monitor/fake_monitor_registry.h"

#include <cstring>

#include <gtest/gtest.h>

namespace {

// The root handle the spooler would hand over; never closed by the monitor.
HANDLE const kRootHandle = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x0FF0));

std::vector<std::wstring> SplitPath(const std::wstring& path) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) {
            end = path.size();
        }
        if (end > start) {
            parts.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

std::wstring JoinKeyPath(const std::wstring& parent, const std::wstring& child) {
    return parent.empty() ? child : parent + L"\\" + child;
}

}  // namespace

FakeMonitorRegistry::FakeMonitorRegistry()
    : functions_{sizeof(MONITORREG), CreateKey, OpenKey,     CloseKey,  DeleteKey, EnumKey,
                 QueryInfoKey,       SetValue,  DeleteValue, EnumValue, QueryValue} {}

MONITORINIT FakeMonitorRegistry::MonitorInit() {
    MONITORINIT init{};
    init.cbSize = sizeof(MONITORINIT);
    init.hSpooler = this;
    init.hckRegistryRoot = kRootHandle;
    init.pMonitorReg = &functions_;
    init.bLocal = TRUE;
    init.pszServerName = nullptr;
    return init;
}

void FakeMonitorRegistry::SetString(const std::wstring& keyPath, const std::wstring& valueName,
                                    const std::wstring& value) {
    Key* key = &root_;
    for (const std::wstring& part : SplitPath(keyPath)) {
        key = &key->subKeys[part];
    }
    const BYTE* pBytes = reinterpret_cast<const BYTE*>(value.c_str());
    key->values[valueName] =
        Value{REG_SZ, std::vector<BYTE>(pBytes, pBytes + (value.size() + 1) * sizeof(wchar_t))};
}

bool FakeMonitorRegistry::HasKey(const std::wstring& keyPath) const { return FindKey(keyPath) != nullptr; }

std::vector<std::wstring> FakeMonitorRegistry::SubKeys(const std::wstring& keyPath) const {
    std::vector<std::wstring> names;
    if (const Key* key = FindKey(keyPath)) {
        for (const auto& entry : key->subKeys) {
            names.push_back(entry.first);
        }
    }
    return names;
}

FakeMonitorRegistry* FakeMonitorRegistry::FromSpooler(HANDLE hSpooler) {
    FakeMonitorRegistry* fake = static_cast<FakeMonitorRegistry*>(hSpooler);
    if (fake == nullptr || fake->magic_ != kMagic) {
        ADD_FAILURE() << "a registry function got spooler handle " << hSpooler << ", not the one handed over";
        return nullptr;
    }
    return fake;
}

bool FakeMonitorRegistry::Faulted(const char* function, LONG& code) const {
    auto fault = faults_.find(function);
    if (fault == faults_.end()) {
        return false;
    }
    code = fault->second;
    return true;
}

FakeMonitorRegistry::Key* FakeMonitorRegistry::FindKey(const std::wstring& path) {
    Key* key = &root_;
    for (const std::wstring& part : SplitPath(path)) {
        auto child = key->subKeys.find(part);
        if (child == key->subKeys.end()) {
            return nullptr;
        }
        key = &child->second;
    }
    return key;
}

const FakeMonitorRegistry::Key* FakeMonitorRegistry::FindKey(const std::wstring& path) const {
    return const_cast<FakeMonitorRegistry*>(this)->FindKey(path);
}

LONG FakeMonitorRegistry::Resolve(HANDLE hSpooler, HANDLE hcKey, const char* function,
                                  FakeMonitorRegistry*& fake, std::wstring& path) {
    fake = FromSpooler(hSpooler);
    if (fake == nullptr || !fake->PathOf(hcKey, path)) {
        return ERROR_INVALID_HANDLE;
    }
    LONG code = ERROR_SUCCESS;
    return fake->Faulted(function, code) ? code : ERROR_SUCCESS;
}

bool FakeMonitorRegistry::PathOf(HANDLE hKey, std::wstring& path) const {
    if (hKey == kRootHandle) {
        path.clear();
        return true;
    }
    auto handle = handles_.find(hKey);
    if (handle == handles_.end()) {
        ADD_FAILURE() << "a registry function got key handle " << hKey << ", which is not open";
        return false;
    }
    path = handle->second;
    return true;
}

HANDLE FakeMonitorRegistry::NewHandle(const std::wstring& path) {
    HANDLE hKey = reinterpret_cast<HANDLE>(nextHandle_);
    nextHandle_ += 4;
    handles_[hKey] = path;
    return hKey;
}

LONG WINAPI FakeMonitorRegistry::CreateKey(HANDLE hcKey, LPCWSTR pszSubKey, DWORD, REGSAM,
                                           PSECURITY_ATTRIBUTES, PHANDLE phckResult, PDWORD pdwDisposition,
                                           HANDLE hSpooler) {
    FakeMonitorRegistry* fake = nullptr;
    std::wstring path;
    if (LONG code = Resolve(hSpooler, hcKey, "CreateKey", fake, path); code != ERROR_SUCCESS) {
        return code;
    }
    Key* key = fake->FindKey(path);
    if (key == nullptr) {
        return ERROR_KEY_DELETED;
    }
    bool created = false;
    for (const std::wstring& part : SplitPath(pszSubKey)) {
        created = key->subKeys.find(part) == key->subKeys.end();
        key = &key->subKeys[part];
        path = JoinKeyPath(path, part);
    }
    *phckResult = fake->NewHandle(path);
    if (pdwDisposition != nullptr) {
        *pdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return ERROR_SUCCESS;
}

LONG WINAPI FakeMonitorRegistry::OpenKey(HANDLE hcKey, LPCWSTR pszSubKey, REGSAM, PHANDLE phkResult,
                                         HANDLE hSpooler) {
    FakeMonitorRegistry* fake = nullptr;
    std::wstring path;
    if (LONG code = Resolve(hSpooler, hcKey, "OpenKey", fake, path); code != ERROR_SUCCESS) {
        return code;
    }
    path = JoinKeyPath(path, pszSubKey);
    if (fake->FindKey(path) == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    *phkResult = fake->NewHandle(path);
    return ERROR_SUCCESS;
}

LONG WINAPI FakeMonitorRegistry::CloseKey(HANDLE hcKey, HANDLE hSpooler) {
    FakeMonitorRegistry* fake = FromSpooler(hSpooler);
    if (fake == nullptr || fake->handles_.erase(hcKey) == 0) {
        ADD_FAILURE() << "CloseKey of key handle " << hcKey << ", which is not open";
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}

// Like RegDeleteKeyW: a key that still has subkeys stays.
LONG WINAPI FakeMonitorRegistry::DeleteKey(HANDLE hcKey, LPCWSTR pszSubKey, HANDLE hSpooler) {
    FakeMonitorRegistry* fake = nullptr;
    std::wstring path;
    if (LONG code = Resolve(hSpooler, hcKey, "DeleteKey", fake, path); code != ERROR_SUCCESS) {
        return code;
    }
    Key* parent = fake->FindKey(path);
    std::vector<std::wstring> parts = SplitPath(pszSubKey);
    for (size_t i = 0; parent != nullptr && i + 1 < parts.size(); ++i) {
        auto child = parent->subKeys.find(parts[i]);
        parent = child == parent->subKeys.end() ? nullptr : &child->second;
    }
    if (parent == nullptr || parts.empty()) {
        return ERROR_FILE_NOT_FOUND;
    }
    auto key = parent->subKeys.find(parts.back());
    if (key == parent->subKeys.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (!key->second.subKeys.empty()) {
        return ERROR_ACCESS_DENIED;
    }
    parent->subKeys.erase(key);
    return ERROR_SUCCESS;
}

LONG WINAPI FakeMonitorRegistry::EnumKey(HANDLE hcKey, DWORD dwIndex, LPWSTR pszName, PDWORD pcchName,
                                         PFILETIME, HANDLE hSpooler) {
    FakeMonitorRegistry* fake = nullptr;
    std::wstring path;
    if (LONG code = Resolve(hSpooler, hcKey, "EnumKey", fake, path); code != ERROR_SUCCESS) {
        return code;
    }
    Key* key = fake->FindKey(path);
    if (key == nullptr) {
        return ERROR_KEY_DELETED;
    }
    if (dwIndex >= key->subKeys.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    auto entry = key->subKeys.begin();
    std::advance(entry, dwIndex);
    const std::wstring& name = entry->first;
    if (*pcchName <= name.size()) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(pszName, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    *pcchName = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

LONG WINAPI FakeMonitorRegistry::QueryInfoKey(HANDLE hcKey, PDWORD pcSubKeys, PDWORD pcbKey, PDWORD pcValues,
                                              PDWORD pcbValue, PDWORD pcbData, PDWORD pcbSecurityDescriptor,
                                              PFILETIME pftLastWriteTime, HANDLE hSpooler) {
    FakeMonitorRegistry* fake = nullptr;
    std::wstring path;
    if (LONG code = Resolve(hSpooler, hcKey, "QueryInfoKey", fake, path); code != ERROR_SUCCESS) {
        return code;
    }
    const Key* key = fake->FindKey(path);
    if (key == nullptr) {
        return ERROR_KEY_DELETED;
    }
    DWORD* const counts[] = {pcSubKeys, pcbKey, pcValues, pcbValue, pcbData, pcbSecurityDescriptor};
    for (DWORD* count : counts) {
        if (count != nullptr) {
            *count = 0;
        }
    }
    if (pcSubKeys != nullptr) {
        *pcSubKeys = static_cast<DWORD>(key->subKeys.size());
    }
    if (pcValues != nullptr) {
        *pcValues = static_cast<DWORD>(key->values.size());
    }
    if (pftLastWriteTime != nullptr) {
        *pftLastWriteTime = FILETIME{};
    }
    return ERROR_SUCCESS;
}

LONG WINAPI FakeMonitorRegistry::SetValue(HANDLE, LPCWSTR, DWORD, const BYTE*, DWORD, HANDLE) {
    ADD_FAILURE() << "the monitor wrote a registry value; the fake does not model SetValue";
    return ERROR_CALL_NOT_IMPLEMENTED;
}

LONG WINAPI FakeMonitorRegistry::DeleteValue(HANDLE, LPCWSTR, HANDLE) {
    ADD_FAILURE() << "the monitor deleted a registry value; the fake does not model DeleteValue";
    return ERROR_CALL_NOT_IMPLEMENTED;
}

LONG WINAPI FakeMonitorRegistry::EnumValue(HANDLE, DWORD, LPWSTR, PDWORD, PDWORD, PBYTE, PDWORD, HANDLE) {
    ADD_FAILURE() << "the monitor enumerated registry values; the fake does not model EnumValue";
    return ERROR_CALL_NOT_IMPLEMENTED;
}

LONG WINAPI FakeMonitorRegistry::QueryValue(HANDLE hcKey, LPCWSTR pszValue, PDWORD pType, PBYTE pData,
                                            PDWORD pcbData, HANDLE hSpooler) {
    FakeMonitorRegistry* fake = nullptr;
    std::wstring path;
    if (LONG code = Resolve(hSpooler, hcKey, "QueryValue", fake, path); code != ERROR_SUCCESS) {
        return code;
    }
    const Key* key = fake->FindKey(path);
    if (key == nullptr) {
        return ERROR_KEY_DELETED;
    }
    auto value = key->values.find(pszValue != nullptr ? pszValue : L"");
    if (value == key->values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const std::vector<BYTE>& data = value->second.data;
    if (pType != nullptr) {
        *pType = value->second.type;
    }
    if (pData != nullptr && *pcbData < data.size()) {
        *pcbData = static_cast<DWORD>(data.size());
        return ERROR_MORE_DATA;
    }
    if (pData != nullptr) {
        std::memcpy(pData, data.data(), data.size());
    }
    *pcbData = static_cast<DWORD>(data.size());
    return ERROR_SUCCESS;
}

// ---- UnimplementedMonitorRegistry ----

UnimplementedMonitorRegistry::UnimplementedMonitorRegistry()
    : functions_{sizeof(MONITORREG), CreateKey, OpenKey,     CloseKey,  DeleteKey, EnumKey,
                 QueryInfoKey,       SetValue,  DeleteValue, EnumValue, QueryValue} {}

MONITORINIT UnimplementedMonitorRegistry::MonitorInit() {
    MONITORINIT init{};
    init.cbSize = sizeof(MONITORINIT);
    init.hSpooler = this;
    init.hckRegistryRoot = kRootHandle;
    init.pMonitorReg = &functions_;
    init.bLocal = TRUE;
    return init;
}

LONG UnimplementedMonitorRegistry::Answer(HANDLE hSpooler) {
    ++static_cast<UnimplementedMonitorRegistry*>(hSpooler)->calls_;
    return ERROR_CALL_NOT_IMPLEMENTED;
}

LONG WINAPI UnimplementedMonitorRegistry::CreateKey(HANDLE, LPCWSTR, DWORD, REGSAM, PSECURITY_ATTRIBUTES,
                                                    PHANDLE, PDWORD, HANDLE hSpooler) {
    return Answer(hSpooler);
}
LONG WINAPI UnimplementedMonitorRegistry::OpenKey(HANDLE, LPCWSTR, REGSAM, PHANDLE, HANDLE hSpooler) {
    return Answer(hSpooler);
}
LONG WINAPI UnimplementedMonitorRegistry::CloseKey(HANDLE, HANDLE hSpooler) { return Answer(hSpooler); }
LONG WINAPI UnimplementedMonitorRegistry::DeleteKey(HANDLE, LPCWSTR, HANDLE hSpooler) {
    return Answer(hSpooler);
}
LONG WINAPI UnimplementedMonitorRegistry::EnumKey(HANDLE, DWORD, LPWSTR, PDWORD, PFILETIME, HANDLE hSpooler) {
    return Answer(hSpooler);
}
LONG WINAPI UnimplementedMonitorRegistry::QueryInfoKey(HANDLE, PDWORD, PDWORD, PDWORD, PDWORD, PDWORD, PDWORD,
                                                       PFILETIME, HANDLE hSpooler) {
    return Answer(hSpooler);
}
LONG WINAPI UnimplementedMonitorRegistry::SetValue(HANDLE, LPCWSTR, DWORD, const BYTE*, DWORD,
                                                   HANDLE hSpooler) {
    return Answer(hSpooler);
}
LONG WINAPI UnimplementedMonitorRegistry::DeleteValue(HANDLE, LPCWSTR, HANDLE hSpooler) {
    return Answer(hSpooler);
}
LONG WINAPI UnimplementedMonitorRegistry::EnumValue(HANDLE, DWORD, LPWSTR, PDWORD, PDWORD, PBYTE, PDWORD,
                                                    HANDLE hSpooler) {
    return Answer(hSpooler);
}
LONG WINAPI UnimplementedMonitorRegistry::QueryValue(HANDLE, LPCWSTR, PDWORD, PBYTE, PDWORD,
                                                     HANDLE hSpooler) {
    return Answer(hSpooler);
}
