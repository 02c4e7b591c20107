#include "driver/filters/xpsfilter.h"

#include <new>
#include <string>
#include <vector>

#include "driver/filters/filtermodule.h"
#include "driver/filters/pagemarkup.h"

using Microsoft::WRL::ComPtr;

XpsFilter::XpsFilter() { LockModule(); }
XpsFilter::~XpsFilter() { UnlockModule(); }

HRESULT STDMETHODCALLTYPE XpsFilter::InitializeFilter(IInterFilterCommunicator* pINegotiation,
                                                      IPrintPipelinePropertyBag* pIPropertyBag,
                                                      IPrintPipelineManagerControl* pIPipelineControl) {
    (void)pIPropertyBag;  // the print tickets come with the parts
    if (pINegotiation == nullptr || pIPipelineControl == nullptr) {
        return E_POINTER;
    }
    HRESULT hr = RequestReaderAndWriter(pINegotiation, IID_IXpsDocumentProvider, provider_,
                                        IID_IXpsDocumentConsumer, consumer_);
    if (FAILED(hr)) {
        return hr;
    }
    control_ = pIPipelineControl;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE XpsFilter::ShutdownOperation() {
    // StartOperation looks at this before each part.
    shutdown_ = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE XpsFilter::StartOperation() {
    if (!provider_ || !consumer_) {
        return E_UNEXPECTED;
    }
    HRESULT hr = RunOperation([this] { return Run(); });
    if (FAILED(hr)) {
        control_->RequestShutdown(hr, nullptr);
        return hr;
    }
    control_->FilterFinished();
    return S_OK;
}

HRESULT XpsFilter::Run() {
    for (;;) {
        if (shutdown_) {
            return E_ABORT;
        }
        ComPtr<IUnknown> part;
        HRESULT hr = provider_->GetXpsPart(&part);
        if (FAILED(hr)) {
            return hr;
        }
        if (!part) {
            break;
        }
        hr = Dispatch(part.Get());
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (inDocument_) {
        HRESULT hr = OnDocumentEnd(true);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return consumer_->CloseSender();
}

HRESULT XpsFilter::Dispatch(IUnknown* part) {
    ComPtr<IFixedPage> page;
    if (SUCCEEDED(part->QueryInterface(IID_IFixedPage, reinterpret_cast<void**>(page.GetAddressOf())))) {
        FilterSettings pageSettings = documentSettings_;
        HRESULT hr = ApplyTicketOf(page.Get(), pageSettings);
        return FAILED(hr) ? hr : OnPage(page.Get(), pageSettings);
    }
    ComPtr<IFixedDocument> document;
    if (SUCCEEDED(
            part->QueryInterface(IID_IFixedDocument, reinterpret_cast<void**>(document.GetAddressOf())))) {
        if (inDocument_) {
            HRESULT hr = OnDocumentEnd(false);
            if (FAILED(hr)) {
                return hr;
            }
        }
        inDocument_ = true;
        documentSettings_ = jobSettings_;
        HRESULT hr = ApplyTicketOf(document.Get(), documentSettings_);
        return FAILED(hr) ? hr : OnDocument(document.Get());
    }
    ComPtr<IFixedDocumentSequence> sequence;
    if (SUCCEEDED(part->QueryInterface(IID_IFixedDocumentSequence,
                                       reinterpret_cast<void**>(sequence.GetAddressOf())))) {
        jobSettings_ = FilterSettings();
        HRESULT hr = ApplyTicketOf(sequence.Get(), jobSettings_);
        documentSettings_ = jobSettings_;
        return FAILED(hr) ? hr : consumer_->SendFixedDocumentSequence(sequence.Get());
    }
    ComPtr<IXpsDocument> package;
    if (SUCCEEDED(part->QueryInterface(IID_IXpsDocument, reinterpret_cast<void**>(package.GetAddressOf())))) {
        return consumer_->SendXpsDocument(package.Get());
    }
    return consumer_->SendXpsUnknown(part);
}

// The part's own ticket onto settings. E_ELEMENT_NOT_FOUND is the one
// answer that means "no ticket"; any other failure to get, read or parse
// the ticket fails the job, since the job would come out other than asked.
template <typename PartWithTicket>
HRESULT XpsFilter::ApplyTicketOf(PartWithTicket* part, FilterSettings& settings) {
    ComPtr<IPartPrintTicket> ticket;
    HRESULT hr = part->GetPrintTicket(&ticket);
    if (hr == E_ELEMENT_NOT_FOUND || (SUCCEEDED(hr) && !ticket)) {
        return S_OK;
    }
    std::string bytes;
    if (SUCCEEDED(hr)) {
        hr = ReadPart(ticket.Get(), bytes);
    }
    if (SUCCEEDED(hr)) {
        hr = ApplyPrintTicket(bytes.data(), bytes.size(), settings);
    }
    return hr;
}

HRESULT XpsFilter::OnPage(IFixedPage* page, const FilterSettings& settings) {
    (void)settings;
    return consumer_->SendFixedPage(page);
}

HRESULT XpsFilter::OnDocument(IFixedDocument* document) { return consumer_->SendFixedDocument(document); }

HRESULT XpsFilter::OnDocumentEnd(bool endOfJob) {
    (void)endOfJob;
    return S_OK;
}

std::wstring XpsFilter::NewPartUri(const std::wstring& sourceUri, const wchar_t* stem) {
    size_t folderEnd = sourceUri.rfind(L'/');
    std::wstring folder = folderEnd == std::wstring::npos ? L"/" : sourceUri.substr(0, folderEnd + 1);
    return folder + stem + std::to_wstring(++newParts_) + L".fpage";
}

HRESULT XpsFilter::SendPlacedPage(IFixedPage* page, const std::string& markup, const PageInfo& sheet,
                                  const Matrix& transform, const Overlay* overlay) {
    std::string placed;
    SheetWriter writer;
    HRESULT hr = writer.Begin(sheet, &placed);
    if (SUCCEEDED(hr)) {
        // Keys unique in the whole job: libgxps takes a key in a canvas's
        // resources as meaning the same on every page.
        hr = writer.AddPage(markup, transform, L"p" + std::to_wstring(++placedPages_) + L"_", L"");
    }
    if (SUCCEEDED(hr) && overlay != nullptr) {
        hr = writer.AddPath(overlay->pathData, overlay->fill, overlay->transform);
    }
    if (SUCCEEDED(hr)) {
        hr = writer.End();
    }
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IPrintWriteStream> stream;
    hr = page->GetWriteStream(&stream);
    if (FAILED(hr)) {
        return hr;
    }
    hr = WriteStream(stream.Get(), placed);
    stream->Close();
    return FAILED(hr) ? hr : consumer_->SendFixedPage(page);
}

HRESULT XpsFilter::SendNewPage(const std::wstring& uri, const std::string& markup, IFixedPage* const* sources,
                               size_t sourceCount) {
    // A booklet sends all its sheets at the end of a document: a shutdown
    // stops that too.
    if (shutdown_) {
        return E_ABORT;
    }
    ComPtr<IFixedPage> page;
    ComPtr<IPrintWriteStream> stream;
    HRESULT hr = consumer_->GetNewEmptyPart(uri.c_str(), IID_IFixedPage,
                                            reinterpret_cast<void**>(page.GetAddressOf()), &stream);
    if (FAILED(hr)) {
        return hr;
    }
    hr = WriteStream(stream.Get(), markup);
    stream->Close();
    if (FAILED(hr)) {
        return hr;
    }
    for (size_t i = 0; i < sourceCount; ++i) {
        ComPtr<IXpsPartIterator> parts;
        hr = sources[i]->GetXpsPartIterator(&parts);
        if (FAILED(hr)) {
            return hr;
        }
        for (parts->Reset(); !parts->IsDone(); parts->Next()) {
            BSTR partUri = nullptr;
            ComPtr<IUnknown> resource;
            hr = parts->Current(&partUri, &resource);
            ::SysFreeString(partUri);
            if (FAILED(hr)) {
                return hr;
            }
            hr = page->SetPagePart(resource.Get());
            if (FAILED(hr)) {
                return hr;
            }
        }
    }
    return consumer_->SendFixedPage(page.Get());
}
