#include "driver/filters/xmllitelibrary.h"

#include "driver/filters/comptr.h"

#include "platform/systemlibrary.h"

#include <atomic>
#include <cstring>
#include <new>

using Microsoft::WRL::ComPtr;

namespace {

using CreateXmlReaderFunction = HRESULT STDAPICALLTYPE(REFIID, void**, IMalloc*);
using CreateXmlWriterFunction = HRESULT STDAPICALLTYPE(REFIID, void**, IMalloc*);

struct XmlLiteEntryPoints {
    HRESULT loadResult = E_FAIL;
    CreateXmlReaderFunction* createReader = nullptr;
    CreateXmlWriterFunction* createWriter = nullptr;
};

XmlLiteEntryPoints LoadXmlLite() {
    // Stays loaded for the life of the process: the filters may run many jobs.
    static SystemLibrary xmlLite{L"xmllite.dll"};
    XmlLiteEntryPoints entryPoints;
    entryPoints.createReader = xmlLite.Bind<CreateXmlReaderFunction>("CreateXmlReader");
    entryPoints.createWriter = xmlLite.Bind<CreateXmlWriterFunction>("CreateXmlWriter");
    entryPoints.loadResult = entryPoints.createReader != nullptr && entryPoints.createWriter != nullptr
                                 ? S_OK
                                 : HRESULT_FROM_WIN32(::GetLastError());
    return entryPoints;
}

// Thread-safe since C++11; the pipeline may run several filters of this DLL at once.
const XmlLiteEntryPoints& XmlLite() {
    static const XmlLiteEntryPoints entryPoints = LoadXmlLite();
    return entryPoints;
}

// ISequentialStream over bytes in memory: reads from a borrowed buffer, or
// appends to a borrowed string.
class ByteStream final : public ComObject<ISequentialStream, &IID_ISequentialStream> {
public:
    ByteStream(const std::string* input, std::string* output) : input_(input), output_(output) {}

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (input_ == nullptr) {
            return STG_E_ACCESSDENIED;
        }
        size_t available = input_->size() - position_;
        ULONG count = cb < available ? cb : static_cast<ULONG>(available);
        std::memcpy(pv, input_->data() + position_, count);
        position_ += count;
        if (pcbRead != nullptr) {
            *pcbRead = count;
        }
        return count == cb ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (output_ == nullptr) {
            return STG_E_ACCESSDENIED;
        }
        try {
            output_->append(static_cast<const char*>(pv), cb);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        if (pcbWritten != nullptr) {
            *pcbWritten = cb;
        }
        return S_OK;
    }

private:
    const std::string* input_;
    std::string* output_;
    size_t position_ = 0;
};

}  // namespace

HRESULT CreateMarkupReader(const std::string& markup, ComPtr<IXmlReader>& reader) {
    const XmlLiteEntryPoints& xmlLite = XmlLite();
    if (FAILED(xmlLite.loadResult)) {
        return xmlLite.loadResult;
    }
    HRESULT hr = xmlLite.createReader(__uuidof(IXmlReader),
                                      reinterpret_cast<void**>(reader.ReleaseAndGetAddressOf()), nullptr);
    if (FAILED(hr)) {
        return hr;
    }
    // XPS markup has no document type declaration; refusing one keeps entity
    // expansion out.
    reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    ComPtr<ISequentialStream> stream;
    stream = TakeNew(new (std::nothrow) ByteStream(&markup, nullptr));
    if (!stream) {
        return E_OUTOFMEMORY;
    }
    return reader->SetInput(stream.Get());
}

HRESULT CreateMarkupWriter(std::string* output, ComPtr<IXmlWriter>& writer) {
    const XmlLiteEntryPoints& xmlLite = XmlLite();
    if (FAILED(xmlLite.loadResult)) {
        return xmlLite.loadResult;
    }
    HRESULT hr = xmlLite.createWriter(__uuidof(IXmlWriter),
                                      reinterpret_cast<void**>(writer.ReleaseAndGetAddressOf()), nullptr);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<ISequentialStream> stream;
    stream = TakeNew(new (std::nothrow) ByteStream(nullptr, output));
    if (!stream) {
        return E_OUTOFMEMORY;
    }
    return writer->SetOutput(stream.Get());
}
