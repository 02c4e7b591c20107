#include "xps/xpspackage.h"

#include <map>

#include "xps/xmlreader.h"

namespace xps {

namespace {

constexpr wchar_t kXpsRelations[] = L"http://schemas.microsoft.com/xps/2005/06/";
constexpr wchar_t kOpenXpsRelations[] = L"http://schemas.openxps.org/oxps/v1.0/";
constexpr wchar_t kPackageRelations[] = L"http://schemas.openxmlformats.org/package/2006/relationships/";
constexpr wchar_t kRelationshipsNamespace[] = L"http://schemas.openxmlformats.org/package/2006/relationships";
constexpr wchar_t kContentTypesNamespace[] = L"http://schemas.openxmlformats.org/package/2006/content-types";
constexpr wchar_t kXpsMarkup[] = L"http://schemas.microsoft.com/xps/2005/06";
constexpr wchar_t kOpenXpsMarkup[] = L"http://schemas.openxps.org/oxps/v1.0";

// Relations of the fixed markup: the same local names in both namespaces.
const struct {
    Relation relation;
    const wchar_t* name;
} kFixedRelations[] = {
    {Relation::FixedRepresentation, L"fixedrepresentation"},
    {Relation::PrintTicket, L"printticket"},
    {Relation::RequiredResource, L"required-resource"},
    {Relation::RestrictedFont, L"restricted-font"},
    {Relation::DocumentStructure, L"documentstructure"},
    {Relation::StoryFragments, L"storyfragments"},
    {Relation::SignatureDefinitions, L"signature-definitions"},
    {Relation::DiscardControl, L"discard-control"},
};
// Relations of the packaging conventions, shared by both.
const struct {
    Relation relation;
    const wchar_t* name;
} kPackageRelationNames[] = {
    {Relation::Thumbnail, L"metadata/thumbnail"},
    {Relation::DigitalSignature, L"digital-signature/origin"},
    {Relation::CoreProperties, L"metadata/core-properties"},
};

bool StartsWith(const std::wstring& text, const wchar_t* prefix, std::wstring& rest) {
    std::wstring head(prefix);
    if (text.compare(0, head.size(), head) != 0) {
        return false;
    }
    rest = text.substr(head.size());
    return true;
}

std::wstring AsciiLower(std::wstring text) {
    for (wchar_t& c : text) {
        c = c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c;
    }
    return text;
}

}  // namespace

Relation RelationOf(const std::wstring& type) {
    std::wstring rest;
    if (StartsWith(type, kXpsRelations, rest) || StartsWith(type, kOpenXpsRelations, rest)) {
        for (const auto& known : kFixedRelations) {
            if (rest == known.name) {
                return known.relation;
            }
        }
    } else if (StartsWith(type, kPackageRelations, rest)) {
        for (const auto& known : kPackageRelationNames) {
            if (rest == known.name) {
                return known.relation;
            }
        }
    }
    return Relation::Other;
}

std::wstring RelationshipType(Relation relation, Flavour flavour) {
    for (const auto& known : kFixedRelations) {
        if (known.relation == relation) {
            return (flavour == Flavour::OpenXps ? kOpenXpsRelations : kXpsRelations) +
                   std::wstring(known.name);
        }
    }
    for (const auto& known : kPackageRelationNames) {
        if (known.relation == relation) {
            return kPackageRelations + std::wstring(known.name);
        }
    }
    return std::wstring();
}

const wchar_t* MarkupNamespace(Flavour flavour) {
    return flavour == Flavour::OpenXps ? kOpenXpsMarkup : kXpsMarkup;
}

HRESULT XpsPackage::OpenFile(const std::wstring& path) {
    std::unique_ptr<FileSource> file(new FileSource());
    HRESULT hr = file->Open(path);
    return FAILED(hr) ? hr : Open(std::move(file));
}

HRESULT XpsPackage::Open(std::unique_ptr<ByteSource> source, const ZipCaps& caps) {
    HRESULT hr = zip_.Open(std::move(source), caps);
    return FAILED(hr) ? hr : WithoutThrowing([this] { return ReadContentTypes(); });
}

HRESULT XpsPackage::ReadContentTypes() {
    std::string markup;
    HRESULT hr = zip_.Read(L"/[Content_Types].xml", markup);
    if (hr == kPartMissing) {
        return kNotAPackage;
    }
    xml::XmlReader reader;
    if (SUCCEEDED(hr)) {
        hr = reader.Open(markup);
    }
    xml::Node node;
    while (SUCCEEDED(hr) && SUCCEEDED(hr = reader.Next(node)) && node != xml::Node::End) {
        if (node != xml::Node::StartElement || reader.NamespaceUri() != kContentTypesNamespace) {
            continue;
        }
        const std::wstring* type = reader.Find(L"ContentType");
        const std::wstring* extension = reader.Find(L"Extension");
        const std::wstring* partName = reader.Find(L"PartName");
        if (reader.LocalName() == L"Default" && type != nullptr && extension != nullptr) {
            defaults_.emplace_back(AsciiLower(*extension), *type);
        } else if (reader.LocalName() == L"Override" && type != nullptr && partName != nullptr) {
            overrides_.emplace_back(PartKey(*partName), *type);
        }
    }
    return hr;
}

std::wstring XpsPackage::ContentType(const std::wstring& partName) const {
    std::wstring key = PartKey(partName);
    for (const auto& type : overrides_) {
        if (type.first == key) {
            return type.second;
        }
    }
    std::size_t dot = key.rfind(L'.');
    std::wstring extension =
        dot == std::wstring::npos || key.find(L'/', dot) != std::wstring::npos ? L"" : key.substr(dot + 1);
    for (const auto& type : defaults_) {
        if (type.first == extension) {
            return type.second;
        }
    }
    return L"application/octet-stream";
}

HRESULT XpsPackage::Relationships(const std::wstring& partName,
                                  std::vector<Relationship>& relationships) const {
    relationships.clear();
    std::wstring source = partName.empty() ? L"/" : partName;
    std::string markup;
    HRESULT hr = zip_.Read(source == L"/" ? L"/_rels/.rels" : RelationshipsPartOf(source), markup);
    if (hr == kPartMissing) {
        return S_OK;
    }
    xml::XmlReader reader;
    if (SUCCEEDED(hr)) {
        hr = reader.Open(markup);
    }
    xml::Node node;
    while (SUCCEEDED(hr) && SUCCEEDED(hr = reader.Next(node)) && node != xml::Node::End) {
        if (node != xml::Node::StartElement || reader.LocalName() != L"Relationship" ||
            reader.NamespaceUri() != kRelationshipsNamespace) {
            continue;
        }
        const std::wstring* type = reader.Find(L"Type");
        const std::wstring* target = reader.Find(L"Target");
        const std::wstring* mode = reader.Find(L"TargetMode");
        if (type == nullptr || target == nullptr) {
            return xml::kMalformed;
        }
        Relationship relationship;
        relationship.type = *type;
        relationship.relation = RelationOf(*type);
        relationship.external = (mode != nullptr && *mode == L"External") || IsExternalReference(*target);
        relationship.target = relationship.external ? *target : NameOf(ResolvePartUri(source, *target));
        relationships.push_back(std::move(relationship));
    }
    return hr;
}

std::wstring XpsPackage::TargetOf(const std::wstring& partName, Relation relation) const {
    std::vector<Relationship> relationships;
    if (SUCCEEDED(Relationships(partName, relationships))) {
        for (const Relationship& relationship : relationships) {
            if (relationship.relation == relation && !relationship.external) {
                return relationship.target;
            }
        }
    }
    return std::wstring();
}

// The children of a sequence or a document: their Source attributes,
// resolved. The root must be the element asked for, in either namespace.
HRESULT XpsPackage::ReadFixedList(const std::wstring& partName, const wchar_t* root, const wchar_t* child,
                                  const wchar_t*& markupNamespace, std::vector<std::wstring>& targets,
                                  std::vector<std::pair<std::wstring, std::size_t>>* linkTargets) const {
    std::string markup;
    HRESULT hr = zip_.Read(partName, markup);
    xml::XmlReader reader;
    if (SUCCEEDED(hr)) {
        hr = reader.Open(markup);
    }
    xml::Node node;
    while (SUCCEEDED(hr) && SUCCEEDED(hr = reader.Next(node)) && node != xml::Node::End) {
        if (node != xml::Node::StartElement) {
            continue;
        }
        if (reader.Depth() == 1) {
            markupNamespace = reader.NamespaceUri() == kXpsMarkup       ? kXpsMarkup
                              : reader.NamespaceUri() == kOpenXpsMarkup ? kOpenXpsMarkup
                                                                        : nullptr;
            if (markupNamespace == nullptr || reader.LocalName() != root) {
                return kNotAPackage;
            }
        } else if (reader.Depth() == 2 && reader.LocalName() == child &&
                   reader.NamespaceUri() == markupNamespace) {
            const std::wstring* source = reader.Find(L"Source");
            if (source == nullptr) {
                return xml::kMalformed;
            }
            std::wstring target = ResolvePartUri(partName, *source);
            if (!zip_.Has(target)) {
                return kPartMissing;
            }
            targets.push_back(NameOf(target));
            if (targets.size() > kMaxPages) {
                return kOverCap;
            }
        } else if (linkTargets != nullptr && reader.Depth() == 4 && reader.LocalName() == L"LinkTarget" &&
                   !targets.empty()) {
            const std::wstring* name = reader.Find(L"Name");
            if (name != nullptr && linkTargets->size() < kMaxPages) {
                linkTargets->emplace_back(*name, targets.size() - 1);
            }
        }
    }
    return hr;
}

HRESULT XpsPackage::ReadStructure(FixedStructure& structure) const {
    return WithoutThrowing([&] { return ReadFixedStructure(structure); });
}

HRESULT XpsPackage::ReadFixedStructure(FixedStructure& structure) const {
    structure = FixedStructure();
    structure.sequence = TargetOf(L"/", Relation::FixedRepresentation);
    if (structure.sequence.empty() || !zip_.Has(structure.sequence)) {
        return kNotAPackage;
    }
    const wchar_t* sequenceNamespace = nullptr;
    std::vector<std::wstring> documents;
    HRESULT hr = ReadFixedList(structure.sequence, L"FixedDocumentSequence", L"DocumentReference",
                               sequenceNamespace, documents, nullptr);
    if (FAILED(hr)) {
        return hr;
    }
    structure.flavour = sequenceNamespace == kOpenXpsMarkup ? Flavour::OpenXps : Flavour::Xps;
    std::size_t pages = 0;
    // A document the sequence names again is read once: its pages repeat.
    std::map<std::wstring, std::size_t> read;
    for (const std::wstring& document : documents) {
        FixedDocumentInfo info{document, {}, {}};
        auto earlier = read.find(PartKey(document));
        if (earlier != read.end()) {
            info = structure.documents[earlier->second];
        } else {
            const wchar_t* documentNamespace = nullptr;
            hr = ReadFixedList(document, L"FixedDocument", L"PageContent", documentNamespace, info.pages,
                               &info.linkTargets);
            if (FAILED(hr)) {
                return hr;
            }
            if (documentNamespace != sequenceNamespace) {
                return kNotAPackage;  // one package, one namespace
            }
            read.emplace(PartKey(document), structure.documents.size());
        }
        pages += info.pages.size();
        if (pages > kMaxPages) {
            return kOverCap;
        }
        structure.documents.push_back(std::move(info));
    }
    return S_OK;
}

}  // namespace xps
