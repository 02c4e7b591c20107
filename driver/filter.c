// One XPS filter of the Zorvane Creator driver (zorvanebook.dll, zorvanenup.dll,
// zorvanescale.dll, zorvanewmark.dll are built from this file). The filter
// pipeline manager loads the DLL that zorvane-pipelineconfig.xml names and asks
// DllGetClassObject for the filter's class. This release ships no filter object,
// so the DLL answers as a DLL without that class does: the pipeline manager then
// fails the job cleanly instead of calling into code that is not there.
#include <objbase.h>
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID interfaceId, void** object) {
    (void)classId;
    (void)interfaceId;
    if (object == NULL) {
        return E_POINTER;
    }
    *object = NULL;
    return CLASS_E_CLASSNOTAVAILABLE;
}

// No object is ever handed out, so nothing keeps the DLL loaded.
__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow(void) { return S_OK; }
