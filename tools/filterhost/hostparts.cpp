#include "tools/filterhost/hostparts.h"

#include "driver/filters/comptr.h"
#include "xps/ziparchive.h"

#include <cstring>
#include <new>

using Microsoft::WRL::ComPtr;

namespace {

// How many parts may wait between two filters.
constexpr LONG kChannelLength = 16;

HRESULT CopyToBstr(const std::wstring& text, BSTR* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

template <typename Interface, typename Object>
HRESULT Answer(Object* object, Interface* pInterface, void** ppv) {
    *ppv = pInterface;
    object->AddRef();
    return S_OK;
}

class ReadStream final : public ComObject<IPrintReadStream, &IID_IPrintReadStream> {
public:
    explicit ReadStream(std::shared_ptr<const std::string> content) : content_(std::move(content)) {}
    HRESULT STDMETHODCALLTYPE Seek(LONGLONG move, DWORD origin, ULONGLONG* newPosition) override {
        LONGLONG base = origin == STREAM_SEEK_SET   ? 0
                        : origin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(position_)
                        : origin == STREAM_SEEK_END ? static_cast<LONGLONG>(content_->size())
                                                    : -1;
        if (base < 0 || base + move < 0)
            return STG_E_INVALIDFUNCTION;
        position_ = static_cast<size_t>(base + move);
        if (newPosition != nullptr)
            *newPosition = position_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReadBytes(void* buffer, ULONG requested, ULONG* read,
                                        BOOL* endOfFile) override {
        if (buffer == nullptr || read == nullptr || endOfFile == nullptr)
            return E_POINTER;
        size_t available = position_ < content_->size() ? content_->size() - position_ : 0;
        ULONG count = requested < available ? requested : static_cast<ULONG>(available);
        std::memcpy(buffer, content_->data() + position_, count);
        position_ += count;
        *read = count;
        *endOfFile = position_ >= content_->size();
        return S_OK;
    }

private:
    std::shared_ptr<const std::string> content_;
    size_t position_ = 0;
};

// Collects what a filter writes; the part takes it on Close.
class WriteStream final : public ComObject<IPrintWriteStream, &IID_IPrintWriteStream> {
public:
    explicit WriteStream(Part* part) : part_(part) {}
    HRESULT STDMETHODCALLTYPE WriteBytes(const void* buffer, ULONG size, ULONG* written) override {
        if (written == nullptr || (buffer == nullptr && size != 0))
            return E_POINTER;
        if (!part_)
            return E_UNEXPECTED;
        try {
            bytes_.append(static_cast<const char*>(buffer), size);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        *written = size;
        return S_OK;
    }
    void STDMETHODCALLTYPE Close() override {
        if (part_) {
            part_->SetContent(std::move(bytes_));
            part_.Reset();
        }
    }

private:
    ComPtr<Part> part_;
    std::string bytes_;
};

class PartIterator final : public ComObject<IXpsPartIterator, &IID_IXpsPartIterator> {
public:
    explicit PartIterator(std::vector<ComPtr<Part>> parts) : parts_(std::move(parts)) {}
    void STDMETHODCALLTYPE Reset() override { index_ = 0; }
    HRESULT STDMETHODCALLTYPE Current(BSTR* uri, IUnknown** part) override {
        if (uri == nullptr || part == nullptr)
            return E_POINTER;
        if (index_ >= parts_.size())
            return HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
        HRESULT hr = CopyToBstr(parts_[index_]->Uri(), uri);
        if (FAILED(hr))
            return hr;
        *part = parts_[index_]->Unknown();
        (*part)->AddRef();
        return S_OK;
    }
    BOOL STDMETHODCALLTYPE IsDone() override { return index_ >= parts_.size(); }
    void STDMETHODCALLTYPE Next() override {
        if (index_ < parts_.size())
            ++index_;
    }

private:
    std::vector<ComPtr<Part>> parts_;
    size_t index_ = 0;
};

// The host's own Part behind an interface pointer a filter hands back; null
// for an object the host did not make.
Part* AsHostPart(IUnknown* unknown) {
    ComPtr<IPartBase> base;
    if (unknown == nullptr ||
        FAILED(unknown->QueryInterface(IID_IPartBase, reinterpret_cast<void**>(base.GetAddressOf())))) {
        return nullptr;
    }
    // Every IPartBase in this process comes from Part: the filters make
    // parts only through GetNewEmptyPart.
    return static_cast<Part*>(static_cast<IFixedPage*>(base.Get()));
}

}  // namespace

Part::Part(PartKind kind, std::wstring uri, std::wstring contentType, PartLoader loader)
    : kind_(kind), uri_(std::move(uri)), contentType_(std::move(contentType)), loader_(std::move(loader)) {}

Part::~Part() = default;

ULONG STDMETHODCALLTYPE Part::Release() {
    ULONG count = --references_;
    if (count == 0)
        delete this;
    return count;
}

HRESULT STDMETHODCALLTYPE Part::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPartBase)) {
        return Answer(this, static_cast<IFixedPage*>(this), ppv);
    }
    switch (kind_) {
        case PartKind::Page:
            if (IsEqualIID(riid, IID_IFixedPage))
                return Answer(this, static_cast<IFixedPage*>(this), ppv);
            break;
        case PartKind::Font:
            if (IsEqualIID(riid, IID_IPartFont))
                return Answer(this, static_cast<IPartFont*>(this), ppv);
            break;
        case PartKind::Image:
            if (IsEqualIID(riid, IID_IPartImage))
                return Answer(this, static_cast<IPartImage*>(this), ppv);
            break;
        case PartKind::ResourceDictionary:
            if (IsEqualIID(riid, IID_IPartResourceDictionary))
                return Answer(this, static_cast<IPartResourceDictionary*>(this), ppv);
            break;
        case PartKind::PrintTicket:
            if (IsEqualIID(riid, IID_IPartPrintTicket))
                return Answer(this, static_cast<IPartPrintTicket*>(this), ppv);
            break;
        case PartKind::ColorProfile:
            if (IsEqualIID(riid, IID_IPartColorProfile))
                return Answer(this, static_cast<IPartColorProfile*>(this), ppv);
            break;
        case PartKind::Thumbnail:
            if (IsEqualIID(riid, IID_IPartThumbnail))
                return Answer(this, static_cast<IPartThumbnail*>(this), ppv);
            break;
    }
    return E_NOINTERFACE;
}

