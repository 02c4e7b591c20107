// XmlWriter: markup written as UTF-8 into a string, every value escaped, the
// namespace declarations an element needs written on it. Never throws except
// std::bad_alloc.
#pragma once

#include <string>
#include <vector>

#include "xps/utf8.h"

namespace xml {

class XmlWriter {
public:
    explicit XmlWriter(std::string& output) : out_(output) {}
    // A binding in force where this writer's markup will stand, declared by
    // the markup around it (pieces written apart and joined), so that its
    // elements do not declare it again. Only before the first element.
    void Inherit(const std::wstring& prefix, const std::wstring& uri);
    // <?xml version="1.0" encoding="UTF-8"?>
    void WriteDeclaration();
    // An element in namespace uri, written with prefix (empty: the default
    // namespace); its declaration is added when that prefix is not bound to
    // uri where the element stands.
    void StartElement(const std::wstring& prefix, const std::wstring& local, const std::wstring& uri);
    // A declaration on the element just started unless the prefix is bound
    // so already, kept whether or not a name uses it (markup compatibility
    // lists prefixes by name).
    void Declare(const std::wstring& prefix, const std::wstring& uri);
    // An attribute of the element just started; uri empty: no namespace.
    void Attribute(const std::wstring& prefix, const std::wstring& local, const std::wstring& uri,
                   const std::wstring& value);
    void Attribute(const wchar_t* local, const std::wstring& value) { Attribute(L"", local, L"", value); }
    // The same with a value already in UTF-8 (long generated values: path
    // data, data URIs), escaped the same way.
    void Attribute(const std::wstring& prefix, const std::wstring& local, const std::wstring& uri,
                   const std::string& utf8Value);
    void Attribute(const wchar_t* local, const std::string& utf8Value) {
        Attribute(L"", local, L"", utf8Value);
    }
    void Text(const std::wstring& text);
    void Text(const std::string& utf8Text);
    // Ends the innermost element ("/>" when nothing was written inside it).
    void EndElement();
    // Ends every element still open.
    void EndDocument();

private:
    struct Binding {
        std::wstring prefix, uri;
    };
    struct OpenElement {
        std::wstring qname;
        std::size_t scope;
    };
    void CloseStartTag();
    void Bind(const std::wstring& prefix, const std::wstring& uri);
    bool IsBound(const std::wstring& prefix, const std::wstring& uri) const;
    void Escaped(const std::string& utf8, bool inAttribute);

    std::string& out_;
    std::vector<Binding> bindings_;
    std::vector<OpenElement> open_;
    bool startTagOpen_ = false;
    unsigned generatedPrefixes_ = 0;
};

}  // namespace xml
