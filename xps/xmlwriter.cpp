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
    Escaped(uri, true);
    out_ += '"';
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
    Escaped(value, true);
    out_ += '"';
}

void XmlWriter::Text(const std::wstring& text) {
    CloseStartTag();
    Escaped(text, false);
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
void XmlWriter::Escaped(const std::wstring& text, bool inAttribute) {
    std::string bytes = ToUtf8(text);
    for (char c : bytes) {
        switch (c) {
            case '&':
                out_ += "&amp;";
                break;
            case '<':
                out_ += "&lt;";
                break;
            case '>':
                out_ += "&gt;";
                break;
            case '"':
                out_ += inAttribute ? "&quot;" : "\"";
                break;
            case '\r':
                out_ += "&#xD;";
                break;
            case '\n':
                out_ += inAttribute ? "&#xA;" : "\n";
                break;
            case '\t':
                out_ += inAttribute ? "&#x9;" : "\t";
                break;
            default:
                out_ += c;
        }
    }
}

}  // namespace xml
