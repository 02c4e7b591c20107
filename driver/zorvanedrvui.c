// The user-interface DLL of the Zorvane Creator driver. Unidrv's own UI
// (unidrvui.dll) draws the property sheets; this DLL carries the display names
// of the driver's own features (the string ids that zorvanenames.gpd gives)
// and the version resource from which the installer takes the driver version.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
