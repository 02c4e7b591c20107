#include "engine/glyphplacement.h"

namespace engine {

std::vector<PlacedGlyph> PlaceGlyphs(const GlyphsElement& glyphs, const Font& font) {
    double scale = glyphs.emSize / font.Metrics().unitsPerEm;
    bool rightToLeft = glyphs.bidiLevel % 2 != 0;
    std::vector<PlacedGlyph> placed;
    placed.reserve(glyphs.glyphs.size());
    double pen = glyphs.origin.x;
    for (const Glyph& glyph : glyphs.glyphs) {
        std::uint16_t index = glyph.index;
        if (!glyph.hasIndex) {
            char32_t c = glyph.firstCharacter < glyphs.text.size() ? glyphs.text[glyph.firstCharacter] : 0;
            index = font.GlyphFor(c);
        }
        double advance = glyph.hasAdvance
                             ? glyph.advance
                             : (glyphs.sideways ? font.VerticalAdvance(index) : font.Advance(index)) * scale;
        if (rightToLeft) {
            pen -= advance;
        }
        placed.push_back(
            {index, pen + (rightToLeft ? -glyph.offsetU : glyph.offsetU), glyphs.origin.y - glyph.offsetV});
        if (!rightToLeft) {
            pen += advance;
        }
    }
    return placed;
}

bool SimulatesItalic(StyleSimulations simulations) {
    return simulations == StyleSimulations::Italic || simulations == StyleSimulations::BoldItalic;
}

bool SimulatesBold(StyleSimulations simulations) {
    return simulations == StyleSimulations::Bold || simulations == StyleSimulations::BoldItalic;
}

double BoldStrokeWidth(const GlyphsElement& glyphs) { return glyphs.emSize / 50; }

Matrix GlyphOutlineMatrix(const GlyphsElement& glyphs, const Font& font, const PlacedGlyph& glyph) {
    double scale = glyphs.emSize / font.Metrics().unitsPerEm;
    return Matrix{scale, 0, SimulatesItalic(glyphs.simulations) ? scale * 0.2 : 0, -scale, glyph.x, glyph.y};
}

}  // namespace engine
