#include "engine/wicfactory.h"

#include <initguid.h>  // defines WIC's class and format IDs here, not in an import library

#include <wincodec.h>

#include "platform/systemlibrary.h"

namespace engine {

namespace {

SystemLibrary ole32Library{L"ole32.dll"};
SystemLibrary wicLibrary{L"windowscodecs.dll"};

HRESULT LastErrorResult() {
    DWORD dwError = ::GetLastError();
    return dwError != ERROR_SUCCESS ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}

}  // namespace

ComScope::~ComScope() {
    if (uninitialize_ != nullptr) {
        uninitialize_();
    }
}

HRESULT ComScope::Enter() {
    auto initialize = ole32Library.Bind<HRESULT WINAPI(LPVOID, DWORD)>("CoInitializeEx");
    auto uninitialize = ole32Library.Bind<void WINAPI()>("CoUninitialize");
    if (initialize == nullptr || uninitialize == nullptr) {
        return LastErrorResult();
    }
    HRESULT hr = initialize(nullptr, COINIT_MULTITHREADED);
    if (hr == RPC_E_CHANGED_MODE) {
        return S_OK;  // the thread is a single-threaded apartment already, which WIC serves too
    }
    if (SUCCEEDED(hr)) {
        uninitialize_ = uninitialize;
    }
    return hr;
}

HRESULT CreateImagingFactory(Microsoft::WRL::ComPtr<IWICImagingFactory>& factory) {
    auto getClassObject = wicLibrary.Bind<HRESULT WINAPI(REFCLSID, REFIID, void**)>("DllGetClassObject");
    if (getClassObject == nullptr) {
        return LastErrorResult();
    }
    Microsoft::WRL::ComPtr<IClassFactory> classFactory;
    HRESULT hr = getClassObject(CLSID_WICImagingFactory, __uuidof(IClassFactory),
                                reinterpret_cast<void**>(classFactory.GetAddressOf()));
    if (FAILED(hr)) {
        return hr;
    }
    return classFactory->CreateInstance(nullptr, __uuidof(IWICImagingFactory),
                                        reinterpret_cast<void**>(factory.GetAddressOf()));
}

HRESULT CreateMemoryStream(Microsoft::WRL::ComPtr<IStream>& stream) {
    auto create = ole32Library.Bind<HRESULT WINAPI(HGLOBAL, BOOL, LPSTREAM*)>("CreateStreamOnHGlobal");
    if (create == nullptr) {
        return LastErrorResult();
    }
    return create(nullptr, TRUE, stream.ReleaseAndGetAddressOf());
}

}  // namespace engine
