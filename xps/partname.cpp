#include "xps/partname.h"

#include <cstring>
#include <vector>

#include "xps/utf8.h"

namespace xps {

namespace {

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

int HexValue(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

}  // namespace

bool IsExternalReference(const std::wstring& reference) {
    std::size_t colon = reference.find(L':');
    std::size_t slash = reference.find(L'/');
    return (colon != std::wstring::npos && (slash == std::wstring::npos || colon < slash)) ||
           reference.compare(0, 2, L"//") == 0;
}

std::wstring DecodePartName(const std::wstring& name) {
    if (name.find(L'%') == std::wstring::npos) {
        return name;
    }
    std::string bytes = xml::ToUtf8(name), decoded;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        int high = i + 2 < bytes.size() ? HexValue(bytes[i + 1]) : -1;
        int low = i + 2 < bytes.size() ? HexValue(bytes[i + 2]) : -1;
        if (bytes[i] == '%' && high >= 0 && low >= 0) {
            decoded += static_cast<char>(high << 4 | low);
            i += 2;
        } else {
            decoded += bytes[i];
        }
    }
    return xml::FromUtf8(decoded);
}

std::wstring PartKey(const std::wstring& name) {
    std::wstring key = DecodePartName(name);
    for (wchar_t& c : key) {
        c = AsciiLower(c);
    }
    if (key.empty() || key[0] != L'/') {
        key.insert(key.begin(), L'/');
    }
    return key;
}

std::string ItemNameOf(const std::wstring& partName) {
    std::string bytes = xml::ToUtf8(partName.empty() || partName[0] != L'/' ? partName : partName.substr(1));
    static const char kHex[] = "0123456789ABCDEF";
    std::string item;
    for (unsigned char c : bytes) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     std::strchr("-._~!$&'()*+,;=:@/[]", c) != nullptr;
        if (plain && c != 0) {
            item += static_cast<char>(c);
        } else {
            item += '%';
            item += kHex[c >> 4];
            item += kHex[c & 15];
        }
    }
    return item;
}

std::wstring ResolvePartUri(const std::wstring& baseUri, const std::wstring& reference) {
    // A markup extension ("{StaticResource k}") is no reference.
    if (reference.empty() || reference[0] == L'{' || IsExternalReference(reference)) {
        return reference;
    }
    // A fragment or query names no other part.
    std::wstring path = reference.substr(0, reference.find_first_of(L"#?"));
    if (path.empty() || path[0] != L'/') {
        std::size_t folderEnd = baseUri.rfind(L'/');
        path = (folderEnd == std::wstring::npos ? L"/" : baseUri.substr(0, folderEnd + 1)) + path;
    }
    std::vector<std::wstring> segments;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find(L'/', start);
        end = end == std::wstring::npos ? path.size() : end;
        std::wstring segment = path.substr(start, end - start);
        if (segment == L"..") {
            if (!segments.empty()) {
                segments.pop_back();
            }
        } else if (!segment.empty() && segment != L".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::wstring resolved;
    for (const std::wstring& segment : segments) {
        resolved += L"/" + segment;
    }
    return resolved.empty() ? L"/" : resolved;
}

std::wstring RelationshipsPartOf(const std::wstring& partName) {
    std::size_t slash = partName.rfind(L'/');
    if (slash == std::wstring::npos) {
        return L"/_rels/" + partName + L".rels";
    }
    return partName.substr(0, slash + 1) + L"_rels/" + partName.substr(slash + 1) + L".rels";
}

}  // namespace xps
