// queldac.dll: the product library. A stand-alone installation copies it
// beside the port monitor; the installation itself calls nothing in it.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved) {
    (void)hInstance;
    (void)dwReason;
    (void)pReserved;
    return TRUE;
}
