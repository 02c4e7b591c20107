#include "engine/pagereader.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/colorprofiles.h"
#include "engine/geometrybuilder.h"
#include "engine/markupcursor.h"
#include "engine/markupvalues.h"
#include "xps/partname.h"
#include "xps/xmlnumber.h"
#include "xps/xmlreader.h"
#include "xps/workbudget.h"
#include "xps/ziparchive.h"

namespace engine {

namespace {

// x:Key in XPS's namespace, OpenXPS's, and XAML's, which some writers use.
const wchar_t* const kKeyNamespaces[] = {
    L"http://schemas.microsoft.com/xps/2005/06/resourcedictionary-key",
    L"http://schemas.openxps.org/oxps/v1.0/resourcedictionary-key",
    L"http://schemas.microsoft.com/winfx/2006/xaml",
};

// What the page holds so far, against PageCaps.
struct Usage {
    std::size_t elements = 0, figures = 0, segments = 0, glyphs = 0, stops = 0, dashes = 0;
};

// How deep content nests: canvases, and visuals of visual brushes.
struct Nesting {
    std::size_t canvases = 0, visuals = 0;
};
constexpr Nesting kCanvasLevel{1, 0};
constexpr Nesting kVisualLevel{1, 1};

// A definition of a resource dictionary: exactly one of the four is set.
struct Resource {
    std::shared_ptr<const Brush> brush;
    std::shared_ptr<const Geometry> geometry;
    std::shared_ptr<const Matrix> transform;
    std::shared_ptr<const Canvas> visual;  // a Canvas, Path or Glyphs, in a canvas of its own
    Usage usage;                           // what each use adds to the page
    Nesting nesting;                       // how deep its content nests
};
using Dictionary = std::map<std::wstring, Resource>;

bool ParseDouble(const std::wstring& text, double& value) { return xml::ParseNumber(text, value); }
bool ParseNonNegative(const std::wstring& text, double& value) {
    return ParseDouble(text, value) && value >= 0;
}
bool ParsePoint(const std::wstring& text, Point& point) {
    double xy[2];
    if (!ParseNumbers(text, xy, 2)) {
        return false;
    }
    point = {xy[0], xy[1]};
    return true;
}
// Out of range is clamped, as XPS says of opacity.
bool ParseOpacity(const std::wstring& text, double& value) {
    if (!ParseDouble(text, value)) {
        return false;
    }
    value = value < 0 ? 0 : value > 1 ? 1 : value;
    return true;
}
// XPS knows only absolute units and mapping.
bool ParseAbsolute(const std::wstring& text, bool& absolute) {
    absolute = text == L"Absolute";
    return absolute;
}

const Named<FillRule> kFillRules[] = {{L"EvenOdd", FillRule::EvenOdd}, {L"NonZero", FillRule::NonZero}};
const Named<LineCap> kLineCaps[] = {{L"Flat", LineCap::Flat},
                                    {L"Square", LineCap::Square},
                                    {L"Round", LineCap::Round},
                                    {L"Triangle", LineCap::Triangle}};
const Named<LineJoin> kLineJoins[] = {
    {L"Miter", LineJoin::Miter}, {L"Bevel", LineJoin::Bevel}, {L"Round", LineJoin::Round}};
const Named<StyleSimulations> kSimulations[] = {{L"None", StyleSimulations::None},
                                                {L"ItalicSimulation", StyleSimulations::Italic},
                                                {L"BoldSimulation", StyleSimulations::Bold},
                                                {L"BoldItalicSimulation", StyleSimulations::BoldItalic}};
const Named<SpreadMethod> kSpreadMethods[] = {
    {L"Pad", SpreadMethod::Pad}, {L"Reflect", SpreadMethod::Reflect}, {L"Repeat", SpreadMethod::Repeat}};
const Named<bool> kInterpolationModes[] = {{L"SRgbLinearInterpolation", false},
                                           {L"ScRgbLinearInterpolation", true}};
const Named<TileMode> kTileModes[] = {{L"None", TileMode::None},
                                      {L"Tile", TileMode::Tile},
                                      {L"FlipX", TileMode::FlipX},
                                      {L"FlipY", TileMode::FlipY},
                                      {L"FlipXY", TileMode::FlipXY}};
const Named<bool> kSweepDirections[] = {{L"Clockwise", true}, {L"Counterclockwise", false}};

constexpr bool kRequired = true;

// The unprefixed attributes of one element, read by name; the first value
// that does not read (or a required one absent) makes Result() malformed.
class AttributeSet {
public:
    explicit AttributeSet(const std::vector<xml::Attribute>& attributes) : attributes_(attributes) {}

    const std::wstring* Find(std::wstring_view name) const {
        for (const xml::Attribute& attribute : attributes_) {
            if (attribute.uri.empty() && attribute.local == name) {
                return &attribute.value;
            }
        }
        return nullptr;
    }
    template <typename T>
    void Read(const wchar_t* name, T& value, bool (*parse)(const std::wstring&, T&), bool required = false) {
        const std::wstring* text = Find(name);
        ok_ = ok_ && (text == nullptr ? !required : parse(*text, value));
    }
    template <typename T, std::size_t N>
    void Read(const wchar_t* name, T& value, const Named<T> (&names)[N], bool required = false) {
        const std::wstring* text = Find(name);
        ok_ = ok_ && (text == nullptr ? !required : ParseName(*text, names, value));
    }
    HRESULT Result() const { return ok_ ? S_OK : xml::kMalformed; }

private:
    const std::vector<xml::Attribute>& attributes_;
    bool ok_ = true;
};

// "Path.Fill" of owner "Path" -> "Fill".
bool PropertyOf(const std::wstring& name, const std::wstring& owner, std::wstring& property) {
    if (name.size() <= owner.size() + 1 || name.compare(0, owner.size(), owner) != 0 ||
        name[owner.size()] != L'.') {
        return false;
    }
    property = name.substr(owner.size() + 1);
    return true;
}

bool IsBrush(const std::wstring& name) {
    return name == L"SolidColorBrush" || name == L"LinearGradientBrush" || name == L"RadialGradientBrush" ||
           name == L"ImageBrush" || name == L"VisualBrush";
}

std::vector<std::wstring> Understood(const std::vector<std::wstring>& markup) {
    std::vector<std::wstring> namespaces = markup;
    namespaces.insert(namespaces.end(), std::begin(kKeyNamespaces), std::end(kKeyNamespaces));
    return namespaces;
}

class PageReader {
public:
    PageReader(const xps::XpsPackage& package, const std::wstring& pagePart, const PageCaps& caps,
               ColorProfiles* profiles)
        : package_(package), caps_(caps), part_(pagePart), profiles_(profiles) {}
    HRESULT Read(Page& page);

private:
    // The markup's structure.
    template <typename ReadChild>
    HRESULT ForEachChild(ReadChild read);
    template <typename ReadChild>
    HRESULT ReadSingleChild(ReadChild read);
    HRESULT ExpectEmpty();

