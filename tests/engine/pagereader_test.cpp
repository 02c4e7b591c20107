// The page reader on FixedPage markup built here, in a one-page package in
// memory: each form of geometry, brush, resource, colour and glyph mapping
// it reads, each way hostile markup fails, and every page of the real
// documents.
#include "engine/pagereader.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "engine/geometrybuilder.h"
#include "engine/markupvalues.h"
#include "platform/handles.h"
#include "tests/xps/testarchive.h"
#include "xps/xmlnumber.h"
#include "xps/xmlreader.h"
#include "xps/ziparchive.h"

namespace {

const std::string kXps = "http://schemas.microsoft.com/xps/2005/06";
const std::string kPageStart =
    "<FixedPage xmlns=\"NS\" xmlns:x=\"http://schemas.microsoft.com/xps/2005/06/resourcedictionary-key\" "
    "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" xmlns:v9=\"urn:v9\" "
    "mc:Ignorable=\"v9\" ";

// The page "ATTRIBUTES>CONTENT</FixedPage>" beside a font, an image, a
// profile and a remote dictionary.
HRESULT Read(const std::string& page, engine::Page& model, const engine::PageCaps& caps = engine::PageCaps(),
             const std::string& ns = kXps) {
    std::string markup = kPageStart + page;
    markup.replace(markup.find("NS"), 2, ns);
    std::string dictionary = "<ResourceDictionary xmlns=\"" + ns + "\" xmlns:x=\"" +
                             "http://schemas.microsoft.com/xps/2005/06/resourcedictionary-key\">"
                             "<ImageBrush x:Key=\"remote\" ImageSource=\"a.png\" Viewbox=\"0,0,1,1\" "
                             "Viewport=\"0,0,1,1\"/></ResourceDictionary>";
    std::string archive = ziptest::Archive({
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default "
         "Extension=\"png\" ContentType=\"image/png\"/></Types>"},
        {"Documents/1/Pages/1.fpage", markup},
        {"Documents/1/Resources/a.png", "png"},
        {"Documents/1/Resources/f.odttf", "font"},
        {"Documents/1/Resources/p.icc", "icc"},
        {"Documents/1/Resources/d.dict", dictionary},
    });
    xps::XpsPackage package;
    HRESULT hr = package.Open(std::unique_ptr<xps::ByteSource>(new xps::MemorySource(archive)));
    return FAILED(hr) ? hr : engine::ReadPage(package, L"/Documents/1/Pages/1.fpage", model, caps);
}

std::string Text(const std::wstring& text) { return std::string(text.begin(), text.end()); }
std::string Number(double value) { return Text(xml::FormatNumber(value)); }
std::string PointText(engine::Point p) { return Number(p.x) + "," + Number(p.y); }

// "F1 M0,0 L10,0 C1,2 3,4 5,6 Z": what a geometry draws.
std::string Describe(const engine::Geometry& geometry) {
    std::string text = geometry.fillRule == engine::FillRule::NonZero ? "F1" : "";
    for (const engine::Figure& figure : geometry.figures) {
        text += (text.empty() ? "M" : " M") + PointText(figure.start);
        for (const engine::Segment& s : figure.segments) {
            text += s.cubic ? " C" + PointText(s.control1) + " " + PointText(s.control2) + " " : " L";
            text += PointText(s.end) + (s.stroked ? "" : "-");
        }
        text += figure.closed ? " Z" : "";
        text += figure.filled ? "" : " unfilled";
    }
    return text;
}

