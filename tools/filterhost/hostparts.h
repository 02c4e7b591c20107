// The filter host's side of the XPS document interfaces: the parts it hands
// to the filters, and the channel between two filters (the consumer of one,
// the provider of the next), as the pipeline manager offers them.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>
#include <wrl/client.h>

#include "driver/filters/comptr.h"
#include "driver/filters/filterpipeline.h"
#include "platform/handles.h"

enum class PartKind { Page, Font, Image, ResourceDictionary, PrintTicket, ColorProfile, Thumbnail };

// Loads a part's content on demand (from the package being read), so that a
// job's memory does not grow with its pages; thread-safe.
using PartLoader = std::function<HRESULT(std::string&)>;

// One class for every kind of part: each kind answers QueryInterface for its
// own interface only.
class Part final : public IFixedPage,
                   public IPartFont,
                   public IPartImage,
                   public IPartResourceDictionary,
                   public IPartPrintTicket,
                   public IPartColorProfile,
                   public IPartThumbnail {
public:
    Part(PartKind kind, std::wstring uri, std::wstring contentType, PartLoader loader);
    PartKind Kind() const { return kind_; }
    const std::wstring& Uri() const { return uri_; }
    const std::wstring& ContentType() const { return contentType_; }
    HRESULT Content(std::string& bytes);
    void SetContent(std::string bytes);
    // The page's resources and ticket as the writer needs them.
    std::vector<Microsoft::WRL::ComPtr<Part>> Resources();
    Microsoft::WRL::ComPtr<Part> Ticket();
    IUnknown* Unknown() { return static_cast<IFixedPage*>(this); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetUri(BSTR* uri) override;
    HRESULT STDMETHODCALLTYPE GetStream(IPrintReadStream** ppStream) override;
    HRESULT STDMETHODCALLTYPE GetPartCompression(EXpsCompressionOptions* pCompression) override;
    HRESULT STDMETHODCALLTYPE SetPartCompression(EXpsCompressionOptions compression) override;

    HRESULT STDMETHODCALLTYPE GetPrintTicket(IPartPrintTicket** ppPrintTicket) override;
    HRESULT STDMETHODCALLTYPE GetPagePart(const wchar_t* uri, IUnknown** ppUnk) override;
    HRESULT STDMETHODCALLTYPE GetWriteStream(IPrintWriteStream** ppWriteStream) override;
    HRESULT STDMETHODCALLTYPE SetPrintTicket(IPartPrintTicket* pPrintTicket) override;
    HRESULT STDMETHODCALLTYPE SetPagePart(IUnknown* pUnk) override;
    HRESULT STDMETHODCALLTYPE DeleteResource(const wchar_t* uri) override;
    HRESULT STDMETHODCALLTYPE GetXpsPartIterator(IXpsPartIterator** pXpsPartIt) override;

    HRESULT STDMETHODCALLTYPE GetFontProperties(BSTR* pContentType, EXpsFontOptions* pFontOptions) override;
    HRESULT STDMETHODCALLTYPE SetFontContent(const wchar_t* pContentType) override;
    HRESULT STDMETHODCALLTYPE SetFontOptions(EXpsFontOptions options) override;
    HRESULT STDMETHODCALLTYPE GetImageProperties(BSTR* pContentType) override;
    HRESULT STDMETHODCALLTYPE SetImageContent(const wchar_t* pContentType) override;
    HRESULT STDMETHODCALLTYPE GetThumbnailProperties(BSTR* pContentType) override;
    HRESULT STDMETHODCALLTYPE SetThumbnailContent(const wchar_t* pContentType) override;

private:
    ~Part();

    std::atomic<ULONG> references_{1};
    const PartKind kind_;
    const std::wstring uri_;
    std::wstring contentType_;
    PartLoader loader_;
    std::shared_ptr<const std::string> content_;  // set once written
    std::vector<Microsoft::WRL::ComPtr<Part>> resources_;
    Microsoft::WRL::ComPtr<Part> ticket_;
};

// The fixed document sequence or one fixed document: a name and a ticket.
class DocumentPart final : public IFixedDocumentSequence, public IFixedDocument {
public:
    DocumentPart(bool isSequence, std::wstring uri, Microsoft::WRL::ComPtr<Part> ticket);
    const std::wstring& Uri() const { return uri_; }
    Microsoft::WRL::ComPtr<Part> Ticket() const { return ticket_; }
    IUnknown* Unknown() { return static_cast<IFixedDocument*>(this); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetUri(BSTR* uri) override;
    HRESULT STDMETHODCALLTYPE GetPrintTicket(IPartPrintTicket** ppPrintTicket) override;
    HRESULT STDMETHODCALLTYPE SetPrintTicket(IPartPrintTicket* pPrintTicket) override;

private:
    ~DocumentPart() = default;
    std::atomic<ULONG> references_{1};
    const bool isSequence_;
    const std::wstring uri_;
    Microsoft::WRL::ComPtr<Part> ticket_;
};

// The package as a whole (it has no thumbnail here).
class PackagePart final : public ComObject<IXpsDocument, &IID_IXpsDocument> {
public:
    HRESULT STDMETHODCALLTYPE GetThumbnail(IPartThumbnail** ppThumbnail) override;
    HRESULT STDMETHODCALLTYPE SetThumbnail(IPartThumbnail* pThumbnail) override;
};

// Parts travel from one filter to the next through a channel of bounded
// length, so a slow filter holds back the ones before it instead of the job
// piling up in memory.
class Channel final : public IXpsDocumentConsumer, public IXpsDocumentProvider {
public:
    Channel();
    ~Channel();
    // Wakes every waiting sender and receiver with E_ABORT.
    void Abort();
    IXpsDocumentConsumer* Consumer() { return this; }
    IXpsDocumentProvider* Provider() { return this; }

    // Not reference-counted: the host owns every channel for the whole job.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE SendXpsUnknown(IUnknown* pUnknown) override { return Put(pUnknown); }
    HRESULT STDMETHODCALLTYPE SendXpsDocument(IXpsDocument* p) override { return Put(p); }
    HRESULT STDMETHODCALLTYPE SendFixedDocumentSequence(IFixedDocumentSequence* p) override { return Put(p); }
    HRESULT STDMETHODCALLTYPE SendFixedDocument(IFixedDocument* p) override { return Put(p); }
    HRESULT STDMETHODCALLTYPE SendFixedPage(IFixedPage* p) override { return Put(p); }
    HRESULT STDMETHODCALLTYPE CloseSender() override { return Put(nullptr); }
    HRESULT STDMETHODCALLTYPE GetNewEmptyPart(const wchar_t* uri, REFIID riid, void** ppNewObject,
                                              IPrintWriteStream** ppWriteStream) override;

    HRESULT STDMETHODCALLTYPE GetXpsPart(IUnknown** ppIXpsPart) override;

private:
    HRESULT Put(IUnknown* part);
    HRESULT Wait(HANDLE semaphore);

    CriticalSection lock_;
    std::deque<Microsoft::WRL::ComPtr<IUnknown>> queue_;
    KernelObject free_;     // counts free places
    KernelObject filled_;   // counts parts waiting
    KernelObject aborted_;  // set once by Abort
    bool closed_ = false;
};
