// In-memory stand-ins for the registry functions (MONITORREG) that the
// spooler hands a port monitor.
//
// FakeMonitorRegistry models the spooler's registry as Windows has it: a
// tree of keys with values, names compared without regard to case, keys
// reached through handles. The spooler handle the monitor passes back on
// every call leads to the fake, so a call that loses it fails the test. It
// counts open handles, so a test can check that every key the monitor opened
// it also closed, and it has a fault table: a function can be made to answer
// a given code. A function the monitor is not expected to use fails the test.
//
// UnimplementedMonitorRegistry answers every function with
// ERROR_CALL_NOT_IMPLEMENTED, as Wine's spooler does, and counts the calls.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <windows.h>
#include <winsplp.h>
#include <winspool.h>

struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return ::lstrcmpiW(a.c_str(), b.c_str()) < 0;
    }
};

class FakeMonitorRegistry {
public:
    FakeMonitorRegistry();
    FakeMonitorRegistry(const FakeMonitorRegistry&) = delete;
    FakeMonitorRegistry& operator=(const FakeMonitorRegistry&) = delete;

    // A MONITORINIT that hands these functions and the root to a monitor.
    MONITORINIT MonitorInit();

    // Seeding and inspection; paths are relative to the monitor's root,
    // such as L"Ports\\ZorvanePort".
    void SetString(const std::wstring& keyPath, const std::wstring& valueName, const std::wstring& value);
    bool HasKey(const std::wstring& keyPath) const;
    std::vector<std::wstring> SubKeys(const std::wstring& keyPath) const;
    size_t OpenHandles() const { return handles_.size(); }

    // From now on the named function ("CreateKey", "EnumKey", ...) answers
    // the code instead of doing its work.
    void Fail(const std::string& function, LONG code) { faults_[function] = code; }

private:
    struct Value {
        DWORD type;
        std::vector<BYTE> data;
    };
    struct Key {
        std::map<std::wstring, Key, NoCaseLess> subKeys;
        std::map<std::wstring, Value, NoCaseLess> values;
    };

    static FakeMonitorRegistry* FromSpooler(HANDLE hSpooler);
    bool Faulted(const char* function, LONG& code) const;
    Key* FindKey(const std::wstring& path);
    const Key* FindKey(const std::wstring& path) const;
    bool PathOf(HANDLE hKey, std::wstring& path) const;
    // The fake and the key path a call names, or the code the call answers
    // with instead (a bad handle, an injected fault).
    static LONG Resolve(HANDLE hSpooler, HANDLE hcKey, const char* function, FakeMonitorRegistry*& fake,
                        std::wstring& path);
    HANDLE NewHandle(const std::wstring& path);

    static LONG WINAPI CreateKey(HANDLE hcKey, LPCWSTR pszSubKey, DWORD dwOptions, REGSAM samDesired,
                                 PSECURITY_ATTRIBUTES pSecurityAttributes, PHANDLE phckResult,
                                 PDWORD pdwDisposition, HANDLE hSpooler);
    static LONG WINAPI OpenKey(HANDLE hcKey, LPCWSTR pszSubKey, REGSAM samDesired, PHANDLE phkResult,
                               HANDLE hSpooler);
    static LONG WINAPI CloseKey(HANDLE hcKey, HANDLE hSpooler);
    static LONG WINAPI DeleteKey(HANDLE hcKey, LPCWSTR pszSubKey, HANDLE hSpooler);
    static LONG WINAPI EnumKey(HANDLE hcKey, DWORD dwIndex, LPWSTR pszName, PDWORD pcchName,
                               PFILETIME pftLastWriteTime, HANDLE hSpooler);
    static LONG WINAPI QueryInfoKey(HANDLE hcKey, PDWORD pcSubKeys, PDWORD pcbKey, PDWORD pcValues,
                                    PDWORD pcbValue, PDWORD pcbData, PDWORD pcbSecurityDescriptor,
                                    PFILETIME pftLastWriteTime, HANDLE hSpooler);
    static LONG WINAPI SetValue(HANDLE hcKey, LPCWSTR pszValue, DWORD dwType, const BYTE* pData, DWORD cbData,
                                HANDLE hSpooler);
    static LONG WINAPI DeleteValue(HANDLE hcKey, LPCWSTR pszValue, HANDLE hSpooler);
    static LONG WINAPI EnumValue(HANDLE hcKey, DWORD dwIndex, LPWSTR pszValue, PDWORD pcbValue, PDWORD pType,
                                 PBYTE pData, PDWORD pcbData, HANDLE hSpooler);
    static LONG WINAPI QueryValue(HANDLE hcKey, LPCWSTR pszValue, PDWORD pType, PBYTE pData, PDWORD pcbData,
                                  HANDLE hSpooler);

    static constexpr DWORD kMagic = 0x46414B45;  // "FAKE"
    DWORD magic_ = kMagic;
    MONITORREG functions_;
    Key root_;
    // Open handles and the key paths they stand for; the root is not among them.
    std::map<HANDLE, std::wstring> handles_;
    UINT_PTR nextHandle_ = 0x1000;
    std::map<std::string, LONG> faults_;
};

class UnimplementedMonitorRegistry {
public:
    UnimplementedMonitorRegistry();
    UnimplementedMonitorRegistry(const UnimplementedMonitorRegistry&) = delete;
    UnimplementedMonitorRegistry& operator=(const UnimplementedMonitorRegistry&) = delete;

    MONITORINIT MonitorInit();
    int Calls() const { return calls_; }

private:
    static LONG Answer(HANDLE hSpooler);
    static LONG WINAPI CreateKey(HANDLE, LPCWSTR, DWORD, REGSAM, PSECURITY_ATTRIBUTES, PHANDLE, PDWORD,
                                 HANDLE hSpooler);
    static LONG WINAPI OpenKey(HANDLE, LPCWSTR, REGSAM, PHANDLE, HANDLE hSpooler);
    static LONG WINAPI CloseKey(HANDLE, HANDLE hSpooler);
    static LONG WINAPI DeleteKey(HANDLE, LPCWSTR, HANDLE hSpooler);
    static LONG WINAPI EnumKey(HANDLE, DWORD, LPWSTR, PDWORD, PFILETIME, HANDLE hSpooler);
    static LONG WINAPI QueryInfoKey(HANDLE, PDWORD, PDWORD, PDWORD, PDWORD, PDWORD, PDWORD, PFILETIME,
                                    HANDLE hSpooler);
    static LONG WINAPI SetValue(HANDLE, LPCWSTR, DWORD, const BYTE*, DWORD, HANDLE hSpooler);
    static LONG WINAPI DeleteValue(HANDLE, LPCWSTR, HANDLE hSpooler);
    static LONG WINAPI EnumValue(HANDLE, DWORD, LPWSTR, PDWORD, PDWORD, PBYTE, PDWORD, HANDLE hSpooler);
    static LONG WINAPI QueryValue(HANDLE, LPCWSTR, PDWORD, PBYTE, PDWORD, HANDLE hSpooler);

    MONITORREG functions_;
    int calls_ = 0;
};
