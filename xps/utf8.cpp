#include "xps/utf8.h"

#include <cstdint>

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

bool DecodeUtf8(const unsigned char* p, std::size_t size, bool replaceInvalid, std::wstring& out) {
    out.reserve(out.size() + size);
    static const std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    for (std::size_t i = 0; i < size;) {
        std::uint32_t c = p[i];
        std::size_t length = c < 0x80             ? 1
                             : (c & 0xE0) == 0xC0 ? 2
                             : (c & 0xF0) == 0xE0 ? 3
                             : (c & 0xF8) == 0xF0 ? 4
                                                  : 0;
        bool valid = length != 0 && i + length <= size;
        if (valid && length > 1) {
            c &= 0x7F >> length;
            for (std::size_t k = 1; valid && k < length; ++k) {
                valid = (p[i + k] & 0xC0) == 0x80;
                c = c << 6 | (p[i + k] & 0x3F);
            }
            // Overlong forms, surrogates and what lies past Unicode are not UTF-8.
            valid = valid && c >= kLeast[length] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
        }
        if (!valid) {
            if (!replaceInvalid) {
                return false;
            }
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
    return true;
}

std::wstring FromUtf8(const std::string& text) {
    std::wstring out;
    DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size(), true, out);
    return out;
}

}  // namespace xml
