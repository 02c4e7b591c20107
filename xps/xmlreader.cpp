#include "xps/xmlreader.h"

#include "xps/utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <tuple>

#include "xps/workbudget.h"

namespace xml {

const HRESULT kMalformed = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
const HRESULT kDocumentTypeRefused = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
const HRESULT kTooDeep = HRESULT_FROM_WIN32(ERROR_STACK_OVERFLOW);
const HRESULT kUnsupportedEncoding = HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);

namespace {

constexpr wchar_t kXmlnsNamespace[] = L"http://www.w3.org/2000/xmlns/";

// XML 1.0's Char: what a document may hold at all.
bool IsXmlChar(std::uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// XML 1.0 (fifth edition) NameStartChar, for one UTF-16 unit; a surrogate
// stands for a character of the supplementary planes, which are all allowed.
bool IsNameStart(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_' || c == L':' ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
           (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xDFFF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD);
}

bool IsNameChar(wchar_t c) {
    return IsNameStart(c) || c == L'-' || c == L'.' || (c >= L'0' && c <= L'9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r'; }

void Append(std::wstring& out, std::uint32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<wchar_t>(c);
    }
}

bool DecodeUtf16(const unsigned char* p, std::size_t size, bool bigEndian, std::wstring& out) {
    if (size % 2 != 0) {
        return false;
    }
    out.reserve(size / 2);
    auto unit = [&](std::size_t i) {
        return static_cast<wchar_t>(bigEndian ? p[i] << 8 | p[i + 1] : p[i + 1] << 8 | p[i]);
    };
    for (std::size_t i = 0; i < size; i += 2) {
        wchar_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 2 >= size || unit(i + 2) < 0xDC00 || unit(i + 2) > 0xDFFF) {
                return false;
            }
            out += c;
            out += unit(i + 2);
            i += 2;
            continue;
        }
        if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        out += c;
    }
    return true;
}

// Every character is one XML allows (a surrogate pair stands for one of the
// supplementary planes, all allowed).
bool AllXmlChars(const std::wstring& text) {
    for (wchar_t c : text) {
        if (!IsXmlChar(c) && !(c >= 0xD800 && c <= 0xDFFF)) {
            return false;
        }
    }
    return true;
}

// XML's end-of-line handling: CR LF and a lone CR become LF.
void NormaliseLineEnds(std::wstring& text) {
    if (text.find(L'\r') == std::wstring::npos) {
        return;
    }
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r') {
            text[out++] = L'\n';
            if (i + 1 < text.size() && text[i + 1] == L'\n') {
                ++i;
            }
        } else {
            text[out++] = text[i];
        }
    }
    text.resize(out);
}

bool EqualsIgnoringAsciiCase(const std::wstring& a, const wchar_t* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        wchar_t x = a[i] >= L'A' && a[i] <= L'Z' ? a[i] + 32 : a[i];
        wchar_t y = b[i] >= L'A' && b[i] <= L'Z' ? b[i] + 32 : b[i];
        if (x != y) {
            return false;
        }
    }
    return i == a.size() && b[i] == 0;
}

// Splits a QName; false for an empty part or a second colon.
// Whether two items share a key: pairwise for the few attributes of most
// elements, sorted for the many of a hostile one.
template <typename Item, typename KeyOf>
bool HasTwice(const std::vector<Item>& items, KeyOf keyOf) {
    constexpr std::size_t kPairwise = 16;
    if (items.size() <= kPairwise) {
        for (std::size_t i = 0; i < items.size(); ++i) {
            for (std::size_t j = i + 1; j < items.size(); ++j) {
                if (keyOf(items[i]) == keyOf(items[j])) {
                    return true;
                }
            }
        }
        return false;
    }
    std::vector<const Item*> sorted;
    sorted.reserve(items.size());
    for (const Item& item : items) {
        sorted.push_back(&item);
    }
    std::sort(sorted.begin(), sorted.end(), [&](const Item* a, const Item* b) { return keyOf(*a) < keyOf(*b); });
    return std::adjacent_find(sorted.begin(), sorted.end(), [&](const Item* a, const Item* b) {
               return keyOf(*a) == keyOf(*b);
           }) != sorted.end();
}

bool SplitQName(const std::wstring& qname, std::wstring& prefix, std::wstring& local) {
    std::size_t colon = qname.find(L':');
    if (colon == std::wstring::npos) {
        prefix.clear();
        local = qname;
        return true;
    }
    if (colon == 0 || colon + 1 == qname.size() || qname.find(L':', colon + 1) != std::wstring::npos) {
        return false;
    }
    prefix = qname.substr(0, colon);
    local = qname.substr(colon + 1);
    return true;
}

}  // namespace

