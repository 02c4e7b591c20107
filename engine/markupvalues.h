// The values of FixedPage attributes: numbers and lists of them, colours,
// matrices, names, resource references and the glyphs of a Glyphs element.
// Every number goes through xml::ParseNumber; a value that does not read
// whole is refused (false, or xml::kMalformed), never guessed at.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <windows.h>

#include "engine/pagemodel.h"

namespace engine {

// Numbers separated by white space or one comma ("1,2 3,4", "M1-2L3,4"): a
// number ends where its syntax does, so a command letter or a sign may
// follow it directly.
class NumberScanner {
public:
    explicit NumberScanner(const std::wstring& text) : p_(text.c_str()), end_(text.c_str() + text.size()) {}
    // The next number; false, and nothing consumed, where none stands.
    bool Number(double& value);
    bool Point(engine::Point& point) { return Number(point.x) && Number(point.y); }
    // The next character after white space; 0 at the end.
    wchar_t Peek();
    void Skip() { ++p_; }
    bool AtEnd() { return Peek() == 0; }

private:
    const wchar_t* p_;
    const wchar_t* end_;
};

// Exactly count numbers ("x,y", "x,y,w,h", "m11,m12,m21,m22,dx,dy").
bool ParseNumbers(const std::wstring& text, double* values, std::size_t count);
// A whole number in 0..max.
bool ParseCount(const std::wstring& text, std::size_t max, std::size_t& value);
// xs:boolean: true, false, 1, 0.
bool ParseBoolean(const std::wstring& text, bool& value);
bool ParseMatrix(const std::wstring& text, Matrix& matrix);
// A rectangle of non-negative size (Viewbox, ContentBox).
bool ParseRect(const std::wstring& text, Rect& rect);
// "#RRGGBB", "#AARRGGBB", scRGB "sc#A,R,G,B" or "sc#R,G,B", and
// "ContextColor profile a,c1,...". A context colour is taken here by its
// number of channels (grey, RGB, CMYK; more: their mean ink as grey); the
// page reader then applies its profile where it can (ColorProfiles).
bool ParseColor(const std::wstring& text, Color& color);
// A context colour's parts: the profile's URI as written, its alpha and
// channels (1 to 8, each within 0..1); false for any other colour.
bool ReadContextColor(const std::wstring& text, std::wstring& profile, double& alpha,
                      std::vector<double>& channels);

// One of a table's names, exactly.
template <typename T>
struct Named {
    const wchar_t* name;
    T value;
};
template <typename T, std::size_t N>
bool ParseName(const std::wstring& text, const Named<T> (&names)[N], T& value) {
    for (const Named<T>& named : names) {
        if (text == named.name) {
            value = named.value;
            return true;
        }
    }
    return false;
}

// The words of a list separated by white space (prefixes, extension arguments).
std::vector<std::wstring> Words(const std::wstring& text);

// Markup extensions: "{StaticResource key}" gives its key; any other value
// starting with "{" is no value XPS knows.
bool IsMarkupExtension(const std::wstring& value);
bool StaticResourceKey(const std::wstring& value, std::wstring& key);

// The glyphs of UnicodeString (its "{}" escape already taken off) and
// Indices (null when absent): cluster maps "(c:g)" and
// "index,advance,uOffset,vOffset", advance and offsets in hundredths of the
// em size. A character without a mapping is one glyph (a surrogate pair
// too), marked for the font to fill. xps::kOverCap past maxGlyphs (glyphs
// or characters), xml::kMalformed for a map that does not fit the text.
HRESULT ReadGlyphRun(const std::wstring& text, const std::wstring* indices, double emSize,
                     std::size_t maxGlyphs, std::vector<Glyph>& glyphs);

}  // namespace engine
