#include "driver/filterhost/package.h"

#include "driver/filters/comptr.h"

#include <cwchar>
#include <cwctype>

#include "driver/filters/pagemarkup.h"
#include "driver/filters/xmllitelibrary.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kFixedRepresentation[] = L"http://schemas.microsoft.com/xps/2005/06/fixedrepresentation";
constexpr wchar_t kPrintTicket[] = L"http://schemas.microsoft.com/xps/2005/06/printticket";
constexpr wchar_t kRequiredResource[] = L"http://schemas.microsoft.com/xps/2005/06/required-resource";
constexpr wchar_t kRelationshipsType[] = L"application/vnd.openxmlformats-package.relationships+xml";
constexpr wchar_t kTicketType[] = L"application/vnd.ms-printing.printticket+xml";

std::string Utf8(const std::wstring& text) {
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size,
                              nullptr, nullptr);
    return bytes;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// The ZIP item of a part: its name without the leading slash.
std::string ItemName(const std::wstring& uri) {
    return Utf8(uri.substr(uri.empty() || uri[0] != L'/' ? 0 : 1));
}

std::wstring RelationshipsUri(const std::wstring& partUri) {
    size_t slash = partUri.rfind(L'/');
    return partUri.substr(0, slash + 1) + L"_rels/" + partUri.substr(slash + 1) + L".rels";
}

// Calls visit(localName, attributes) for every element of the markup.
template <typename Visit>
HRESULT ForEachElement(const std::string& markup, Visit visit) {
    ComPtr<IXmlReader> reader;
    HRESULT hr = CreateMarkupReader(markup, reader);
    if (FAILED(hr))
        return hr;
    XmlNodeType nodeType;
    while ((hr = reader->Read(&nodeType)) == S_OK) {
        if (nodeType != XmlNodeType_Element)
            continue;
        const wchar_t* pName = nullptr;
        reader->GetLocalName(&pName, nullptr);
        std::map<std::wstring, std::wstring> attributes;
        for (HRESULT hrAttribute = reader->MoveToFirstAttribute(); hrAttribute == S_OK;
             hrAttribute = reader->MoveToNextAttribute()) {
            const wchar_t *pLocal, *pValue;
            reader->GetLocalName(&pLocal, nullptr);
            reader->GetValue(&pValue, nullptr);
            attributes[pLocal] = pValue;
        }
        visit(std::wstring(pName), attributes);
    }
    return FAILED(hr) ? hr : S_OK;
}

std::string Escape(const std::wstring& text) {
    std::string out;
    for (char c : Utf8(text)) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

PartKind KindOfContentType(const std::wstring& contentType) {
    std::wstring type = Lower(contentType);
    if (type.find(L"font") != std::wstring::npos || type.find(L"opentype") != std::wstring::npos)
        return PartKind::Font;
    if (type.rfind(L"image/", 0) == 0)
        return PartKind::Image;
    if (type.find(L"resourcedictionary") != std::wstring::npos)
        return PartKind::ResourceDictionary;
    if (type.find(L"iccprofile") != std::wstring::npos)
        return PartKind::ColorProfile;
    return PartKind::Image;  // any other required resource goes along as it is
}

}  // namespace

HRESULT ReadFileBytes(const std::wstring& path, std::string& bytes) {
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr)
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0;)
        bytes.append(buffer, n);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed ? HRESULT_FROM_WIN32(ERROR_READ_FAULT) : S_OK;
}

HRESULT PackageReader::Open(const std::wstring& path, const std::wstring& ticketPath) {
    if (!zip_.Open(path))
        return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
    std::string types;
    if (!zip_.Read("[Content_Types].xml", types))
        return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
    HRESULT hr = ForEachElement(
        types, [&](const std::wstring& name, std::map<std::wstring, std::wstring>& attributes) {
            if (name == L"Default")
                defaults_[Lower(attributes[L"Extension"])] = attributes[L"ContentType"];
            if (name == L"Override")
                overrides_[Lower(attributes[L"PartName"])] = attributes[L"ContentType"];
        });
    if (FAILED(hr))
        return hr;
    if (!ticketPath.empty()) {
        std::string ticket;
        hr = ReadFileBytes(ticketPath, ticket);
        if (FAILED(hr))
            return hr;
        jobTicket_ = TakeNew(new Part(PartKind::PrintTicket, L"/Metadata/Job_PT.xml", kTicketType, nullptr));
        jobTicket_->SetContent(std::move(ticket));
    }
    return S_OK;
}

