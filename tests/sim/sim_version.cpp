// The simulated machine's version.dll: version resources are read from the
// real files.
#include "tests/sim/sim_binding.h"

using namespace sim;

namespace sys {

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle) {
    if (Enter("GetFileVersionInfoSizeW", {SimText(lptstrFilename)}) ||
        OutsideRoot("GetFileVersionInfoSizeW", lptstrFilename)) {
        return 0;
    }
    return ::GetFileVersionInfoSizeW(lptstrFilename, lpdwHandle);
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData) {
    if (Enter("GetFileVersionInfoW", {SimText(lptstrFilename), SimNumber(dwHandle), SimNumber(dwLen)}) ||
        OutsideRoot("GetFileVersionInfoW", lptstrFilename)) {
        return FALSE;
    }
    return ::GetFileVersionInfoW(lptstrFilename, dwHandle, dwLen, lpData);
}

BOOL WINAPI VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
    if (Enter("VerQueryValueW", {SimText(lpSubBlock)})) {
        return FALSE;
    }
    return ::VerQueryValueW(pBlock, lpSubBlock, lplpBuffer, puLen);
}

}  // namespace sys
