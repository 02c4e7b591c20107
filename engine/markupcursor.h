// MarkupCursor: FixedPage markup as its reader sees it once markup
// compatibility has had its say. Elements of an ignorable namespace are
// skipped with their content (unwrapped where mc:ProcessContent names
// them); of each mc:AlternateContent only one branch stands, in its place:
// the first mc:Choice whose Requires names only understood namespaces, else
// the mc:Fallback. White space between elements is dropped.
//
// An element of a namespace neither understood nor ignorable, an
// mc:MustUnderstand naming one not understood, and text in element content
// fail with xml::kMalformed; faults of the markup itself fail with the
// reader's HRESULT.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include "xps/xmlreader.h"

namespace engine {

extern const wchar_t kCompatibilityNamespace[];

class MarkupCursor {
public:
    HRESULT Open(const std::string& markup) { return reader_.Open(markup); }
    // The namespaces whose elements the caller reads; may change as it
    // learns the document's own (after its root).
    void Understand(std::vector<std::wstring> namespaces) { understood_ = std::move(namespaces); }
    // The next start or end of an element of an understood namespace;
    // Node::End once after the root.
    HRESULT Next(xml::Node& node);

    const std::wstring& LocalName() const { return reader_.LocalName(); }
    const std::wstring& NamespaceUri() const { return reader_.NamespaceUri(); }
    const std::vector<xml::Attribute>& Attributes() const { return reader_.Attributes(); }

private:
    HRESULT ReadCompatibility(std::size_t depth);
    HRESULT ReadCompatibilityElement(std::size_t depth, bool inAlternateContent, bool& unwrap);
    HRESULT Skip(std::size_t depth);
    void EndScopes(std::size_t depth);
    HRESULT Namespaces(const std::wstring& prefixes, std::vector<std::wstring>& uris) const;
    bool Understood(const std::wstring& uri) const;
    bool Ignorable(const std::wstring& uri) const;
    bool ProcessContent(const std::wstring& uri, const std::wstring& local) const;

    xml::XmlReader reader_;
    std::vector<std::wstring> understood_;
    // mc:Ignorable and mc:ProcessContent of an element, for it and its content.
    struct Scope {
        std::size_t depth;
        std::vector<std::wstring> ignorable;
        std::vector<std::pair<std::wstring, std::wstring>> processContent;  // namespace, local name or "*"
    };
    std::vector<Scope> scopes_;
    // An element whose content stands in its place.
    struct Unwrapped {
        std::size_t depth;
        bool alternateContent;
        bool chosen;  // of an AlternateContent: a branch was taken
    };
    std::vector<Unwrapped> unwrapped_;
};

}  // namespace engine