HRESULT XmlReader::Open(const void* bytes, std::size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    input_.clear();
    position_ = 0;
    failure_ = S_OK;
    ended_ = pendingEnd_ = false;
    open_.clear();
    bindings_.clear();
    bool decoded;
    if (size >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        decoded = DecodeUtf8(p + 3, size - 3, false, input_);
    } else if (size >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
        decoded = DecodeUtf16(p + 2, size - 2, p[0] == 0xFE, input_);
    } else if (size >= 2 && (p[0] == 0 || p[1] == 0)) {
        // No mark: a document starts with '<', which shows the byte order.
        decoded = DecodeUtf16(p, size, p[0] == 0, input_);
    } else {
        decoded = DecodeUtf8(p, size, false, input_);
    }
    if (!decoded || !AllXmlChars(input_)) {
        return Fail(kUnsupportedEncoding);
    }
    NormaliseLineEnds(input_);
    if (At(L"<?xml") && input_.size() > 5 && IsSpace(input_[5])) {
        position_ = 5;
        HRESULT hr = ReadDeclaration();
        if (FAILED(hr)) {
            return Fail(hr);
        }
    }
    return S_OK;
}

// <?xml version="1.0" encoding="..." standalone="..."?>: XPS allows UTF-8
// and UTF-16 only, and the bytes must be what the declaration says.
HRESULT XmlReader::ReadDeclaration() {
    bool first = true;
    for (;;) {
        std::size_t before = position_;
        SkipSpace();
        if (At(L"?>")) {
            position_ += 2;
            return first ? kMalformed : S_OK;
        }
        std::wstring name, value;
        HRESULT hr = position_ == before ? kMalformed : ReadNameAndValue(name, value);
        if (FAILED(hr)) {
            return hr;
        }
        if (first && name != L"version") {
            return kMalformed;
        }
        if (name == L"encoding" && !EqualsIgnoringAsciiCase(value, L"utf-8") &&
            !EqualsIgnoringAsciiCase(value, L"utf-16")) {
            return kUnsupportedEncoding;
        }
        first = false;
    }
}

HRESULT XmlReader::Fail(HRESULT hr) {
    failure_ = hr;
    return hr;
}

bool XmlReader::At(std::wstring_view text) const {
    return position_ <= input_.size() && input_.size() - position_ >= text.size() &&
           input_.compare(position_, text.size(), text) == 0;
}

void XmlReader::SkipSpace() {
    while (position_ < input_.size() && IsSpace(input_[position_])) {
        ++position_;
    }
}

bool XmlReader::ReadName(std::wstring& name) {
    std::size_t start = position_;
    if (position_ >= input_.size() || !IsNameStart(input_[position_])) {
        return false;
    }
    while (position_ < input_.size() && IsNameChar(input_[position_])) {
        ++position_;
    }
    name.assign(input_, start, position_ - start);
    return true;
}

bool XmlReader::Resolve(const std::wstring& prefix, std::wstring& uri) const {
    if (prefix == L"xml") {
        uri = kXmlNamespace;
        return true;
    }
    for (auto it = bindings_.rbegin(); it != bindings_.rend(); ++it) {
        // Declarations in scope are few in any real document; a hostile one
        // pays for each it makes every name look through.
        if (!xps::ChargeWork(xps::kLookUpCost)) {
            break;
        }
        if (it->prefix == prefix) {
            uri = it->uri;
            return true;
        }
    }
    uri.clear();
    return prefix.empty();
}

const std::wstring* XmlReader::Find(std::wstring_view local) const {
    for (const Attribute& attribute : attributes_) {
        if (attribute.uri.empty() && attribute.local == local) {
            return &attribute.value;
        }
    }
    return nullptr;
}

HRESULT XmlReader::Next(Node& node) {
    if (FAILED(failure_)) {
        return failure_;
    }
    if (pendingEnd_) {
        pendingEnd_ = false;
        empty_ = false;
        bindings_.resize(open_.back().scope);
        open_.pop_back();
        ended_ = open_.empty();
        node = Node::EndElement;
        return S_OK;
    }
    HRESULT hr = ReadMarkup(node);
    return FAILED(hr) ? Fail(hr) : hr;
}

