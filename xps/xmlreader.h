// XmlReader: the markup of a package part (pages, documents, relationships,
// content types, print tickets), read the same on every Windows and under
// Wine. A strict, non-validating XML 1.0 reader with namespaces, over bytes in
// UTF-8 or UTF-16 (by byte order mark or by the XML declaration).
//
// No document type declaration is accepted, so no entity can be defined or
// fetched: only the five predefined entities and character references are
// read. Input is read in one pass without recursion; nesting is bounded by
// MaxDepth. Never throws except std::bad_alloc.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

namespace xml {

// Malformed markup (HRESULT_FROM_WIN32(ERROR_INVALID_DATA)) and the cases a
// caller may want to tell apart.
extern const HRESULT kMalformed;
extern const HRESULT kDocumentTypeRefused;  // a <!DOCTYPE: entities stay off
extern const HRESULT kTooDeep;
extern const HRESULT kUnsupportedEncoding;

constexpr wchar_t kXmlNamespace[] = L"http://www.w3.org/XML/1998/namespace";

struct Attribute {
    std::wstring prefix;
    std::wstring local;
    std::wstring uri;  // empty for an unprefixed attribute
    std::wstring value;
};

// A namespace declaration of an element: prefix empty for xmlns="...".
struct Declaration {
    std::wstring prefix;
    std::wstring uri;
};

enum class Node { StartElement, EndElement, Text, End };

class XmlReader {
public:
    // Takes a copy of the markup, decoded. Fails on bytes that are not
    // UTF-8 or UTF-16, or an encoding declaration of another encoding.
    HRESULT Open(const void* bytes, std::size_t size);
    HRESULT Open(const std::string& bytes) { return Open(bytes.data(), bytes.size()); }
    void SetMaxDepth(std::size_t depth) { maxDepth_ = depth; }

    // The next node: S_OK and Node::End once after the root element closed,
    // a failure at the first fault (and every call after it).
    HRESULT Next(Node& node);

    // The element just started or ended.
    const std::wstring& Prefix() const { return prefix_; }
    const std::wstring& LocalName() const { return local_; }
    const std::wstring& NamespaceUri() const { return uri_; }
    // True when the start tag closed itself; its EndElement follows at once.
    bool IsEmptyElement() const { return empty_; }
    // The attributes of the element just started, without namespace
    // declarations, in document order.
    const std::vector<Attribute>& Attributes() const { return attributes_; }
    const std::vector<Declaration>& Declarations() const { return declarations_; }
    // The value of an unprefixed attribute; null when absent.
    const std::wstring* Find(std::wstring_view local) const;
    // Text, CDATA sections and references, with line ends as LF; white space too.
    const std::wstring& Text() const { return text_; }
    // The namespace a prefix is bound to where the reader stands (for
    // QName values); false for an undeclared prefix.
    bool LookupNamespace(const std::wstring& prefix, std::wstring& uri) const { return Resolve(prefix, uri); }
    // Elements open around the current node: a start tag counts itself, an
    // end tag no longer does.
    std::size_t Depth() const { return open_.size(); }

private:
    HRESULT Fail(HRESULT hr);
    HRESULT ReadMarkup(Node& node);
    HRESULT ReadStartTag(Node& node);
    HRESULT ReadEndTag(Node& node);
    HRESULT ReadText(Node& node);
    HRESULT ReadReference(std::wstring& out);
    HRESULT ReadAttributeValue(std::wstring& value);
    HRESULT ReadNameAndValue(std::wstring& name, std::wstring& value);
    HRESULT SkipUntil(const wchar_t* terminator);
    HRESULT ReadDeclaration();
    bool ReadName(std::wstring& name);
    void SkipSpace();
    bool Resolve(const std::wstring& prefix, std::wstring& uri) const;
    bool At(std::wstring_view text) const;

    std::wstring input_;
    std::size_t position_ = 0;
    std::size_t maxDepth_ = 256;
    HRESULT failure_ = S_OK;
    bool ended_ = false;
    bool pendingEnd_ = false;

    struct OpenElement {
        std::wstring qname;
        std::size_t scope;  // bindings_.size() before the element's own
    };
    std::vector<OpenElement> open_;
    std::vector<Declaration> bindings_;  // every declaration in scope, innermost last

    std::wstring prefix_, local_, uri_, text_;
    bool empty_ = false;
    std::vector<Attribute> attributes_;
    std::vector<Declaration> declarations_;
};

}  // namespace xml