TEST(PageReader, ReadsEveryFormOfAbbreviatedGeometry) {
    const struct {
        const wchar_t* data;
        const char* drawn;
    } cases[] = {
        {L"M 0,0 L 10,0 10,10 Z", "M0,0 L10,0 L10,10 Z"},
        {L"m10,10 l5,0 5,5 h-5 v-5 z", "M10,10 L15,10 L20,15 L15,15 L15,10 Z"},
        {L"F1 M0,0 H 3 V 4", "F1 M0,0 L3,0 L3,4"},
        {L"M0,0 C0,10 10,10 10,0 S20,-10 20,0", "M0,0 C0,10 10,10 10,0 C10,-10 20,-10 20,0"},
        {L"M0,0 Q3,3 6,0", "M0,0 C2,2 4,2 6,0"},
        {L"M0,0 L1,1 Z L5,5", "M0,0 L1,1 Z M0,0 L5,5"},
        {L"M1e1,0L-1.5E1,.5", "M10,0 L-15,0.5"},
        // Clockwise through the top; the other way through the bottom; radii too small grow.
        {L"M0,0 A10,10 0 0 1 20,0", "M0,0 C0,-5.5228 4.4772,-10 10,-10 C15.5228,-10 20,-5.5228 20,0"},
        {L"M0,0 A10,10 0 0 0 20,0", "M0,0 C0,5.5228 4.4772,10 10,10 C15.5228,10 20,5.5228 20,0"},
        {L"M0,0 A1,1 0 0 1 20,0", "M0,0 C0,-5.5228 4.4772,-10 10,-10 C15.5228,-10 20,-5.5228 20,0"},
        {L"M0,0 A10,10 0 1 1 10,-10",
         "M0,0 C-5.5228,0 -10,-4.4772 -10,-10 C-10,-15.5228 -5.5228,-20 0,-20 C5.5228,-20 10,-15.5228 "
         "10,-10"},
        {L"M0,0 A0,5 0 0 1 20,0", "M0,0 L20,0"},
    };
    for (const auto& c : cases) {
        engine::Geometry geometry;
        engine::GeometryBuilder builder(geometry, 100, 100);
        EXPECT_EQ(S_OK, engine::ReadAbbreviatedGeometry(c.data, builder, geometry.fillRule)) << Text(c.data);
        EXPECT_EQ(c.drawn, Describe(geometry)) << Text(c.data);
    }
    for (const wchar_t* bad : {L"L 1,1", L"M 1", L"M0,0 T1,1", L"M0,0 A1,1 0 2 0 1,1", L"F2 M0,0", L"M0,0 F1",
                               L"M0,0 Z 1,1", L"M1e999,0", L"M0,0 L1,1,"}) {
        engine::Geometry geometry;
        engine::GeometryBuilder builder(geometry, 100, 100);
        EXPECT_EQ(xml::kMalformed, engine::ReadAbbreviatedGeometry(bad, builder, geometry.fillRule))
            << Text(bad);
    }
    engine::Geometry geometry;
    engine::GeometryBuilder builder(geometry, 100, 3);
    EXPECT_EQ(xps::kOverCap,
              engine::ReadAbbreviatedGeometry(L"M0,0 A1,1 0 1 1 0,1", builder, geometry.fillRule));
}

TEST(PageReader, ReadsEveryColourSyntax) {
    const struct {
        const wchar_t* text;
        double a, r, g, b;
    } cases[] = {
        {L"#FF8000", 1, 1, 128 / 255.0, 0},
        {L" #80ff0000 ", 128 / 255.0, 1, 0, 0},
        {L"sc#0.5,1,0.2140,0", 0.5, 1, 0.5, 0},  // linear light to sRGB
        {L"sc#1,0,0", 1, 1, 0, 0},
        {L"ContextColor /p.icc 1,0.25,0.5,0.75", 1, 0.25, 0.5, 0.75},
        {L"ContextColor /p.icc 0.5,0,1,0,0.5", 0.5, 0.5, 0, 0.5},  // CMYK
        {L"ContextColor /p.icc 1,0.3", 1, 0.3, 0.3, 0.3},
    };
    for (const auto& c : cases) {
        engine::Color color;
        ASSERT_TRUE(engine::ParseColor(c.text, color)) << Text(c.text);
        EXPECT_NEAR(c.a, color.a, 1e-3) << Text(c.text);
        EXPECT_NEAR(c.r, color.r, 1e-3) << Text(c.text);
        EXPECT_NEAR(c.g, color.g, 1e-3) << Text(c.text);
        EXPECT_NEAR(c.b, color.b, 1e-3) << Text(c.text);
    }
    for (const wchar_t* bad :
         {L"#12345", L"#GG0000", L"red", L"sc#1,2", L"ContextColor /p.icc", L"#FF00000000"}) {
        engine::Color color;
        EXPECT_FALSE(engine::ParseColor(bad, color)) << Text(bad);
    }
}

