// The simulated machine's setupapi.
#include "tests/sim/sim_binding.h"

using namespace sim;

namespace sys {

HINF WINAPI SetupOpenInfFileW(PCWSTR, PCWSTR, DWORD, PUINT) {
    return Unmodeled("SetupOpenInfFileW", INVALID_HANDLE_VALUE);
}
BOOL WINAPI SetupSetDirectoryIdW(HINF, DWORD, PCWSTR) { return Unmodeled("SetupSetDirectoryIdW", FALSE); }
HSPFILEQ WINAPI SetupOpenFileQueue() { return Unmodeled("SetupOpenFileQueue", INVALID_HANDLE_VALUE); }
PVOID WINAPI SetupInitDefaultQueueCallbackEx(HWND, HWND, UINT, DWORD, PVOID) {
    return Unmodeled("SetupInitDefaultQueueCallbackEx", PVOID{});
}
BOOL WINAPI SetupInstallFilesFromInfSectionW(HINF, HINF, HSPFILEQ, PCWSTR, PCWSTR, UINT) {
    return Unmodeled("SetupInstallFilesFromInfSectionW", FALSE);
}
UINT WINAPI SetupDefaultQueueCallbackW(PVOID, UINT, UINT_PTR, UINT_PTR) {
    return Unmodeled("SetupDefaultQueueCallbackW", UINT{FILEOP_ABORT});
}
BOOL WINAPI SetupCommitFileQueueW(HWND, HSPFILEQ, PSP_FILE_CALLBACK_W, PVOID) {
    return Unmodeled("SetupCommitFileQueueW", FALSE);
}
void WINAPI SetupTermDefaultQueueCallback(PVOID) { Unmodeled("SetupTermDefaultQueueCallback", 0); }
BOOL WINAPI SetupCloseFileQueue(HSPFILEQ) { return Unmodeled("SetupCloseFileQueue", FALSE); }
void WINAPI SetupCloseInfFile(HINF) { Unmodeled("SetupCloseInfFile", 0); }

}  // namespace sys
