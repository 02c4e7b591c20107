// What every writer of the page model works out the same way, whatever
// format it writes: matrices and bounds, a gradient's colours, how a tile
// brush's viewbox meets its viewport, and where each glyph of a Glyphs
// element stands and how its style simulations shape it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include "engine/font.h"
#include "engine/pagemodel.h"

namespace engine {

// Far beyond any page: the extent a brush is painted over when nothing
// smaller is known.
constexpr double kHugeExtent = 1e6;

// False for a matrix that collapses the plane (what it draws is not seen).
bool Invert(const Matrix& m, Matrix& inverse);
// The bounds of a geometry's points, control points included: enough to
// know what a brush must cover. Empty (all zero) for no points.
Rect Bounds(const Geometry& geometry);
Rect TransformedBounds(const Rect& r, const Matrix& m);
// The smallest rectangle holding both; an empty one adds nothing.
Rect Union(const Rect& a, const Rect& b);
Rect Intersection(const Rect& a, const Rect& b);

Color Mix(const Color& a, const Color& b, double t);
// The colour of a gradient at t, the stops' own offsets anywhere.
Color ColorAt(const std::vector<GradientStop>& stops, double t);
// The gradient's stops within [0, 1], where formats' gradients start and
// end: the colours at 0 and 1 (where stops lie beyond them, as
// interpolated there) and the stops between. With ScRgbLinearInterpolation,
// stops in between every eighth of a span, so that interpolating in sRGB
// between them follows the interpolation in linear light.
std::vector<GradientStop> StopsWithinUnit(const Brush& brush);

// The figures of a geometry as a format's path draws them: for a fill its
// filled figures only; for a stroke every figure, a segment not stroked as
// a move to its end, and a closed figure so broken closed by a line back to
// its start, since closing would go back to the last move only.
template <typename Move, typename Line, typename Cubic, typename Close>
void WalkPath(const Geometry& geometry, bool forStroke, Move move, Line line, Cubic cubic, Close close) {
    for (const Figure& figure : geometry.figures) {
        if (!forStroke && !figure.filled) {
            continue;
        }
        bool broken = false;
        move(figure.start);
        for (const Segment& segment : figure.segments) {
            if (forStroke && !segment.stroked) {
                broken = true;
                move(segment.end);
            } else if (segment.cubic) {
                cubic(segment.control1, segment.control2, segment.end);
            } else {
                line(segment.end);
            }
        }
        if (figure.closed && broken) {
            line(figure.start);
        } else if (figure.closed) {
            close();
        }
    }
}

// A stroke's caps as filled shapes, for a format whose strokes have one cap
// for both ends where the start and end caps differ: drawn with flat caps,
// the stroke then takes these. The ends of each open figure whose end
// segment is stroked; none for a dashed stroke (its caps are the dashes').
Geometry StrokeEnds(const Geometry& geometry, const Stroke& stroke);

// The viewbox of a tile brush mapped onto the viewport's size at the origin.
Matrix ViewboxToTile(const Brush& brush);

// The code point at a position of UTF-16 text, a surrogate pair as one;
// 0 past the end, U+FFFD for half a pair.
char32_t CodePointAt(const std::wstring& text, std::size_t at);

// Style simulations: italic is a shear of a fifth of the height to the
// right; bold is the outline stroked too, a fiftieth of the em wide.
constexpr double kItalicShear = 0.2;
constexpr double kBoldStrokeEm = 1.0 / 50;
bool SimulatesItalic(StyleSimulations simulations);
bool SimulatesBold(StyleSimulations simulations);

// Where a glyph stands, XPS's way: the pen moves by each advance, leftwards
// when the bidi level is odd (right to left); offsets move the glyph alone,
// the along-baseline one mirrored for right to left. A glyph the markup
// gives no index is the font's for its character, one without an advance
// gets the font's (vertical for a sideways run), a fiftieth wider where
// bold is simulated.
struct PlacedGlyph {
    std::uint16_t index = 0;
    double x = 0, y = 0;  // its origin in the element's space
};
std::vector<PlacedGlyph> PlaceGlyphs(const GlyphsElement& glyphs, const Font& font);

// From the glyph's font units (y up) into the element's space: scaled to
// the em size, sheared for the italic simulation; a sideways glyph turned a
// quarter to the left, its top at the pen and its middle on the baseline.
Matrix GlyphMatrix(const GlyphsElement& glyphs, const Font& font, const PlacedGlyph& glyph);

// Every glyph's outline in the element's space (nonzero fill): how a writer
// draws glyphs it does not show as text. Font::Outline's failures.
HRESULT GlyphOutlines(const GlyphsElement& glyphs, const Font& font, const std::vector<PlacedGlyph>& placed,
                      Geometry& outlines);

// What an element's own base is: its transform, clip, opacity and mask.
const ElementBase* BaseOf(const Element& element);
// Where an element can draw, in its own space (before its transform): its
// geometry (a stroke's reach added), a glyph run's em boxes, a canvas's
// children, within its clip. Recurses as deep as canvases nest.
Rect ElementBounds(const Element& element);

// Calls visit for every image the canvas's elements show through a brush,
// the content of visual brushes included; content that several brushes
// share is visited once. Recurses as deep as canvases nest.
void ForEachImage(const Canvas& canvas, const std::function<void(const Image&)>& visit);

// The geometry's figures taken by m, added to `to` (whose fill rule stays).
void AppendTransformed(const Geometry& from, const Matrix& m, Geometry& to);

}  // namespace engine
