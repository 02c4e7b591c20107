#include "xps/xmlwriter.h"

#include <cstdint>

#include "xps/utf8.h"
#include "xps/xmlreader.h"

namespace xml {

void XmlWriter::WriteDeclaration() { out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"; }

bool XmlWriter::IsBound(const std::wstring& prefix, const std::wstring& uri) const {
    if (prefix == L"xml") {
        return uri == kXmlNamespace;
    }
    for (auto it = bindings_.rbegin(); it != bindings_.rend(); ++it) {
        if (it->prefix == prefix) {
            return it->uri == uri;
        }
    }
    return prefix.empty() && uri.empty();
}

void XmlWriter::Bind(const std::wstring& prefix, const std::wstring& uri) {
    for (std::size_t i = open_.back().scope; i < bindings_.size(); ++i) {
        if (bindings_[i].prefix == prefix) {
            return;  // declared on this element already
        }
    }
    bindings_.push_back({prefix, uri});
    out_ += prefix.empty() ? " xmlns=\"" : " xmlns:" + ToUtf8(prefix) + "=\"";
    Escaped(ToUtf8(uri), true);
    out_ += '"';
}

void XmlWriter::Inherit(const std::wstring& prefix, const std::wstring& uri) {
    if (open_.empty() && !IsBound(prefix, uri)) {
        bindings_.push_back({prefix, uri});
    }
}

void XmlWriter::StartElement(const std::wstring& prefix, const std::wstring& local, const std::wstring& uri) {
    CloseStartTag();
    std::wstring qname = prefix.empty() ? local : prefix + L":" + local;
    open_.push_back({qname, bindings_.size()});
    out_ += '<';
    out_ += ToUtf8(qname);
    startTagOpen_ = true;
    if (!IsBound(prefix, uri)) {
        Bind(prefix, uri);
    }
}

void XmlWriter::Declare(const std::wstring& prefix, const std::wstring& uri) {
    if (startTagOpen_ && !uri.empty() && !IsBound(prefix, uri)) {
        Bind(prefix, uri);
    }
}

void XmlWriter::Attribute(const std::wstring& prefix, const std::wstring& local, const std::wstring& uri,
                          const std::wstring& value) {
    Attribute(prefix, local, uri, ToUtf8(value));
}

void XmlWriter::Attribute(const std::wstring& prefix, const std::wstring& local, const std::wstring& uri,
                          const std::string& utf8Value) {
    if (!startTagOpen_) {
        return;
    }
    std::wstring usedPrefix = uri.empty() ? std::wstring() : prefix;
    if (!uri.empty() && (usedPrefix.empty() || !IsBound(usedPrefix, uri))) {
        // A namespaced attribute needs a prefix bound to its namespace here.
        bool taken = false;
        for (std::size_t i = open_.back().scope; i < bindings_.size(); ++i) {
            taken = taken || bindings_[i].prefix == usedPrefix;
        }
        if (usedPrefix.empty() || taken) {
            usedPrefix = L"ns" + std::to_wstring(++generatedPrefixes_);
        }
        Bind(usedPrefix, uri);
    }
    out_ += ' ';
    out_ += ToUtf8(usedPrefix.empty() ? local : usedPrefix + L":" + local);
    out_ += "=\"";
    Escaped(utf8Value, true);
    out_ += '"';
}

void XmlWriter::Text(const std::wstring& text) { Text(ToUtf8(text)); }

void XmlWriter::Text(const std::string& utf8Text) {
    CloseStartTag();
    Escaped(utf8Text, false);
}

void XmlWriter::CloseStartTag() {
    if (startTagOpen_) {
        out_ += '>';
        startTagOpen_ = false;
    }
}

void XmlWriter::EndElement() {
    if (open_.empty()) {
        return;
    }
    if (startTagOpen_) {
        out_ += "/>";
        startTagOpen_ = false;
    } else {
        out_ += "</";
        out_ += ToUtf8(open_.back().qname);
        out_ += '>';
    }
    bindings_.resize(open_.back().scope);
    open_.pop_back();
}

void XmlWriter::EndDocument() {
    while (!open_.empty()) {
        EndElement();
    }
}

// What a reader would otherwise change: markup characters always, and in an
// attribute the white space that attribute-value normalisation would turn
// into blanks.
void XmlWriter::Escaped(const std::string& utf8, bool inAttribute) {
    // Runs that need nothing are copied whole: values can be long (data URIs).
    std::size_t run = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char* replacement = nullptr;
        switch (utf8[i]) {
            case '&':
                replacement = "&amp;";
                break;
            case '<':
                replacement = "&lt;";
                break;
            case '>':
                replacement = "&gt;";
                break;
            case '"':
                replacement = inAttribute ? "&quot;" : nullptr;
                break;
            case '\r':
                replacement = "&#xD;";
                break;
            case '\n':
                replacement = inAttribute ? "&#xA;" : nullptr;
                break;
            case '\t':
                replacement = inAttribute ? "&#x9;" : nullptr;
                break;
            default:
                break;
        }
        if (replacement != nullptr) {
            out_.append(utf8, run, i - run);
            out_ += replacement;
            run = i + 1;
        }
    }
    out_.append(utf8, run, std::string::npos);
}

}  // namespace xml
