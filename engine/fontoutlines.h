// FontOutlines: the fonts a writer draws glyphs of as outlines (the
// rasteriser, EMF), loaded on first use and kept across pages, each with the
// outlines of its glyphs drawn so far.
//
// Cap: at most kMaxOutlinePoints points of outlines are kept; past it, every
// font's outlines are let go and read again when needed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "engine/font.h"
#include "engine/pagemodel.h"
#include "xps/xpspackage.h"

namespace engine {

class FontOutlines {
public:
    static constexpr std::size_t kMaxOutlinePoints = 4u << 20;

    struct Entry {
        Font font;
        std::unordered_map<std::uint16_t, Geometry> outlines;
    };

    explicit FontOutlines(const xps::XpsPackage& package) : package_(package) {}

    // The font of a part (and face of a collection): LoadFontPart's failures.
    HRESULT FontFor(const std::wstring& part, std::uint16_t face, Entry*& entry);
    // The glyph's outline in font units; valid until the next call.
    HRESULT Outline(Entry& entry, std::uint16_t glyph, const Geometry*& outline);

private:
    const xps::XpsPackage& package_;
    std::map<std::wstring, std::unique_ptr<Entry>> fonts_;  // by part key and face
    std::size_t points_ = 0;
};

}  // namespace engine
