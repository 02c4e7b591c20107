// XcvSession: the monitor's configuration channel, opened by the spooler's
// XcvOpenPort for OpenPrinterW(",XcvMonitor <monitor>") or
// OpenPrinterW(",XcvPort <port>"), and the data calls it answers (XcvDataW):
//
//   "AddPort"     input: the port name, UTF-16 with its terminating zero.
//                 Creates the port; ERROR_SUCCESS also when it exists already.
//                 Needs SERVER_ACCESS_ADMINISTER.
//   "DeletePort"  input: the port name. Removes it; ERROR_UNKNOWN_PORT when it
//                 is not there. Needs SERVER_ACCESS_ADMINISTER.
//   "PortExists"  input: the port name; output: a DWORD, 1 when the port
//                 exists, 0 when not (ERROR_INSUFFICIENT_BUFFER and the size
//                 needed for a smaller output buffer).
//
// An unknown data name gets ERROR_INVALID_PARAMETER; missing access
// ERROR_ACCESS_DENIED. Input that is not a name (no buffer, or an empty name)
// gets ERROR_INVALID_PARAMETER; input that is not UTF-16 text ending in a
// zero within the given byte count (odd count, no terminator) gets
// ERROR_INVALID_DATA; a name no port can have gets ERROR_INVALID_NAME.
#pragma once

#include <windows.h>

#include "monitor/portstore.h"

class XcvSession {
public:
    static constexpr DWORD kSignature = 0x20564358;  // "XCV "

    XcvSession(const PortStore& ports, ACCESS_MASK grantedAccess)
        : ports_(ports), grantedAccess_(grantedAccess) {}
    XcvSession(const XcvSession&) = delete;
    XcvSession& operator=(const XcvSession&) = delete;

    bool HasSignature() const { return signature_ == kSignature; }

    // The status of the data call, as XcvDataPort answers it.
    DWORD Transceive(const wchar_t* pszDataName, const BYTE* pInputData, DWORD cbInputData, BYTE* pOutputData,
                     DWORD cbOutputData, DWORD* pcbOutputNeeded) const;

private:
    DWORD signature_ = kSignature;
    const PortStore& ports_;
    ACCESS_MASK grantedAccess_;
};