// Each glyph: "index/advance@first+count", "?" where the font fills in.
TEST(PageReader, MapsGlyphsToCharactersAsIndicesSay) {
    const struct {
        const wchar_t *text, *indices;
        const char* glyphs;
        HRESULT result;
    } cases[] = {
        {L"ab", nullptr, "?/?@0+1 ?/?@1+1", S_OK},
        {L"ab", L"7,50;8", "7/5@0+1 8/?@1+1", S_OK},
        {L"abc", L";,25", "?/?@0+1 ?/2.5@1+1 ?/?@2+1", S_OK},
        {L"fi", L"(2:1)9", "9/?@0+2", S_OK},
        {L"e", L"(1:2)3;4,0,10,-10", "3/?@0+1 4/0@0+0", S_OK},
        {L"\xD83D\xDE00x", nullptr, "?/?@0+2 ?/?@2+1", S_OK},
        {L"", L"5;6", "5/?@0+0 6/?@0+0", S_OK},
        {L"a", L"1;", "1/?@0+1", S_OK},
        {L"a", L"(2:1)1", "", xml::kMalformed},
        {L"ab", L"(2:1)", "", xml::kMalformed},
        {L"a", L"(1:2)1;(1:1)2", "", xml::kMalformed},
        {L"a", L"70000", "", xml::kMalformed},
        {L"a", L"1,2,3,4,5", "", xml::kMalformed},
        {L"", L";,5", "", xml::kMalformed},
    };
    for (const auto& c : cases) {
        std::wstring indices = c.indices != nullptr ? c.indices : L"";
        std::vector<engine::Glyph> glyphs;
        ASSERT_EQ(c.result, engine::ReadGlyphRun(c.text, c.indices ? &indices : nullptr, 10, 100, glyphs))
            << c.glyphs;
        std::string text;
        for (const engine::Glyph& g : glyphs) {
            text += (text.empty() ? "" : " ") + (g.hasIndex ? std::to_string(g.index) : "?") + "/" +
                    (g.hasAdvance ? Number(g.advance) : "?") + "@" + std::to_string(g.firstCharacter) + "+" +
                    std::to_string(g.characterCount);
        }
        if (c.result == S_OK) {
            EXPECT_EQ(c.glyphs, text);
        }
    }
}

const engine::PathElement& PathAt(const engine::Canvas& canvas, std::size_t i) {
    return *canvas.children.at(i).path;
}

TEST(PageReader, ReadsPathsWithGeometryElementsStrokesAndTransforms) {
    engine::Page page;
    ASSERT_EQ(
        S_OK,
        Read("Width=\"816\" Height=\"1056\" ContentBox=\"10,10,796,1036\" xml:lang=\"de\">"
             "<Path Stroke=\"#000000\" StrokeThickness=\"2\" StrokeDashArray=\"1 2 3\" "
             "StrokeStartLineCap=\"Round\" StrokeLineJoin=\"Bevel\" StrokeMiterLimit=\"0.5\" "
             "RenderTransform=\"2,0,0,2,5,5\" Opacity=\"1.5\"><Path.Data>"
             "<PathGeometry FillRule=\"NonZero\" Transform=\"1,0,0,1,100,0\">"
             "<PathFigure StartPoint=\"0,0\" IsClosed=\"true\" IsFilled=\"false\">"
             "<PolyLineSegment Points=\"1,0 1,1\" IsStroked=\"false\"/>"
             "<PolyQuadraticBezierSegment Points=\"3,3 6,0\"/>"
             "<ArcSegment Point=\"26,0\" Size=\"10,10\" RotationAngle=\"0\" IsLargeArc=\"false\" "
             "SweepDirection=\"Counterclockwise\"/></PathFigure></PathGeometry></Path.Data></Path>"
             "<Path Data=\"M 0,0 L 1,1\"><Path.RenderTransform><MatrixTransform Matrix=\"1,0,0,1,3,4\"/>"
             "</Path.RenderTransform></Path></FixedPage>",
             page));
    EXPECT_EQ(L"de", page.language);
    EXPECT_EQ(796, page.contentBox.width);
    EXPECT_EQ(1056, page.bleedBox.height);
    const engine::PathElement& path = PathAt(page.root, 0);
    EXPECT_EQ(
        "F1 M100,0 L101,0- L101,1- C102.3333,2.3333 104,2 106,0 C106,5.5228 110.4772,10 116,10 C121.5228,10 "
        "126,5.5228 126,0 Z unfilled",
        Describe(path.data));
    EXPECT_EQ(2, path.transform.m11);
    EXPECT_EQ(1, path.opacity);
    EXPECT_EQ((std::vector<double>{1, 2, 3, 1, 2, 3}), path.strokeStyle.dashes);
    EXPECT_EQ(engine::LineCap::Round, path.strokeStyle.startCap);
    EXPECT_EQ(engine::LineJoin::Bevel, path.strokeStyle.join);
    EXPECT_EQ(1, path.strokeStyle.miterLimit);
    EXPECT_EQ(nullptr, path.fill);
    EXPECT_EQ(4, PathAt(page.root, 1).transform.dy);
}