HRESULT Part::Content(std::string& bytes) {
    std::shared_ptr<const std::string> content = std::atomic_load(&content_);
    if (content) {
        bytes = *content;
        return S_OK;
    }
    return loader_ ? loader_(bytes) : S_OK;
}

void Part::SetContent(std::string bytes) {
    std::atomic_store(&content_,
                      std::shared_ptr<const std::string>(std::make_shared<std::string>(std::move(bytes))));
}

std::vector<ComPtr<Part>> Part::Resources() { return resources_; }
ComPtr<Part> Part::Ticket() { return ticket_; }

HRESULT STDMETHODCALLTYPE Part::GetUri(BSTR* uri) { return CopyToBstr(uri_, uri); }

HRESULT STDMETHODCALLTYPE Part::GetStream(IPrintReadStream** ppStream) {
    if (ppStream == nullptr)
        return E_POINTER;
    *ppStream = nullptr;
    return xps::WithoutThrowing([&] {
        std::shared_ptr<const std::string> content = std::atomic_load(&content_);
        if (!content) {
            auto loaded = std::make_shared<std::string>();
            HRESULT hr = loader_ ? loader_(*loaded) : S_OK;
            if (FAILED(hr))
                return hr;
            content = loaded;
        }
        *ppStream = new ReadStream(content);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Part::GetPartCompression(EXpsCompressionOptions* pCompression) {
    if (pCompression == nullptr)
        return E_POINTER;
    *pCompression = Compression_Fast;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Part::SetPartCompression(EXpsCompressionOptions) { return S_OK; }

HRESULT STDMETHODCALLTYPE Part::GetPrintTicket(IPartPrintTicket** ppPrintTicket) {
    if (ppPrintTicket == nullptr)
        return E_POINTER;
    *ppPrintTicket = ticket_ ? static_cast<IPartPrintTicket*>(ticket_.Get()) : nullptr;
    if (*ppPrintTicket != nullptr)
        (*ppPrintTicket)->AddRef();
    // Like the pipeline: a page without a ticket of its own answers an error.
    return ticket_ ? S_OK : HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

HRESULT STDMETHODCALLTYPE Part::GetPagePart(const wchar_t* uri, IUnknown** ppUnk) {
    if (uri == nullptr || ppUnk == nullptr)
        return E_POINTER;
    for (const ComPtr<Part>& resource : resources_) {
        if (_wcsicmp(resource->Uri().c_str(), uri) == 0) {
            *ppUnk = resource->Unknown();
            (*ppUnk)->AddRef();
            return S_OK;
        }
    }
    *ppUnk = nullptr;
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

HRESULT STDMETHODCALLTYPE Part::GetWriteStream(IPrintWriteStream** ppWriteStream) {
    if (ppWriteStream == nullptr)
        return E_POINTER;
    *ppWriteStream = new (std::nothrow) WriteStream(this);
    return *ppWriteStream != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE Part::SetPrintTicket(IPartPrintTicket* pPrintTicket) {
    Part* ticket = AsHostPart(pPrintTicket);
    if (pPrintTicket != nullptr && (ticket == nullptr || ticket->Kind() != PartKind::PrintTicket))
        return E_INVALIDARG;
    ticket_ = ticket;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Part::SetPagePart(IUnknown* pUnk) {
    Part* resource = AsHostPart(pUnk);
    if (resource == nullptr || resource->Kind() == PartKind::Page ||
        resource->Kind() == PartKind::PrintTicket) {
        return E_INVALIDARG;
    }
    for (const ComPtr<Part>& known : resources_) {
        if (_wcsicmp(known->Uri().c_str(), resource->Uri().c_str()) == 0)
            return S_OK;
    }
    return xps::WithoutThrowing([&] {
        resources_.emplace_back(resource);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Part::DeleteResource(const wchar_t* uri) {
    if (uri == nullptr)
        return E_POINTER;
    for (auto it = resources_.begin(); it != resources_.end(); ++it) {
        if (_wcsicmp((*it)->Uri().c_str(), uri) == 0) {
            resources_.erase(it);
            return S_OK;
        }
    }
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

HRESULT STDMETHODCALLTYPE Part::GetXpsPartIterator(IXpsPartIterator** pXpsPartIt) {
    if (pXpsPartIt == nullptr)
        return E_POINTER;
    *pXpsPartIt = nullptr;
    return xps::WithoutThrowing([&] {
        *pXpsPartIt = new PartIterator(resources_);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Part::GetFontProperties(BSTR* pContentType, EXpsFontOptions* pFontOptions) {
    if (pFontOptions == nullptr)
        return E_POINTER;
    *pFontOptions = contentType_.find(L"obfuscated") != std::wstring::npos ? Font_Obfusticate : Font_Normal;
    return CopyToBstr(contentType_, pContentType);
}
HRESULT STDMETHODCALLTYPE Part::SetFontContent(const wchar_t* pContentType) {
    if (pContentType == nullptr)
        return E_POINTER;
    contentType_ = pContentType;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Part::SetFontOptions(EXpsFontOptions) { return S_OK; }
HRESULT STDMETHODCALLTYPE Part::GetImageProperties(BSTR* pContentType) {
    return CopyToBstr(contentType_, pContentType);
}
HRESULT STDMETHODCALLTYPE Part::SetImageContent(const wchar_t* pContentType) {
    return SetFontContent(pContentType);
}
HRESULT STDMETHODCALLTYPE Part::GetThumbnailProperties(BSTR* pContentType) {
    return CopyToBstr(contentType_, pContentType);
}
HRESULT STDMETHODCALLTYPE Part::SetThumbnailContent(const wchar_t* pContentType) {
    return SetFontContent(pContentType);
}

DocumentPart::DocumentPart(bool isSequence, std::wstring uri, ComPtr<Part> ticket)
    : isSequence_(isSequence), uri_(std::move(uri)), ticket_(std::move(ticket)) {}

HRESULT STDMETHODCALLTYPE DocumentPart::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown))
        return Answer(this, Unknown(), ppv);
    if (isSequence_ && IsEqualIID(riid, IID_IFixedDocumentSequence))
        return Answer(this, static_cast<IFixedDocumentSequence*>(this), ppv);
    if (!isSequence_ && IsEqualIID(riid, IID_IFixedDocument))
        return Answer(this, static_cast<IFixedDocument*>(this), ppv);
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE DocumentPart::Release() {
    ULONG count = --references_;
    if (count == 0)
        delete this;
    return count;
}

HRESULT STDMETHODCALLTYPE DocumentPart::GetUri(BSTR* uri) { return CopyToBstr(uri_, uri); }

HRESULT STDMETHODCALLTYPE DocumentPart::GetPrintTicket(IPartPrintTicket** ppPrintTicket) {
    if (ppPrintTicket == nullptr)
        return E_POINTER;
    *ppPrintTicket = ticket_ ? static_cast<IPartPrintTicket*>(ticket_.Get()) : nullptr;
    if (*ppPrintTicket != nullptr)
        (*ppPrintTicket)->AddRef();
    return ticket_ ? S_OK : HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

HRESULT STDMETHODCALLTYPE DocumentPart::SetPrintTicket(IPartPrintTicket* pPrintTicket) {
    Part* ticket = AsHostPart(pPrintTicket);
    if (pPrintTicket != nullptr && (ticket == nullptr || ticket->Kind() != PartKind::PrintTicket))
        return E_INVALIDARG;
    ticket_ = ticket;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PackagePart::GetThumbnail(IPartThumbnail** ppThumbnail) {
    if (ppThumbnail == nullptr)
        return E_POINTER;
    *ppThumbnail = nullptr;
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}
HRESULT STDMETHODCALLTYPE PackagePart::SetThumbnail(IPartThumbnail*) { return S_OK; }

Channel::Channel()
    : free_(::CreateSemaphoreW(nullptr, kChannelLength, kChannelLength, nullptr)),
      filled_(::CreateSemaphoreW(nullptr, 0, kChannelLength + 1, nullptr)),
      aborted_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

Channel::~Channel() = default;

void Channel::Abort() { ::SetEvent(aborted_.Get()); }

HRESULT Channel::Wait(HANDLE semaphore) {
    HANDLE handles[2] = {aborted_.Get(), semaphore};
    DWORD result = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    return result == WAIT_OBJECT_0 + 1 ? S_OK : E_ABORT;
}

HRESULT STDMETHODCALLTYPE Channel::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IXpsDocumentConsumer)) {
        *ppv = static_cast<IXpsDocumentConsumer*>(this);
        return S_OK;
    }
    if (IsEqualIID(riid, IID_IXpsDocumentProvider)) {
        *ppv = static_cast<IXpsDocumentProvider*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT Channel::Put(IUnknown* part) {
    bool closed;
    {
        CriticalSectionLock lock(lock_);
        closed = closed_;
        closed_ = closed_ || part == nullptr;
    }
    if (closed)
        return E_UNEXPECTED;  // nothing may follow CloseSender
    // The end marker needs no free place: the receiver takes it last.
    if (part != nullptr) {
        HRESULT hr = Wait(free_.Get());
        if (FAILED(hr))
            return hr;
    }
    {
        CriticalSectionLock lock(lock_);
        queue_.emplace_back(part);
    }
    ::ReleaseSemaphore(filled_.Get(), 1, nullptr);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Channel::GetXpsPart(IUnknown** ppIXpsPart) {
    if (ppIXpsPart == nullptr)
        return E_POINTER;
    *ppIXpsPart = nullptr;
    HRESULT hr = Wait(filled_.Get());
    if (FAILED(hr))
        return hr;
    ComPtr<IUnknown> part;
    {
        CriticalSectionLock lock(lock_);
        part = queue_.front();
        queue_.pop_front();
        if (!part) {
            queue_.emplace_back(nullptr);  // every later call answers the end again
        }
    }
    if (!part) {
        ::ReleaseSemaphore(filled_.Get(), 1, nullptr);
        return S_OK;
    }
    ::ReleaseSemaphore(free_.Get(), 1, nullptr);
    *ppIXpsPart = part.Detach();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Channel::GetNewEmptyPart(const wchar_t* uri, REFIID riid, void** ppNewObject,
                                                   IPrintWriteStream** ppWriteStream) {
    if (uri == nullptr || ppNewObject == nullptr || ppWriteStream == nullptr)
        return E_POINTER;
    *ppNewObject = nullptr;
    *ppWriteStream = nullptr;
    struct KindOf {
        const IID* iid;
        PartKind kind;
        const wchar_t* contentType;
    };
    static const KindOf kinds[] = {
        {&IID_IFixedPage, PartKind::Page, L"application/vnd.ms-package.xps-fixedpage+xml"},
        {&IID_IPartFont, PartKind::Font, L"application/vnd.ms-opentype"},
        {&IID_IPartImage, PartKind::Image, L"image/png"},
        {&IID_IPartResourceDictionary, PartKind::ResourceDictionary,
         L"application/vnd.ms-package.xps-resourcedictionary+xml"},
        {&IID_IPartPrintTicket, PartKind::PrintTicket, L"application/vnd.ms-printing.printticket+xml"},
        {&IID_IPartColorProfile, PartKind::ColorProfile, L"application/vnd.ms-color.iccprofile"},
        {&IID_IPartThumbnail, PartKind::Thumbnail, L"image/png"},
    };
    for (const KindOf& kind : kinds) {
        if (!IsEqualIID(riid, *kind.iid))
            continue;
        ComPtr<Part> part;
        HRESULT hr = xps::WithoutThrowing([&] {
            part = TakeNew(new Part(kind.kind, uri, kind.contentType, nullptr));
            part->SetContent(std::string());
            return S_OK;
        });
        if (FAILED(hr))
            return hr;
        hr = part->GetWriteStream(ppWriteStream);
        if (FAILED(hr))
            return hr;
        return part->QueryInterface(riid, ppNewObject);
    }
    return E_NOINTERFACE;
}