HRESULT PackageReader::LoadPart(const std::wstring& uri, std::string& bytes) {
    ::EnterCriticalSection(&zipLock_.section);
    bool read = zip_.Read(ItemName(uri), bytes);
    ::LeaveCriticalSection(&zipLock_.section);
    return read ? S_OK : HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
}

std::wstring PackageReader::ContentTypeOf(const std::wstring& uri) const {
    auto found = overrides_.find(Lower(uri));
    if (found != overrides_.end())
        return found->second;
    size_t dot = uri.rfind(L'.');
    auto byExtension =
        dot == std::wstring::npos ? defaults_.end() : defaults_.find(Lower(uri.substr(dot + 1)));
    return byExtension != defaults_.end() ? byExtension->second : L"application/octet-stream";
}

std::vector<std::pair<std::wstring, std::wstring>> PackageReader::Relationships(const std::wstring& partUri) {
    std::vector<std::pair<std::wstring, std::wstring>> relationships;
    std::string markup;
    if (FAILED(LoadPart(RelationshipsUri(partUri), markup)))
        return relationships;
    std::wstring base = partUri.empty() ? L"/" : partUri;
    ForEachElement(markup, [&](const std::wstring& name, std::map<std::wstring, std::wstring>& attributes) {
        if (name == L"Relationship" && attributes[L"TargetMode"] != L"External") {
            relationships.emplace_back(attributes[L"Type"], ResolvePartUri(base, attributes[L"Target"]));
        }
    });
    return relationships;
}

ComPtr<Part> PackageReader::MakePart(PartKind kind, const std::wstring& uri) {
    ComPtr<Part> part;
    part = TakeNew(new Part(kind, uri, ContentTypeOf(uri),
                            [this, uri](std::string& bytes) { return LoadPart(uri, bytes); }));
    return part;
}

ComPtr<Part> PackageReader::TicketOf(const std::wstring& partUri) {
    for (const auto& relationship : Relationships(partUri)) {
        if (relationship.first == kPrintTicket)
            return MakePart(PartKind::PrintTicket, relationship.second);
    }
    return nullptr;
}