TEST(PageReader, ReadsBrushesAndSharesImages) {
    engine::Page page;
    ASSERT_EQ(
        S_OK,
        Read("Width=\"816\" Height=\"1056\"><Path Data=\"M0,0 L1,1\"><Path.Fill><LinearGradientBrush "
             "MappingMode=\"Absolute\" StartPoint=\"0,0\" EndPoint=\"10,0\" SpreadMethod=\"Reflect\" "
             "ColorInterpolationMode=\"ScRgbLinearInterpolation\"><LinearGradientBrush.GradientStops>"
             "<GradientStop Color=\"#0000FF\" Offset=\"1\"/><GradientStop Color=\"#FF0000\" Offset=\"0\"/>"
             "</LinearGradientBrush.GradientStops></LinearGradientBrush></Path.Fill></Path>"
             "<Path Data=\"M0,0 L1,1\" Fill=\"#00FF00\"><Path.Stroke><RadialGradientBrush Center=\"5,5\" "
             "GradientOrigin=\"4,4\" RadiusX=\"5\" RadiusY=\"3\" MappingMode=\"Absolute\">"
             "<RadialGradientBrush.GradientStops><GradientStop Color=\"#000000\" Offset=\"0\"/>"
             "</RadialGradientBrush.GradientStops></RadialGradientBrush></Path.Stroke></Path>"
             "<Path Data=\"M0,0 L1,1\"><Path.Fill><ImageBrush ImageSource=\"{ColorConvertedBitmap "
             "../Resources/a.png ../Resources/p.icc}\" Viewbox=\"0,0,10,10\" Viewport=\"0,0,5,5\" "
             "TileMode=\"FlipXY\" ViewboxUnits=\"Absolute\" ViewportUnits=\"Absolute\"/></Path.Fill></Path>"
             "<Path Data=\"M0,0 L1,1\"><Path.Fill><ImageBrush ImageSource=\"/Documents/1/Resources/a.png\" "
             "Viewbox=\"0,0,10,10\" Viewport=\"0,0,5,5\"/></Path.Fill><Path.OpacityMask>"
             "<ImageBrush ImageSource=\"../Resources/a.png\" Viewbox=\"0,0,1,1\" Viewport=\"0,0,1,1\"/>"
             "</Path.OpacityMask></Path></FixedPage>",
             page));
    const engine::Brush& linear = *PathAt(page.root, 0).fill;
    EXPECT_EQ(engine::BrushKind::LinearGradient, linear.kind);
    ASSERT_EQ(2u, linear.stops.size());
    EXPECT_EQ(1, linear.stops[0].color.r);  // sorted by offset
    EXPECT_EQ(engine::SpreadMethod::Reflect, linear.spread);
    EXPECT_TRUE(linear.interpolateLinearLight);
    EXPECT_EQ(10, linear.end.x);
    const engine::Brush& radial = *PathAt(page.root, 1).stroke;
    EXPECT_EQ(engine::BrushKind::RadialGradient, radial.kind);
    EXPECT_EQ(3, radial.radiusY);
    EXPECT_EQ(1, PathAt(page.root, 1).fill->color.g);
    const engine::Brush& converted = *PathAt(page.root, 2).fill;
    EXPECT_EQ(engine::TileMode::FlipXY, converted.tileMode);
    EXPECT_EQ(L"/Documents/1/Resources/p.icc", converted.image->colorProfile);
    EXPECT_EQ(L"image/png", converted.image->contentType);
    EXPECT_NE(converted.image, PathAt(page.root, 3).fill->image);  // another profile
    EXPECT_EQ(PathAt(page.root, 3).fill->image, PathAt(page.root, 3).opacityMask->image);
}