    // Elements.
    HRESULT ReadChildren(const std::wstring& owner, Canvas& canvas,
                         const std::vector<xml::Attribute>* attributes);
    HRESULT ReadContent(const std::wstring& name, std::vector<Element>& children);
    HRESULT ReadPath(PathElement& path);
    HRESULT ReadGlyphs(GlyphsElement& glyphs);
    HRESULT ReadElementAttributes(const std::vector<xml::Attribute>& attributes, ElementBase& element);
    HRESULT ReadElementProperty(const std::wstring& property, ElementBase& element);
    HRESULT ReadStroke(const std::vector<xml::Attribute>& attributes, Stroke& stroke);
    HRESULT ReadFont(const std::wstring& uri, GlyphsElement& glyphs);

    // Brushes, geometry, transforms, visuals: as elements, in property elements and as attribute values.
    // A colour value, a context colour through its profile where it can.
    bool ReadColor(const std::wstring* text, Color& color);
    HRESULT ReadBrush(const std::wstring& name, std::shared_ptr<const Brush>& brush);
    HRESULT ReadBrushProperty(std::shared_ptr<const Brush>& brush);
    HRESULT ReadGradientStops(std::vector<GradientStop>& stops);
    HRESULT ReadImage(const std::wstring& source, std::shared_ptr<const Image>& image);
    HRESULT ReadVisual(const std::wstring& name, std::shared_ptr<const Canvas>& visual);
    HRESULT ReadPathGeometry(const std::wstring& name, Geometry& geometry);
    HRESULT ReadGeometryProperty(std::shared_ptr<const Geometry>& geometry);
    HRESULT ReadPathFigure(GeometryBuilder& builder);
    HRESULT ReadSegment(const std::wstring& name, GeometryBuilder& builder);
    HRESULT ReadMatrixTransform(const std::wstring& name, Matrix& matrix);
    HRESULT ReadTransformProperty(Matrix& matrix);
    HRESULT BrushValue(const std::wstring& value, std::shared_ptr<const Brush>& brush);
    HRESULT GeometryValue(const std::wstring& value, std::shared_ptr<const Geometry>& geometry);
    HRESULT ReadGeometryText(const std::wstring& text, Geometry& geometry);
    HRESULT MatrixValue(const std::wstring& value, Matrix& matrix);
    HRESULT ChargeGeometry(const Geometry& geometry);

    // Resources.
    HRESULT ReadResources(Dictionary& dictionary);
    HRESULT ReadRemoteDictionary(const std::wstring& reference, Dictionary& dictionary);
    HRESULT ReadResource(const std::wstring& name, Dictionary& dictionary);
    HRESULT UseResource(const std::wstring& value, Nesting extra, const Resource*& resource);

    // Caps.
    HRESULT Charge(const Usage& more);
    HRESULT Reach(Nesting more);
    HRESULT Enter(Nesting level);
    struct Level {  // a level entered, left at the end of the block
        Nesting& depth;
        Nesting level;
        ~Level() {
            depth.canvases -= level.canvases;
            depth.visuals -= level.visuals;
        }
    };