HRESULT XmlReader::ReadMarkup(Node& node) {
    for (;;) {
        if (position_ >= input_.size()) {
            if (!ended_) {
                return kMalformed;  // no root, or elements left open
            }
            node = Node::End;
            return S_OK;
        }
        if (input_[position_] != L'<') {
            if (open_.empty()) {
                // Only white space stands outside the root element.
                std::size_t before = position_;
                SkipSpace();
                if (position_ == before) {
                    return kMalformed;
                }
                continue;
            }
            return ReadText(node);
        }
        if (At(L"<?")) {
            position_ += 2;
            std::wstring target;
            if (!ReadName(target) || EqualsIgnoringAsciiCase(target, L"xml")) {
                return kMalformed;
            }
            if (!At(L"?>") && (position_ >= input_.size() || !IsSpace(input_[position_]))) {
                return kMalformed;
            }
            HRESULT hr = SkipUntil(L"?>");
            if (FAILED(hr)) {
                return hr;
            }
            continue;
        }
        if (At(L"<!--")) {
            position_ += 4;
            std::size_t end = input_.find(L"--", position_);
            if (end == std::wstring::npos || end + 2 >= input_.size() || input_[end + 2] != L'>') {
                return kMalformed;  // unterminated, or "--" inside a comment
            }
            position_ = end + 3;
            continue;
        }
        if (At(L"<![CDATA[")) {
            if (open_.empty()) {
                return kMalformed;
            }
            position_ += 9;
            std::size_t end = input_.find(L"]]>", position_);
            if (end == std::wstring::npos) {
                return kMalformed;
            }
            text_.assign(input_, position_, end - position_);
            position_ = end + 3;
            node = Node::Text;
            return S_OK;
        }
        if (At(L"<!DOCTYPE")) {
            return kDocumentTypeRefused;
        }
        if (At(L"<!")) {
            return kMalformed;
        }
        if (At(L"</")) {
            return ReadEndTag(node);
        }
        return ReadStartTag(node);
    }
}

HRESULT XmlReader::SkipUntil(const wchar_t* terminator) {
    std::size_t end = input_.find(terminator, position_);
    if (end == std::wstring::npos) {
        return kMalformed;
    }
    position_ = end + std::wcslen(terminator);
    return S_OK;
}

HRESULT XmlReader::ReadText(Node& node) {
    text_.clear();
    while (position_ < input_.size() && input_[position_] != L'<') {
        wchar_t c = input_[position_];
        if (c == L'&') {
            HRESULT hr = ReadReference(text_);
            if (FAILED(hr)) {
                return hr;
            }
            continue;
        }
        if (c == L'>' && position_ >= 2 && input_[position_ - 1] == L']' && input_[position_ - 2] == L']') {
            return kMalformed;  // "]]>" outside a CDATA section
        }
        text_ += c;
        ++position_;
    }
    node = Node::Text;
    return S_OK;
}

// &name; of the five predefined entities, &#decimal; or &#xhex;.
HRESULT XmlReader::ReadReference(std::wstring& out) {
    std::size_t end = input_.find(L';', position_);
    if (end == std::wstring::npos || end - position_ > 12) {
        return kMalformed;
    }
    std::wstring name = input_.substr(position_ + 1, end - position_ - 1);
    position_ = end + 1;
    static const struct {
        const wchar_t* name;
        wchar_t c;
    } kEntities[] = {{L"lt", L'<'}, {L"gt", L'>'}, {L"amp", L'&'}, {L"apos", L'\''}, {L"quot", L'"'}};
    for (const auto& entity : kEntities) {
        if (name == entity.name) {
            out += entity.c;
            return S_OK;
        }
    }
    if (name.size() < 2 || name[0] != L'#') {
        return kMalformed;  // no document type defines any other entity
    }
    bool hex = name[1] == L'x';
    std::size_t i = hex ? 2 : 1;
    if (i == name.size()) {
        return kMalformed;
    }
    std::uint32_t c = 0;
    for (; i < name.size(); ++i) {
        wchar_t d = name[i];
        unsigned digit = d >= L'0' && d <= L'9'          ? d - L'0'
                         : hex && d >= L'a' && d <= L'f' ? d - L'a' + 10
                         : hex && d >= L'A' && d <= L'F' ? d - L'A' + 10
                                                         : 99;
        if (digit == 99 || c > 0x10FFFF) {
            return kMalformed;
        }
        c = c * (hex ? 16 : 10) + digit;
    }
    if (!IsXmlChar(c)) {
        return kMalformed;
    }
    Append(out, c);
    return S_OK;
}

// A quoted value: references replaced, each white-space character a blank
// (attribute-value normalisation for CDATA attributes).
HRESULT XmlReader::ReadAttributeValue(std::wstring& value) {
    if (position_ >= input_.size() || (input_[position_] != L'"' && input_[position_] != L'\'')) {
        return kMalformed;
    }
    wchar_t quote = input_[position_++];
    value.clear();
    for (;;) {
        if (position_ >= input_.size()) {
            return kMalformed;
        }
        wchar_t c = input_[position_];
        if (c == quote) {
            ++position_;
            return S_OK;
        }
        if (c == L'<') {
            return kMalformed;
        }
        if (c == L'&') {
            HRESULT hr = ReadReference(value);
            if (FAILED(hr)) {
                return hr;
            }
            continue;
        }
        // A run of plain characters goes in at once.
        std::size_t end = position_;
        while (end < input_.size() && input_[end] != quote && input_[end] != L'<' && input_[end] != L'&' &&
               (input_[end] == L' ' || !IsSpace(input_[end]))) {
            ++end;
        }
        if (end == position_) {
            value += L' ';  // other white space is normalised to a blank
            ++position_;
        } else {
            value.append(input_, position_, end - position_);
            position_ = end;
        }
    }
}

