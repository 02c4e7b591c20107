// MonitorRegistry: the registry the monitor keeps its ports in, and
// RegistryKey, a key opened through it.
//
// The spooler hands InitializePrintMonitor2 registry functions of its own
// (MONITORREG), rooted at the monitor's key, so that a clustered spooler can
// keep the monitor's data with the cluster. Where those functions do not work
// (Wine answers every one with ERROR_CALL_NOT_IMPLEMENTED and closes the root
// after initialisation), the same calls go to advapi32 under the key the
// spooler gives a monitor on a plain machine:
// HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors\<monitor name>.
// Wine looks for a port's monitor there too (its Ports\<port> subkey).
#pragma once

#include <memory>
#include <string>

#include <windows.h>
#include <winsplp.h>
#include <winspool.h>

#include "platform/handles.h"

class MonitorRegistry;

// A key opened through a MonitorRegistry; closed through it when the owner
// goes out of scope.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() { Reset(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HANDLE Get() const { return handle_; }
    void Reset();

private:
    friend class MonitorRegistry;
    void Assign(const MonitorRegistry& registry, HANDLE handle);

    const MonitorRegistry* registry_ = nullptr;
    HANDLE handle_ = nullptr;
};

class MonitorRegistry {
public:
    // The monitor's own key on a machine whose spooler registry functions
    // do not work.
    static const wchar_t kOwnRootPath[];

    // Decides, once for the monitor's lifetime, which registry to use: the
    // spooler's when its functions answer a harmless query on the root, else
    // the monitor's own key. Fails only when neither can be had.
    static DWORD Open(const MONITORINIT& init, std::unique_ptr<MonitorRegistry>& registry);
    // Calls go to the given functions, rooted at root; ownRoot, when set, is
    // the same root as a key of this object's own.
    MonitorRegistry(const MONITORREG& functions, HANDLE root, HANDLE spooler, RegistryKeyHandle ownRoot);
    ~MonitorRegistry();
    MonitorRegistry(const MonitorRegistry&) = delete;
    MonitorRegistry& operator=(const MonitorRegistry&) = delete;

    HANDLE Root() const { return root_; }

    // Each returns the registry's own result code (ERROR_FILE_NOT_FOUND for
    // a key or value that is not there).
    LONG CreateKey(HANDLE parent, const wchar_t* subKey, RegistryKey& key) const;
    LONG OpenKey(HANDLE parent, const wchar_t* subKey, REGSAM access, RegistryKey& key) const;
    LONG DeleteKey(HANDLE parent, const wchar_t* subKey) const;
    // The name of the index-th subkey; ERROR_NO_MORE_ITEMS past the last.
    LONG EnumKey(HANDLE key, DWORD index, std::wstring& name) const;
    // A REG_SZ value; ERROR_INVALID_DATA for a value of another type.
    LONG QueryString(HANDLE key, const wchar_t* valueName, std::wstring& value) const;
    void CloseKey(HANDLE key) const;

private:
    MONITORREG functions_;
    HANDLE root_;
    HANDLE spooler_;
    // The root when the monitor's own key is in use; closed with this object.
    RegistryKeyHandle ownRoot_;
};
