#include "engine/fontpart.h"

namespace engine {

namespace {

bool EndsWithIgnoringCase(const std::wstring& text, const wchar_t* suffix) {
    std::wstring tail(suffix);
    if (text.size() < tail.size()) {
        return false;
    }
    for (std::size_t i = 0; i < tail.size(); ++i) {
        wchar_t c = text[text.size() - tail.size() + i];
        if ((c >= L'A' && c <= L'Z' ? c + 32 : c) != tail[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

HRESULT LoadFontPart(const xps::XpsPackage& package, const std::wstring& part, std::uint16_t face,
                     Font& font) {
    std::string bytes;
    HRESULT hr = package.Read(part, bytes);
    if (FAILED(hr)) {
        return hr;
    }
    bool obfuscated = package.ContentType(part).find(L"obfuscated") != std::wstring::npos ||
                      EndsWithIgnoringCase(part, L".odttf");
    return font.Load(std::move(bytes), package.NameOf(part), obfuscated, face);
}

}  // namespace engine
