// What each filter DLL gives the COM server in filtermodule.cpp: its class ID
// and its filter object, and the count of live objects for DllCanUnloadNow.
#pragma once

#include <new>

#include <wrl/client.h>

#include "driver/filters/filterpipeline.h"

// The DLL's one filter class, and a new object of it (null when out of memory).
extern const CLSID kFilterClassId;
IPrintPipelineFilter* CreateFilter();

// The DLL's count of live objects and server locks, for DllCanUnloadNow.
void LockModule();
void UnlockModule();

// The reader and writer the pipeline configuration names for a filter, each
// asked for the interface the filter expects: that checks the configuration.
template <typename Reader, typename Writer>
HRESULT RequestReaderAndWriter(IInterFilterCommunicator* negotiation, REFIID readerId,
                               Microsoft::WRL::ComPtr<Reader>& reader, REFIID writerId,
                               Microsoft::WRL::ComPtr<Writer>& writer) {
    Microsoft::WRL::ComPtr<IUnknown> readerObject, writerObject;
    HRESULT hr = negotiation->RequestReader(reinterpret_cast<void**>(readerObject.GetAddressOf()));
    if (SUCCEEDED(hr))
        hr = readerObject ? readerObject->QueryInterface(
                                readerId, reinterpret_cast<void**>(reader.ReleaseAndGetAddressOf()))
                          : E_NOINTERFACE;
    if (SUCCEEDED(hr))
        hr = negotiation->RequestWriter(reinterpret_cast<void**>(writerObject.GetAddressOf()));
    if (SUCCEEDED(hr))
        hr = writerObject ? writerObject->QueryInterface(
                                writerId, reinterpret_cast<void**>(writer.ReleaseAndGetAddressOf()))
                          : E_NOINTERFACE;
    if (FAILED(hr)) {
        reader.Reset();
        writer.Reset();
    }
    return hr;
}

// Runs a filter's operation; what it throws ends the operation as failed
// instead of crossing the pipeline's COM boundary.
template <typename Work>
HRESULT RunOperation(Work work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}