HRESULT PackageReader::Send(IXpsDocumentConsumer* consumer) {
    std::wstring sequenceUri;
    for (const auto& relationship : Relationships(L"")) {
        if (relationship.first == kFixedRepresentation)
            sequenceUri = relationship.second;
    }
    std::string sequenceMarkup;
    HRESULT hr =
        sequenceUri.empty() ? HRESULT_FROM_WIN32(ERROR_BAD_FORMAT) : LoadPart(sequenceUri, sequenceMarkup);
    std::vector<std::wstring> documents;
    if (SUCCEEDED(hr)) {
        hr = ForEachElement(sequenceMarkup,
                            [&](const std::wstring& name, std::map<std::wstring, std::wstring>& a) {
                                if (name == L"DocumentReference")
                                    documents.push_back(ResolvePartUri(sequenceUri, a[L"Source"]));
                            });
    }
    if (FAILED(hr))
        return hr;

    ComPtr<PackagePart> package;
    package = TakeNew(new PackagePart());
    hr = consumer->SendXpsDocument(package.Get());
    ComPtr<DocumentPart> sequence;
    sequence = TakeNew(new DocumentPart(true, sequenceUri, jobTicket_ ? jobTicket_ : TicketOf(sequenceUri)));
    if (SUCCEEDED(hr))
        hr = consumer->SendFixedDocumentSequence(sequence.Get());
    for (const std::wstring& documentUri : documents) {
        std::string documentMarkup;
        std::vector<std::wstring> pages;
        if (SUCCEEDED(hr))
            hr = LoadPart(documentUri, documentMarkup);
        if (SUCCEEDED(hr)) {
            hr = ForEachElement(documentMarkup,
                                [&](const std::wstring& name, std::map<std::wstring, std::wstring>& a) {
                                    if (name == L"PageContent")
                                        pages.push_back(ResolvePartUri(documentUri, a[L"Source"]));
                                });
        }
        ComPtr<DocumentPart> document;
        document = TakeNew(new DocumentPart(false, documentUri, TicketOf(documentUri)));
        if (SUCCEEDED(hr))
            hr = consumer->SendFixedDocument(document.Get());
        for (size_t i = 0; SUCCEEDED(hr) && i < pages.size(); ++i) {
            ComPtr<Part> page = MakePart(PartKind::Page, pages[i]);
            for (const auto& relationship : Relationships(pages[i])) {
                if (relationship.first == kPrintTicket) {
                    page->SetPrintTicket(MakePart(PartKind::PrintTicket, relationship.second).Get());
                } else if (relationship.first == kRequiredResource) {
                    ComPtr<Part>& resource = resources_[Lower(relationship.second)];
                    if (!resource)
                        resource = MakePart(KindOfContentType(ContentTypeOf(relationship.second)),
                                            relationship.second);
                    page->SetPagePart(resource->Unknown());
                }
            }
            hr = consumer->SendFixedPage(page.Get());
        }
    }
    if (FAILED(hr))
        return hr;
    return consumer->CloseSender();
}

HRESULT PackageWriter::Create(const std::wstring& path) {
    path_ = path;
    return zip_.Create(path) ? S_OK : HRESULT_FROM_WIN32(ERROR_CANNOT_MAKE);
}

void PackageWriter::Discard() {
    zip_.Finish();
    ::DeleteFileW(path_.c_str());
}

HRESULT PackageWriter::WritePart(const std::wstring& uri, const std::string& bytes,
                                 const std::wstring& contentType) {
    if (!written_.insert(Lower(uri)).second) {
        // Two parts of one name would make a broken package.
        return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    }
    contentTypes_[uri] = contentType;
    return zip_.Add(ItemName(uri), bytes) ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
}

HRESULT PackageWriter::WriteHostPart(Part* part) {
    if (written_.count(Lower(part->Uri())) != 0)
        return S_OK;  // shared by an earlier page
    std::string bytes;
    HRESULT hr = part->Content(bytes);
    return FAILED(hr) ? hr : WritePart(part->Uri(), bytes, part->ContentType());
}

HRESULT PackageWriter::WriteRelationships(const std::wstring& sourceUri,
                                          const std::vector<std::pair<std::wstring, std::wstring>>& targets) {
    if (targets.empty())
        return S_OK;
    std::string markup =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (size_t i = 0; i < targets.size(); ++i) {
        markup += "<Relationship Id=\"R" + std::to_string(i) + "\" Type=\"" + Escape(targets[i].first) +
                  "\" Target=\"" + Escape(targets[i].second) + "\"/>";
    }
    markup += "</Relationships>";
    return WritePart(RelationshipsUri(sourceUri), markup, kRelationshipsType);
}

HRESULT PackageWriter::WritePage(IFixedPage* pageInterface) {
    if (documents_.empty())
        return E_UNEXPECTED;  // a page outside any document
    Part* page = static_cast<Part*>(pageInterface);
    std::vector<std::pair<std::wstring, std::wstring>> relationships;
    HRESULT hr = WriteHostPart(page);
    for (const ComPtr<Part>& resource : page->Resources()) {
        if (SUCCEEDED(hr))
            hr = WriteHostPart(resource.Get());
        relationships.emplace_back(kRequiredResource, resource->Uri());
    }
    if (ComPtr<Part> ticket = page->Ticket()) {
        if (SUCCEEDED(hr))
            hr = WriteHostPart(ticket.Get());
        relationships.emplace_back(kPrintTicket, ticket->Uri());
    }
    if (SUCCEEDED(hr))
        hr = WriteRelationships(page->Uri(), relationships);
    if (SUCCEEDED(hr))
        documents_.back().pages.push_back(page->Uri());
    return hr;
}

