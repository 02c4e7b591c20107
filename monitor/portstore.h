// PortStore: the monitor's ports, kept in its registry so that they outlive
// the spooler. Each port is a subkey Ports\<port name> of the monitor's key;
// its optional REG_SZ value "OutputFolder" names the folder its jobs go to.
#pragma once

#include <string>
#include <vector>

#include "monitor/monitorregistry.h"

class PortStore {
public:
    static const wchar_t kPortsKey[];
    static const wchar_t kOutputFolderValue[];
    // Registry key names are at most this long.
    static constexpr size_t kMaxPortNameLength = 255;

    explicit PortStore(const MonitorRegistry& registry) : registry_(registry) {}

    // ERROR_SUCCESS when the name can name a port; ERROR_INVALID_PARAMETER for
    // an empty name; ERROR_INVALID_NAME for one that is too long or holds a
    // backslash (a key separator) or a comma (the spooler's separator in
    // names such as "<port>,Port").
    static DWORD CheckPortName(const std::wstring& portName);

    // Creates the port; a port that exists already is kept as it is.
    DWORD Add(const std::wstring& portName) const;
    // ERROR_UNKNOWN_PORT when there is no such port.
    DWORD Remove(const std::wstring& portName) const;
    DWORD Exists(const std::wstring& portName, bool& exists) const;
    DWORD List(std::vector<std::wstring>& portNames) const;
    // The port's output folder, or empty when it has none of its own;
    // ERROR_UNKNOWN_PORT when there is no such port.
    DWORD ReadOutputFolder(const std::wstring& portName, std::wstring& folder) const;

private:
    DWORD OpenPort(const std::wstring& portName, RegistryKey& port) const;

    const MonitorRegistry& registry_;
};
