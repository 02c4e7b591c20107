#include "monitor/xcvsession.h"

#include <cstring>
#include <string>

namespace {

struct XcvRequest {
    const BYTE* pInput;
    DWORD cbInput;
    BYTE* pOutput;
    DWORD cbOutput;
    DWORD* pcbOutputNeeded;
};

// The port name in a request's input, read without looking past cbInput.
DWORD ReadPortName(const XcvRequest& request, std::wstring& portName) {
    if (request.pInput == nullptr || request.cbInput == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    if (request.cbInput % sizeof(wchar_t) != 0) {
        return ERROR_INVALID_DATA;
    }
    std::wstring name;
    for (DWORD dwOffset = 0; dwOffset < request.cbInput; dwOffset += sizeof(wchar_t)) {
        wchar_t c;
        std::memcpy(&c, request.pInput + dwOffset, sizeof(c));  // the input need not be aligned
        if (c == L'\0') {
            if (name.empty()) {
                return ERROR_INVALID_PARAMETER;
            }
            portName = name;
            return ERROR_SUCCESS;
        }
        name.push_back(c);
    }
    return ERROR_INVALID_DATA;  // no terminator within cbInput
}

DWORD AddPort(const PortStore& ports, const XcvRequest& request) {
    std::wstring portName;
    DWORD dwError = ReadPortName(request, portName);
    return dwError != ERROR_SUCCESS ? dwError : ports.Add(portName);
}

DWORD DeletePort(const PortStore& ports, const XcvRequest& request) {
    std::wstring portName;
    DWORD dwError = ReadPortName(request, portName);
    return dwError != ERROR_SUCCESS ? dwError : ports.Remove(portName);
}

DWORD PortExists(const PortStore& ports, const XcvRequest& request) {
    std::wstring portName;
    DWORD dwError = ReadPortName(request, portName);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    const DWORD dwResultSize = sizeof(DWORD);
    *request.pcbOutputNeeded = dwResultSize;
    if (request.pOutput == nullptr || request.cbOutput < dwResultSize) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    bool exists = false;
    dwError = ports.Exists(portName, exists);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    DWORD dwExists = exists ? TRUE : FALSE;
    std::memcpy(request.pOutput, &dwExists, sizeof(dwExists));
    return ERROR_SUCCESS;
}

struct XcvCommand {
    const wchar_t* name;
    ACCESS_MASK requiredAccess;
    DWORD (*handler)(const PortStore& ports, const XcvRequest& request);
};

const XcvCommand kCommands[] = {
    {L"AddPort", SERVER_ACCESS_ADMINISTER, AddPort},
    {L"DeletePort", SERVER_ACCESS_ADMINISTER, DeletePort},
    {L"PortExists", 0, PortExists},
};

const XcvCommand* FindCommand(const wchar_t* pszDataName) {
    for (const XcvCommand& command : kCommands) {
        if (std::wcscmp(command.name, pszDataName) == 0) {
            return &command;
        }
    }
    return nullptr;
}

}  // namespace

DWORD XcvSession::Transceive(const wchar_t* pszDataName, const BYTE* pInputData, DWORD cbInputData,
                             BYTE* pOutputData, DWORD cbOutputData, DWORD* pcbOutputNeeded) const {
    if (pszDataName == nullptr || pcbOutputNeeded == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *pcbOutputNeeded = 0;
    const XcvCommand* command = FindCommand(pszDataName);
    if (command == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((grantedAccess_ & command->requiredAccess) != command->requiredAccess) {
        return ERROR_ACCESS_DENIED;
    }
    XcvRequest request{pInputData, cbInputData, pOutputData, cbOutputData, pcbOutputNeeded};
    return command->handler(ports_, request);
}
