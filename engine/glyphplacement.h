// Where each glyph of a Glyphs element stands, XPS's way, for every writer:
// the pen moves by each advance, leftwards when the bidi level is odd (right
// to left); offsets move the glyph alone, the along-baseline one mirrored
// for right to left. What the markup left out comes from the font: the
// glyph of the cluster's character, its advance.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/font.h"
#include "engine/pagemodel.h"

namespace engine {

struct PlacedGlyph {
    std::uint16_t glyph = 0;
    double x = 0, y = 0;  // the glyph's origin on the baseline, XPS units
};

// One entry for each of glyphs.glyphs, in the same order.
std::vector<PlacedGlyph> PlaceGlyphs(const GlyphsElement& glyphs, const Font& font);

bool SimulatesItalic(StyleSimulations simulations);
bool SimulatesBold(StyleSimulations simulations);
// Bold is simulated by stroking the outline this wide too.
double BoldStrokeWidth(const GlyphsElement& glyphs);

// From the glyph's outline (font units, y up) to the element's space: the
// glyph at its size and place, slanted when italic is simulated.
Matrix GlyphOutlineMatrix(const GlyphsElement& glyphs, const Font& font, const PlacedGlyph& glyph);

}  // namespace engine
