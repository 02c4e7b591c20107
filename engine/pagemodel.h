// The page model: what one FixedPage draws, read once from its markup and
// handed to every output format's writer (PDF, SVG, EMF, raster). No writer
// reads XPS markup itself.
//
// Coordinates are XPS units (1/96 inch), y downwards, as in the markup.
// Geometry is flattened to lines and cubic Béziers (arcs and quadratic
// curves are converted when read), with the geometry's own Transform
// applied; every element keeps its RenderTransform as a matrix. Resources
// ({StaticResource}, remote dictionaries) are resolved when read: a
// resource used twice is one shared const object where the model holds a
// pointer (brush, clip, visual), two copies where it holds a value (a
// path's data).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace engine {

struct Point {
    double x = 0;
    double y = 0;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// XPS's matrix: (x, y) -> (x*m11 + y*m21 + dx, x*m12 + y*m22 + dy).
struct Matrix {
    double m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;
    bool IsIdentity() const { return m11 == 1 && m12 == 0 && m21 == 0 && m22 == 1 && dx == 0 && dy == 0; }
};
// first, then second: the matrix of an element inside a canvas is
// Multiply(element, canvas).
Matrix Multiply(const Matrix& first, const Matrix& second);
Point Apply(const Matrix& m, Point p);

// A colour in sRGB, components 0..1, alpha not premultiplied. scRGB and
// context colours (ICC) are converted when read.
struct Color {
    double a = 1, r = 0, g = 0, b = 0;
};

struct Segment {
    bool cubic = false;  // false: a line to end
    Point control1, control2;
    Point end;
    bool stroked = true;  // IsStroked="false" on the segment
};

struct Figure {
    Point start;
    std::vector<Segment> segments;
    bool closed = false;
    bool filled = true;  // IsFilled="false": drawn by the stroke only
};

enum class FillRule { EvenOdd, NonZero };  // XPS's default is EvenOdd

struct Geometry {
    std::vector<Figure> figures;
    FillRule fillRule = FillRule::EvenOdd;
    bool Empty() const { return figures.empty(); }
};

struct Image;
struct Canvas;

enum class BrushKind { Solid, LinearGradient, RadialGradient, Image, Visual };
enum class SpreadMethod { Pad, Reflect, Repeat };
enum class TileMode { None, Tile, FlipX, FlipY, FlipXY };

struct GradientStop {
    double offset = 0;
    Color color;
};

struct Brush {
    BrushKind kind = BrushKind::Solid;
    double opacity = 1;  // the brush's Opacity
    Matrix transform;    // the brush's Transform (gradients and tiles)

    Color color;  // Solid

    // Gradients. ColorInterpolationMode SRgbLinearInterpolation is the
    // default; ScRgbLinearInterpolation interpolates in linear light.
    std::vector<GradientStop> stops;  // sorted by offset, at least one
    SpreadMethod spread = SpreadMethod::Pad;
    bool interpolateLinearLight = false;
    Point start, end;                 // LinearGradient
    Point center, gradientOrigin;     // RadialGradient
    double radiusX = 0, radiusY = 0;  // RadialGradient

    // Tile brushes (Image, Visual): Viewbox of the content mapped onto
    // Viewport, then tiled.
    Rect viewbox, viewport;
    TileMode tileMode = TileMode::None;
    std::shared_ptr<const Image> image;    // Image
    std::shared_ptr<const Canvas> visual;  // Visual
};

// An image part, shared by every brush that shows it.
struct Image {
    std::wstring part;          // its part name in the package
    std::wstring contentType;   // image/png, image/jpeg, image/tiff, image/vnd.ms-photo
    std::wstring colorProfile;  // the ICC profile part of {ColorConvertedBitmap ...}, if any
};

enum class LineCap { Flat, Square, Round, Triangle };
enum class LineJoin { Miter, Bevel, Round };

struct Stroke {
    double thickness = 1;
    std::vector<double> dashes;  // in multiples of the thickness; empty: solid
    double dashOffset = 0;
    LineCap startCap = LineCap::Flat, endCap = LineCap::Flat, dashCap = LineCap::Flat;
    LineJoin join = LineJoin::Miter;
    double miterLimit = 10;
};

enum class ElementKind { Canvas, Path, Glyphs };

// What every element has: where it draws, what clips it, how opaque it is.
struct ElementBase {
    Matrix transform;                      // RenderTransform
    std::shared_ptr<const Geometry> clip;  // in the element's own coordinates; null: none
    double opacity = 1;
    std::shared_ptr<const Brush> opacityMask;  // null: none
};

struct PathElement : ElementBase {
    Geometry data;
    std::shared_ptr<const Brush> fill;    // null: not filled
    std::shared_ptr<const Brush> stroke;  // null: not stroked
    Stroke strokeStyle;
};

// One glyph as the Indices attribute gives it; what the markup leaves out
// is filled in from the font by the engine before a writer sees it.
struct Glyph {
    std::uint16_t index = 0;
    double advance = 0;  // in XPS units along the baseline
    double offsetU = 0;  // along the baseline, XPS units
    double offsetV = 0;  // up from the baseline, XPS units
    // The characters of UnicodeString this glyph shows (cluster map): the
    // first and how many (0 for further glyphs of the same cluster).
    std::size_t firstCharacter = 0;
    std::size_t characterCount = 0;
    // False where Indices gave no index or no advance: the font's (its cmap
    // for the cluster's character, its advance width) goes there.
    bool hasIndex = true;
    bool hasAdvance = true;
};

enum class StyleSimulations { None, Italic, Bold, BoldItalic };

struct GlyphsElement : ElementBase {
    std::wstring fontPart;       // FontUri resolved to a part name
    std::uint16_t fontFace = 0;  // the #n fragment of FontUri: a face of a TrueType collection
    double emSize = 0;           // FontRenderingEmSize, XPS units
    Point origin;                // OriginX, OriginY
    std::wstring text;           // UnicodeString
    std::vector<Glyph> glyphs;
    int bidiLevel = 0;      // odd: right to left
    bool sideways = false;  // IsSideways
    StyleSimulations simulations = StyleSimulations::None;
    std::shared_ptr<const Brush> fill;
};

// An element of a canvas: exactly one of the three is set, as kind says.
struct Element {
    ElementKind kind = ElementKind::Path;
    std::shared_ptr<Canvas> canvas;
    std::shared_ptr<PathElement> path;
    std::shared_ptr<GlyphsElement> glyphs;
};

struct Canvas : ElementBase {
    std::vector<Element> children;
};

struct Page {
    double width = 0, height = 0;  // Width, Height
    Rect contentBox, bleedBox;     // as given, or the whole page
    std::wstring language;         // xml:lang
    Canvas root;                   // the page's children, identity transform
};

}  // namespace engine
