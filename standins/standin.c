// Stand-in for one of Windows' printer driver DLLs (unidrv.dll, unires.dll,
// mxdwdrv.dll, xpssvcs.dll), for tests and the demonstration under Wine, which
// has none of them. Never shipped. A valid 32-bit DLL that loads and does
// nothing, so that whatever loads the staged driver files finds a real image.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