HRESULT PackageWriter::Receive(IXpsDocumentProvider* provider) {
    for (;;) {
        ComPtr<IUnknown> part;
        HRESULT hr = provider->GetXpsPart(&part);
        if (FAILED(hr))
            return hr;
        if (!part)
            break;
        ComPtr<IFixedPage> page;
        ComPtr<IFixedDocument> document;
        ComPtr<IFixedDocumentSequence> sequence;
        if (SUCCEEDED(part->QueryInterface(IID_IFixedPage, reinterpret_cast<void**>(page.GetAddressOf())))) {
            hr = WritePage(page.Get());
        } else if (SUCCEEDED(part->QueryInterface(IID_IFixedDocument,
                                                  reinterpret_cast<void**>(document.GetAddressOf())))) {
            DocumentPart* documentPart = static_cast<DocumentPart*>(document.Get());
            documents_.push_back({documentPart->Uri(), documentPart->Ticket(), {}});
        } else if (SUCCEEDED(part->QueryInterface(IID_IFixedDocumentSequence,
                                                  reinterpret_cast<void**>(sequence.GetAddressOf())))) {
            DocumentPart* sequencePart = static_cast<DocumentPart*>(sequence.Get());
            sequenceUri_ = sequencePart->Uri();
            sequenceTicket_ = sequencePart->Ticket();
        }
        if (FAILED(hr))
            return hr;
    }
    return Finish();
}

HRESULT PackageWriter::Finish() {
    HRESULT hr = S_OK;
    std::string sequence =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<FixedDocumentSequence xmlns=\"http://schemas.microsoft.com/xps/2005/06\">";
    for (const Document& document : documents_) {
        std::string markup =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<FixedDocument xmlns=\"http://schemas.microsoft.com/xps/2005/06\">";
        for (const std::wstring& page : document.pages)
            markup += "<PageContent Source=\"" + Escape(page) + "\"/>";
        markup += "</FixedDocument>";
        if (SUCCEEDED(hr))
            hr = WritePart(document.uri, markup, L"application/vnd.ms-package.xps-fixeddocument+xml");
        if (document.ticket) {
            if (SUCCEEDED(hr))
                hr = WriteHostPart(document.ticket.Get());
            if (SUCCEEDED(hr))
                hr = WriteRelationships(document.uri, {{kPrintTicket, document.ticket->Uri()}});
        }
        sequence += "<DocumentReference Source=\"" + Escape(document.uri) + "\"/>";
    }
    sequence += "</FixedDocumentSequence>";
    if (SUCCEEDED(hr))
        hr = WritePart(sequenceUri_, sequence, L"application/vnd.ms-package.xps-fixeddocumentsequence+xml");
    if (sequenceTicket_) {
        if (SUCCEEDED(hr))
            hr = WriteHostPart(sequenceTicket_.Get());
        if (SUCCEEDED(hr))
            hr = WriteRelationships(sequenceUri_, {{kPrintTicket, sequenceTicket_->Uri()}});
    }
    if (SUCCEEDED(hr))
        hr = WriteRelationships(L"/", {{kFixedRepresentation, sequenceUri_}});
    std::string types =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>";
    for (const auto& type : contentTypes_) {
        if (type.second != kRelationshipsType)
            types += "<Override PartName=\"" + Escape(type.first) + "\" ContentType=\"" +
                     Escape(type.second) + "\"/>";
    }
    types += "</Types>";
    if (SUCCEEDED(hr))
        hr = zip_.Add("[Content_Types].xml", types) ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    if (SUCCEEDED(hr))
        hr = zip_.Finish() ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    return hr;
}
