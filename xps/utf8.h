// Text between UTF-8 (markup written, ZIP item names) and UTF-16 (what the
// filters and Windows work in).
#pragma once

#include <cstddef>
#include <string>

namespace xml {

// UTF-8 and UTF-16 for markup and part names; invalid input gives U+FFFD.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
// Appends UTF-8 decoded; false at the first invalid sequence, unless each
// is replaced by U+FFFD.
bool DecodeUtf8(const unsigned char* bytes, std::size_t size, bool replaceInvalid, std::wstring& out);

}  // namespace xml
