// XpsPackage: an XPS package as the Open Packaging Conventions lay it out,
// in either of its two namespaces: XPS (2005/06) and OpenXPS (ECMA-388).
// It reads the content types, the relationships of any part and the fixed
// structure (the sequence, its documents, their pages); parts are read on
// demand from the ZIP container, from any thread. No call throws.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "xps/ziparchive.h"

namespace xps {

enum class Flavour { Xps, OpenXps };

// What a relationship type means, whichever namespace spells it.
enum class Relation {
    FixedRepresentation,
    PrintTicket,
    RequiredResource,
    RestrictedFont,
    DocumentStructure,
    StoryFragments,
    SignatureDefinitions,
    DiscardControl,
    Thumbnail,
    DigitalSignature,
    CoreProperties,
    Other,
};
Relation RelationOf(const std::wstring& type);
// The type of a relation in a flavour's namespace; empty for Other.
std::wstring RelationshipType(Relation relation, Flavour flavour);
// The namespace of the fixed markup (FixedPage, FixedDocument...).
const wchar_t* MarkupNamespace(Flavour flavour);

struct Relationship {
    std::wstring type;
    Relation relation = Relation::Other;
    std::wstring target;  // a part name, resolved; the URI itself when external
    bool external = false;
};

struct FixedDocumentInfo {
    std::wstring name;
    std::vector<std::wstring> pages;
    // The names a PageContent's LinkTargets give its page, and that page's
    // index: what outlines and hyperlinks point at ("doc.fdoc#name").
    std::vector<std::pair<std::wstring, std::size_t>> linkTargets;
};

struct FixedStructure {
    Flavour flavour = Flavour::Xps;
    std::wstring sequence;
    std::vector<FixedDocumentInfo> documents;
};

class XpsPackage {
public:
    // A job of more pages than this is no print job.
    static constexpr std::size_t kMaxPages = 100000;

    HRESULT Open(std::unique_ptr<ByteSource> source, const ZipCaps& caps = ZipCaps());
    HRESULT OpenFile(const std::wstring& path);

    bool Has(const std::wstring& partName) const { return zip_.Has(partName); }
    std::uint64_t Size() const { return zip_.Size(); }
    HRESULT Read(const std::wstring& partName, std::string& content) const {
        return zip_.Read(partName, content);
    }
    // The part's name as the package spells it.
    std::wstring NameOf(const std::wstring& partName) const { return zip_.NameOf(partName); }
    std::wstring ContentType(const std::wstring& partName) const;
    // The relationships whose source is partName ("/" for the package); none
    // when the part has no relationships part.
    HRESULT Relationships(const std::wstring& partName, std::vector<Relationship>& relationships) const;
    // The first relationship of this meaning; empty when there is none.
    std::wstring TargetOf(const std::wstring& partName, Relation relation) const;
    // The sequence, its documents and their pages, each a part of the package.
    HRESULT ReadStructure(FixedStructure& structure) const;

private:
    HRESULT ReadContentTypes();
    HRESULT ReadRelationships(const std::wstring& partName, std::vector<Relationship>& relationships) const;
    HRESULT ReadFixedStructure(FixedStructure& structure) const;
    HRESULT ReadFixedList(const std::wstring& partName, const wchar_t* root, const wchar_t* child,
                          const wchar_t*& markupNamespace, std::vector<std::wstring>& targets,
                          std::vector<std::pair<std::wstring, std::size_t>>* linkTargets) const;

    ZipArchive zip_;
    std::vector<std::pair<std::wstring, std::wstring>> defaults_;   // extension (lower case) -> type
    std::vector<std::pair<std::wstring, std::wstring>> overrides_;  // part key -> type
};

}  // namespace xps
