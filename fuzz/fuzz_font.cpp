// The font reader on any bytes: a face loaded (plain or obfuscated, any
// face of a collection), its metrics, cmap and advances, outlines, and a
// subset with a character map, which must load again as a font.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "engine/font.h"
#include "fuzz/check.h"
#include "xps/workbudget.h"

namespace {

void CheckFinite(const engine::Geometry& outline) {
    for (const engine::Figure& figure : outline.figures) {
        FUZZ_CHECK(std::isfinite(figure.start.x) && std::isfinite(figure.start.y));
        for (const engine::Segment& segment : figure.segments) {
            FUZZ_CHECK(std::isfinite(segment.end.x) && std::isfinite(segment.end.y));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A job's budget, as the converter charges it.
    xps::WorkBudget budget(xps::WorkBudget::ForInput(size), 0);
    xps::WorkBudget::Scope charged(budget);
    FuzzedDataProvider input(data, size);
    bool obfuscated = input.ConsumeBool();
    auto face = input.ConsumeIntegralInRange<std::uint16_t>(0, 3);
    std::set<std::uint16_t> glyphs;
    for (int i = input.ConsumeIntegralInRange(0, 8); i > 0; --i) {
        glyphs.insert(input.ConsumeIntegral<std::uint16_t>());
    }
    engine::Font font;
    // The GUID of an obfuscated font's name is its key.
    HRESULT hr = font.Load(input.ConsumeRemainingBytesAsString(),
                           L"/Resources/0C1D2E3F-4A5B-6C7D-8E9F-A0B1C2D3E4F5.odttf", obfuscated, face);
    if (FAILED(hr)) {
        return 0;
    }
    const engine::FontMetrics& metrics = font.Metrics();
    (void)metrics;
    engine::Font::CharacterMap characters;
    characters.family = "Fuzz";
    for (char32_t c : {U' ', U'0', U'A', U'a', U'\u00e9', U'\u20ac', U'\U0001F600'}) {
        std::uint16_t glyph = font.GlyphFor(c);
        FUZZ_CHECK(glyph == 0 || glyph < font.GlyphCount());
        font.Advance(glyph);
        font.VerticalAdvance(glyph);
        if (glyph != 0) {
            characters.characters.emplace_back(c, glyph);
            glyphs.insert(glyph);
        }
    }
    for (std::uint16_t glyph : glyphs) {
        char32_t c = font.CodePointOf(glyph);
        FUZZ_CHECK(c == 0 || font.GlyphFor(c) != 0);
        engine::Geometry outline;
        if (SUCCEEDED(font.Outline(glyph, outline))) {
            CheckFinite(outline);
        }
    }
    std::string program;
    font.Program(program);
    std::set<std::uint16_t> owned;
    for (std::uint16_t glyph : glyphs) {
        if (glyph < font.GlyphCount()) {
            owned.insert(glyph);
        }
    }
    std::string subset;
    if (SUCCEEDED(font.Subset(owned, subset, &characters))) {
        engine::Font again;
        FUZZ_CHECK(SUCCEEDED(again.Load(subset, L"/subset.ttf", false, 0)));
        FUZZ_CHECK(again.GlyphCount() == font.GlyphCount());
        for (const auto& mapped : characters.characters) {
            FUZZ_CHECK(again.GlyphFor(mapped.first) == mapped.second);
        }
    }
    return 0;
}