// name = "value", white space allowed around the sign.
HRESULT XmlReader::ReadNameAndValue(std::wstring& name, std::wstring& value) {
    if (!ReadName(name)) {
        return kMalformed;
    }
    SkipSpace();
    if (!At(L"=")) {
        return kMalformed;
    }
    ++position_;
    SkipSpace();
    return ReadAttributeValue(value);
}

HRESULT XmlReader::ReadStartTag(Node& node) {
    if (ended_) {
        return kMalformed;  // a second root element
    }
    if (open_.size() >= maxDepth_) {
        return kTooDeep;
    }
    ++position_;
    std::wstring qname;
    if (!ReadName(qname)) {
        return kMalformed;
    }
    struct RawAttribute {
        std::wstring qname, value;
    };
    std::vector<RawAttribute> raw;
    raw.reserve(8);  // most elements have fewer: one allocation
    for (;;) {
        std::size_t before = position_;
        SkipSpace();
        if (At(L"/>") || At(L">")) {
            break;
        }
        RawAttribute attribute;
        HRESULT hr = position_ == before ? kMalformed : ReadNameAndValue(attribute.qname, attribute.value);
        if (FAILED(hr)) {
            return hr;
        }
        if (!xps::ChargeWork(xps::kLookUpCost)) {
            return xps::WorkBudget::Current()->Failure();
        }
        raw.push_back(std::move(attribute));
    }
    if (HasTwice(raw, [](const RawAttribute& a) { return std::tie(a.qname); })) {
        return kMalformed;
    }
    empty_ = At(L"/>");
    position_ += empty_ ? 2 : 1;

    // Namespace declarations first: the element's own names may use them.
    std::size_t scope = bindings_.size();
    declarations_.clear();
    attributes_.clear();
    for (const RawAttribute& attribute : raw) {
        Declaration declaration;
        if (attribute.qname == L"xmlns") {
            declaration.uri = attribute.value;
        } else if (attribute.qname.compare(0, 6, L"xmlns:") == 0) {
            declaration.prefix = attribute.qname.substr(6);
            declaration.uri = attribute.value;
            bool isXml = declaration.prefix == L"xml", toXml = declaration.uri == kXmlNamespace;
            if (declaration.uri.empty() || declaration.prefix == L"xmlns" || isXml != toXml ||
                declaration.prefix.find(L':') != std::wstring::npos) {
                return kMalformed;
            }
        } else {
            continue;
        }
        if (declaration.uri == kXmlnsNamespace ||
            (declaration.prefix.empty() && declaration.uri == kXmlNamespace)) {
            return kMalformed;
        }
        bindings_.push_back(declaration);
        declarations_.push_back(std::move(declaration));
    }
    if (!SplitQName(qname, prefix_, local_) || !Resolve(prefix_, uri_)) {
        return kMalformed;
    }
    for (RawAttribute& rawAttribute : raw) {
        if (rawAttribute.qname == L"xmlns" || rawAttribute.qname.compare(0, 6, L"xmlns:") == 0) {
            continue;
        }
        Attribute attribute;
        if (!SplitQName(rawAttribute.qname, attribute.prefix, attribute.local)) {
            return kMalformed;
        }
        if (!attribute.prefix.empty() &&
            (!Resolve(attribute.prefix, attribute.uri) || attribute.uri.empty())) {
            return kMalformed;  // an undeclared prefix
        }
        attribute.value = std::move(rawAttribute.value);
        attributes_.push_back(std::move(attribute));
    }
    if (HasTwice(attributes_, [](const Attribute& a) { return std::tie(a.uri, a.local); })) {
        return kMalformed;  // the same expanded name twice
    }
    open_.push_back({std::move(qname), scope});
    pendingEnd_ = empty_;
    node = Node::StartElement;
    return S_OK;
}

HRESULT XmlReader::ReadEndTag(Node& node) {
    position_ += 2;
    std::wstring qname;
    if (!ReadName(qname)) {
        return kMalformed;
    }
    SkipSpace();
    if (!At(L">") || open_.empty() || open_.back().qname != qname) {
        return kMalformed;
    }
    ++position_;
    if (!SplitQName(qname, prefix_, local_) || !Resolve(prefix_, uri_)) {
        return kMalformed;
    }
    bindings_.resize(open_.back().scope);
    open_.pop_back();
    ended_ = open_.empty();
    empty_ = false;
    attributes_.clear();
    declarations_.clear();
    node = Node::EndElement;
    return S_OK;
}

}  // namespace xml
