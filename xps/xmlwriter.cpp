#include "xps/xmlwriter.h"

#include <cstdint>

#include "xps/xmlreader.h"

namespace xml {

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t c = p[i];
        std::size_t length = c < 0x80             ? 1
                             : (c & 0xE0) == 0xC0 ? 2
                             : (c & 0xF0) == 0xE0 ? 3
                             : (c & 0xF8) == 0xF0 ? 4
                                                  : 0;
        bool valid = length != 0 && i + length <= text.size();
        if (valid && length > 1) {
            c &= 0x7F >> length;
            for (std::size_t k = 1; valid && k < length; ++k) {
                valid = (p[i + k] & 0xC0) == 0x80;
                c = c << 6 | (p[i + k] & 0x3F);
            }
            static const std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
            valid = valid && c >= kLeast[length] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
        }
        if (!valid) {
            out += static_cast<wchar_t>(0xFFFD);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(c);
        }
        i += length;
    }
    return out;
}

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