TEST(PageReader, LooksResourcesUpInnermostFirst) {
    engine::Page page;
    ASSERT_EQ(
        S_OK,
        Read("Width=\"816\" Height=\"1056\"><FixedPage.Resources><ResourceDictionary>"
             "<SolidColorBrush x:Key=\"b\" Color=\"#FF0000\"/><PathGeometry x:Key=\"g\" Figures=\"M0,0 "
             "L9,9\"/>"
             "<MatrixTransform x:Key=\"t\" Matrix=\"1,0,0,1,7,0\"/>"
             "<Canvas x:Key=\"v\"><Path Data=\"{StaticResource g}\" Fill=\"{StaticResource b}\"/></Canvas>"
             "</ResourceDictionary></FixedPage.Resources>"
             "<Canvas Clip=\"{StaticResource g2}\" RenderTransform=\"{StaticResource t}\"><Canvas.Resources>"
             "<ResourceDictionary><SolidColorBrush x:Key=\"b\" Color=\"#0000FF\"/>"
             "<PathGeometry x:Key=\"g2\" Figures=\"M0,0 L2,2\"/></ResourceDictionary></Canvas.Resources>"
             "<Path Data=\"M0,0 L1,1\" Fill=\"{StaticResource b}\"/></Canvas>"
             "<Path Data=\"{StaticResource g}\" Fill=\"{StaticResource b}\"><Path.OpacityMask><VisualBrush "
             "Visual=\"{StaticResource v}\" Viewbox=\"0,0,1,1\" Viewport=\"0,0,1,1\"/></Path.OpacityMask>"
             "</Path><Canvas><Canvas.Resources><ResourceDictionary Source=\"../Resources/d.dict\"/>"
             "</Canvas.Resources><Path Data=\"M0,0 L1,1\" Fill=\"{StaticResource remote}\"/></Canvas>"
             "</FixedPage>",
             page));
    const engine::Canvas& canvas = *page.root.children.at(0).canvas;
    EXPECT_EQ(1, PathAt(canvas, 0).fill->color.b);
    EXPECT_EQ("M0,0 L2,2", Describe(*canvas.clip));
    EXPECT_EQ(7, canvas.transform.dx);
    const engine::PathElement& outer = PathAt(page.root, 1);
    EXPECT_EQ(1, outer.fill->color.r);
    EXPECT_EQ("M0,0 L9,9", Describe(outer.data));
    EXPECT_EQ(engine::BrushKind::Visual, outer.opacityMask->kind);
    EXPECT_EQ(1, outer.opacityMask->visual->children.at(0).canvas->children.at(0).path->fill->color.r);
    EXPECT_EQ(L"/Documents/1/Resources/a.png", PathAt(*page.root.children.at(2).canvas, 0).fill->image->part);
}

TEST(PageReader, ReadsGlyphsAndMarkupCompatibility) {
    engine::Page page;
    ASSERT_EQ(S_OK,
              Read("Width=\"816\" Height=\"1056\"><v9:Extra><Unknown/></v9:Extra>"
                   "<mc:AlternateContent><mc:Choice Requires=\"v9\"><Ellipse/></mc:Choice>"
                   "<mc:Fallback><Glyphs FontUri=\"../Resources/f.odttf#1\" FontRenderingEmSize=\"20\" "
                   "OriginX=\"5\" OriginY=\"6\" UnicodeString=\"{}{x}\" Indices=\";;5,50\" BidiLevel=\"1\" "
                   "IsSideways=\"true\" StyleSimulations=\"BoldSimulation\"><Glyphs.Fill>"
                   "<SolidColorBrush Color=\"#FF0000\" Opacity=\"0.5\"/></Glyphs.Fill></Glyphs>"
                   "</mc:Fallback></mc:AlternateContent><mc:AlternateContent><mc:Choice Requires=\"x\">"
                   "<Canvas mc:ProcessContent=\"v9:Wrap\"><v9:Wrap><Path/></v9:Wrap></Canvas></mc:Choice>"
                   "<mc:Fallback><Path/></mc:Fallback></mc:AlternateContent></FixedPage>",
                   page, engine::PageCaps(), "http://schemas.openxps.org/oxps/v1.0"));
    ASSERT_EQ(2u, page.root.children.size());
    const engine::GlyphsElement& glyphs = *page.root.children[0].glyphs;
    EXPECT_EQ(L"/Documents/1/Resources/f.odttf", glyphs.fontPart);
    EXPECT_EQ(1, glyphs.fontFace);
    EXPECT_EQ(L"{x}", glyphs.text);
    ASSERT_EQ(3u, glyphs.glyphs.size());
    EXPECT_EQ(10, glyphs.glyphs[2].advance);
    EXPECT_EQ(6, glyphs.origin.y);
    EXPECT_EQ(1, glyphs.bidiLevel);
    EXPECT_TRUE(glyphs.sideways);
    EXPECT_EQ(engine::StyleSimulations::Bold, glyphs.simulations);
    EXPECT_EQ(0.5, glyphs.fill->opacity);
    ASSERT_EQ(engine::ElementKind::Canvas, page.root.children[1].kind);
    EXPECT_EQ(1u, page.root.children[1].canvas->children.size());
}

