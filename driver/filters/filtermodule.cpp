// The COM in-process server every filter DLL is: DllGetClassObject hands out
// a class factory for the DLL's one filter class.
#include <atomic>
#include <new>

#include <objbase.h>
#include <windows.h>

#include "driver/filters/comptr.h"
#include "driver/filters/filtermodule.h"

namespace {

std::atomic<long> g_moduleReferences{0};

class FilterClassFactory final : public ComObject<IClassFactory, &IID_IClassFactory> {
public:
    FilterClassFactory() { LockModule(); }
    ~FilterClassFactory() { UnlockModule(); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (pOuter != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        IPrintPipelineFilter* filter = CreateFilter();
        if (filter == nullptr) {
            return E_OUTOFMEMORY;
        }
        HRESULT hr = filter->QueryInterface(riid, ppv);
        filter->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override {
        if (fLock) {
            LockModule();
        } else {
            UnlockModule();
        }
        return S_OK;
    }
};

}  // namespace

void LockModule() { ++g_moduleReferences; }
void UnlockModule() { --g_moduleReferences; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, kFilterClassId)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    FilterClassFactory* factory = new (std::nothrow) FilterClassFactory();
    if (factory == nullptr) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return g_moduleReferences == 0 ? S_OK : S_FALSE;
}
