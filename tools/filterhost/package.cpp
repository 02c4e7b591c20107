#include "tools/filterhost/package.h"

#include "driver/filters/comptr.h"
#include "xps/xmlwriter.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kRelationshipsType[] = L"application/vnd.openxmlformats-package.relationships+xml";
constexpr wchar_t kTicketType[] = L"application/vnd.ms-printing.printticket+xml";
constexpr wchar_t kRelationshipsNamespace[] = L"http://schemas.openxmlformats.org/package/2006/relationships";
constexpr wchar_t kContentTypesNamespace[] = L"http://schemas.openxmlformats.org/package/2006/content-types";

PartKind KindOfContentType(const std::wstring& contentType) {
    std::wstring type = contentType;
    for (wchar_t& c : type)
        c = c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c;
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

// A part name as a URI in markup: percent-encoded where it must be, the
// same way the item names are.
std::wstring UriOf(const std::wstring& partName) { return L"/" + xml::FromUtf8(xps::ItemNameOf(partName)); }

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
    HRESULT hr = package_.OpenFile(path);
    if (SUCCEEDED(hr))
        hr = package_.ReadStructure(structure_);
    if (FAILED(hr) || ticketPath.empty())
        return hr;
    std::string ticket;
    hr = ReadFileBytes(ticketPath, ticket);
    if (FAILED(hr))
        return hr;
    jobTicket_ = TakeNew(new Part(PartKind::PrintTicket, L"/Metadata/Job_PT.xml", kTicketType, nullptr));
    jobTicket_->SetContent(std::move(ticket));
    return S_OK;
}

ComPtr<Part> PackageReader::MakePart(PartKind kind, const std::wstring& uri) {
    const xps::XpsPackage* package = &package_;
    ComPtr<Part> part;
    part = TakeNew(new Part(kind, uri, package_.ContentType(uri),
                            [package, uri](std::string& bytes) { return package->Read(uri, bytes); }));
    return part;
}

ComPtr<Part> PackageReader::TicketOf(const std::wstring& partUri) {
    std::wstring ticket = package_.TargetOf(partUri, xps::Relation::PrintTicket);
    return ticket.empty() || !package_.Has(ticket) ? nullptr : MakePart(PartKind::PrintTicket, ticket);
}

// A page with its ticket and the resources its relationships require; a
// resource shared by several pages is one part.
HRESULT PackageReader::MakePage(const std::wstring& uri, ComPtr<Part>& page) {
    page = MakePart(PartKind::Page, uri);
    std::vector<xps::Relationship> relationships;
    HRESULT hr = package_.Relationships(uri, relationships);
    if (FAILED(hr))
        return hr;
    for (const xps::Relationship& relationship : relationships) {
        if (relationship.external || !package_.Has(relationship.target))
            continue;
        if (relationship.relation == xps::Relation::PrintTicket) {
            page->SetPrintTicket(MakePart(PartKind::PrintTicket, relationship.target).Get());
        } else if (relationship.relation == xps::Relation::RequiredResource ||
                   relationship.relation == xps::Relation::RestrictedFont) {
            ComPtr<Part>& resource = resources_[xps::PartKey(relationship.target)];
            if (!resource) {
                PartKind kind = relationship.relation == xps::Relation::RestrictedFont
                                    ? PartKind::Font
                                    : KindOfContentType(package_.ContentType(relationship.target));
                resource = MakePart(kind, relationship.target);
            }
            page->SetPagePart(resource->Unknown());
        }
    }
    return S_OK;
}

HRESULT PackageReader::Send(IXpsDocumentConsumer* consumer) {
    ComPtr<PackagePart> package;
    package = TakeNew(new PackagePart());
    HRESULT hr = consumer->SendXpsDocument(package.Get());
    ComPtr<DocumentPart> sequence;
    sequence = TakeNew(
        new DocumentPart(true, structure_.sequence, jobTicket_ ? jobTicket_ : TicketOf(structure_.sequence)));
    if (SUCCEEDED(hr))
        hr = consumer->SendFixedDocumentSequence(sequence.Get());
    for (const xps::FixedDocumentInfo& info : structure_.documents) {
        ComPtr<DocumentPart> document;
        document = TakeNew(new DocumentPart(false, info.name, TicketOf(info.name)));
        if (SUCCEEDED(hr))
            hr = consumer->SendFixedDocument(document.Get());
        for (size_t i = 0; SUCCEEDED(hr) && i < info.pages.size(); ++i) {
            ComPtr<Part> page;
            hr = MakePage(info.pages[i], page);
            if (SUCCEEDED(hr))
                hr = consumer->SendFixedPage(page.Get());
        }
    }
    if (FAILED(hr))
        return hr;
    return consumer->CloseSender();
}

HRESULT PackageWriter::Create(const std::wstring& path, xps::Flavour flavour) {
    path_ = path;
    flavour_ = flavour;
    return zip_.Create(path) ? S_OK : HRESULT_FROM_WIN32(ERROR_CANNOT_MAKE);
}

void PackageWriter::Discard() {
    zip_.Finish();
    ::DeleteFileW(path_.c_str());
}

