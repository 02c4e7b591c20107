// Font: one face of a font part of an XPS package (TrueType or OpenType,
// a face of a TrueType collection, obfuscated or not), read for the writers:
// its metrics, its glyphs' advances and code points, its embedding rights,
// a subset with the glyph ids unchanged, and glyph outlines.
//
// Every font is hostile input: the table directory, every table's offset and
// length, the glyph locations and every structure inside a table are checked
// before they are read; nothing recurses deeper than kMaxCompositeDepth
// (composite glyphs) or kMaxSubroutineDepth (charstring subroutines).
// Caps:
//  - a font part of at most kMaxBytes, with at most kMaxTables tables;
//  - glyph ids are 16 bits, so at most 65535 glyphs;
//  - cmap: at most kMaxMappedCodePoints code points are read from all its
//    subtables together, each subtable once; the rest are not mapped;
//  - composite glyphs nest at most kMaxCompositeDepth deep, and an outline
//    has at most kMaxOutlinePoints points with its components; a CFF
//    charstring calls subroutines at most kMaxSubroutineDepth deep and runs
//    at most kMaxOutlinePoints operators.
// No public function throws (xps::WithoutThrowing): a failure is an
// HRESULT, memory exhaustion E_OUTOFMEMORY.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include "engine/pagemodel.h"
#include "xps/xpspackage.h"

namespace engine {

// Not a TrueType or OpenType font (nor a collection of them), or an
// obfuscated font whose part name holds no GUID.
extern const HRESULT kNotAFont;
// A table, glyph or subtable that lies outside the font or contradicts itself.
extern const HRESULT kFontDamaged;
// Over one of the caps.
extern const HRESULT kFontOverCap;
// Asked of a font with CFF outlines what only TrueType outlines allow.
extern const HRESULT kFontCffOutlines;

// All in font units (Metrics().unitsPerEm to the em), y up.
struct FontMetrics {
    std::uint16_t unitsPerEm = 0;
    // head's bounding box of all glyphs.
    int xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    // hhea: descender below the baseline is negative.
    int ascender = 0, descender = 0, lineGap = 0;
    // OS/2 (all zero when the font has none). winDescent is positive below
    // the baseline, as the table keeps it.
    bool hasOs2 = false;
    int typoAscender = 0, typoDescender = 0, typoLineGap = 0;
    int winAscent = 0, winDescent = 0;
    std::uint16_t weightClass = 400;
    std::uint16_t fsType = 0;  // embedding rights
    // OS/2 version 2 on; else the top of 'H' and 'x' (capHeight falls back
    // to the ascender, xHeight to 0).
    int capHeight = 0, xHeight = 0;
    // post: degrees counter-clockwise from the vertical (a slant to the
    // right is negative).
    double italicAngle = 0;
    bool fixedPitch = false;
    // name id 6 with only what a PDF name and a PostScript name may hold
    // (printable ASCII but delimiters, at most 63); the full name without
    // spaces when there is none; may be empty.
    std::string postScriptName;
    // No Unicode cmap: the font maps through the symbol cmap (3,0), or not
    // at all.
    bool symbolic = false;
};

class Font {
public:
    static constexpr std::size_t kMaxBytes = 64u << 20;
    static constexpr std::size_t kMaxTables = 512;
    static constexpr std::size_t kMaxMappedCodePoints = 0x110000;
    static constexpr int kMaxCompositeDepth = 8;
    static constexpr std::size_t kMaxOutlinePoints = 1u << 18;
    // Components of one composite glyph: real fonts have a handful.
    static constexpr std::size_t kMaxComponents = 1u << 14;
    static constexpr int kMaxSubroutineDepth = 10;

    // bytes: the part's content. An obfuscated font (content type
    // application/vnd.ms-package.obfuscated-opentype) is restored with the
    // key its part name's GUID gives. faceIndex: the face of a collection
    // (FontUri's #n); a font that is no collection has only face 0.
    HRESULT Load(std::string bytes, const std::wstring& partName, bool obfuscated, std::uint16_t faceIndex);

    const FontMetrics& Metrics() const { return metrics_; }
    std::uint16_t GlyphCount() const { return glyphCount_; }
    // OpenType with CFF outlines: not subset here; a writer embeds Program()
    // whole.
    bool IsCff() const { return cff_; }
    // OS/2 fsType: restricted-licence (unless a less restrictive right is
    // set beside it) and bitmap-only forbid embedding the outlines.
    bool MayEmbed() const;
    // fsType's no-subsetting bit: only the whole font may be embedded.
    bool MaySubset() const;

    // hmtx's advance width; past numberOfHMetrics the last one repeats.
    // 0 for a glyph the font does not have.
    int Advance(std::uint16_t glyph) const;
    // vmtx's advance height when the font has one; else the height between
    // OS/2's typographic ascender and descender, else hhea's.
    int VerticalAdvance(std::uint16_t glyph) const;
    // The glyph of a code point by the cmap; 0 (.notdef) when not mapped.
    // In a symbol font a code point 0x00-0xFF not mapped itself is looked up
    // at U+F000 plus it, as symbol fonts are encoded.
    std::uint16_t GlyphFor(char32_t codePoint) const;
    // The lowest code point the cmap maps to the glyph; 0 when none does.
    char32_t CodePointOf(std::uint16_t glyph) const;