    const xps::XpsPackage& package_;
    const PageCaps& caps_;
    std::wstring part_;        // where the markup read comes from: the page, or a remote dictionary
    ColorProfiles* profiles_;  // null: context colours by their channels alone
    MarkupCursor* cursor_ = nullptr;
    std::wstring namespace_;                // the page's: XPS or OpenXPS
    std::vector<const Dictionary*> scope_;  // innermost last
    std::map<std::wstring, std::shared_ptr<const Image>> images_;
    // The last FontUri resolved, from which part, to what: a page's Glyphs
    // mostly name one font.
    struct {
        std::wstring uri, from, part;
    } font_;
    Usage used_;
    std::size_t resources_ = 0, remoteDictionaries_ = 0;
    bool inRemoteDictionary_ = false;
    Nesting depth_, deepest_;
};

template <typename ReadChild>
HRESULT PageReader::ForEachChild(ReadChild read) {
    for (;;) {
        xml::Node node;
        HRESULT hr = cursor_->Next(node);
        if (FAILED(hr) || node == xml::Node::EndElement) {
            return hr;
        }
        if (node != xml::Node::StartElement || cursor_->NamespaceUri() != namespace_) {
            return xml::kMalformed;
        }
        std::wstring name = cursor_->LocalName();
        hr = read(name);
        if (FAILED(hr)) {
            return hr;
        }
    }
}

// The one element of a property element (Path.Fill, Canvas.Clip...).
template <typename ReadChild>
HRESULT PageReader::ReadSingleChild(ReadChild read) {
    std::size_t count = 0;
    HRESULT hr =
        ForEachChild([&](const std::wstring& name) { return ++count > 1 ? xml::kMalformed : read(name); });
    return SUCCEEDED(hr) && count != 1 ? xml::kMalformed : hr;
}

HRESULT PageReader::ExpectEmpty() {
    return ForEachChild([](const std::wstring&) { return xml::kMalformed; });
}

HRESULT PageReader::Read(Page& page) {
    std::string markup;
    HRESULT hr = package_.Read(part_, markup);
    MarkupCursor cursor;
    if (SUCCEEDED(hr)) {
        hr = cursor.Open(markup);
    }
    xml::Node node;
    cursor.Understand(
        Understood({xps::MarkupNamespace(xps::Flavour::Xps), xps::MarkupNamespace(xps::Flavour::OpenXps)}));
    if (SUCCEEDED(hr)) {
        hr = cursor.Next(node);
    }
    if (FAILED(hr)) {
        return hr;
    }
    namespace_ = cursor.NamespaceUri();
    if (node != xml::Node::StartElement || cursor.LocalName() != L"FixedPage" ||
        (namespace_ != xps::MarkupNamespace(xps::Flavour::Xps) &&
         namespace_ != xps::MarkupNamespace(xps::Flavour::OpenXps))) {
        return xml::kMalformed;
    }
    cursor.Understand(Understood({namespace_}));
    cursor_ = &cursor;
    AttributeSet attributes(cursor.Attributes());
    attributes.Read(L"Width", page.width, ParseDouble, kRequired);
    attributes.Read(L"Height", page.height, ParseDouble, kRequired);
    page.contentBox = page.bleedBox = {0, 0, page.width, page.height};
    attributes.Read(L"ContentBox", page.contentBox, ParseRect);
    attributes.Read(L"BleedBox", page.bleedBox, ParseRect);
    for (const xml::Attribute& attribute : cursor.Attributes()) {
        if (attribute.uri == xml::kXmlNamespace && attribute.local == L"lang") {
            page.language = attribute.value;
        }
    }
    hr = attributes.Result();
    if (SUCCEEDED(hr) && !(page.width > 0 && page.height > 0)) {
        hr = xml::kMalformed;
    }
    if (SUCCEEDED(hr) && (page.width > caps_.pageSize || page.height > caps_.pageSize)) {
        hr = xps::kOverCap;
    }
    if (SUCCEEDED(hr)) {
        hr = ReadChildren(L"FixedPage", page.root, nullptr);
    }
    if (SUCCEEDED(hr)) {
        hr = cursor.Next(node);
    }
    return SUCCEEDED(hr) && node != xml::Node::End ? xml::kMalformed : hr;
}

// The children of a FixedPage or a Canvas: resources first, then property
// elements and content. A Canvas's own attributes are read after its
// resources, so that they can refer to them.
HRESULT PageReader::ReadChildren(const std::wstring& owner, Canvas& canvas,
                                 const std::vector<xml::Attribute>* attributes) {
    Dictionary resources;
    std::size_t outerScope = scope_.size();
    bool resourcesAllowed = true, attributesRead = attributes == nullptr;
    auto readAttributes = [&]() {
        attributesRead = true;
        return ReadElementAttributes(*attributes, canvas);
    };
    HRESULT hr = ForEachChild([&](const std::wstring& name) {
        std::wstring property;
        bool isProperty = PropertyOf(name, owner, property);
        if (isProperty && property == L"Resources" && resourcesAllowed) {
            resourcesAllowed = false;
            scope_.push_back(&resources);
            return ReadResources(resources);
        }
        resourcesAllowed = false;
        HRESULT read = attributesRead ? S_OK : readAttributes();
        if (FAILED(read)) {
            return read;
        }
        if (isProperty) {
            return attributes != nullptr ? ReadElementProperty(property, canvas) : xml::kMalformed;
        }
        return ReadContent(name, canvas.children);
    });
    if (SUCCEEDED(hr) && !attributesRead) {
        hr = readAttributes();
    }
    scope_.resize(outerScope);
    return hr;
}

HRESULT PageReader::ReadContent(const std::wstring& name, std::vector<Element>& children) {
    Usage one;
    one.elements = 1;
    HRESULT hr = Charge(one);
    if (FAILED(hr)) {
        return hr;
    }
    Element element;
    if (name == L"Canvas") {
        hr = Enter(kCanvasLevel);
        if (FAILED(hr)) {
            return hr;
        }
        Level level{depth_, kCanvasLevel};
        std::vector<xml::Attribute> attributes = cursor_->Attributes();
        element.kind = ElementKind::Canvas;
        element.canvas = std::make_shared<Canvas>();
        hr = ReadChildren(name, *element.canvas, &attributes);
    } else if (name == L"Path") {
        element.kind = ElementKind::Path;
        element.path = std::make_shared<PathElement>();
        hr = ReadPath(*element.path);
    } else if (name == L"Glyphs") {
        element.kind = ElementKind::Glyphs;
        element.glyphs = std::make_shared<GlyphsElement>();
        hr = ReadGlyphs(*element.glyphs);
    } else {
        hr = xml::kMalformed;
    }
    if (SUCCEEDED(hr)) {
        children.push_back(std::move(element));
    }
    return hr;
}

HRESULT PageReader::ReadElementAttributes(const std::vector<xml::Attribute>& attributes,
                                          ElementBase& element) {
    AttributeSet set(attributes);
    set.Read(L"Opacity", element.opacity, ParseOpacity);
    HRESULT hr = set.Result();
    const std::wstring* transform = set.Find(L"RenderTransform");
    const std::wstring* clip = set.Find(L"Clip");
    const std::wstring* mask = set.Find(L"OpacityMask");
    if (SUCCEEDED(hr) && transform != nullptr) {
        hr = MatrixValue(*transform, element.transform);
    }
    if (SUCCEEDED(hr) && clip != nullptr) {
        hr = GeometryValue(*clip, element.clip);
    }
    if (SUCCEEDED(hr) && mask != nullptr) {
        hr = BrushValue(*mask, element.opacityMask);
    }
    return hr;
}

HRESULT PageReader::ReadElementProperty(const std::wstring& property, ElementBase& element) {
    if (property == L"RenderTransform") {
        return ReadTransformProperty(element.transform);
    }
    if (property == L"Clip") {
        return ReadGeometryProperty(element.clip);
    }
    if (property == L"OpacityMask") {
        return ReadBrushProperty(element.opacityMask);
    }
    return xml::kMalformed;
}

HRESULT PageReader::ReadPath(PathElement& path) {
    const std::vector<xml::Attribute>& attributes = cursor_->Attributes();
    AttributeSet set(attributes);
    const std::wstring* data = set.Find(L"Data");
    const std::wstring* fill = set.Find(L"Fill");
    const std::wstring* stroke = set.Find(L"Stroke");
    HRESULT hr = ReadElementAttributes(attributes, path);
    if (SUCCEEDED(hr)) {
        hr = ReadStroke(attributes, path.strokeStyle);
    }
    if (SUCCEEDED(hr) && data != nullptr && !IsMarkupExtension(*data)) {
        hr = ReadGeometryText(*data, path.data);
    } else if (SUCCEEDED(hr) && data != nullptr) {
        // A resource is copied: the page model holds a path's data by value.
        std::shared_ptr<const Geometry> geometry;
        hr = GeometryValue(*data, geometry);
        path.data = SUCCEEDED(hr) ? *geometry : path.data;
    }
    if (SUCCEEDED(hr) && fill != nullptr) {
        hr = BrushValue(*fill, path.fill);
    }
    if (SUCCEEDED(hr) && stroke != nullptr) {
        hr = BrushValue(*stroke, path.stroke);
    }
    if (FAILED(hr)) {
        return hr;
    }
    return ForEachChild([&](const std::wstring& name) {
        std::wstring property;
        if (!PropertyOf(name, L"Path", property)) {
            return xml::kMalformed;
        }
        if (property == L"Data") {
            return ReadSingleChild([&](const std::wstring& element) {
                path.data = Geometry();
                return ReadPathGeometry(element, path.data);
            });
        }
        return property == L"Fill"     ? ReadBrushProperty(path.fill)
               : property == L"Stroke" ? ReadBrushProperty(path.stroke)
                                       : ReadElementProperty(property, path);
    });
}

HRESULT PageReader::ReadStroke(const std::vector<xml::Attribute>& attributes, Stroke& stroke) {
    AttributeSet set(attributes);
    set.Read(L"StrokeThickness", stroke.thickness, ParseNonNegative);
    set.Read(L"StrokeDashOffset", stroke.dashOffset, ParseDouble);
    set.Read(L"StrokeDashCap", stroke.dashCap, kLineCaps);
    set.Read(L"StrokeStartLineCap", stroke.startCap, kLineCaps);
    set.Read(L"StrokeEndLineCap", stroke.endCap, kLineCaps);
    set.Read(L"StrokeLineJoin", stroke.join, kLineJoins);
    set.Read(L"StrokeMiterLimit", stroke.miterLimit, ParseDouble);
    stroke.miterLimit = std::max(stroke.miterLimit, 1.0);
    HRESULT hr = set.Result();
    const std::wstring* dashes = set.Find(L"StrokeDashArray");
    if (FAILED(hr) || dashes == nullptr) {
        return hr;
    }
    NumberScanner scanner(*dashes);
    for (double dash = 0; !scanner.AtEnd(); stroke.dashes.push_back(dash)) {
        if (stroke.dashes.size() >= caps_.dashesPerStroke) {
            return xps::kOverCap;
        }
        if (!scanner.Number(dash) || dash < 0) {
            return xml::kMalformed;
        }
    }
    // An odd list is repeated, so that dashes and gaps alternate.
    if (stroke.dashes.size() % 2 != 0) {
        stroke.dashes.insert(stroke.dashes.end(), stroke.dashes.begin(), stroke.dashes.end());
    }
    Usage more;
    more.dashes = stroke.dashes.size();
    return Charge(more);
}

HRESULT PageReader::ReadGlyphs(GlyphsElement& glyphs) {
    const std::vector<xml::Attribute>& attributes = cursor_->Attributes();
    AttributeSet set(attributes);
    std::size_t bidiLevel = 0;
    set.Read(L"FontRenderingEmSize", glyphs.emSize, ParseNonNegative, kRequired);
    set.Read(L"OriginX", glyphs.origin.x, ParseDouble, kRequired);
    set.Read(L"OriginY", glyphs.origin.y, ParseDouble, kRequired);
    set.Read(L"IsSideways", glyphs.sideways, ParseBoolean);
    set.Read(L"StyleSimulations", glyphs.simulations, kSimulations);
    const std::wstring* bidi = set.Find(L"BidiLevel");
    const std::wstring* font = set.Find(L"FontUri");
    const std::wstring* text = set.Find(L"UnicodeString");
    const std::wstring* indices = set.Find(L"Indices");
    const std::wstring* fill = set.Find(L"Fill");
    HRESULT hr = set.Result();
    if (SUCCEEDED(hr) && ((bidi != nullptr && !ParseCount(*bidi, 61, bidiLevel)) || font == nullptr ||
                          (text == nullptr && indices == nullptr))) {
        hr = xml::kMalformed;
    }
    glyphs.bidiLevel = static_cast<int>(bidiLevel);
    if (SUCCEEDED(hr)) {
        hr = ReadFont(*font, glyphs);
    }
    if (text != nullptr) {
        // "{}" escapes a string that starts with "{".
        glyphs.text = text->compare(0, 2, L"{}") == 0 ? text->substr(2) : *text;
    }
    if (SUCCEEDED(hr)) {
        hr = ReadGlyphRun(glyphs.text, indices, glyphs.emSize, caps_.glyphsPerElement, glyphs.glyphs);
    }
    Usage more;
    more.glyphs = glyphs.glyphs.size();
    if (SUCCEEDED(hr)) {
        hr = Charge(more);
    }
    if (SUCCEEDED(hr)) {
        hr = ReadElementAttributes(attributes, glyphs);
    }
    if (SUCCEEDED(hr) && fill != nullptr) {
        hr = BrushValue(*fill, glyphs.fill);
    }
    if (FAILED(hr)) {
        return hr;
    }
    return ForEachChild([&](const std::wstring& name) {
        std::wstring property;
        if (!PropertyOf(name, L"Glyphs", property)) {
            return xml::kMalformed;
        }
        return property == L"Fill" ? ReadBrushProperty(glyphs.fill) : ReadElementProperty(property, glyphs);
    });
}

// FontUri: a font part, with "#n" for a face of a collection.
HRESULT PageReader::ReadFont(const std::wstring& uri, GlyphsElement& glyphs) {
    std::size_t hash = uri.find(L'#'), face = 0;
    if ((hash != std::wstring::npos && !ParseCount(uri.substr(hash + 1), 0xFFFF, face)) ||
        IsMarkupExtension(uri) || xps::IsExternalReference(uri)) {
        return xml::kMalformed;
    }
    glyphs.fontFace = static_cast<std::uint16_t>(face);
    if (uri == font_.uri && part_ == font_.from) {
        glyphs.fontPart = font_.part;  // found in the package before
        return S_OK;
    }
    glyphs.fontPart = xps::ResolvePartUri(part_, uri);
    if (!package_.Has(glyphs.fontPart)) {
        return xps::kPartMissing;
    }
    font_ = {uri, part_, glyphs.fontPart};
    return S_OK;
}

bool PageReader::ReadColor(const std::wstring* text, Color& color) {
    if (text == nullptr || !ParseColor(*text, color)) {
        return false;
    }
    std::wstring profile;
    double alpha = 0;
    std::vector<double> channels;
    if (profiles_ != nullptr && ReadContextColor(*text, profile, alpha, channels)) {
        profiles_->ToSrgb(xps::ResolvePartUri(part_, profile), channels, color);
    }
    return true;
}

HRESULT PageReader::ReadBrush(const std::wstring& name, std::shared_ptr<const Brush>& result) {
    if (!IsBrush(name)) {
        return xml::kMalformed;
    }
    auto brush = std::make_shared<Brush>();
    bool linear = name == L"LinearGradientBrush", radial = name == L"RadialGradientBrush";
    bool image = name == L"ImageBrush", visual = name == L"VisualBrush", absolute = true;
    brush->kind = name == L"SolidColorBrush" ? BrushKind::Solid
                  : linear                   ? BrushKind::LinearGradient
                  : radial                   ? BrushKind::RadialGradient
                  : image                    ? BrushKind::Image
                                             : BrushKind::Visual;
    AttributeSet set(cursor_->Attributes());
    set.Read(L"Opacity", brush->opacity, ParseOpacity);
    set.Read(L"Color", brush->color, ParseColor, brush->kind == BrushKind::Solid);
    ReadColor(set.Find(L"Color"), brush->color);
    if (linear || radial) {
        set.Read(L"MappingMode", absolute, ParseAbsolute);
        set.Read(L"SpreadMethod", brush->spread, kSpreadMethods);
        set.Read(L"ColorInterpolationMode", brush->interpolateLinearLight, kInterpolationModes);
        set.Read(L"StartPoint", brush->start, ParsePoint, linear);
        set.Read(L"EndPoint", brush->end, ParsePoint, linear);
        set.Read(L"Center", brush->center, ParsePoint, radial);
        set.Read(L"GradientOrigin", brush->gradientOrigin, ParsePoint, radial);
        set.Read(L"RadiusX", brush->radiusX, ParseNonNegative, radial);
        set.Read(L"RadiusY", brush->radiusY, ParseNonNegative, radial);
    }
    if (image || visual) {
        set.Read(L"Viewbox", brush->viewbox, ParseRect, kRequired);
        set.Read(L"Viewport", brush->viewport, ParseRect, kRequired);
        set.Read(L"ViewboxUnits", absolute, ParseAbsolute);
        set.Read(L"ViewportUnits", absolute, ParseAbsolute);
        set.Read(L"TileMode", brush->tileMode, kTileModes);
    }
    const std::wstring* transform = brush->kind == BrushKind::Solid ? nullptr : set.Find(L"Transform");
    const std::wstring* source = image ? set.Find(L"ImageSource") : nullptr;
    const std::wstring* visualValue = visual ? set.Find(L"Visual") : nullptr;
    HRESULT hr = set.Result();
    if (SUCCEEDED(hr) && image && source == nullptr) {
        hr = xml::kMalformed;
    }
    if (SUCCEEDED(hr) && transform != nullptr) {
        hr = MatrixValue(*transform, brush->transform);
    }
    if (SUCCEEDED(hr) && source != nullptr) {
        hr = ReadImage(*source, brush->image);
    }
    if (SUCCEEDED(hr) && visualValue != nullptr) {
        const Resource* resource = nullptr;
        hr = UseResource(*visualValue, kVisualLevel, resource);
        hr = SUCCEEDED(hr) && resource->visual == nullptr ? xml::kMalformed : hr;
        brush->visual = SUCCEEDED(hr) ? resource->visual : nullptr;
    }
    if (FAILED(hr)) {
        return hr;
    }
    hr = ForEachChild([&](const std::wstring& child) {
        std::wstring property;
        if (!PropertyOf(child, name, property) || brush->kind == BrushKind::Solid) {
            return xml::kMalformed;
        }
        if (property == L"Transform") {
            return ReadTransformProperty(brush->transform);
        }
        if (property == L"GradientStops" && (linear || radial)) {
            return ReadGradientStops(brush->stops);
        }
        if (property != L"Visual" || !visual) {
            return xml::kMalformed;
        }
        HRESULT entered = Enter(kVisualLevel);
        if (FAILED(entered)) {
            return entered;
        }
        Level level{depth_, kVisualLevel};
        return ReadSingleChild(
            [&](const std::wstring& element) { return ReadVisual(element, brush->visual); });
    });
    if (SUCCEEDED(hr) &&
        ((brush->stops.empty() && (linear || radial)) || (visual && brush->visual == nullptr))) {
        hr = xml::kMalformed;
    }
    std::stable_sort(brush->stops.begin(), brush->stops.end(),
                     [](const GradientStop& a, const GradientStop& b) { return a.offset < b.offset; });
    result = brush;
    return hr;
}

HRESULT PageReader::ReadBrushProperty(std::shared_ptr<const Brush>& brush) {
    return ReadSingleChild([&](const std::wstring& name) { return ReadBrush(name, brush); });
}

HRESULT PageReader::ReadGradientStops(std::vector<GradientStop>& stops) {
    return ForEachChild([&](const std::wstring& name) {
        if (name != L"GradientStop") {
            return xml::kMalformed;
        }
        if (stops.size() >= caps_.stopsPerBrush) {
            return xps::kOverCap;
        }
        Usage one;
        one.stops = 1;
        stops.emplace_back();
        AttributeSet set(cursor_->Attributes());
        set.Read(L"Color", stops.back().color, ParseColor, kRequired);
        ReadColor(set.Find(L"Color"), stops.back().color);
        set.Read(L"Offset", stops.back().offset, ParseDouble, kRequired);
        HRESULT hr = set.Result();
        if (SUCCEEDED(hr)) {
            hr = Charge(one);
        }
        return SUCCEEDED(hr) ? ExpectEmpty() : hr;
    });
}

// ImageSource: a part, or "{ColorConvertedBitmap image profile}".
HRESULT PageReader::ReadImage(const std::wstring& source, std::shared_ptr<const Image>& image) {
    std::wstring reference = source, profile;
    if (IsMarkupExtension(source)) {
        std::size_t open = source.find(L'{'), close = source.rfind(L'}');
        std::wstring inner = close == std::wstring::npos ? L"" : source.substr(open + 1, close - open - 1);
        std::vector<std::wstring> words = Words(inner);
        if (words.size() != 3 || words[0] != L"ColorConvertedBitmap" ||
            source.find_last_not_of(L" ") != close) {
            return xml::kMalformed;
        }
        reference = words[1];
        profile = words[2];
    }
    for (const std::wstring* part : {&reference, &profile}) {
        if (!part->empty() && (xps::IsExternalReference(*part) || IsMarkupExtension(*part))) {
            return xml::kMalformed;
        }
    }
    reference = xps::ResolvePartUri(part_, reference);
    profile = profile.empty() ? profile : xps::ResolvePartUri(part_, profile);
    if (!package_.Has(reference) || (!profile.empty() && !package_.Has(profile))) {
        return xps::kPartMissing;
    }
    std::shared_ptr<const Image>& shared = images_[xps::PartKey(reference) + L"\n" + xps::PartKey(profile)];
    if (shared == nullptr) {
        auto read = std::make_shared<Image>();
        read->part = reference;
        read->contentType = package_.ContentType(reference);
        read->colorProfile = profile;
        shared = read;
    }
    image = shared;
    return S_OK;
}

// A Canvas, Path or Glyphs as a visual: in a canvas of its own.
HRESULT PageReader::ReadVisual(const std::wstring& name, std::shared_ptr<const Canvas>& visual) {
    auto canvas = std::make_shared<Canvas>();
    HRESULT hr = ReadContent(name, canvas->children);
    visual = canvas;
    return hr;
}

HRESULT PageReader::ReadPathGeometry(const std::wstring& name, Geometry& geometry) {
    if (name != L"PathGeometry") {
        return xml::kMalformed;
    }
    AttributeSet set(cursor_->Attributes());
    GeometryBuilder builder(geometry, caps_.figuresPerGeometry, caps_.segmentsPerGeometry);
    Matrix transform;
    const std::wstring* figures = set.Find(L"Figures");
    const std::wstring* transformValue = set.Find(L"Transform");
    HRESULT hr = figures != nullptr ? ReadAbbreviatedGeometry(*figures, builder, geometry.fillRule) : S_OK;
    set.Read(L"FillRule", geometry.fillRule, kFillRules);
    if (SUCCEEDED(hr)) {
        hr = set.Result();
    }
    if (SUCCEEDED(hr) && transformValue != nullptr) {
        hr = MatrixValue(*transformValue, transform);
    }
    if (SUCCEEDED(hr)) {
        hr = ForEachChild([&](const std::wstring& child) {
            return child == L"PathGeometry.Transform" ? ReadTransformProperty(transform)
                   : child == L"PathFigure"           ? ReadPathFigure(builder)
                                                      : xml::kMalformed;
        });
    }
    if (SUCCEEDED(hr) && !transform.IsIdentity() && !TransformGeometry(geometry, transform)) {
        hr = xml::kMalformed;
    }
    return SUCCEEDED(hr) ? ChargeGeometry(geometry) : hr;
}

HRESULT PageReader::ReadGeometryProperty(std::shared_ptr<const Geometry>& geometry) {
    return ReadSingleChild([&](const std::wstring& name) {
        auto read = std::make_shared<Geometry>();
        geometry = read;
        return ReadPathGeometry(name, *read);
    });
}

HRESULT PageReader::ReadPathFigure(GeometryBuilder& builder) {
    AttributeSet set(cursor_->Attributes());
    Point start;
    bool closed = false, filled = true;
    set.Read(L"StartPoint", start, ParsePoint, kRequired);
    set.Read(L"IsClosed", closed, ParseBoolean);
    set.Read(L"IsFilled", filled, ParseBoolean);
    HRESULT hr = set.Result();
    if (SUCCEEDED(hr)) {
        hr = builder.Start(start, filled);
    }
    if (SUCCEEDED(hr)) {
        hr = ForEachChild([&](const std::wstring& name) { return ReadSegment(name, builder); });
    }
    if (SUCCEEDED(hr) && closed) {
        builder.Close();
    }
    return hr;
}

HRESULT PageReader::ReadSegment(const std::wstring& name, GeometryBuilder& builder) {
    AttributeSet set(cursor_->Attributes());
    bool stroked = true;
    set.Read(L"IsStroked", stroked, ParseBoolean);
    HRESULT hr = S_OK;
    if (name == L"ArcSegment") {
        Point end, size;
        double angle = 0;
        bool large = false, clockwise = false;
        set.Read(L"Point", end, ParsePoint, kRequired);
        set.Read(L"Size", size, ParsePoint, kRequired);
        set.Read(L"RotationAngle", angle, ParseDouble, kRequired);
        set.Read(L"IsLargeArc", large, ParseBoolean, kRequired);
        set.Read(L"SweepDirection", clockwise, kSweepDirections, kRequired);
        hr = set.Result();
        if (SUCCEEDED(hr)) {
            hr = builder.Arc(size, angle, large, clockwise, end, stroked);
        }
    } else {
        std::size_t group = name == L"PolyLineSegment"              ? 1
                            : name == L"PolyQuadraticBezierSegment" ? 2
                            : name == L"PolyBezierSegment"          ? 3
                                                                    : 0;
        const std::wstring* points = set.Find(L"Points");
        if (group == 0 || points == nullptr) {
            return xml::kMalformed;
        }
        hr = set.Result();
        NumberScanner scanner(*points);
        while (SUCCEEDED(hr) && !scanner.AtEnd()) {
            Point p[3];
            for (std::size_t i = 0; i < group && SUCCEEDED(hr); ++i) {
                hr = scanner.Point(p[i]) ? S_OK : xml::kMalformed;
            }
            if (SUCCEEDED(hr)) {
                hr = group == 1   ? builder.Line(p[0], stroked)
                     : group == 2 ? builder.Quadratic(p[0], p[1], stroked)
                                  : builder.Cubic(p[0], p[1], p[2], stroked);
            }
        }
    }
    return SUCCEEDED(hr) ? ExpectEmpty() : hr;
}

HRESULT PageReader::ReadMatrixTransform(const std::wstring& name, Matrix& matrix) {
    AttributeSet set(cursor_->Attributes());
    set.Read(L"Matrix", matrix, ParseMatrix, kRequired);
    HRESULT hr = name == L"MatrixTransform" ? set.Result() : xml::kMalformed;
    return SUCCEEDED(hr) ? ExpectEmpty() : hr;
}

HRESULT PageReader::ReadTransformProperty(Matrix& matrix) {
    return ReadSingleChild([&](const std::wstring& name) { return ReadMatrixTransform(name, matrix); });
}

HRESULT PageReader::BrushValue(const std::wstring& value, std::shared_ptr<const Brush>& brush) {
    if (!IsMarkupExtension(value)) {
        auto solid = std::make_shared<Brush>();
        brush = solid;
        return ReadColor(&value, solid->color) ? S_OK : xml::kMalformed;
    }
    const Resource* resource = nullptr;
    HRESULT hr = UseResource(value, Nesting(), resource);
    if (FAILED(hr) || resource->brush == nullptr) {
        return FAILED(hr) ? hr : xml::kMalformed;
    }
    brush = resource->brush;
    return S_OK;
}

HRESULT PageReader::GeometryValue(const std::wstring& value, std::shared_ptr<const Geometry>& geometry) {
    if (!IsMarkupExtension(value)) {
        auto read = std::make_shared<Geometry>();
        geometry = read;
        return ReadGeometryText(value, *read);
    }
    const Resource* resource = nullptr;
    HRESULT hr = UseResource(value, Nesting(), resource);
    if (FAILED(hr) || resource->geometry == nullptr) {
        return FAILED(hr) ? hr : xml::kMalformed;
    }
    geometry = resource->geometry;
    return S_OK;
}

HRESULT PageReader::ReadGeometryText(const std::wstring& text, Geometry& geometry) {
    GeometryBuilder builder(geometry, caps_.figuresPerGeometry, caps_.segmentsPerGeometry);
    HRESULT hr = ReadAbbreviatedGeometry(text, builder, geometry.fillRule);
    return SUCCEEDED(hr) ? ChargeGeometry(geometry) : hr;
}

HRESULT PageReader::MatrixValue(const std::wstring& value, Matrix& matrix) {
    if (!IsMarkupExtension(value)) {
        return ParseMatrix(value, matrix) ? S_OK : xml::kMalformed;
    }
    const Resource* resource = nullptr;
    HRESULT hr = UseResource(value, Nesting(), resource);
    if (FAILED(hr) || resource->transform == nullptr) {
        return FAILED(hr) ? hr : xml::kMalformed;
    }
    matrix = *resource->transform;
    return S_OK;
}

HRESULT PageReader::ChargeGeometry(const Geometry& geometry) {
    Usage more;
    more.figures = geometry.figures.size();
    for (const Figure& figure : geometry.figures) {
        more.segments += figure.segments.size();
    }
    return Charge(more);
}

// The content of FixedPage.Resources or Canvas.Resources: one
// ResourceDictionary, inline or the part its Source names.
HRESULT PageReader::ReadResources(Dictionary& dictionary) {
    return ReadSingleChild([&](const std::wstring& name) {
        const std::wstring* source = AttributeSet(cursor_->Attributes()).Find(L"Source");
        if (name != L"ResourceDictionary") {
            return xml::kMalformed;
        }
        if (source == nullptr) {
            return ForEachChild([&](const std::wstring& entry) { return ReadResource(entry, dictionary); });
        }
        std::wstring reference = *source;
        HRESULT hr = ExpectEmpty();
        return SUCCEEDED(hr) ? ReadRemoteDictionary(reference, dictionary) : hr;
    });
}

// A dictionary part of its own: its definitions see only each other, its
// references resolve against its own part name, and it names no other.
HRESULT PageReader::ReadRemoteDictionary(const std::wstring& reference, Dictionary& dictionary) {
    if (++remoteDictionaries_ > caps_.remoteDictionaries) {
        return xps::kOverCap;
    }
    if (inRemoteDictionary_ || IsMarkupExtension(reference) || xps::IsExternalReference(reference)) {
        return xml::kMalformed;
    }
    std::wstring part = xps::ResolvePartUri(part_, reference);
    std::string markup;
    HRESULT hr = package_.Read(part, markup);
    MarkupCursor cursor;
    if (SUCCEEDED(hr)) {
        hr = cursor.Open(markup);
    }
    cursor.Understand(Understood({namespace_}));
    xml::Node node;
    if (SUCCEEDED(hr)) {
        hr = cursor.Next(node);
    }
    if (SUCCEEDED(hr) && (node != xml::Node::StartElement || cursor.LocalName() != L"ResourceDictionary" ||
                          cursor.NamespaceUri() != namespace_ ||
                          AttributeSet(cursor.Attributes()).Find(L"Source") != nullptr)) {
        hr = xml::kMalformed;
    }
    if (FAILED(hr)) {
        return hr;
    }
    std::vector<const Dictionary*> scope{&dictionary};
    MarkupCursor* pageCursor = cursor_;
    cursor_ = &cursor;
    std::swap(part_, part);
    std::swap(scope_, scope);
    inRemoteDictionary_ = true;
    hr = ForEachChild([&](const std::wstring& entry) { return ReadResource(entry, dictionary); });
    inRemoteDictionary_ = false;
    std::swap(scope_, scope);
    std::swap(part_, part);
    cursor_ = pageCursor;
    if (SUCCEEDED(hr)) {
        hr = cursor.Next(node);
    }
    return SUCCEEDED(hr) && node != xml::Node::End ? xml::kMalformed : hr;
}

// One definition. Its key is added once it has been read, so that it can
// refer only to definitions before it.
HRESULT PageReader::ReadResource(const std::wstring& name, Dictionary& dictionary) {
    if (++resources_ > caps_.resources) {
        return xps::kOverCap;
    }
    std::wstring key;
    for (const xml::Attribute& attribute : cursor_->Attributes()) {
        if (attribute.local == L"Key" && std::find(std::begin(kKeyNamespaces), std::end(kKeyNamespaces),
                                                   attribute.uri) != std::end(kKeyNamespaces)) {
            key = attribute.value;
        }
    }
    if (key.empty() || dictionary.count(key) != 0) {
        return xml::kMalformed;
    }
    Resource resource;
    Usage before = used_;
    Nesting depth = depth_, deepest = deepest_;
    depth_ = deepest_ = Nesting();
    HRESULT hr;
    if (IsBrush(name)) {
        hr = ReadBrush(name, resource.brush);
    } else if (name == L"PathGeometry") {
        auto geometry = std::make_shared<Geometry>();
        resource.geometry = geometry;
        hr = ReadPathGeometry(name, *geometry);
    } else if (name == L"MatrixTransform") {
        auto matrix = std::make_shared<Matrix>();
        resource.transform = matrix;
        hr = ReadMatrixTransform(name, *matrix);
    } else {
        hr = ReadVisual(name, resource.visual);
    }
    resource.nesting = deepest_;
    depth_ = depth;
    deepest_ = deepest;
    // Stops and dashes stay with the one brush or stroke; what a use draws counts again.
    resource.usage.elements = used_.elements - before.elements;
    resource.usage.figures = used_.figures - before.figures;
    resource.usage.segments = used_.segments - before.segments;
    resource.usage.glyphs = used_.glyphs - before.glyphs;
    if (SUCCEEDED(hr)) {
        dictionary.emplace(key, std::move(resource));
    }
    return hr;
}

HRESULT PageReader::UseResource(const std::wstring& value, Nesting extra, const Resource*& resource) {
    std::wstring key;
    if (!StaticResourceKey(value, key)) {
        return xml::kMalformed;
    }
    resource = nullptr;
    for (auto dictionary = scope_.rbegin(); dictionary != scope_.rend() && resource == nullptr;
         ++dictionary) {
        if (!xps::ChargeWork(xps::kLookUpCost)) {
            return xps::WorkBudget::Current()->Failure();
        }
        auto found = (*dictionary)->find(key);
        resource = found != (*dictionary)->end() ? &found->second : nullptr;
    }
    if (resource == nullptr) {
        return xml::kMalformed;
    }
    HRESULT hr = Charge(resource->usage);
    return SUCCEEDED(hr) ? Reach({resource->nesting.canvases + extra.canvases,
                                  resource->nesting.visuals + extra.visuals})
                         : hr;
}

HRESULT PageReader::Charge(const Usage& more) {
    used_.elements += more.elements;
    used_.figures += more.figures;
    used_.segments += more.segments;
    used_.glyphs += more.glyphs;
    used_.stops += more.stops;
    used_.dashes += more.dashes;
    bool over = used_.elements > caps_.elements || used_.figures > caps_.figures ||
                used_.segments > caps_.segments || used_.glyphs > caps_.glyphs ||
                used_.stops > caps_.gradientStops || used_.dashes > caps_.dashes;
    return over ? xps::kOverCap : S_OK;
}

// Content more levels deep than where the reader stands.
HRESULT PageReader::Reach(Nesting more) {
    Nesting reached{depth_.canvases + more.canvases, depth_.visuals + more.visuals};
    if (reached.canvases > caps_.canvasNesting || reached.visuals > caps_.visualNesting) {
        return xml::kTooDeep;
    }
    deepest_.canvases = std::max(deepest_.canvases, reached.canvases);
    deepest_.visuals = std::max(deepest_.visuals, reached.visuals);
    return S_OK;
}

HRESULT PageReader::Enter(Nesting level) {
    HRESULT hr = Reach(level);
    if (SUCCEEDED(hr)) {
        depth_.canvases += level.canvases;
        depth_.visuals += level.visuals;
    }
    return hr;
}

}  // namespace

HRESULT ReadPage(const xps::XpsPackage& package, const std::wstring& pagePart, Page& page,
                 const PageCaps& caps, ColorProfiles* profiles) {
    return xps::WithoutThrowing([&] {
        Page read;
        HRESULT hr = PageReader(package, pagePart, caps, profiles).Read(read);
        if (SUCCEEDED(hr)) {
            page = std::move(read);
        }
        return hr;
    });
}

}  // namespace engine
