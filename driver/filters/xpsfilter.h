// XpsFilter: what the project's four filters share. The pipeline manager
// creates the filter, calls InitializeFilter (the filter asks the inter-filter
// communicator for its IXpsDocumentProvider and IXpsDocumentConsumer, as
// zorvane-pipelineconfig.xml declares) and StartOperation on a thread of its
// own; ShutdownOperation may come from another thread at any time.
//
// StartOperation takes part after part from the provider and hands each one
// on: the document sequence, each document and each page, each with the
// settings its print ticket and those above it give. A filter overrides only
// what it changes; whatever it does not change goes on as the same object.
#pragma once

#include <atomic>
#include <string>

#include <windows.h>
#include <wrl/client.h>

#include "driver/filters/comptr.h"
#include "driver/filters/filtermodule.h"
#include "driver/filters/filterpipeline.h"
#include "driver/filters/filtersettings.h"
#include "driver/filters/pagemarkup.h"

class XpsFilter : public ComObject<IPrintPipelineFilter, &IID_IPrintPipelineFilter> {
public:
    XpsFilter();
    ~XpsFilter() override;

    HRESULT STDMETHODCALLTYPE InitializeFilter(IInterFilterCommunicator* pINegotiation,
                                               IPrintPipelinePropertyBag* pIPropertyBag,
                                               IPrintPipelineManagerControl* pIPipelineControl) override;
    HRESULT STDMETHODCALLTYPE ShutdownOperation() override;
    HRESULT STDMETHODCALLTYPE StartOperation() override;

protected:
    // A page with the settings of the job, its document and its own ticket.
    virtual HRESULT OnPage(IFixedPage* page, const FilterSettings& settings);
    // A document, with DocumentSettings() already its own.
    virtual HRESULT OnDocument(IFixedDocument* document);
    // The end of a document's pages (before the next document, or the end of
    // the job): where pages a filter holds back must go on.
    virtual HRESULT OnDocumentEnd(bool endOfJob);

    IXpsDocumentConsumer* Consumer() const { return consumer_.Get(); }
    const FilterSettings& DocumentSettings() const { return documentSettings_; }
    // A part name no other part of the job has: folder of sourceUri + stem + number.
    std::wstring NewPartUri(const std::wstring& sourceUri, const wchar_t* stem);
    // Creates an empty page, writes markup to it and registers with it every
    // resource the source pages use.
    HRESULT SendNewPage(const std::wstring& uri, const std::string& markup, IFixedPage* const* sources,
                        size_t sourceCount);
    // Replaces the page's markup (its resources stay) with its content placed
    // on a sheet through transform, with the filled path overlay over it if
    // one is given, and hands the page on. Markup that cannot be rewritten
    // fails the job: the page would go on without what the ticket asks.
    struct Overlay {
        std::wstring pathData;
        std::wstring fill;
        Matrix transform;
    };
    HRESULT SendPlacedPage(IFixedPage* page, const std::string& markup, const PageInfo& sheet,
                           const Matrix& transform, const Overlay* overlay);

private:
    HRESULT Run();
    HRESULT Dispatch(IUnknown* part);
    template <typename PartWithTicket>
    HRESULT ApplyTicketOf(PartWithTicket* part, FilterSettings& settings);

    std::atomic<bool> shutdown_{false};
    Microsoft::WRL::ComPtr<IXpsDocumentProvider> provider_;
    Microsoft::WRL::ComPtr<IXpsDocumentConsumer> consumer_;
    Microsoft::WRL::ComPtr<IPrintPipelineManagerControl> control_;
    FilterSettings jobSettings_;
    FilterSettings documentSettings_;
    bool inDocument_ = false;
    unsigned newParts_ = 0;
    unsigned placedPages_ = 0;
};
