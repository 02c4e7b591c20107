#include "monitor/portstore.h"

const wchar_t PortStore::kPortsKey[] = L"Ports";
const wchar_t PortStore::kOutputFolderValue[] = L"OutputFolder";

DWORD PortStore::CheckPortName(const std::wstring& portName) {
    if (portName.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    if (portName.size() > kMaxPortNameLength || portName.find_first_of(L"\\,") != std::wstring::npos) {
        return ERROR_INVALID_NAME;
    }
    return ERROR_SUCCESS;
}

DWORD PortStore::Add(const std::wstring& portName) const {
    DWORD dwError = CheckPortName(portName);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    RegistryKey ports;
    LONG lResult = registry_.CreateKey(registry_.Root(), kPortsKey, ports);
    if (lResult != ERROR_SUCCESS) {
        return static_cast<DWORD>(lResult);
    }
    RegistryKey port;
    return static_cast<DWORD>(registry_.CreateKey(ports.Get(), portName.c_str(), port));
}

DWORD PortStore::Remove(const std::wstring& portName) const {
    DWORD dwError = CheckPortName(portName);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    RegistryKey ports;
    LONG lResult = registry_.OpenKey(registry_.Root(), kPortsKey, KEY_ALL_ACCESS, ports);
    if (lResult == ERROR_SUCCESS) {
        lResult = registry_.DeleteKey(ports.Get(), portName.c_str());
    }
    return lResult == ERROR_FILE_NOT_FOUND ? ERROR_UNKNOWN_PORT : static_cast<DWORD>(lResult);
}

DWORD PortStore::Exists(const std::wstring& portName, bool& exists) const {
    exists = false;
    RegistryKey port;
    DWORD dwError = OpenPort(portName, port);
    if (dwError == ERROR_UNKNOWN_PORT) {
        return ERROR_SUCCESS;
    }
    exists = dwError == ERROR_SUCCESS;
    return dwError;
}

DWORD PortStore::List(std::vector<std::wstring>& portNames) const {
    portNames.clear();
    RegistryKey ports;
    LONG lResult = registry_.OpenKey(registry_.Root(), kPortsKey, KEY_READ, ports);
    if (lResult == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;  // no port was ever added
    }
    for (DWORD dwIndex = 0; lResult == ERROR_SUCCESS; ++dwIndex) {
        std::wstring portName;
        lResult = registry_.EnumKey(ports.Get(), dwIndex, portName);
        if (lResult == ERROR_SUCCESS) {
            portNames.push_back(portName);
        }
    }
    return lResult == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : static_cast<DWORD>(lResult);
}

DWORD PortStore::ReadOutputFolder(const std::wstring& portName, std::wstring& folder) const {
    folder.clear();
    RegistryKey port;
    DWORD dwError = OpenPort(portName, port);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    LONG lResult = registry_.QueryString(port.Get(), kOutputFolderValue, folder);
    return lResult == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(lResult);
}

DWORD PortStore::OpenPort(const std::wstring& portName, RegistryKey& port) const {
    DWORD dwError = CheckPortName(portName);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    RegistryKey ports;
    LONG lResult = registry_.OpenKey(registry_.Root(), kPortsKey, KEY_READ, ports);
    if (lResult == ERROR_SUCCESS) {
        lResult = registry_.OpenKey(ports.Get(), portName.c_str(), KEY_READ, port);
    }
    return lResult == ERROR_FILE_NOT_FOUND ? ERROR_UNKNOWN_PORT : static_cast<DWORD>(lResult);
}