    // What a subset needs where a reader picks its glyphs by characters (an
    // SVG's text, a web font): its own cmap, mapping each character to its
    // glyph (Unicode: format 4 for the Basic Multilingual Plane, format 12
    // beside it when a character lies beyond), and a name table giving it
    // family (printable ASCII). At most kMaxSubsetCharacters characters.
    static constexpr std::size_t kMaxSubsetCharacters = 8000;
    struct CharacterMap {
        std::vector<std::pair<char32_t, std::uint16_t>> characters;  // by character, each once
        std::string family;
    };

    // A TrueType font with the same glyph ids (so Identity-H and
    // CIDToGIDMap /Identity show them) holding the outlines of the given
    // glyphs, glyph 0 and every component of their composite glyphs; every
    // other glyph is empty. Tables: head, hhea, maxp, hmtx, loca, glyf,
    // cvt/fpgm/prep and OS/2 as the font has them, post without names; cmap
    // and name with a character map. kFontCffOutlines for a CFF font,
    // kFontOverCap past kMaxSubsetCharacters, E_INVALIDARG for characters
    // out of order or beyond Unicode, or a glyph the font does not have.
    HRESULT Subset(const std::set<std::uint16_t>& glyphs, std::string& font,
                   const CharacterMap* characters = nullptr) const;
    // The face as a font file of its own: the part (restored when obfuscated)
    // or, for a face of a collection, the face's tables as one font.
    HRESULT Program(std::string& font) const;
    // The glyph's outline in font units, y up, nonzero fill: TrueType's
    // quadratic curves as cubics, components placed by their transforms; or
    // the glyph's CFF charstring (kFontCffOutlines for CID-keyed CFF and
    // CFF2, whose outlines are not read). An empty glyph gives an empty
    // geometry.
    HRESULT Outline(std::uint16_t glyph, Geometry& outline) const;

private:
    struct View;
    struct Component;
    struct GlyphPoints;
    struct Charstring;
    struct Span {
        std::size_t offset = 0;
        std::size_t length = 0;
    };
    struct Table {
        std::uint32_t tag = 0;
        Span span;
    };

    HRESULT LoadFace(std::string bytes, const std::wstring& partName, bool obfuscated,
                     std::uint16_t faceIndex);
    HRESULT ReadDirectory(std::size_t offset);
    HRESULT ReadTables();
    HRESULT ReadGlyphLocations(int locationFormat);
    bool ReadOs2AndPost();
    void ReadName();
    void ReadCmap();
    HRESULT ReadCff();
    bool ReadCffIndex(std::size_t& at, std::vector<Span>& items) const;
    static bool ReadCmapSubtable(const View& table, std::uint16_t glyphCount,
                                 std::vector<std::pair<char32_t, std::uint16_t>>& map, std::size_t& budget);
    static HRESULT ReadComponents(const View& glyph, std::vector<Component>& components, std::size_t limit);
    View At(Span span) const;
    // Where the table is; empty when the font has no such table.
    Span SpanOf(std::uint32_t tag) const;
    View TableOf(std::uint32_t tag) const;
    View GlyphOf(std::uint16_t glyph) const;
    // The top of the glyph mapped to the code point; false when none is.
    bool GlyphTop(char32_t codePoint, int& top) const;
    HRESULT AddGlyphPoints(std::uint16_t glyph, int depth, std::size_t& budget, GlyphPoints& points) const;
    HRESULT RunCharstring(Span code, int depth, Charstring& state) const;

    std::string data_;
    bool collection_ = false;
    bool cff_ = false;
    std::uint32_t sfntVersion_ = 0;
    std::vector<Table> tables_;
    FontMetrics metrics_;
    std::uint16_t glyphCount_ = 0;
    Span hmtx_, vmtx_, glyf_;
    std::uint16_t horizontalMetrics_ = 0, verticalMetrics_ = 0;
    std::vector<std::uint32_t> locations_;                  // glyphCount_ + 1 offsets into glyf
    std::vector<std::pair<char32_t, std::uint16_t>> cmap_;  // sorted by code point
    // The glyphs of the first kDirectCodes code points (the alphabets most
    // text is in), straight by code point.
    static constexpr char32_t kDirectCodes = 0x800;
    std::vector<std::uint16_t> direct_;
    std::vector<char32_t> codePoints_;  // by glyph
    // CFF: each glyph's charstring and the subroutines, in data_.
    std::vector<Span> charstrings_, globalSubroutines_, localSubroutines_;
};

// The font a Glyphs element's FontUri names: the part read from the package
// and loaded, restored first where its content type (or, as writers name
// such parts, its .odttf extension) says it is obfuscated. The package's
// failures and Load's.
HRESULT LoadFontPart(const xps::XpsPackage& package, const std::wstring& part, std::uint16_t face,
                     Font& font);

}  // namespace engine