std::string Nested(const std::string& open, const std::string& close, int count, const std::string& inner) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text = open + text;
    text += inner;
    for (int i = 0; i < count; ++i)
        text += close;
    return text;
}

// The pattern count times, "#" in it standing for its number.
std::string Repeated(const std::string& pattern, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        std::string one = pattern;
        one.replace(one.rfind('#'), 1, std::to_string(i));
        text += one;
    }
    return text;
}

// Visual i fills a path with visual i-1 twice: a chain of n doubles.
std::string Doubling(int n) {
    std::string text = "<Canvas.Resources><ResourceDictionary><Path x:Key=\"v0\" Data=\"M0,0 L1,1\"/>";
    for (int i = 1; i <= n; ++i) {
        std::string brush = "<VisualBrush Visual=\"{StaticResource v" + std::to_string(i - 1) +
                            "}\" Viewbox=\"0,0,1,1\" Viewport=\"0,0,1,1\"/>";
        text += "<Canvas x:Key=\"v" + std::to_string(i) + "\"><Path><Path.Fill>" + brush +
                "</Path.Fill></Path><Path><Path.Fill>" + brush + "</Path.Fill></Path></Canvas>";
    }
    return "<Canvas>" + text + "</ResourceDictionary></Canvas.Resources></Canvas>";
}

