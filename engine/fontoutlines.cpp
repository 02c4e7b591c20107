#include "engine/fontoutlines.h"

#include <utility>

#include "xps/partname.h"

namespace engine {

HRESULT FontOutlines::FontFor(const std::wstring& part, std::uint16_t face, Entry*& entry) {
    std::wstring key = xps::PartKey(part) + L"#" + std::to_wstring(face);
    auto found = fonts_.find(key);
    if (found != fonts_.end()) {
        entry = found->second.get();
        return S_OK;
    }
    std::unique_ptr<Entry> loaded(new Entry());
    HRESULT hr = LoadFontPart(package_, part, face, loaded->font);
    if (SUCCEEDED(hr) && loaded->font.Metrics().unitsPerEm == 0) {
        hr = kFontDamaged;
    }
    if (FAILED(hr)) {
        return hr;
    }
    entry = loaded.get();
    fonts_[key] = std::move(loaded);
    return S_OK;
}

HRESULT FontOutlines::Outline(Entry& entry, std::uint16_t glyph, const Geometry*& outline) {
    auto found = entry.outlines.find(glyph);
    if (found == entry.outlines.end()) {
        Geometry loaded;
        HRESULT hr = entry.font.Outline(glyph, loaded);
        if (FAILED(hr)) {
            return hr;
        }
        std::size_t points = 0;
        for (const Figure& figure : loaded.figures) {
            points += 1 + 3 * figure.segments.size();
        }
        if (points_ + points > kMaxOutlinePoints) {
            for (auto& font : fonts_) {
                font.second->outlines.clear();
            }
            points_ = 0;
        }
        points_ += points;
        found = entry.outlines.emplace(glyph, std::move(loaded)).first;
    }
    outline = &found->second;
    return S_OK;
}

}  // namespace engine
