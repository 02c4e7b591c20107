// The simulated machine's version.
#include "tests/sim/sim_binding.h"

using namespace sim;

namespace sys {

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD) {
    return Unmodeled("GetFileVersionInfoSizeW", DWORD{0});
}
BOOL WINAPI GetFileVersionInfoW(LPCWSTR, DWORD, DWORD, LPVOID) {
    return Unmodeled("GetFileVersionInfoW", FALSE);
}
BOOL WINAPI VerQueryValueW(LPCVOID, LPCWSTR, LPVOID*, PUINT) { return Unmodeled("VerQueryValueW", FALSE); }

}  // namespace sys