HRESULT PackageWriter::WritePart(const std::wstring& uri, const std::string& bytes,
                                 const std::wstring& contentType) {
    if (!written_.insert(xps::PartKey(uri)).second) {
        // Two parts of one name would make a broken package.
        return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    }
    contentTypes_[uri] = contentType;
    return zip_.Add(xps::ItemNameOf(uri), bytes) ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
}

HRESULT PackageWriter::WriteHostPart(Part* part) {
    if (written_.count(xps::PartKey(part->Uri())) != 0)
        return S_OK;  // shared by an earlier page
    std::string bytes;
    HRESULT hr = part->Content(bytes);
    return FAILED(hr) ? hr : WritePart(part->Uri(), bytes, part->ContentType());
}

HRESULT PackageWriter::WriteRelationships(const std::wstring& sourceUri, const Targets& targets) {
    if (targets.empty())
        return S_OK;
    std::string markup;
    xml::XmlWriter writer(markup);
    writer.WriteDeclaration();
    writer.StartElement(L"", L"Relationships", kRelationshipsNamespace);
    for (size_t i = 0; i < targets.size(); ++i) {
        writer.StartElement(L"", L"Relationship", kRelationshipsNamespace);
        writer.Attribute(L"Id", L"R" + std::to_wstring(i));
        writer.Attribute(L"Type", xps::RelationshipType(targets[i].first, flavour_));
        writer.Attribute(L"Target", UriOf(targets[i].second));
        writer.EndElement();
    }
    writer.EndDocument();
    return WritePart(xps::RelationshipsPartOf(sourceUri), markup, kRelationshipsType);
}

HRESULT PackageWriter::WritePage(IFixedPage* pageInterface) {
    if (documents_.empty())
        return E_UNEXPECTED;  // a page outside any document
    Part* page = static_cast<Part*>(pageInterface);
    Targets relationships;
    HRESULT hr = WriteHostPart(page);
    for (const ComPtr<Part>& resource : page->Resources()) {
        if (SUCCEEDED(hr))
            hr = WriteHostPart(resource.Get());
        relationships.emplace_back(xps::Relation::RequiredResource, resource->Uri());
    }
    if (ComPtr<Part> ticket = page->Ticket()) {
        if (SUCCEEDED(hr))
            hr = WriteHostPart(ticket.Get());
        relationships.emplace_back(xps::Relation::PrintTicket, ticket->Uri());
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
    const wchar_t* markupNamespace = xps::MarkupNamespace(flavour_);
    std::string sequence;
    xml::XmlWriter sequenceWriter(sequence);
    sequenceWriter.WriteDeclaration();
    sequenceWriter.StartElement(L"", L"FixedDocumentSequence", markupNamespace);
    for (const Document& document : documents_) {
        std::string markup;
        xml::XmlWriter writer(markup);
        writer.WriteDeclaration();
        writer.StartElement(L"", L"FixedDocument", markupNamespace);
        for (const std::wstring& page : document.pages) {
            writer.StartElement(L"", L"PageContent", markupNamespace);
            writer.Attribute(L"Source", UriOf(page));
            writer.EndElement();
        }
        writer.EndDocument();
        if (SUCCEEDED(hr))
            hr = WritePart(document.uri, markup, L"application/vnd.ms-package.xps-fixeddocument+xml");
        if (document.ticket) {
            if (SUCCEEDED(hr))
                hr = WriteHostPart(document.ticket.Get());
            if (SUCCEEDED(hr))
                hr = WriteRelationships(document.uri, {{xps::Relation::PrintTicket, document.ticket->Uri()}});
        }
        sequenceWriter.StartElement(L"", L"DocumentReference", markupNamespace);
        sequenceWriter.Attribute(L"Source", UriOf(document.uri));
        sequenceWriter.EndElement();
    }
    sequenceWriter.EndDocument();
    if (SUCCEEDED(hr))
        hr = WritePart(sequenceUri_, sequence, L"application/vnd.ms-package.xps-fixeddocumentsequence+xml");
    if (sequenceTicket_) {
        if (SUCCEEDED(hr))
            hr = WriteHostPart(sequenceTicket_.Get());
        if (SUCCEEDED(hr))
            hr = WriteRelationships(sequenceUri_, {{xps::Relation::PrintTicket, sequenceTicket_->Uri()}});
    }
    if (SUCCEEDED(hr))
        hr = WriteRelationships(L"/", {{xps::Relation::FixedRepresentation, sequenceUri_}});
    std::string types;
    xml::XmlWriter typesWriter(types);
    typesWriter.WriteDeclaration();
    typesWriter.StartElement(L"", L"Types", kContentTypesNamespace);
    typesWriter.StartElement(L"", L"Default", kContentTypesNamespace);
    typesWriter.Attribute(L"Extension", L"rels");
    typesWriter.Attribute(L"ContentType", kRelationshipsType);
    typesWriter.EndElement();
    for (const auto& type : contentTypes_) {
        if (type.second != kRelationshipsType) {
            typesWriter.StartElement(L"", L"Override", kContentTypesNamespace);
            typesWriter.Attribute(L"PartName", UriOf(type.first));
            typesWriter.Attribute(L"ContentType", type.second);
            typesWriter.EndElement();
        }
    }
    typesWriter.EndDocument();
    if (SUCCEEDED(hr))
        hr = zip_.Add("[Content_Types].xml", types) ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    if (SUCCEEDED(hr))
        hr = zip_.Finish() ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    return hr;
}