TEST(PageReader, RefusesMalformedAndHostilePages) {
    engine::PageCaps small;
    small.elements = 200;
    small.segments = 3;
    small.stopsPerBrush = 2;
    small.resources = 10;
    const std::string size = "Width=\"816\" Height=\"1056\">";
    const std::string visual = "Viewbox=\"0,0,1,1\" Viewport=\"0,0,1,1\"";
    const struct {
        const char* name;
        std::string page;
        HRESULT result;
    } cases[] = {
        {"an unknown element", size + "<Ellipse/></FixedPage>", xml::kMalformed},
        {"an unknown namespace", size + "<u:Path xmlns:u=\"urn:u\"/></FixedPage>", xml::kMalformed},
        {"a namespace to understand", size + "<Canvas mc:MustUnderstand=\"v9\"/></FixedPage>",
         xml::kMalformed},
        {"text", size + "<Canvas>text</Canvas></FixedPage>", xml::kMalformed},
        {"bad markup", size + "<Canvas></FixedPage>", xml::kMalformed},
        {"no size", "><Canvas/></FixedPage>", xml::kMalformed},
        {"too large", "Width=\"19201\" Height=\"10\"/>", xps::kOverCap},
        {"not finite", "Width=\"1e999\" Height=\"10\"/>", xml::kMalformed},
        {"opacity", size + "<Canvas Opacity=\"x\"/></FixedPage>", xml::kMalformed},
        {"an undefined key", size + "<Path Fill=\"{StaticResource k}\"/></FixedPage>", xml::kMalformed},
        {"a key defined later",
         size +
             "<FixedPage.Resources><ResourceDictionary><VisualBrush x:Key=\"a\" Visual=\"{StaticResource "
             "b}\" " +
             visual + "/><Canvas x:Key=\"b\"/></ResourceDictionary></FixedPage.Resources></FixedPage>",
         xml::kMalformed},
        {"a brush used as geometry",
         size + "<FixedPage.Resources><ResourceDictionary><SolidColorBrush x:Key=\"a\" Color=\"#000000\"/>"
                "</ResourceDictionary></FixedPage.Resources><Path Data=\"{StaticResource a}\"/></FixedPage>",
         xml::kMalformed},
        {"a missing font",
         size + "<Glyphs FontUri=\"g.ttf\" FontRenderingEmSize=\"1\" OriginX=\"0\" OriginY=\"0\" "
                "UnicodeString=\"a\"/></FixedPage>",
         xps::kPartMissing},
        {"glyphs of nothing",
         size + "<Glyphs FontUri=\"../Resources/f.odttf\" FontRenderingEmSize=\"1\" "
                "OriginX=\"0\" OriginY=\"0\"/></FixedPage>",
         xml::kMalformed},
        {"an external image",
         size + "<Path><Path.Fill><ImageBrush ImageSource=\"http://x/a.png\" " + visual +
             "/></Path.Fill></Path></FixedPage>",
         xml::kMalformed},
        {"canvases too deep", size + Nested("<Canvas>", "</Canvas>", 129, "") + "</FixedPage>",
         xml::kTooDeep},
        {"visuals too deep",
         size +
             Nested("<Path><Path.Fill><VisualBrush " + visual + "><VisualBrush.Visual>",
                    "</VisualBrush.Visual></VisualBrush></Path.Fill></Path>", 9, "<Path/>") +
             "</FixedPage>",
         xml::kTooDeep},
        {"a visual used exponentially", size + Doubling(7) + "</FixedPage>", xps::kOverCap},
        {"too many segments",
         size + "<Path Data=\"M0,0 L1,1 2,2\"/><Path Data=\"M0,0 L1,1 2,2\"/></FixedPage>", xps::kOverCap},
        {"too many stops",
         size +
             "<Path><Path.Fill><LinearGradientBrush StartPoint=\"0,0\" EndPoint=\"1,1\"><LinearGradientBrush."
             "GradientStops>" +
             Repeated("<GradientStop Color=\"#000000\" Offset=\"0.#\"/>", 3) +
             "</LinearGradientBrush.GradientStops></LinearGradientBrush></Path.Fill></Path></FixedPage>",
         xps::kOverCap},
        {"too many resources",
         size + "<FixedPage.Resources><ResourceDictionary>" +
             Repeated("<MatrixTransform x:Key=\"t#\" Matrix=\"1,0,0,1,0,0\"/>", 11) +
             "</ResourceDictionary></FixedPage.Resources></FixedPage>",
         xps::kOverCap},
    };
    for (const auto& c : cases) {
        engine::Page page;
        EXPECT_EQ(c.result, Read(c.page, page, small)) << c.name;
    }
}

std::size_t CountElements(const engine::Canvas& canvas) {
    std::size_t count = canvas.children.size();
    for (const engine::Element& element : canvas.children)
        count += element.canvas ? CountElements(*element.canvas) : 0;
    return count;
}

TEST(PageReader, ReadsEveryPageOfTheRealDocuments) {
    const std::wstring corpus = L"" ZORVANE_SOURCE_DIR L"/tests/data/xps-corpus/";
    WIN32_FIND_DATAW found;
    FindHandle search(::FindFirstFileW((corpus + L"*.xps").c_str(), &found));
    ASSERT_TRUE(search);
    std::size_t documents = 0;
    do {
        SCOPED_TRACE(Text(found.cFileName));
        xps::XpsPackage package;
        xps::FixedStructure structure;
        ASSERT_EQ(S_OK, package.OpenFile(corpus + found.cFileName));
        ASSERT_EQ(S_OK, package.ReadStructure(structure));
        for (const xps::FixedDocumentInfo& document : structure.documents) {
            for (const std::wstring& part : document.pages) {
                engine::Page page;
                ASSERT_EQ(S_OK, engine::ReadPage(package, part, page)) << Text(part);
                EXPECT_LT(0u, CountElements(page.root)) << Text(part);
            }
        }
        ++documents;
    } while (::FindNextFileW(search.Get(), &found));
    EXPECT_LT(0u, documents);
}

}  // namespace
